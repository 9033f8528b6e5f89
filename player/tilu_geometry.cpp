#include "tilu_geometry.h"

namespace {

gint32 column_of(gint32 vid_idx, const TiluGridShape& grid) { return vid_idx % grid.columns; }
gint32 row_of(gint32 vid_idx, const TiluGridShape& grid) { return vid_idx / grid.columns; }

// (zoom - 1) * 0.5 in tile units: how far the view's first column lies from its centre.
gfloat half_span(gint32 zoom) { return (static_cast<gfloat>(zoom) - 1.0f) * 0.5f; }

}  // namespace

TiluGridShape tilu_grid_shape(const TiluPlayer* player) {
  TiluGridShape grid;
  grid.columns = tilu_options.num_vid_per_row;
  grid.rows = player->num_rows;
  grid.count = player->playlist ? player->playlist->count : 0;
  return grid;
}

TiluViewArea tilu_view_area(gfloat w, gfloat h) {
  TiluViewArea area;
  if (w * 9.0f > 16.0f * h) {  // wider than 16:9: bands left and right
    area.width = 16.0f * h / 9.0f;
    area.height = h;
    area.x = 0.5f * (w - area.width);
    area.y = 0.0f;
  } else {  // taller than (or exactly) 16:9: bands above and below
    area.width = w;
    area.height = (w * 9.0f) * 0.0625f;
    area.x = 0.0f;
    area.y = (h - area.height) * 0.5f;
  }
  return area;
}

TiluGridPlacement tilu_grid_placement(const TiluPlayer* player) {
  const gfloat z = static_cast<gfloat>(player->zoom);
  TiluGridPlacement placement;
  placement.scale_x = static_cast<gdouble>(player->view_width / (z * TILU_TILE_SIZE));
  placement.scale_y = static_cast<gdouble>(player->view_height / (z * TILU_TILE_SIZE));
  // Grid coordinates of the view's top-left corner.
  const gfloat left = ((player->center_x - z * 0.5f) + 0.5f) * TILU_TILE_SIZE;
  const gfloat top = ((player->center_y - z * 0.5f) + 0.5f) * TILU_TILE_SIZE;
  placement.x = static_cast<gfloat>(static_cast<gdouble>(player->view_x) - static_cast<gdouble>(left) * placement.scale_x);
  placement.y = static_cast<gfloat>(static_cast<gdouble>(player->view_y) - static_cast<gdouble>(top) * placement.scale_y);
  return placement;
}

gdouble tilu_main_actor_scale(gint32 zoom) { return zoom == 1 ? 1.0 : static_cast<gdouble>(0.97f); }

void tilu_center_on_focus(TiluPlayer* player, const TiluGridShape& grid) {
  const gint32 half = player->zoom / 2;
  const gint32 up = (player->zoom + 1) / 2;
  // Only a single row is as wide as its entries; otherwise an incomplete last row still spans
  // all N columns.
  const gint32 width = grid.rows == 1 ? grid.count : grid.columns;

  player->center_x = static_cast<gfloat>(column_of(player->vid_idx, grid));
  player->center_y = static_cast<gfloat>(row_of(player->vid_idx, grid));

  // Right then left, bottom then top: the left and top edges win when the grid is smaller than
  // the view.
  const gfloat d = static_cast<gfloat>(width) - (player->center_x + 1.0f + static_cast<gfloat>(half));
  if (d < 0.0f) player->center_x = player->center_x + d;
  const gfloat e = (player->center_x + 1.0f) - static_cast<gfloat>(up);
  if (e < 0.0f) player->center_x = player->center_x - e;
  const gfloat f = static_cast<gfloat>(grid.rows) - (player->center_y + 1.0f + static_cast<gfloat>(half));
  if (f < 0.0f) player->center_y = player->center_y + f;
  const gfloat g = (player->center_y + 1.0f) - static_cast<gfloat>(up);
  if (g < 0.0f) player->center_y = player->center_y - g;

  if (player->zoom % 2 == 0) {  // an even view is centred on the border between two tiles
    player->center_x += 0.5f;
    player->center_y += 0.5f;
  }
}

bool tilu_is_focus_visible(const TiluPlayer* player, const TiluGridShape& grid) {
  const gint32 c = column_of(player->vid_idx, grid);
  const gint32 r = row_of(player->vid_idx, grid);
  const gfloat h = half_span(player->zoom);
  // The conversions truncate toward zero, so a bound between -1 and 0 counts as 0.
  return c >= static_cast<gint32>(player->center_x - h) && c <= static_cast<gint32>(player->center_x + h) &&
         r >= static_cast<gint32>(player->center_y - h) && r <= static_cast<gint32>(player->center_y + h);
}

