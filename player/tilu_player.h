// The video-wall player's one state record and the operations of its modules.
// Everything here runs on the Clutter main loop; the record has no lock.
#pragma once

#include <clutter/clutter.h>
#include <glib.h>

#include <vector>

#include "glib_ptr.h"
#include "media/tilu_gst.h"
#include "tilu_health.h"
#include "tilu_playlist.h"

#define TILU_VERSION_LINE "Tiluplay 0.8"

enum {
  TILU_TEXT_NONE = 0,        // neither captions nor info text
  TILU_TEXT_MAIN_ONLY = 1,   // captions, hidden again by the text-info timeout
  TILU_TEXT_MAIN_DEBUG = 2,  // captions and info text
};

// Command-line settings, module-wide and read-only after start-up (num_vid_per_row is
// resolved to the column count N by tilu_player_init). Defaults are the option defaults.
struct TiluOptions {
  gchar* proxy_uri = nullptr;  // relay server; owned by the option parser
  gint ani_duration = 300;     // ms
  gint num_vid_per_row = 0;    // 0 = smallest n with n*n >= count
  gint scan_num_jobs = 1;
  gint scan_timeout = 10000;       // ms
  gint text_info_timeout = 3000;   // ms
  gint scan_width = 480;
  gint scan_height = 270;
  gdouble volume = 0.5;
  gboolean mute = FALSE;
  gboolean no_text = FALSE;
  gboolean show_debug = FALSE;
  gboolean version = FALSE;
  gboolean help_keys = FALSE;
  gboolean alarms = FALSE;     // health marks on tiles and main video
  gchar* alarm_log = nullptr;  // file the state changes are appended to; owned by the option parser
};
extern TiluOptions tilu_options;

struct TiluPlayer;

// Default member values are the zero fill of a fresh record.

// Slot record of one playing video: user data of its texture callback and scan timeout.
struct TiluTile {
  TiluPlayer* player = nullptr;  // back reference, not owning
  gint32 vid_idx = 0;            // playlist entry, or -1 for the main video
  glibx::Ref<ClutterActor> actor;      // the record's own reference on the picture actor
  glibx::Ref<ClutterContent> content;  // the content reference the first open handed over
};

struct TiluPlayer {
  TiluPlaylistPtr playlist;  // owned; count >= 1 for the whole run
  gfloat stage_width = 0;    // stage size at the last allocation
  gfloat stage_height = 0;
  gfloat view_width = 0;  // the 16:9 view area inside the stage, in stage pixels
  gfloat view_height = 0;
  gfloat view_x = 0;
  gfloat view_y = 0;
  gfloat center_x = 0;  // grid column (tile units) shown at the view's centre
  gfloat center_y = 0;  // grid row shown at the view's centre
  gint32 zoom = 0;      // tiles across and down the view, 1 ... N
  gfloat saved_center_x = 0;  // view saved by Enter when it zooms fully in
  gfloat saved_center_y = 0;
  gint32 saved_zoom = 0;
  gint32 num_rows = 0;                     // (count - 1) div N + 1
  ClutterActor* grid_actor = nullptr;      // scaled and moved to show the view; owned by the stage
  ClutterActor* focus_actor = nullptr;     // yellow frame behind the focused tile
  TiluTile main_tile;                      // slot of the main video, vid_idx -1
  ClutterActor* main_actor = nullptr;      // same object as main_tile.actor
  ClutterActor* info_text = nullptr;       // info/debug text below the main actor's top
  gboolean main_shown = FALSE;             // the main pipeline delivered a frame since its open
  TiluGstPtr main_gst;                     // the main pipeline; set from start-up to on_destroy
  gint32 vid_idx = 0;                      // focused entry
  std::vector<TiluTile> tiles;             // count slots; never resized after start-up
  std::vector<ClutterActor*> tile_actors;  // picture actor of each entry (refs held by tiles)
  std::vector<ClutterActor*> title_texts;  // caption text actor of each entry
  ClutterActor* titles_actor = nullptr;    // layer holding every caption
  std::vector<TiluGstPtr> scan_gsts;       // scan pipeline of each entry, null where none runs
  std::vector<guint> scan_timeout_ids;     // pending scan timeout of each entry, 0 where none
  gint32 next_scan_idx = 0;                // entry whose scan starts next
  gint32 num_scanning = 0;                 // scan pipelines running
  gint32 scan_jobs = 0;                    // min(scan-num-jobs, count)
  guint text_timeout_id = 0;               // pending text-info timeout, 0 when none
  gdouble volume = 0;                      // main volume 0.0 ... 1.0
  gboolean mute = FALSE;
  gint32 text_mode = TILU_TEXT_NONE;      // one of the TILU_TEXT_* modes
  // Recovery from failing streams (tilu_video.cpp, tilu_scan.cpp): repeated errors are retried
  // with growing delays so that a dead stream cannot keep the main loop busy.
  gint32 main_failures = 0;     // main pipelines failed since the last frame or focus move
  glibx::SourceId main_reopen;  // pending reopen of the main video after an error
  gint32 scan_failures = 0;     // scans failed since the last scan frame
  // Watch of the main pipeline's pictures: reopens a stalled stream (tilu_video.cpp).
  glibx::SourceId main_watch;
  TiluHealthPtr health;  // health marks; null without --alarms
};

