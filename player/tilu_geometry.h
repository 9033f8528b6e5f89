// Pure view and navigation arithmetic of the video wall: no actor is touched here, so every
// rule can be checked on a plain record without a window. The handlers in tilu_view.cpp and
// tilu_keys.cpp call these and apply the results to the actors.
//
// The precision of each computation is part of the behaviour (the logged values and the grid
// position are compared bit for bit), so single and double precision are chosen on purpose.
#pragma once

#include <glib.h>

#include "tilu_player.h"

// Edge of a tile cell in grid units.
inline constexpr gfloat TILU_TILE_SIZE = 500.0f;

// The grid as the view rules see it: N columns, num_rows rows, count entries.
struct TiluGridShape {
  gint32 columns = 1;
  gint32 rows = 1;
  gint32 count = 1;
};

// The running player's grid: N from the resolved settings, the playlist's count.
TiluGridShape tilu_grid_shape(const TiluPlayer* player);

// ---- view area and grid placement ----

struct TiluViewArea {
  gfloat x = 0;
  gfloat y = 0;
  gfloat width = 0;
  gfloat height = 0;
};

// The largest 16:9 rectangle centred in a width x height stage.
TiluViewArea tilu_view_area(gfloat width, gfloat height);

// Scale and position of the grid actor that show zoom x zoom tiles around the centre in the
// view area.
struct TiluGridPlacement {
  gfloat x = 0;
  gfloat y = 0;
  gdouble scale_x = 1.0;
  gdouble scale_y = 1.0;
};

TiluGridPlacement tilu_grid_placement(const TiluPlayer* player);

// Scale of the main actor: it fills its tile only when the view is fully zoomed in.
gdouble tilu_main_actor_scale(gint32 zoom);

// ---- centring and visibility ----

// Centres the view on the focused tile, moved by whole tiles until it no longer reaches past
// the right then left (bottom then top) edge. Sets center_x and center_y only.
void tilu_center_on_focus(TiluPlayer* player, const TiluGridShape& grid);

// True when the focused tile lies inside the view.
bool tilu_is_focus_visible(const TiluPlayer* player, const TiluGridShape& grid);

// ---- focus moves and the view following them ----

enum class TiluFocusMove { Left, Right, Up, Down };

// The entry that a focus key moves to from vid_idx, with its wrap rule.
gint32 tilu_focus_target(gint32 vid_idx, TiluFocusMove move, const TiluGridShape& grid);

// How many view-following candidates a key has (2 or 3).
int tilu_follow_candidate_count(TiluFocusMove move);

// Applies candidate `index` (0-based) of the key to the stored centre; later candidates build on
// the earlier ones. Returns false when the key has no such candidate (the centre is untouched).
bool tilu_apply_follow_candidate(TiluPlayer* player, TiluFocusMove move, int index,
                                 const TiluGridShape& grid);

enum class TiluFollow {
  Unchanged,   // the focus was already visible: leave the view alone
  Candidate,   // a candidate brought the focus into view
  Recentred,   // no candidate did: the view was centred on the focus
};

// The whole view-following rule after a focus move: leaves the new centre in the record and
// says whether (and how) the view must be applied again.
TiluFollow tilu_follow_focus(TiluPlayer* player, TiluFocusMove move, const TiluGridShape& grid);

// ---- zoom and Enter ----

struct TiluZoomStep {
  gint32 zoom = 1;
  gfloat logged = 1.0f;  // the share of the view's width one tile takes, as logged
};

TiluZoomStep tilu_zoom_in(gint32 zoom);
TiluZoomStep tilu_zoom_out(gint32 zoom, gint32 columns);

// The Enter toggle: from a zoomed-out view, saves it and zooms fully in on the focus; at zoom 1,
// returns to the saved view (centred on the focus again when the focus moved out of it). With
// no saved view yet, the start-up overview (zoom N) stands in for it, so zoom stays in 1 ... N.
// Leaves zoom and centre in the record; the view must then be applied again.
void tilu_enter_toggle(TiluPlayer* player, const TiluGridShape& grid);

// ---- sound and text ----

inline constexpr gdouble TILU_VOLUME_STEP = 0.02;

// One volume step up (at most 1.0) or down (at least 0.0); plain double arithmetic, not
// rounded to the steps.
gdouble tilu_volume_up(gdouble volume);
gdouble tilu_volume_down(gdouble volume);

// The audio track after `current` among `count` tracks, wrapping to 0 (also when none).
gint tilu_next_audio_track(gint current, gint count);

// TILU_TEXT_NONE -> MAIN_ONLY -> MAIN_DEBUG -> NONE; any other value goes to NONE.
gint32 tilu_next_text_mode(gint32 mode);
