// The main video: its pipeline's frame and error reports (fade-in, growth at zoom 1, recovery),
// its reopen on a focus move, the info text and the visibility of the texts per text mode.
//
// Everything here runs on the Clutter main loop: tilu_gst delivers the texture events there,
// and the timeouts are main-loop sources.
#include <algorithm>
#include <utility>

#include "tilu_player.h"

namespace {

// The tiles' own scale (the single-precision 0.97, passed on as a double), and full size.
constexpr double kTileScale = 0.97f;
constexpr double kFullScale = 1.0;
constexpr gfloat kTileEdge = 500.0f;

// A failed main pipeline is reopened at once the first time, then after growing delays while it
// keeps failing without a frame: a dead relay gets one attempt every few seconds instead of a
// busy loop. The reopen runs below the frame clock's priority, so painting and key events come
// first even when the failing pipeline posts its error before tilu_gst_open returns.
constexpr gint kReopenPriority = G_PRIORITY_LOW;
constexpr guint kFirstRetryDelayMs = 250;
constexpr guint kMaxRetryDelayMs = 5000;

// The main pipeline's pictures are looked at this often (not per frame). A stream that stops
// without an error (a multicast sender gone, a relay that stalls) is reopened once it has shown
// nothing for kStallFrames picture intervals (2 s at 25 fps), but never before a keyframe
// interval and a second have passed: sooner, a stream with long groups of pictures would be
// reopened between two keyframes it was still waiting for. A reopened pipeline starts from the
// stream's next keyframe; the old one would drop every returning frame until the stream's
// running time passed where it stopped (its QoS), which takes as long as the outage.
constexpr guint kWatchIntervalMs = 250;
constexpr gint64 kStallFrames = 50;
constexpr gint64 kDefaultStallUs = 2 * G_USEC_PER_SEC;
constexpr gint64 kMaxStallUs = 20 * G_USEC_PER_SEC;

// What glibc prints for a null %s argument; other C libraries differ, so it is spelled out.
const char* or_null(const char* s) { return s ? s : "(null)"; }

guint reopen_delay_ms(gint32 failures) {
  if (failures <= 1) return 0;
  gint32 doublings = std::min(failures - 2, 8);
  return std::min(kFirstRetryDelayMs << doublings, kMaxRetryDelayMs);
}

// Closes the main pipeline and opens one for the focused entry, keeping the failure count.
void open_focused_entry(TiluPlayer* player) {
  ClutterActor* main_actor = player->main_actor;
  player->main_shown = FALSE;
  // Outside any easing state: also ends a fade-in still running from the previous stream.
  clutter_actor_set_opacity(main_actor, 0);
  // Closed before the open: the actor's one video sink can sit in one pipeline at a time.
  player->main_gst.reset();
  player->main_gst.reset(tilu_gst_open(tilu_options.proxy_uri, player->playlist->uri[player->vid_idx], main_actor,
                                       FALSE, 0, 0, _tilu_texture_on_callback, &player->main_tile));
  tilu_tile_store_content(&player->main_tile);
  tilu_gst_set_volume(player->main_gst.get(), player->volume);
  tilu_gst_set_mute(player->main_gst.get(), player->mute);
  tilu_health_main_opened(player);

  gint32 columns = tilu_options.num_vid_per_row;
  clutter_actor_set_position(player->focus_actor, gfloat(player->vid_idx % columns) * kTileEdge,
                             gfloat(player->vid_idx / columns) * kTileEdge);
}

gboolean on_reopen_due(gpointer data) {
  auto* player = static_cast<TiluPlayer*>(data);
  player->main_reopen.release();
  // Shutdown has released the scene: nothing to reopen on.
  if (!player->main_tile.actor) return FALSE;
  open_focused_entry(player);
  return FALSE;
}

void on_main_error(TiluPlayer* player) {
  // The failed pipeline stays in main_gst until the reopen replaces it; the further errors it
  // posts (the element's, then the state change's) change nothing.
  if (player->main_reopen) return;
  player->main_failures++;
  guint delay = reopen_delay_ms(player->main_failures);
  // Bounded log: one line at every doubling of the run of failures.
  gint32 n = player->main_failures;
  if (n > 1 && (n & (n - 1)) == 0) g_debug("main_failures(%d) retry_ms(%u)", n, delay);
  player->main_reopen.reset(clutter_threads_add_timeout_full(kReopenPriority, delay, on_reopen_due, player, nullptr));
}

gint64 stall_after_us(const TiluGstFrameTimes& times) {
  if (times.frame_interval == 0) return kDefaultStallUs;
  gint64 stall = std::max(kStallFrames * times.frame_interval, times.keyframe_interval + G_USEC_PER_SEC);
  return std::clamp(stall, kDefaultStallUs, kMaxStallUs);
}

gboolean on_main_watch(gpointer data) {
  auto* player = static_cast<TiluPlayer*>(data);
  TiluGst* gst = player->main_gst.get();
  if (!gst) return TRUE;
  TiluGstFrameTimes times = tilu_gst_get_frame_times(gst);
  tilu_health_main_check(player, times);
  if (!player->main_shown || times.last_frame == 0 || player->main_reopen) return TRUE;
  gint64 silent = g_get_monotonic_time() - times.last_frame;
  if (silent > stall_after_us(times)) {
    g_debug("main_stall(%" G_GINT64_FORMAT " ms) frame_interval(%" G_GINT64_FORMAT " us) keyframe_interval(%" G_GINT64_FORMAT
            " us)", silent / 1000, times.frame_interval, times.keyframe_interval);
    on_main_error(player);
  }
  return TRUE;
}

// Fades the main actor in and sets its scale: 0.97 like the tiles while more than one tile
// shows; at zoom 1 it starts at 0.97 and grows to full size after one ani-duration of delay.
void present_main_actor(TiluPlayer* player) {
  ClutterActor* actor = player->main_actor;
  guint duration = guint(tilu_options.ani_duration);

  clutter_actor_save_easing_state(actor);
  clutter_actor_set_easing_duration(actor, duration);
  clutter_actor_set_easing_mode(actor, CLUTTER_LINEAR);
  clutter_actor_set_opacity(actor, 255);
  clutter_actor_restore_easing_state(actor);
  _tilu_set_remove_on_complete(actor, "opacity");

  clutter_actor_set_scale(actor, kTileScale, kTileScale);
  if (player->zoom != 1) return;
  clutter_actor_save_easing_state(actor);
  clutter_actor_set_easing_delay(actor, duration);
  clutter_actor_set_easing_duration(actor, duration);
  clutter_actor_set_easing_mode(actor, CLUTTER_EASE_OUT_CUBIC);
  clutter_actor_set_scale(actor, kFullScale, kFullScale);
  clutter_actor_restore_easing_state(actor);
  _tilu_set_remove_on_complete(actor, "scale-x");
  _tilu_set_remove_on_complete(actor, "scale-y");
}

}  // namespace