gint32 tilu_focus_target(gint32 vid_idx, TiluFocusMove move, const TiluGridShape& grid) {
  const gint32 n = grid.columns;
  const gint32 count = grid.count;
  switch (move) {
    case TiluFocusMove::Left:
      return vid_idx - 1 < 0 ? count - 1 : vid_idx - 1;
    case TiluFocusMove::Right:
      return vid_idx + 1 >= count ? 0 : vid_idx + 1;
    case TiluFocusMove::Up: {
      if (vid_idx - n >= 0) return vid_idx - n;
      // Wrap to the lowest row that has an entry in this column.
      const gint32 lowest = vid_idx + n * ((count - 1) / n);
      return lowest >= count ? lowest - n : lowest;
    }
    case TiluFocusMove::Down:
      return vid_idx + n >= count ? (vid_idx + n) % n : vid_idx + n;
  }
  g_assert_not_reached();
}

int tilu_follow_candidate_count(TiluFocusMove move) {
  return move == TiluFocusMove::Left || move == TiluFocusMove::Right ? 3 : 2;
}

bool tilu_apply_follow_candidate(TiluPlayer* player, TiluFocusMove move, int index, const TiluGridShape& grid) {
  if (index < 0 || index >= tilu_follow_candidate_count(move)) return false;
  const gfloat span = half_span(player->zoom);
  const gfloat last_column = static_cast<gfloat>(grid.columns) - 1.0f;
  const gfloat last_row = static_cast<gfloat>(grid.rows) - 1.0f;
  // 1: scroll by one tile; 2: the wrap within the row or column puts the view against the far
  // edge; 3: a Left or Right that wrapped onto the previous or next row scrolls one row.
  switch (move) {
    case TiluFocusMove::Left:
      if (index == 0) player->center_x = player->center_x - 1.0f;
      else if (index == 1) player->center_x = last_column - span;
      else player->center_y = player->center_y - 1.0f;
      break;
    case TiluFocusMove::Right:
      if (index == 0) player->center_x = player->center_x + 1.0f;
      else if (index == 1) player->center_x = span;
      else player->center_y = player->center_y + 1.0f;
      break;
    case TiluFocusMove::Up:
      if (index == 0) player->center_y = player->center_y - 1.0f;
      else player->center_y = last_row - span;
      break;
    case TiluFocusMove::Down:
      if (index == 0) player->center_y = player->center_y + 1.0f;
      else player->center_y = span;
      break;
  }
  return true;
}

TiluFollow tilu_follow_focus(TiluPlayer* player, TiluFocusMove move, const TiluGridShape& grid) {
  if (tilu_is_focus_visible(player, grid)) return TiluFollow::Unchanged;
  for (int i = 0; tilu_apply_follow_candidate(player, move, i, grid); ++i) {
    if (tilu_is_focus_visible(player, grid)) return TiluFollow::Candidate;
  }
  tilu_center_on_focus(player, grid);
  return TiluFollow::Recentred;
}

TiluZoomStep tilu_zoom_in(gint32 zoom) {
  TiluZoomStep step;
  if (zoom <= 1) {
    step.zoom = 1;
    step.logged = 1.0f;
  } else {
    step.zoom = zoom - 1;
    step.logged = 1.0f / static_cast<gfloat>(step.zoom);
  }
  return step;
}

TiluZoomStep tilu_zoom_out(gint32 zoom, gint32 columns) {
  TiluZoomStep step;
  step.zoom = zoom + 1 >= columns ? columns : zoom + 1;
  step.logged = 1.0f / static_cast<gfloat>(step.zoom);
  return step;
}

void tilu_enter_toggle(TiluPlayer* player, const TiluGridShape& grid) {
  if (player->zoom > 1) {
    player->saved_zoom = player->zoom;
    player->saved_center_x = player->center_x;
    player->saved_center_y = player->center_y;
    player->zoom = 1;
    player->center_x = static_cast<gfloat>(column_of(player->vid_idx, grid));
    player->center_y = static_cast<gfloat>(row_of(player->vid_idx, grid));
    return;
  }
  if (player->saved_zoom >= 1 && player->saved_zoom <= grid.columns) {
    player->zoom = player->saved_zoom;
    player->center_x = player->saved_center_x;
    player->center_y = player->saved_center_y;
  } else {
    // Nothing saved yet (plus all the way in, or N = 1): the start-up overview stands in.
    const gfloat start = (static_cast<gfloat>(grid.columns) - 1.0f) * 0.5f;
    player->zoom = grid.columns;
    player->center_x = start;
    player->center_y = start;
  }
  if (!tilu_is_focus_visible(player, grid)) tilu_center_on_focus(player, grid);
}

gdouble tilu_volume_up(gdouble volume) {
  const gdouble v = volume + TILU_VOLUME_STEP;
  return v > 1.0 ? 1.0 : v;
}

gdouble tilu_volume_down(gdouble volume) {
  const gdouble v = volume - TILU_VOLUME_STEP;
  return v < 0.0 ? 0.0 : v;
}

gint tilu_next_audio_track(gint current, gint count) { return current + 1 < count ? current + 1 : 0; }

gint32 tilu_next_text_mode(gint32 mode) {
  const guint32 next = static_cast<guint32>(mode) + 1u;
  return next > static_cast<guint32>(TILU_TEXT_MAIN_DEBUG) ? TILU_TEXT_NONE : static_cast<gint32>(next);
}
