// The player record's start values, the window's actor tree, start-up of the pipelines and the
// release of everything at the stage's "destroy".
#include <pango/pango.h>

#include <memory>

#include "tilu_player.h"

namespace {

constexpr gfloat kCellSize = 500.0f;  // one tile cell in grid units
// Single-precision factors, handed to the scene graph as doubles (0.9700000286102295 ...).
constexpr gfloat kTileScale = 0.97f;
constexpr gfloat kFocusScale = 1.03f;
constexpr gfloat kInfoTextOffsetY = 166.0f;

constexpr ClutterColor kStageColor = {0, 0, 0, 255};
constexpr ClutterColor kFocusColor = {255, 255, 0, 255};
constexpr ClutterColor kTextColor = {255, 255, 255, 255};

struct AttrListUnref {
  void operator()(PangoAttrList* list) const noexcept { pango_attr_list_unref(list); }
};
using AttrListPtr = std::unique_ptr<PangoAttrList, AttrListUnref>;

void _tilu_set_centered_scale(ClutterActor* actor, gfloat scale) {
  clutter_actor_set_pivot_point(actor, 0.5f, 0.5f);
  clutter_actor_set_scale(actor, scale, scale);
}

// Adds child on top of parent's children in constant time. clutter_actor_add_child finds the
// place by walking every sibling's depth, which makes a wall of many tiles quadratic to build;
// the tiles and captions all have depth 0, so the top is where it would put them anyway.
void _tilu_append_child(ClutterActor* parent, ClutterActor* child) {
  clutter_actor_insert_child_above(parent, child, nullptr);
}

void _tilu_bind(ClutterActor* actor, ClutterActor* source, ClutterBindCoordinate coordinate, gfloat offset) {
  clutter_actor_add_constraint(actor, clutter_bind_constraint_new(source, coordinate, offset));
}

// A white text actor on a black Pango background over its whole text.
ClutterActor* _tilu_text_new(const char* font_name) {
  ClutterActor* actor = clutter_text_new();
  ClutterText* text = CLUTTER_TEXT(actor);
  clutter_text_set_font_name(text, font_name);
  clutter_text_set_color(text, &kTextColor);
  AttrListPtr attributes(pango_attr_list_new());
  pango_attr_list_insert(attributes.get(), pango_attr_background_new(0, 0, 0));  // whole text by default
  clutter_text_set_attributes(text, attributes.get());
  return actor;
}

// Captions come from the playlist as bytes; Pango and the scene graph require UTF-8 and read past
// the end of a string whose last character is a truncated multi-byte sequence.
glibx::CharPtr _tilu_caption_text(const char* caption1, const char* caption2) {
  glibx::CharPtr text(g_strdup_printf("%s\n%s", caption1, caption2));
  if (!g_utf8_validate(text.get(), -1, nullptr)) text.reset(g_utf8_make_valid(text.get(), -1));
  return text;
}

// Destroys the stage from an idle source of its own. Clutter's GDK backend hands window events
// (the window manager's close among them) to the stage while its frame clock walks its list of
// stages; a stage destroyed there now and then leaves that walk on a freed list node.
gboolean _tilu_destroy_stage_idle(gpointer weak_stage) {
  if (auto* stage = static_cast<ClutterActor*>(g_weak_ref_get(static_cast<GWeakRef*>(weak_stage)))) {
    clutter_actor_destroy(stage);
    g_object_unref(stage);
  }
  return G_SOURCE_REMOVE;
}

void _tilu_free_weak_ref(gpointer weak) {
  g_weak_ref_clear(static_cast<GWeakRef*>(weak));
  g_free(weak);
}

gboolean on_delete_event(ClutterActor* stage, ClutterEvent*, gpointer) {
  auto* weak = g_new0(GWeakRef, 1);
  g_weak_ref_init(weak, stage);
  clutter_threads_add_idle_full(G_PRIORITY_DEFAULT, _tilu_destroy_stage_idle, weak, _tilu_free_weak_ref);
  return TRUE;  // handled: the idle destroys it
}

ClutterActor* _tilu_stage_of(TiluPlayer* player) {
  return player->grid_actor ? clutter_actor_get_parent(player->grid_actor) : nullptr;
}

void _tilu_drop_tile_refs(TiluTile* tile) {
  tile->content.reset();
  tile->actor.reset();
}

// Steps of the "destroy" handler up to, not including, quitting the loop. A released record has
// no playlist; releasing it again does nothing.
void _tilu_player_free(TiluPlayer* player) {
  if (!player->playlist) return;
  tilu_scan_stop_all(player);
  player->main_gst.reset();
  player->main_reopen.reset();
  player->main_watch.reset();
  player->main_failures = 0;
  // The text-info timeout would touch the caption layer and info text, which go with the stage.
  if (player->text_timeout_id) {
    g_source_remove(player->text_timeout_id);
    player->text_timeout_id = 0;
  }
  for (TiluTile& tile : player->tiles) _tilu_drop_tile_refs(&tile);
  _tilu_drop_tile_refs(&player->main_tile);
  // Swapped with empty vectors so that their memory goes now, not with the record.
  std::vector<TiluTile>().swap(player->tiles);
  std::vector<ClutterActor*>().swap(player->tile_actors);
  std::vector<ClutterActor*>().swap(player->title_texts);
  std::vector<TiluGstPtr>().swap(player->scan_gsts);
  std::vector<guint>().swap(player->scan_timeout_ids);
  player->playlist.reset();
  player->health.reset();
  player->grid_actor = player->focus_actor = player->main_actor = nullptr;
  player->titles_actor = player->info_text = nullptr;
}

}  // namespace

