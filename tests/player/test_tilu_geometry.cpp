// The view and navigation arithmetic on plain records, without a window.
#include <gtest/gtest.h>

#include <random>

#include "tilu_geometry.h"

namespace {

TiluGridShape grid_of(gint32 columns, gint32 count) {
  return TiluGridShape{columns, (count - 1) / columns + 1, count};
}

// A record with just the fields the view rules read.
struct ViewRecord {
  TiluPlayer player;
  ViewRecord(gint32 zoom, gfloat cx, gfloat cy, gint32 vid_idx = 0) {
    player.zoom = zoom;
    player.center_x = cx;
    player.center_y = cy;
    player.vid_idx = vid_idx;
  }
};

// ---- view area ----

struct AreaCase {
  gfloat w, h;
  TiluViewArea expected;
};

TEST(ViewArea, LargestCentred16by9) {
  const AreaCase cases[] = {
      {1600, 900, {0, 0, 1600, 900}},      // exactly 16:9: second branch, whole window
      {1920, 1200, {0, 60, 1920, 1080}},   // taller: bands above and below
      {2560, 1080, {320, 0, 1920, 1080}},  // wider: bands left and right
      {800, 600, {0, 75, 800, 450}},
      {1000, 1000, {0, 218.75f, 1000, 562.5f}},
      {0, 0, {0, 0, 0, 0}},  // before the window has a size: nothing undefined
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    const TiluViewArea a = tilu_view_area(c.w, c.h);
    EXPECT_EQ(a.x, c.expected.x);
    EXPECT_EQ(a.y, c.expected.y);
    EXPECT_EQ(a.width, c.expected.width);
    EXPECT_EQ(a.height, c.expected.height);
  }
}

TEST(ViewArea, SinglePrecisionWidth) {
  // 16 * 1000 / 9 in float, not the double 1777.77...
  const TiluViewArea a = tilu_view_area(3000, 1000);
  EXPECT_EQ(a.width, 16.0f * 1000.0f / 9.0f);
  EXPECT_EQ(a.x, 0.5f * (3000.0f - 16.0f * 1000.0f / 9.0f));
  EXPECT_EQ(a.height, 1000.0f);
}

// ---- grid placement ----

struct PlacementCase {
  const char* name;
  gint32 zoom;
  gfloat cx, cy;
  TiluViewArea view;
  gfloat x, y;  // expected grid position
  gdouble scale_x, scale_y;
};

TEST(GridPlacement, Figures) {
  const TiluViewArea v1080{0, 60, 1920, 1080};
  const TiluViewArea band{320, 0, 1920, 1080};
  const PlacementCase cases[] = {
      // Start-up view (zoom N, centre (N-1)/2): the grid's corner sits at the view's corner.
      {"startup N=3", 3, 1.0f, 1.0f, v1080, 0, 60, double(1920.0f / 1500.0f), double(1080.0f / 1500.0f)},
      {"startup N=4", 4, 1.5f, 1.5f, band, 320, 0, double(1920.0f / 2000.0f), double(1080.0f / 2000.0f)},
      {"startup N=1", 1, 0.0f, 0.0f, v1080, 0, 60, double(1920.0f / 500.0f), double(1080.0f / 500.0f)},
      // Zoom 1 on column 2, row 1: left 1000, top 500, the grid at (view_x - 2 w, view_y - h).
      // -1020.000061 is the double product 500 * 2.16f rounded once: all in float would be -1020.
      {"zoom1 c2 r1", 1, 2.0f, 1.0f, v1080, -3840.0f, -1020.00006103515625f, double(3.84f), double(2.16f)},
      {"zoom1 c2 r1 band", 1, 2.0f, 1.0f, band, 320.0f - 3840.0f, -1080.0f, double(3.84f),
       double(2.16f)},
      // Zoom 2 against the left edge and against the right edge of a 4-column grid.
      {"zoom2 c0", 2, 0.5f, 0.5f, v1080, 0, 60, double(1920.0f / 1000.0f), double(1080.0f / 1000.0f)},
      {"zoom2 c3", 2, 2.5f, 0.5f, v1080, -1920.0f, 60, double(1920.0f / 1000.0f), double(1080.0f / 1000.0f)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ViewRecord r(c.zoom, c.cx, c.cy);
    r.player.view_x = c.view.x;
    r.player.view_y = c.view.y;
    r.player.view_width = c.view.width;
    r.player.view_height = c.view.height;
    const TiluGridPlacement p = tilu_grid_placement(&r.player);
    EXPECT_EQ(p.x, c.x);
    EXPECT_EQ(p.y, c.y);
    EXPECT_EQ(p.scale_x, c.scale_x);
    EXPECT_EQ(p.scale_y, c.scale_y);
  }
}

TEST(GridPlacement, ScaleIsSinglePrecisionWidened) {
  ViewRecord r(3, 1, 1);
  r.player.view_width = 1920;
  r.player.view_height = 1080;
  const TiluGridPlacement p = tilu_grid_placement(&r.player);
  EXPECT_EQ(p.scale_y, static_cast<double>(0.72f));  // 0.7200000286..., not 0.72
  EXPECT_NE(p.scale_y, 0.72);
}

TEST(GridPlacement, ViewShowsZoomTilesAcross) {
  // Whatever the centre, the view's left edge maps to grid x 500 (cx - zoom/2 + 1/2).
  for (gint32 zoom = 1; zoom <= 5; ++zoom) {
    ViewRecord r(zoom, 2.0f, 0.0f);
    r.player.view_x = 100;
    r.player.view_width = 1600;
    r.player.view_height = 900;
    const TiluGridPlacement p = tilu_grid_placement(&r.player);
    const double left = (2.0 - zoom * 0.5 + 0.5) * 500.0;
    EXPECT_NEAR(p.x + left * p.scale_x, 100.0, 1e-3) << "zoom " << zoom;
    EXPECT_NEAR(p.scale_x * 500.0 * zoom, 1600.0, 1e-3) << "zoom " << zoom;
  }
}

TEST(MainActorScale, FillsTileOnlyAtZoom1) {
  EXPECT_EQ(tilu_main_actor_scale(1), 1.0);
  EXPECT_EQ(tilu_main_actor_scale(2), 0.9700000286102295);
  EXPECT_EQ(tilu_main_actor_scale(7), 0.9700000286102295);
}

// ---- centring ----

struct CenterCase {
  const char* name;
  TiluGridShape grid;
  gint32 zoom;
  gint32 vid_idx;
  gfloat cx, cy;
};

TEST(CenterOnFocus, Table) {
  const CenterCase cases[] = {
      // Five entries, N = 3, two rows, zoom 3: (1, 1) for every entry.
      {"5/3 e0", grid_of(3, 5), 3, 0, 1, 1},
      {"5/3 e1", grid_of(3, 5), 3, 1, 1, 1},
      {"5/3 e2", grid_of(3, 5), 3, 2, 1, 1},
      {"5/3 e3", grid_of(3, 5), 3, 3, 1, 1},
      {"5/3 e4", grid_of(3, 5), 3, 4, 1, 1},
      // Zoom 1 on column 2, row 1.
      {"zoom1 c2 r1", grid_of(3, 9), 1, 5, 2, 1},
      // Zoom 2 on columns 0 and 3 of a 4-column grid.
      {"zoom2 c0", grid_of(4, 16), 2, 0, 0.5f, 0.5f},
      {"zoom2 c3", grid_of(4, 16), 2, 3, 2.5f, 0.5f},
      {"zoom2 c3 last row", grid_of(4, 16), 2, 15, 2.5f, 2.5f},
      {"zoom2 middle", grid_of(4, 16), 2, 5, 1.5f, 1.5f},
      {"zoom3 middle", grid_of(5, 25), 3, 12, 2, 2},
      // One row: the width is the count (5), not N (10).
      {"one row", grid_of(10, 5), 3, 4, 3, 1},
      // Several rows: the width is N even though the last row is short.
      {"short last row", grid_of(4, 9), 3, 7, 2, 1},
      {"short last row e8", grid_of(4, 9), 3, 8, 1, 1},
      // A grid smaller than the view sits at its left and top.
      {"narrow grid", grid_of(3, 2), 3, 1, 1, 1},
      {"one entry", grid_of(1, 1), 1, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ViewRecord r(c.zoom, -7, -7, c.vid_idx);
    tilu_center_on_focus(&r.player, c.grid);
    EXPECT_EQ(r.player.center_x, c.cx);
    EXPECT_EQ(r.player.center_y, c.cy);
    EXPECT_TRUE(tilu_is_focus_visible(&r.player, c.grid));
  }
}

TEST(CenterOnFocus, TouchesOnlyTheCentre) {
  ViewRecord r(2, 0, 0, 6);
  r.player.view_width = 11;
  r.player.saved_zoom = 3;
  tilu_center_on_focus(&r.player, grid_of(4, 16));
  EXPECT_EQ(r.player.zoom, 2);
  EXPECT_EQ(r.player.vid_idx, 6);
  EXPECT_EQ(r.player.view_width, 11);
  EXPECT_EQ(r.player.saved_zoom, 3);
}

// ---- visibility ----

struct VisibleCase {
  gint32 zoom;
  gfloat cx, cy;
  gint32 first_column, last_column;  // what must count as visible in row 0
};

TEST(FocusVisible, BoundsAreTheViewsColumns) {
  const TiluGridShape grid = grid_of(8, 8);
  const VisibleCase cases[] = {
      {3, 4.0f, 0.0f, 3, 5},
      {2, 3.5f, 0.0f, 3, 4},
      {1, 6.0f, 0.0f, 6, 6},
      {8, 3.5f, 0.0f, 0, 7},
      // A centre off the half-tile grid: bounds -0.5 and 0.5 truncate to 0 and 0.
      {2, 0.0f, 0.0f, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "zoom " << c.zoom << " cx " << c.cx);
    for (gint32 column = 0; column < 8; ++column) {
      ViewRecord r(c.zoom, c.cx, c.cy, column);
      EXPECT_EQ(tilu_is_focus_visible(&r.player, grid), column >= c.first_column && column <= c.last_column)
          << "column " << column;
    }
  }
}

TEST(FocusVisible, RowsUseTheSameRule) {
  const TiluGridShape grid = grid_of(4, 16);
  ViewRecord r(2, 0.5f, 2.5f);
  for (gint32 row = 0; row < 4; ++row) {
    r.player.vid_idx = row * 4 + 1;
    EXPECT_EQ(tilu_is_focus_visible(&r.player, grid), row == 2 || row == 3) << "row " << row;
  }
  // Above the grid: bounds -2 and -1, so row 0 is not inside.
  r.player.center_y = -1.5f;
  r.player.vid_idx = 1;
  EXPECT_FALSE(tilu_is_focus_visible(&r.player, grid));
}

// ---- focus keys ----

struct MoveCase {
  TiluGridShape grid;
  gint32 from;
  TiluFocusMove move;
  gint32 to;
};

const char* move_name(TiluFocusMove m) {
  switch (m) {
    case TiluFocusMove::Left: return "Left";
    case TiluFocusMove::Right: return "Right";
    case TiluFocusMove::Up: return "Up";
    case TiluFocusMove::Down: return "Down";
  }
  return "?";
}

TEST(FocusTarget, WrapRules) {
  using M = TiluFocusMove;
  const TiluGridShape one = grid_of(1, 1);
  const TiluGridShape row = grid_of(10, 5);
  const TiluGridShape ten = grid_of(4, 10);  // rows 0-3, 4-7, 8-9
  const TiluGridShape full = grid_of(3, 9);
  const MoveCase cases[] = {
      {one, 0, M::Left, 0}, {one, 0, M::Right, 0}, {one, 0, M::Up, 0}, {one, 0, M::Down, 0},
      {row, 0, M::Left, 4}, {row, 4, M::Right, 0}, {row, 2, M::Up, 2}, {row, 2, M::Down, 2},
      {row, 2, M::Right, 3},
      {ten, 2, M::Up, 6},   // 2 + 4 * 2 = 10 is not below 10: one row less
      {ten, 1, M::Up, 9},   {ten, 7, M::Down, 3}, {ten, 0, M::Left, 9},  {ten, 9, M::Right, 0},
      {ten, 3, M::Up, 7},   {ten, 0, M::Up, 8},   {ten, 5, M::Up, 1},    {ten, 9, M::Down, 1},
      {ten, 8, M::Down, 0}, {ten, 1, M::Down, 5}, {ten, 3, M::Right, 4}, {ten, 4, M::Left, 3},
      {full, 1, M::Up, 7},  {full, 8, M::Down, 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tilu_focus_target(c.from, c.move, c.grid), c.to)
        << move_name(c.move) << " from " << c.from << " in " << c.grid.count << "/" << c.grid.columns;
  }
}

TEST(FocusTarget, StaysInRangeAndInColumn) {
  for (gint32 columns = 1; columns <= 6; ++columns) {
    for (gint32 count = 1; count <= 20; ++count) {
      const TiluGridShape grid = grid_of(columns, count);
      for (gint32 from = 0; from < count; ++from) {
        for (TiluFocusMove m : {TiluFocusMove::Left, TiluFocusMove::Right, TiluFocusMove::Up, TiluFocusMove::Down}) {
          const gint32 to = tilu_focus_target(from, m, grid);
          ASSERT_GE(to, 0);
          ASSERT_LT(to, count);
          if (m == TiluFocusMove::Up || m == TiluFocusMove::Down) {
            ASSERT_EQ(to % columns, from % columns);
          }
        }
      }
    }
  }
}

// ---- view following ----

struct FollowCase {
  const char* name;
  TiluGridShape grid;
  gint32 zoom;
  gfloat cx, cy;  // view before the move
  gint32 from;
  TiluFocusMove move;
  gint32 to;
  TiluFollow follow;
  gfloat new_cx, new_cy;
};

TEST(FollowFocus, Candidates) {
  using M = TiluFocusMove;
  using F = TiluFollow;
  const TiluGridShape ten = grid_of(4, 10);
  const FollowCase cases[] = {
      {"still visible", ten, 2, 1.5f, 0.5f, 1, M::Right, 2, F::Unchanged, 1.5f, 0.5f},
      {"scroll right", ten, 2, 1.5f, 0.5f, 2, M::Right, 3, F::Candidate, 2.5f, 0.5f},
      {"scroll left", ten, 2, 1.5f, 0.5f, 1, M::Left, 0, F::Candidate, 0.5f, 0.5f},
      {"right wraps to next row, view shows it", ten, 2, 2.5f, 0.5f, 3, M::Right, 4, F::Candidate, 0.5f, 0.5f},
      {"right wraps to next row", ten, 1, 3, 0, 3, M::Right, 4, F::Candidate, 0, 1},
      {"left wraps to previous row", ten, 1, 0, 1, 4, M::Left, 3, F::Candidate, 3, 0},
      {"left wraps to the last entry", ten, 1, 0, 0, 0, M::Left, 9, F::Recentred, 1, 2},
      {"right wraps to the first entry", ten, 1, 1, 2, 9, M::Right, 0, F::Recentred, 0, 0},
      {"up wraps to the bottom", ten, 2, 0.5f, 0.5f, 1, M::Up, 9, F::Candidate, 0.5f, 1.5f},
      {"down wraps to the top", ten, 1, 3, 1, 7, M::Down, 3, F::Candidate, 3, 0},
      {"down scrolls", ten, 1, 1, 1, 5, M::Down, 9, F::Candidate, 1, 2},
      {"up scrolls", ten, 1, 1, 2, 9, M::Up, 5, F::Candidate, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ViewRecord r(c.zoom, c.cx, c.cy, c.from);
    r.player.vid_idx = tilu_focus_target(c.from, c.move, c.grid);
    ASSERT_EQ(r.player.vid_idx, c.to);
    EXPECT_EQ(tilu_follow_focus(&r.player, c.move, c.grid), c.follow);
    EXPECT_EQ(r.player.center_x, c.new_cx);
    EXPECT_EQ(r.player.center_y, c.new_cy);
    EXPECT_TRUE(tilu_is_focus_visible(&r.player, c.grid));
  }
}

TEST(FollowFocus, CandidateCountsAndValues) {
  using M = TiluFocusMove;
  const TiluGridShape grid = grid_of(5, 20);  // 4 rows
  EXPECT_EQ(tilu_follow_candidate_count(M::Left), 3);
  EXPECT_EQ(tilu_follow_candidate_count(M::Right), 3);
  EXPECT_EQ(tilu_follow_candidate_count(M::Up), 2);
  EXPECT_EQ(tilu_follow_candidate_count(M::Down), 2);

  struct Step {
    M move;
    int index;
    gfloat cx, cy;  // centre after this candidate, starting from (2, 1) at zoom 3
  };
  const Step steps[] = {
      {M::Left, 0, 1, 1}, {M::Left, 1, 3, 1}, {M::Left, 2, 2, 0},   // (5-1) - (3-1)/2 = 3
      {M::Right, 0, 3, 1}, {M::Right, 1, 1, 1}, {M::Right, 2, 2, 2},
      {M::Up, 0, 2, 0}, {M::Up, 1, 2, 2},                           // (4-1) - 1 = 2
      {M::Down, 0, 2, 2}, {M::Down, 1, 2, 1},
  };
  for (const auto& s : steps) {
    ViewRecord r(3, 2, 1);
    ASSERT_TRUE(tilu_apply_follow_candidate(&r.player, s.move, s.index, grid));
    EXPECT_EQ(r.player.center_x, s.cx) << move_name(s.move) << " candidate " << s.index + 1;
    EXPECT_EQ(r.player.center_y, s.cy) << move_name(s.move) << " candidate " << s.index + 1;
  }
  ViewRecord r(3, 2, 1);
  EXPECT_FALSE(tilu_apply_follow_candidate(&r.player, M::Up, 2, grid));
  EXPECT_FALSE(tilu_apply_follow_candidate(&r.player, M::Left, 3, grid));
  EXPECT_EQ(r.player.center_x, 2);
  EXPECT_EQ(r.player.center_y, 1);
}

// ---- zoom ----

TEST(Zoom, ClampedWithLoggedShare) {
  struct Case {
    bool in;
    gint32 zoom, columns;
    gint32 new_zoom;
    gfloat logged;
  };
  const Case cases[] = {
      {true, 1, 4, 1, 1.0f},  {true, 2, 4, 1, 1.0f},          {true, 3, 4, 2, 0.5f},
      {true, 4, 4, 3, 1.0f / 3.0f}, {false, 3, 4, 4, 0.25f},  {false, 4, 4, 4, 0.25f},
      {false, 1, 4, 2, 0.5f}, {false, 1, 1, 1, 1.0f},         {true, 1, 1, 1, 1.0f},
  };
  for (const auto& c : cases) {
    const TiluZoomStep s = c.in ? tilu_zoom_in(c.zoom) : tilu_zoom_out(c.zoom, c.columns);
    EXPECT_EQ(s.zoom, c.new_zoom) << (c.in ? "in" : "out") << " from " << c.zoom;
    EXPECT_EQ(s.logged, c.logged) << (c.in ? "in" : "out") << " from " << c.zoom;
  }
  EXPECT_EQ(static_cast<double>(tilu_zoom_in(4).logged), 0.3333333432674408);  // 1/3 in float
}

// ---- Enter ----

TEST(Enter, ThereAndBack) {
  const TiluGridShape grid = grid_of(4, 16);
  ViewRecord r(2, 2.5f, 0.5f, 3);
  tilu_enter_toggle(&r.player, grid);
  EXPECT_EQ(r.player.zoom, 1);
  EXPECT_EQ(r.player.center_x, 3);
  EXPECT_EQ(r.player.center_y, 0);
  EXPECT_EQ(r.player.saved_zoom, 2);
  EXPECT_EQ(r.player.saved_center_x, 2.5f);
  EXPECT_EQ(r.player.saved_center_y, 0.5f);

  tilu_enter_toggle(&r.player, grid);
  EXPECT_EQ(r.player.zoom, 2);
  EXPECT_EQ(r.player.center_x, 2.5f);
  EXPECT_EQ(r.player.center_y, 0.5f);
}

TEST(Enter, BackAfterTheFocusMoved) {
  const TiluGridShape grid = grid_of(4, 16);
  // Zoomed in from (2.5, 0.5), then the focus moved within the saved view: the view returns as
  // it was.
  ViewRecord inside(2, 2.5f, 0.5f, 3);
  tilu_enter_toggle(&inside.player, grid);
  inside.player.vid_idx = 6;  // column 2, row 1: still inside columns 2-3, rows 0-1
  tilu_enter_toggle(&inside.player, grid);
  EXPECT_EQ(inside.player.zoom, 2);
  EXPECT_EQ(inside.player.center_x, 2.5f);
  EXPECT_EQ(inside.player.center_y, 0.5f);

  // Moved out of it: the saved zoom returns, centred on the new focus.
  ViewRecord outside(2, 2.5f, 0.5f, 3);
  tilu_enter_toggle(&outside.player, grid);
  outside.player.vid_idx = 12;  // column 0, row 3
  tilu_enter_toggle(&outside.player, grid);
  EXPECT_EQ(outside.player.zoom, 2);
  EXPECT_EQ(outside.player.center_x, 0.5f);
  EXPECT_EQ(outside.player.center_y, 2.5f);
}

TEST(Enter, CentresExactlyOnTheFocusWithoutEdgeRules) {
  // Zooming in fully never needs the edge rules: a single tile always fits.
  ViewRecord r(3, 1, 1, 8);
  tilu_enter_toggle(&r.player, grid_of(3, 9));
  EXPECT_EQ(r.player.zoom, 1);
  EXPECT_EQ(r.player.center_x, 2);
  EXPECT_EQ(r.player.center_y, 2);
}

TEST(Enter, NothingSavedReturnsToTheOverview) {
  struct Case {
    const char* name;
    TiluGridShape grid;
    gint32 vid_idx;
    gint32 zoom;
    gfloat cx, cy;
  };
  const Case cases[] = {
      {"N=3, focus in the start-up view", grid_of(3, 5), 4, 3, 1, 1},
      {"N=4", grid_of(4, 16), 0, 4, 1.5f, 1.5f},
      // More rows than columns (-n 2 with 10 entries): recentred on the focus below.
      {"tall grid", grid_of(2, 10), 9, 2, 0.5f, 3.5f},
      {"single entry", grid_of(1, 1), 0, 1, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ViewRecord r(1, 0, 0, c.vid_idx);
    tilu_center_on_focus(&r.player, c.grid);
    tilu_enter_toggle(&r.player, c.grid);
    EXPECT_EQ(r.player.zoom, c.zoom);
    EXPECT_EQ(r.player.center_x, c.cx);
    EXPECT_EQ(r.player.center_y, c.cy);
    EXPECT_TRUE(tilu_is_focus_visible(&r.player, c.grid));
  }
}

// Any sequence of commands keeps zoom within 1 ... N (the view divides by it), vid_idx in range
// and the focus on screen after every move.
TEST(Commands, RandomSequencesKeepInvariants) {
  std::mt19937 rng(5);
  for (gint32 columns = 1; columns <= 5; ++columns) {
    for (gint32 count : {1, 2, columns * columns, columns * columns - 1, 3 * columns + 1}) {
      if (count < 1) continue;
      const TiluGridShape grid = grid_of(columns, count);
      ViewRecord r(columns, (columns - 1) * 0.5f, (columns - 1) * 0.5f, 0);
      for (int step = 0; step < 400; ++step) {
        const int what = static_cast<int>(rng() % 7);
        if (what < 4) {
          const auto move = static_cast<TiluFocusMove>(what);
          r.player.vid_idx = tilu_focus_target(r.player.vid_idx, move, grid);
          tilu_follow_focus(&r.player, move, grid);
          ASSERT_TRUE(tilu_is_focus_visible(&r.player, grid));
        } else if (what == 4) {
          r.player.zoom = tilu_zoom_in(r.player.zoom).zoom;
          tilu_center_on_focus(&r.player, grid);
        } else if (what == 5) {
          r.player.zoom = tilu_zoom_out(r.player.zoom, columns).zoom;
          tilu_center_on_focus(&r.player, grid);
        } else {
          tilu_enter_toggle(&r.player, grid);
          ASSERT_TRUE(tilu_is_focus_visible(&r.player, grid));
        }
        ASSERT_GE(r.player.zoom, 1);
        ASSERT_LE(r.player.zoom, columns);
        ASSERT_GE(r.player.vid_idx, 0);
        ASSERT_LT(r.player.vid_idx, count);
      }
    }
  }
}

// ---- sound and text ----

TEST(Volume, StepsAndBounds) {
  EXPECT_EQ(tilu_volume_up(0.99), 1.0);
  EXPECT_EQ(tilu_volume_down(0.01), 0.0);
  EXPECT_EQ(tilu_volume_up(1.0), 1.0);
  EXPECT_EQ(tilu_volume_down(0.0), 0.0);
  EXPECT_EQ(tilu_volume_up(0.5), 0.5 + 0.02);  // plain sums, not rounded to the steps
  EXPECT_EQ(tilu_volume_down(0.5), 0.5 - 0.02);
  EXPECT_EQ(tilu_volume_up(0.97), 0.97 + 0.02);
}

TEST(AudioTrack, WrapsToFirst) {
  EXPECT_EQ(tilu_next_audio_track(2, 3), 0);
  EXPECT_EQ(tilu_next_audio_track(0, 3), 1);
  EXPECT_EQ(tilu_next_audio_track(1, 3), 2);
  EXPECT_EQ(tilu_next_audio_track(0, 0), 0);   // no track at all
  EXPECT_EQ(tilu_next_audio_track(-1, 2), 0);  // none selected yet
  EXPECT_EQ(tilu_next_audio_track(0, 1), 0);
}

TEST(TextMode, Cycles) {
  EXPECT_EQ(tilu_next_text_mode(TILU_TEXT_NONE), TILU_TEXT_MAIN_ONLY);
  EXPECT_EQ(tilu_next_text_mode(TILU_TEXT_MAIN_ONLY), TILU_TEXT_MAIN_DEBUG);
  EXPECT_EQ(tilu_next_text_mode(TILU_TEXT_MAIN_DEBUG), TILU_TEXT_NONE);
  EXPECT_EQ(tilu_next_text_mode(7), TILU_TEXT_NONE);
  EXPECT_EQ(tilu_next_text_mode(-5), TILU_TEXT_NONE);  // compared unsigned
}

}  // namespace
