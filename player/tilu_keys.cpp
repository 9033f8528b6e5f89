// Keyboard commands of the player window: one small function per command, chosen from a table
// by key symbol alone (modifiers are not looked at).
#include "tilu_geometry.h"
#include "tilu_player.h"

namespace {

void move_focus(TiluPlayer* player, TiluFocusMove move) {
  const TiluGridShape grid = tilu_grid_shape(player);
  player->vid_idx = tilu_focus_target(player->vid_idx, move, grid);
  g_debug("vid_idx(%d)", player->vid_idx);
  // Reopened on every move, also when the wrap rule kept the same entry.
  _tilu_main_vid_open(player);
  if (tilu_follow_focus(player, move, grid) != TiluFollow::Unchanged) _tilu_update_view(player);
}

void focus_left(TiluPlayer* player, ClutterActor*) { move_focus(player, TiluFocusMove::Left); }
void focus_right(TiluPlayer* player, ClutterActor*) { move_focus(player, TiluFocusMove::Right); }
void focus_up(TiluPlayer* player, ClutterActor*) { move_focus(player, TiluFocusMove::Up); }
void focus_down(TiluPlayer* player, ClutterActor*) { move_focus(player, TiluFocusMove::Down); }

void apply_zoom(TiluPlayer* player, const TiluZoomStep& step) {
  player->zoom = step.zoom;
  g_debug("zoom(%f)", step.logged);
  _tilu_center_on_focus(player);
  _tilu_update_view(player);
}

void zoom_in(TiluPlayer* player, ClutterActor*) { apply_zoom(player, tilu_zoom_in(player->zoom)); }

void zoom_out(TiluPlayer* player, ClutterActor*) {
  apply_zoom(player, tilu_zoom_out(player->zoom, tilu_grid_shape(player).columns));
}

void enter_toggle(TiluPlayer* player, ClutterActor*) {
  tilu_enter_toggle(player, tilu_grid_shape(player));
  _tilu_update_view(player);
}

void apply_volume(TiluPlayer* player, gdouble volume) {
  player->volume = volume;
  player->mute = FALSE;  // a volume key always unmutes
  g_debug("volume(%f)", player->volume);
  g_debug("mute(%d)", player->mute);
  tilu_gst_set_volume(player->main_gst.get(), player->volume);
  tilu_gst_set_mute(player->main_gst.get(), player->mute);
}

void volume_up(TiluPlayer* player, ClutterActor*) { apply_volume(player, tilu_volume_up(player->volume)); }
void volume_down(TiluPlayer* player, ClutterActor*) { apply_volume(player, tilu_volume_down(player->volume)); }

void next_audio(TiluPlayer* player, ClutterActor*) {
  TiluGst* gst = player->main_gst.get();
  const gint count = tilu_gst_get_num_audio(gst);
  const gint track = tilu_next_audio_track(tilu_gst_get_current_audio(gst), count);
  g_debug("current_audio(%d)", track);
  tilu_gst_set_current_audio(gst, track);
}

void toggle_mute(TiluPlayer* player, ClutterActor*) {
  player->mute = player->mute ? FALSE : TRUE;
  g_debug("mute(%d)", player->mute);
  tilu_gst_set_mute(player->main_gst.get(), player->mute);
}

void next_text_mode(TiluPlayer* player, ClutterActor*) { player->text_mode = tilu_next_text_mode(player->text_mode); }

void toggle_fullscreen(TiluPlayer*, ClutterActor* stage) {
  ClutterStage* target = CLUTTER_IS_STAGE(stage) ? CLUTTER_STAGE(stage) : nullptr;
  if (!target) {
    ClutterActor* holder = clutter_actor_get_stage(stage);
    if (holder) target = CLUTTER_STAGE(holder);
  }
  if (target) clutter_stage_set_fullscreen(target, !clutter_stage_get_fullscreen(target));
  // Gives the window system time to resize before the next key; the new size arrives through
  // on_allocation_changed.
  g_usleep(100000);
}

using Command = void (*)(TiluPlayer* player, ClutterActor* stage);

struct KeyBinding {
  guint key_symbol;
  Command command;
};

// Escape is not here: it ends the player and skips the common ending.
constexpr KeyBinding kBindings[] = {
    {CLUTTER_KEY_Left, focus_left},
    {CLUTTER_KEY_Up, focus_up},
    {CLUTTER_KEY_Right, focus_right},
    {CLUTTER_KEY_Down, focus_down},
    {CLUTTER_KEY_plus, zoom_in},
    {CLUTTER_KEY_KP_Add, zoom_in},
    {CLUTTER_KEY_minus, zoom_out},
    {CLUTTER_KEY_KP_Subtract, zoom_out},
    {CLUTTER_KEY_Return, enter_toggle},
    {CLUTTER_KEY_KP_Enter, enter_toggle},
    {CLUTTER_KEY_Page_Up, volume_up},
    {CLUTTER_KEY_Page_Down, volume_down},
    {CLUTTER_KEY_Home, next_audio},
    {CLUTTER_KEY_KP_Home, next_audio},
    {CLUTTER_KEY_End, toggle_mute},
    {CLUTTER_KEY_KP_End, toggle_mute},
    {CLUTTER_KEY_Insert, next_text_mode},
    {CLUTTER_KEY_KP_Insert, next_text_mode},
    {CLUTTER_KEY_F11, toggle_fullscreen},
};

// Destroying the stage from inside its own event dispatch lets the scene graph's GDK frame clock
// go on with the disposed stage in the same cycle (a crash, or a main loop spinning on
// assertions instead of ending). So the stage goes in an idle of its own, right after the event.
gboolean destroy_stage_idle(gpointer weak_stage) {
  if (auto* stage = static_cast<GObject*>(g_weak_ref_get(static_cast<GWeakRef*>(weak_stage)))) {
    clutter_actor_destroy(CLUTTER_ACTOR(stage));
    g_object_unref(stage);
  }
  return G_SOURCE_REMOVE;
}

void free_weak_stage(gpointer weak_stage) {
  g_weak_ref_clear(static_cast<GWeakRef*>(weak_stage));
  g_free(weak_stage);
}

void quit_player(TiluPlayer* player) {
  ClutterActor* stage = player->grid_actor ? clutter_actor_get_stage(player->grid_actor) : nullptr;
  if (!stage) return;
  auto* weak_stage = g_new0(GWeakRef, 1);
  g_weak_ref_init(weak_stage, stage);
  g_idle_add_full(G_PRIORITY_HIGH, destroy_stage_idle, weak_stage, free_weak_stage);
}

Command find_command(guint key_symbol) {
  for (const KeyBinding& binding : kBindings) {
    if (binding.key_symbol == key_symbol) return binding.command;
  }
  return nullptr;
}

}  // namespace

gboolean on_key_press(ClutterActor* stage, ClutterEvent* event, gpointer user_data) {
  auto* player = static_cast<TiluPlayer*>(user_data);
  const guint key_symbol = clutter_event_get_key_symbol(event);
  g_debug("on_key_press event key_symbol(%u)", key_symbol);

  if (key_symbol == CLUTTER_KEY_Escape) {
    // on_destroy, the stage's "destroy" handler, closes everything and quits the main loop.
    quit_player(player);
    return CLUTTER_EVENT_STOP;
  }

  const Command command = find_command(key_symbol);
  if (!command) return CLUTTER_EVENT_PROPAGATE;
  command(player, stage);

  _tilu_refresh_text(player);
  _tilu_restart_text_info_timeout(player);
  return CLUTTER_EVENT_STOP;
}