void _tilu_texture_on_callback(int event, gpointer user_data) {
  TiluPlayer* player = static_cast<TiluTile*>(user_data)->player;
  switch (event) {
    case TILU_GST_ERROR:
      on_main_error(player);
      return;
    case TILU_GST_EOS:
      // Nothing more comes from an ended stream (a relay that went away): reopen it like a
      // failed one.
      g_debug("main_end_of_stream(%d)", player->vid_idx);
      on_main_error(player);
      return;
    case TILU_GST_TEXTURE_ON:
      break;
    default:
      TILU_MAIN_ASSERT(FALSE, "FALSE");
      return;
  }

  player->main_shown = TRUE;
  player->main_failures = 0;
  present_main_actor(player);
  _tilu_refresh_text(player);
  _tilu_restart_text_info_timeout(player);
  // Once both formats are known the info text is complete and per-frame work can stop.
  TiluGst* gst = player->main_gst.get();
  if (tilu_gst_get_video_caps_str(gst) && tilu_gst_get_audio_caps_str(gst)) tilu_gst_cancel_new_frame_callback(gst);
}

int _tilu_main_vid_open(TiluPlayer* player) {
  // A new focus or an explicit reopen starts afresh: no retry left pending, no failure counted.
  player->main_reopen.reset();
  player->main_failures = 0;
  open_focused_entry(player);
  return 0;
}

void _tilu_main_watch_start(TiluPlayer* player) {
  player->main_watch.reset(clutter_threads_add_timeout(kWatchIntervalMs, on_main_watch, player));
}

int _tilu_refresh_text(TiluPlayer* player) {
  glibx::CharPtr text(g_strdup_printf("vid_idx: %d\nuri: %s\nvolume: %f\nmute: %u", player->vid_idx,
                                      or_null(player->playlist->uri[player->vid_idx]), player->volume,
                                      unsigned(player->mute)));
  if (player->main_shown && player->main_gst) {
    TiluGst* gst = player->main_gst.get();
    int current_audio = tilu_gst_get_current_audio(gst);
    int num_audio = tilu_gst_get_num_audio(gst);
    const char* video_tags = tilu_gst_get_video_tags_str(gst);
    const char* video_caps = tilu_gst_get_video_caps_str(gst);
    const char* audio_tags = tilu_gst_get_audio_tags_str(gst);
    const char* audio_caps = tilu_gst_get_audio_caps_str(gst);
    text.reset(g_strdup_printf(
        "%s\naudio_caps: %s\naudio_tags: %s\nvideo_caps: %s\nvideo_tags: %s\nnum_audio: %d\ncurrent_audio: %d\n",
        text.get(), or_null(audio_caps), or_null(audio_tags), or_null(video_caps), or_null(video_tags), num_audio,
        current_audio));
  }
  clutter_text_set_text(CLUTTER_TEXT(player->info_text), text.get());

  switch (player->text_mode) {
    case TILU_TEXT_NONE:
      clutter_actor_set_opacity(player->info_text, 0);
      clutter_actor_set_opacity(player->titles_actor, 0);
      break;
    case TILU_TEXT_MAIN_ONLY:
      clutter_actor_set_opacity(player->info_text, 0);
      clutter_actor_set_opacity(player->titles_actor, 255);
      break;
    case TILU_TEXT_MAIN_DEBUG:
      clutter_actor_set_opacity(player->info_text, 255);
      clutter_actor_set_opacity(player->titles_actor, 255);
      break;
    default:
      TILU_MAIN_ASSERT(FALSE, "FALSE");
  }
  return 0;
}

gboolean _tilu_text_info_timeout_callback(gpointer data) {
  auto* player = static_cast<TiluPlayer*>(data);
  player->text_timeout_id = 0;
  clutter_actor_set_opacity(player->titles_actor, 0);
  return FALSE;
}

void _tilu_restart_text_info_timeout(TiluPlayer* player) {
  if (guint id = std::exchange(player->text_timeout_id, 0u)) g_source_remove(id);
  if (player->text_mode == TILU_TEXT_MAIN_ONLY)
    player->text_timeout_id =
        clutter_threads_add_timeout(guint(tilu_options.text_info_timeout), _tilu_text_info_timeout_callback, player);
}

int _tilu_set_remove_on_complete(ClutterActor* actor, const char* property_name) {
  ClutterTransition* transition = clutter_actor_get_transition(actor, property_name);
  if (!transition) {
    g_debug("can't find transition(%s)", property_name);
    return -1;
  }
  clutter_transition_set_remove_on_complete(transition, TRUE);
  return 0;
}