// Precondition of the player core (the tilu_main module): reports the module, file, line,
// function and expression, then aborts, in every build type.
#define TILU_MAIN_ASSERT(cond, expr_text)                                                 \
  do {                                                                                    \
    if (G_UNLIKELY(!(cond)))                                                              \
      g_assertion_message_expr(G_LOG_DOMAIN, "tilu_main/" __FILE_NAME__, __LINE__, __func__, \
                               expr_text);                                                \
  } while (0)

// ---- start-up, scene and shutdown (tilu_options.cpp, tilu_scene.cpp) ----

// Option table of the command line; the strings and defaults are the user-visible ones.
const GOptionEntry* tilu_option_entries(void);
// Returns nullptr when the settings can run, else a message for the user.
const char* tilu_options_check(const TiluOptions* options);
const char* tilu_version_text(void);
const char* tilu_help_keys_text(void);
// Loads path, then the fallbacks "tilu.m3u" and "tilu.csv".
TiluPlaylist* tilu_load_playlist_with_fallbacks(const char* path);

// Fills a fresh record from the playlist and the settings (resolves N; arrays, zoom, centre,
// volume, mute, text mode, scan_jobs).
void tilu_player_init(TiluPlayer* player, TiluPlaylistPtr playlist);
// Creates the stage and the actor tree, connects the handlers, refreshes the text and sets the
// grid actor's easing.
void tilu_scene_build(TiluPlayer* player);
// Shows the stage, opens the main pipeline and starts the first scans.
void tilu_player_start(TiluPlayer* player);
void on_destroy(ClutterActor* stage, gpointer player);
// on_destroy without quitting the main loop, for embedding and tests.
void tilu_player_release(TiluPlayer* player);

// Stores the actor's content in the tile after an open: the first open on an actor left its
// creation reference to us; later opens reuse the same content and pass nothing.
void tilu_tile_store_content(TiluTile* tile);

// ---- scan scheduler (tilu_scan.cpp) ----
void _tilu_scan_vid_start(TiluPlayer* player, int scan_vid_idx);
void _tilu_scan_vid_stop(TiluPlayer* player, int index);
gboolean _tilu_scan_timeout_callback(gpointer tile);
void _tilu_scan_texture_on_callback(int event, gpointer tile);
// Starts scans until scan_jobs run (start-up).
void tilu_scan_start_all(TiluPlayer* player);
// Stops every running scan (shutdown).
void tilu_scan_stop_all(TiluPlayer* player);

// ---- view geometry (tilu_view.cpp) ----
void on_allocation_changed(ClutterActor* actor, const ClutterActorBox* box, ClutterAllocationFlags flags,
                           gpointer player);
int _tilu_update_view(TiluPlayer* player);
int _tilu_center_on_focus(TiluPlayer* player);
int _tilu_is_focus_visible(TiluPlayer* player);

// ---- main video and info text (tilu_video.cpp) ----
void _tilu_texture_on_callback(int event, gpointer user_data);
int _tilu_main_vid_open(TiluPlayer* player);
int _tilu_refresh_text(TiluPlayer* player);
gboolean _tilu_text_info_timeout_callback(gpointer player);
void _tilu_restart_text_info_timeout(TiluPlayer* player);
int _tilu_set_remove_on_complete(ClutterActor* actor, const char* property_name);
// Starts the periodic watch of the main pipeline's pictures (start-up; reopens keep it).
void _tilu_main_watch_start(TiluPlayer* player);

// ---- keyboard commands (tilu_keys.cpp) ----
gboolean on_key_press(ClutterActor* stage, ClutterEvent* event, gpointer player);