void tilu_player_init(TiluPlayer* player, TiluPlaylistPtr playlist) {
  const gint32 count = playlist->count;
  player->playlist = std::move(playlist);

  player->tiles.resize(count);
  player->tile_actors.assign(count, nullptr);
  player->title_texts.assign(count, nullptr);
  player->scan_gsts.resize(count);
  player->scan_timeout_ids.assign(count, 0);
  for (gint32 i = 0; i < count; i++) {
    player->tiles[i].player = player;
    player->tiles[i].vid_idx = i;
  }
  player->main_tile.player = player;
  player->main_tile.vid_idx = -1;

  player->volume = tilu_options.volume;
  player->mute = tilu_options.mute;
  player->text_mode = TILU_TEXT_MAIN_ONLY;
  if (tilu_options.no_text) player->text_mode = TILU_TEXT_NONE;
  if (tilu_options.show_debug) player->text_mode = TILU_TEXT_MAIN_DEBUG;

  if (tilu_options.num_vid_per_row == 0) {
    gint n = 1;
    while (gint64(n) * n < count) n++;
    tilu_options.num_vid_per_row = n;
  }
  const gint columns = tilu_options.num_vid_per_row;
  player->zoom = columns;
  player->center_x = player->center_y = (columns - 1) * 0.5f;
  player->num_rows = (count - 1) / columns + 1;

  player->scan_jobs = MIN(tilu_options.scan_num_jobs, count);
  if (tilu_options.alarms || tilu_options.alarm_log) player->health = tilu_health_new(count, tilu_options.alarm_log);
}

void tilu_scene_build(TiluPlayer* player) {
  const gint columns = tilu_options.num_vid_per_row;
  const gint32 count = player->playlist->count;
  const gfloat grid_width = columns * kCellSize;
  const gfloat grid_height = player->num_rows * kCellSize;

  ClutterActor* stage = clutter_stage_new();
  clutter_stage_set_title(CLUTTER_STAGE(stage), TILU_VERSION_LINE);
  clutter_actor_set_background_color(stage, &kStageColor);
  g_signal_connect(stage, "destroy", G_CALLBACK(on_destroy), player);
  g_signal_connect(stage, "key-press-event", G_CALLBACK(on_key_press), player);
  g_signal_connect(stage, "allocation-changed", G_CALLBACK(on_allocation_changed), player);
  g_signal_connect(stage, "delete-event", G_CALLBACK(on_delete_event), nullptr);
  clutter_stage_set_user_resizable(CLUTTER_STAGE(stage), TRUE);

  ClutterActor* grid = player->grid_actor = clutter_actor_new();
  clutter_actor_add_child(stage, grid);
  clutter_actor_set_position(grid, 0, 0);
  clutter_actor_set_size(grid, grid_width, grid_height);

  ClutterActor* focus = player->focus_actor = clutter_actor_new();
  clutter_actor_set_background_color(focus, &kFocusColor);
  clutter_actor_add_child(grid, focus);
  clutter_actor_set_position(focus, 0, 0);
  clutter_actor_set_size(focus, kCellSize, kCellSize);
  _tilu_set_centered_scale(focus, kFocusScale);

  for (gint32 i = 0; i < count; i++) {
    ClutterActor* actor = player->tile_actors[i] = clutter_actor_new();
    clutter_actor_set_opacity(actor, 0);  // shown by the tile's first scan frame
    _tilu_append_child(grid, actor);
    player->tiles[i].actor = glibx::Ref<ClutterActor>::wrap(actor);
    clutter_actor_set_position(actor, kCellSize * (i % columns), kCellSize * (i / columns));
    clutter_actor_set_size(actor, kCellSize, kCellSize);
    _tilu_set_centered_scale(actor, kTileScale);
  }

  ClutterActor* main_actor = player->main_actor = clutter_actor_new();
  clutter_actor_add_child(grid, main_actor);
  player->main_tile.actor = glibx::Ref<ClutterActor>::wrap(main_actor);
  _tilu_bind(main_actor, focus, CLUTTER_BIND_ALL, 0);
  _tilu_set_centered_scale(main_actor, kTileScale);

  ClutterActor* titles = player->titles_actor = clutter_actor_new();
  clutter_actor_add_child(grid, titles);
  clutter_actor_set_position(titles, 0, 0);
  clutter_actor_set_size(titles, grid_width, grid_height);

  const TiluPlaylist* playlist = player->playlist.get();
  for (gint32 i = 0; i < count; i++) {
    ClutterActor* title = player->title_texts[i] = _tilu_text_new("Monospace Bold 50");
    clutter_text_set_text(CLUTTER_TEXT(title), _tilu_caption_text(playlist->caption1[i], playlist->caption2[i]).get());
    _tilu_append_child(titles, title);
    _tilu_bind(title, player->tile_actors[i], CLUTTER_BIND_ALL, 0);
    _tilu_set_centered_scale(title, kTileScale);
  }

  ClutterActor* info = player->info_text = _tilu_text_new("Monospace Bold 10");
  clutter_text_set_text(CLUTTER_TEXT(info), "");
  clutter_text_set_line_wrap(CLUTTER_TEXT(info), TRUE);
  clutter_actor_add_child(grid, info);
  _tilu_bind(info, main_actor, CLUTTER_BIND_SIZE, 0);
  _tilu_bind(info, main_actor, CLUTTER_BIND_X, 0);
  _tilu_bind(info, main_actor, CLUTTER_BIND_Y, kInfoTextOffsetY);
  _tilu_set_centered_scale(info, kTileScale);

  _tilu_refresh_text(player);

  // On the base easing state: every later move or zoom of the grid is animated, the
  // construction above is not.
  clutter_actor_set_easing_mode(grid, CLUTTER_EASE_OUT_CUBIC);
  clutter_actor_set_easing_duration(grid, guint(tilu_options.ani_duration));
}

void tilu_tile_store_content(TiluTile* tile) {
  ClutterContent* current = clutter_actor_get_content(tile->actor.get());
  // Only the open that created the content handed over a reference; later opens reuse it.
  if (!tile->content && current) tile->content = glibx::Ref<ClutterContent>::adopt(current);
}

void tilu_player_start(TiluPlayer* player) {
  clutter_actor_show(_tilu_stage_of(player));

  player->main_gst.reset(tilu_gst_open(tilu_options.proxy_uri, player->playlist->uri[player->vid_idx],
                                       player->main_actor, FALSE, 0, 0, _tilu_texture_on_callback,
                                       &player->main_tile));
  tilu_tile_store_content(&player->main_tile);
  tilu_gst_set_volume(player->main_gst.get(), player->volume);
  tilu_gst_set_mute(player->main_gst.get(), player->mute);
  tilu_health_main_opened(player);
  _tilu_main_watch_start(player);

  tilu_scan_start_all(player);
}

void on_destroy(ClutterActor*, gpointer user_data) {
  _tilu_player_free(static_cast<TiluPlayer*>(user_data));
  // A stage destroyed outside the main loop (embedding, tests) has no loop to end.
  if (clutter_main_level() > 0) clutter_main_quit();
}

void tilu_player_release(TiluPlayer* player) {
  ClutterActor* stage = _tilu_stage_of(player);
  _tilu_player_free(player);
  if (!stage) return;
  g_signal_handlers_disconnect_by_data(stage, player);
  clutter_actor_destroy(stage);
}
