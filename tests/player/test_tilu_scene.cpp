// The player record and the window's actor tree, built in-process on an Xvfb of the test's own.
#include <clutter-gst/clutter-gst.h>
#include <gtest/gtest.h>
#include <pango/pango.h>

#include <string>
#include <vector>

#include "test_env.h"
#include <cstdio>

#include "tilu_player.h"

namespace {

TiluPlaylistPtr make_playlist(int count, const char* uri_format = "udp://239.1.1.%d:5000") {
  TiluPlaylistPtr playlist(g_new0(TiluPlaylist, 1));
  playlist->count = count;
  playlist->caption1 = g_new0(gchar*, count);
  playlist->caption2 = g_new0(gchar*, count);
  playlist->uri = g_new0(gchar*, count);
  for (int i = 0; i < count; i++) {
    playlist->caption1[i] = g_strdup_printf("-1");
    playlist->caption2[i] = g_strdup_printf("Channel %d", i);
    playlist->uri[i] = g_strdup_printf(uri_format, i);
  }
  return playlist;
}

std::vector<ClutterActor*> children_of(ClutterActor* actor) {
  GList* list = clutter_actor_get_children(actor);
  std::vector<ClutterActor*> out;
  for (GList* l = list; l; l = l->next) out.push_back(CLUTTER_ACTOR(l->data));
  g_list_free(list);
  return out;
}

struct Binding {
  ClutterActor* source;
  ClutterBindCoordinate coordinate;
  float offset;
  bool operator==(const Binding&) const = default;
};

std::vector<Binding> bindings_of(ClutterActor* actor) {
  GList* list = clutter_actor_get_constraints(actor);
  std::vector<Binding> out;
  for (GList* l = list; l; l = l->next) {
    if (!CLUTTER_IS_BIND_CONSTRAINT(l->data)) continue;
    auto* bind = CLUTTER_BIND_CONSTRAINT(l->data);
    out.push_back({clutter_bind_constraint_get_source(bind), clutter_bind_constraint_get_coordinate(bind),
                   clutter_bind_constraint_get_offset(bind)});
  }
  g_list_free(list);
  return out;
}

void expect_centered_scale(ClutterActor* actor, float scale, const std::string& what) {
  gfloat px = 0, py = 0;
  clutter_actor_get_pivot_point(actor, &px, &py);
  EXPECT_EQ(px, 0.5f) << what;
  EXPECT_EQ(py, 0.5f) << what;
  gdouble sx = 0, sy = 0;
  clutter_actor_get_scale(actor, &sx, &sy);
  EXPECT_EQ(sx, double(scale)) << what;
  EXPECT_EQ(sy, double(scale)) << what;
}

void expect_geometry(ClutterActor* actor, float x, float y, float w, float h, const std::string& what) {
  gfloat ax, ay, aw, ah;
  clutter_actor_get_position(actor, &ax, &ay);
  clutter_actor_get_size(actor, &aw, &ah);
  EXPECT_EQ(ax, x) << what;
  EXPECT_EQ(ay, y) << what;
  EXPECT_EQ(aw, w) << what;
  EXPECT_EQ(ah, h) << what;
}

void expect_color(const ClutterColor& c, guint8 r, guint8 g, guint8 b, guint8 a, const std::string& what) {
  EXPECT_EQ(c.red, r) << what;
  EXPECT_EQ(c.green, g) << what;
  EXPECT_EQ(c.blue, b) << what;
  EXPECT_EQ(c.alpha, a) << what;
}

// A white text on one black background attribute over its whole text.
void expect_text_style(ClutterActor* actor, const char* font, const std::string& what) {
  ClutterText* text = CLUTTER_TEXT(actor);
  EXPECT_STREQ(clutter_text_get_font_name(text), font) << what;
  ClutterColor color;
  clutter_text_get_color(text, &color);
  expect_color(color, 255, 255, 255, 255, what);
  PangoAttrList* list = clutter_text_get_attributes(text);
  ASSERT_NE(list, nullptr) << what;
  GSList* attributes = pango_attr_list_get_attributes(list);
  ASSERT_EQ(g_slist_length(attributes), 1u) << what;
  auto* attribute = static_cast<PangoAttribute*>(attributes->data);
  EXPECT_EQ(attribute->klass->type, PANGO_ATTR_BACKGROUND) << what;
  EXPECT_EQ(attribute->start_index, 0u) << what;
  EXPECT_EQ(attribute->end_index, guint(PANGO_ATTR_INDEX_TO_TEXT_END)) << what;
  const PangoColor& bg = reinterpret_cast<PangoAttrColor*>(attribute)->color;
  EXPECT_EQ(bg.red | bg.green | bg.blue, 0) << what;
  g_slist_free_full(attributes, reinterpret_cast<GDestroyNotify>(pango_attribute_destroy));
}

ClutterActorBox allocation_of(ClutterActor* actor) {
  ClutterActorBox box;
  clutter_actor_get_allocation_box(actor, &box);  // lays the stage out first when needed
  return box;
}

class SceneTest : public testing::Test {
 protected:
  void SetUp() override {
    g_free(tilu_options.proxy_uri);
    tilu_options = TiluOptions{};
  }
  void TearDown() override {
    tilu_player_release(&player_);
    g_free(tilu_options.proxy_uri);
    tilu_options = TiluOptions{};
  }
  void build(int count) {
    tilu_player_init(&player_, make_playlist(count));
    tilu_scene_build(&player_);
  }
  ClutterActor* stage() { return clutter_actor_get_stage(player_.grid_actor); }

  TiluPlayer player_{};
};

struct InitCase {
  int count;
  int per_row;  // option value; 0 = computed
  int jobs;
  int columns, rows;
  int scan_jobs;
};

TEST_F(SceneTest, InitFillsTheRecord) {
  const InitCase cases[] = {
      {5, 0, 1, 3, 2, 1}, {4, 0, 1, 2, 2, 1},  {1, 0, 1, 1, 1, 1},  {5, 10, 1, 10, 1, 1},   {7, 0, 1, 3, 3, 1},
      {3, 0, 4, 2, 2, 3}, {10, 0, 0, 4, 3, 0}, {2, 1, 2, 1, 2, 2}, {200, 0, 8, 15, 14, 8}, {17, 4, 1, 4, 5, 1},
  };
  for (const InitCase& c : cases) {
    SCOPED_TRACE("count " + std::to_string(c.count) + ", per row " + std::to_string(c.per_row));
    tilu_options = TiluOptions{};
    tilu_options.num_vid_per_row = c.per_row;
    tilu_options.scan_num_jobs = c.jobs;
    TiluPlayer player{};
    tilu_player_init(&player, make_playlist(c.count));
    EXPECT_EQ(tilu_options.num_vid_per_row, c.columns);
    EXPECT_EQ(player.num_rows, c.rows);
    EXPECT_EQ(player.zoom, c.columns);
    EXPECT_EQ(player.center_x, (c.columns - 1) * 0.5f);
    EXPECT_EQ(player.center_y, (c.columns - 1) * 0.5f);
    EXPECT_EQ(player.scan_jobs, c.scan_jobs);
    EXPECT_EQ(player.tiles.size(), size_t(c.count));
    EXPECT_EQ(player.tile_actors, std::vector<ClutterActor*>(c.count, nullptr));
    EXPECT_EQ(player.title_texts, std::vector<ClutterActor*>(c.count, nullptr));
    EXPECT_EQ(player.scan_gsts.size(), size_t(c.count));
    EXPECT_EQ(player.scan_timeout_ids, std::vector<guint>(c.count, 0));
    for (int i = 0; i < c.count; i++) {
      EXPECT_EQ(player.tiles[i].player, &player);
      EXPECT_EQ(player.tiles[i].vid_idx, i);
      EXPECT_FALSE(player.tiles[i].actor || player.tiles[i].content);
    }
    EXPECT_EQ(player.main_tile.player, &player);
    EXPECT_EQ(player.main_tile.vid_idx, -1);
    // Fields no start-up step sets stay zero.
    EXPECT_EQ(player.vid_idx, 0);
    EXPECT_EQ(player.next_scan_idx, 0);
    EXPECT_EQ(player.num_scanning, 0);
    EXPECT_EQ(player.text_timeout_id, 0u);
    EXPECT_FALSE(player.main_shown);
    EXPECT_FALSE(player.main_gst);
    EXPECT_EQ(player.view_width + player.view_height + player.view_x + player.view_y, 0.0f);
    EXPECT_EQ(player.saved_zoom, 0);
    EXPECT_EQ(player.saved_center_x + player.saved_center_y, 0.0f);
  }
}

TEST_F(SceneTest, InitTakesSoundAndTextMode) {
  struct {
    gboolean no_text, show_debug;
    gint32 mode;
  } cases[] = {{FALSE, FALSE, TILU_TEXT_MAIN_ONLY},
               {TRUE, FALSE, TILU_TEXT_NONE},
               {FALSE, TRUE, TILU_TEXT_MAIN_DEBUG},
               {TRUE, TRUE, TILU_TEXT_MAIN_DEBUG}};
  for (const auto& c : cases) {
    tilu_options = TiluOptions{};
    tilu_options.no_text = c.no_text;
    tilu_options.show_debug = c.show_debug;
    tilu_options.volume = 0.75;
    tilu_options.mute = TRUE;
    TiluPlayer player{};
    tilu_player_init(&player, make_playlist(2));
    EXPECT_EQ(player.text_mode, c.mode) << c.no_text << c.show_debug;
    EXPECT_EQ(player.volume, 0.75);
    EXPECT_TRUE(player.mute);
  }
}

TEST_F(SceneTest, StageWindowAndHandlers) {
  build(3);
  ClutterActor* s = stage();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(clutter_actor_get_parent(player_.grid_actor), s);
  EXPECT_STREQ(clutter_stage_get_title(CLUTTER_STAGE(s)), "Tiluplay 0.8");
  ClutterColor color;
  clutter_actor_get_background_color(s, &color);
  expect_color(color, 0, 0, 0, 255, "stage");
  EXPECT_TRUE(clutter_stage_get_user_resizable(CLUTTER_STAGE(s)));
  EXPECT_EQ(children_of(s), std::vector<ClutterActor*>{player_.grid_actor});

  struct {
    const char* signal;
    gpointer handler;
  } handlers[] = {{"destroy", (gpointer)on_destroy},
                  {"key-press-event", (gpointer)on_key_press},
                  {"allocation-changed", (gpointer)on_allocation_changed}};
  for (const auto& h : handlers) {
    guint id = g_signal_lookup(h.signal, CLUTTER_TYPE_ACTOR);
    ASSERT_NE(id, 0u) << h.signal;
    auto mask = GSignalMatchType(G_SIGNAL_MATCH_ID | G_SIGNAL_MATCH_FUNC | G_SIGNAL_MATCH_DATA);
    EXPECT_NE(g_signal_handler_find(s, mask, id, 0, nullptr, h.handler, &player_), 0u) << h.signal;
  }

  // Construction is not animated; what moves the grid later is.
  EXPECT_EQ(clutter_actor_get_easing_mode(player_.grid_actor), CLUTTER_EASE_OUT_CUBIC);
  EXPECT_EQ(clutter_actor_get_easing_duration(player_.grid_actor), 300u);
  EXPECT_EQ(clutter_actor_get_transition(player_.grid_actor, "position"), nullptr);
  EXPECT_EQ(clutter_actor_get_transition(player_.grid_actor, "size"), nullptr);
}

TEST_F(SceneTest, EasingFollowsAnimationDuration) {
  tilu_options.ani_duration = 0;
  build(1);
  EXPECT_EQ(clutter_actor_get_easing_duration(player_.grid_actor), 0u);
}

struct GridCase {
  int count;
  int per_row;
};

void PrintTo(const GridCase& c, std::ostream* os) { *os << c.count << " entries, " << c.per_row << " per row"; }

class GridGeometry : public SceneTest, public testing::WithParamInterface<GridCase> {};

TEST_P(GridGeometry, ActorTree) {
  const GridCase c = GetParam();
  tilu_options.num_vid_per_row = c.per_row;
  build(c.count);
  const int n = tilu_options.num_vid_per_row;
  const float grid_w = n * 500.0f, grid_h = player_.num_rows * 500.0f;

  expect_geometry(player_.grid_actor, 0, 0, grid_w, grid_h, "grid");

  // Paint order, bottom to top.
  std::vector<ClutterActor*> expected_children = {player_.focus_actor};
  for (ClutterActor* tile : player_.tile_actors) expected_children.push_back(tile);
  expected_children.insert(expected_children.end(), {player_.main_actor, player_.titles_actor, player_.info_text});
  EXPECT_EQ(children_of(player_.grid_actor), expected_children);

  expect_geometry(player_.focus_actor, 0, 0, 500, 500, "focus");
  expect_centered_scale(player_.focus_actor, 1.03f, "focus");
  ClutterColor color;
  clutter_actor_get_background_color(player_.focus_actor, &color);
  expect_color(color, 255, 255, 0, 255, "focus");

  ASSERT_EQ(player_.tile_actors.size(), size_t(c.count));
  for (int i = 0; i < c.count; i++) {
    const std::string what = "tile " + std::to_string(i);
    ClutterActor* tile = player_.tile_actors[i];
    EXPECT_EQ(player_.tiles[i].actor.get(), tile) << what;
    EXPECT_EQ(player_.tiles[i].vid_idx, i) << what;
    EXPECT_EQ(player_.tiles[i].player, &player_) << what;
    EXPECT_EQ(player_.tiles[i].content.get(), nullptr) << what;
    EXPECT_EQ(G_OBJECT(tile)->ref_count, 2u) << what << ": the parent's and the record's";
    expect_geometry(tile, 500.0f * (i % n), 500.0f * (i / n), 500, 500, what);
    expect_centered_scale(tile, 0.97f, what);
    EXPECT_EQ(clutter_actor_get_opacity(tile), 0) << what;

    ClutterActor* title = player_.title_texts[i];
    EXPECT_EQ(clutter_actor_get_parent(title), player_.titles_actor) << what;
    EXPECT_EQ(std::string(clutter_text_get_text(CLUTTER_TEXT(title))), "-1\nChannel " + std::to_string(i)) << what;
    expect_text_style(title, "Monospace Bold 50", what);
    EXPECT_EQ(bindings_of(title), (std::vector<Binding>{{tile, CLUTTER_BIND_ALL, 0}})) << what;
    expect_centered_scale(title, 0.97f, what);
  }

  EXPECT_EQ(player_.main_tile.actor.get(), player_.main_actor);
  EXPECT_EQ(player_.main_tile.vid_idx, -1);
  EXPECT_EQ(G_OBJECT(player_.main_actor)->ref_count, 2u);
  EXPECT_EQ(clutter_actor_get_opacity(player_.main_actor), 255);
  EXPECT_EQ(bindings_of(player_.main_actor), (std::vector<Binding>{{player_.focus_actor, CLUTTER_BIND_ALL, 0}}));
  expect_centered_scale(player_.main_actor, 0.97f, "main");

  expect_geometry(player_.titles_actor, 0, 0, grid_w, grid_h, "titles");

  ClutterText* info = CLUTTER_TEXT(player_.info_text);
  EXPECT_TRUE(clutter_text_get_line_wrap(info));
  expect_text_style(player_.info_text, "Monospace Bold 10", "info");
  EXPECT_EQ(bindings_of(player_.info_text), (std::vector<Binding>{{player_.main_actor, CLUTTER_BIND_SIZE, 0},
                                                                  {player_.main_actor, CLUTTER_BIND_X, 0},
                                                                  {player_.main_actor, CLUTTER_BIND_Y, 166}}));
  expect_centered_scale(player_.info_text, 0.97f, "info");
}

INSTANTIATE_TEST_SUITE_P(Sizes, GridGeometry,
                         testing::Values(GridCase{1, 0}, GridCase{2, 0}, GridCase{5, 0}, GridCase{7, 0},
                                         GridCase{16, 0}, GridCase{5, 10}, GridCase{6, 1}, GridCase{7, 2}),
                         [](const testing::TestParamInfo<GridCase>& info) {
                           return std::to_string(info.param.count) + "_entries_" +
                                  std::to_string(info.param.per_row) + "_per_row";
                         });

TEST_F(SceneTest, SevenEntriesInThreeRows) {
  build(7);
  EXPECT_EQ(tilu_options.num_vid_per_row, 3);
  expect_geometry(player_.grid_actor, 0, 0, 1500, 1500, "grid");
  expect_geometry(player_.tile_actors[4], 500, 500, 500, 500, "tile 4");
  expect_geometry(player_.tile_actors[6], 0, 1000, 500, 500, "tile 6");
}

// What the bind constraints do once the stage is laid out: the main video covers the focused
// cell wherever the frame goes, the info text sits 166 units below its top, captions on tiles.
TEST_F(SceneTest, BoundActorsFollowTheirSources) {
  build(6);
  clutter_actor_show(stage());
  clutter_actor_set_position(player_.focus_actor, 1000, 500);  // the cell of entry 5
  ClutterActorBox focus = allocation_of(player_.focus_actor);
  ClutterActorBox main = allocation_of(player_.main_actor);
  EXPECT_TRUE(clutter_actor_box_equal(&focus, &main));
  EXPECT_EQ(main.x1, 1000);
  EXPECT_EQ(main.y1, 500);
  ClutterActorBox info = allocation_of(player_.info_text);
  EXPECT_EQ(info.x1, main.x1);
  EXPECT_EQ(info.y1, main.y1 + 166);
  EXPECT_EQ(info.x2 - info.x1, main.x2 - main.x1);
  EXPECT_EQ(info.y2 - info.y1, main.y2 - main.y1);
  for (int i = 0; i < 6; i++) {
    ClutterActorBox tile = allocation_of(player_.tile_actors[i]);
    ClutterActorBox title = allocation_of(player_.title_texts[i]);
    EXPECT_TRUE(clutter_actor_box_equal(&tile, &title)) << i;
  }
}

TEST_F(SceneTest, CaptionsThatAreNotUtf8AreShownRepaired) {
  TiluPlaylistPtr playlist = make_playlist(2);
  g_free(playlist->caption1[0]);
  playlist->caption1[0] = g_strdup("News \xff\xfe");
  g_free(playlist->caption2[1]);
  playlist->caption2[1] = g_strdup("cut \xe2\x82");  // a truncated three-byte sequence at the end
  tilu_player_init(&player_, std::move(playlist));
  tilu_scene_build(&player_);
  for (ClutterActor* title : player_.title_texts) {
    const char* text = clutter_text_get_text(CLUTTER_TEXT(title));
    EXPECT_TRUE(g_utf8_validate(text, -1, nullptr)) << text;
  }
  EXPECT_TRUE(g_str_has_prefix(clutter_text_get_text(CLUTTER_TEXT(player_.title_texts[0])), "News "));
  EXPECT_TRUE(g_str_has_prefix(clutter_text_get_text(CLUTTER_TEXT(player_.title_texts[1])), "-1\ncut "));
}

// The first open hands over the content's creation reference; later opens pass none.
TEST_F(SceneTest, StoreContentAdoptsOnlyTheFirstContent) {
  build(2);
  ClutterContent* content = CLUTTER_CONTENT(clutter_gst_content_new());  // what a first open creates
  clutter_actor_set_content(player_.main_actor, content);
  g_object_add_weak_pointer(G_OBJECT(content), reinterpret_cast<gpointer*>(&content));
  tilu_tile_store_content(&player_.main_tile);
  EXPECT_EQ(player_.main_tile.content.get(), content);
  tilu_tile_store_content(&player_.main_tile);
  EXPECT_EQ(G_OBJECT(content)->ref_count, 2u) << "the actor's and the record's";
  tilu_tile_store_content(&player_.tiles[1]);
  EXPECT_EQ(player_.tiles[1].content.get(), nullptr) << "an actor without content";
  tilu_player_release(&player_);
  EXPECT_EQ(content, nullptr) << "released with the scene";
}

struct Watched {
  std::vector<gpointer> pointers;
  void watch(gpointer object) {
    pointers.push_back(object);
  }
  void arm() {
    for (gpointer& p : pointers) g_object_add_weak_pointer(G_OBJECT(p), &p);
  }
  bool all_gone() const {
    for (gpointer p : pointers)
      if (p) return false;
    return true;
  }
};

void watch_scene(TiluPlayer* player, Watched* w) {
  w->watch(clutter_actor_get_stage(player->grid_actor));
  w->watch(player->grid_actor);
  w->watch(player->main_actor);
  w->watch(player->info_text);
  for (ClutterActor* a : player->tile_actors) w->watch(a);
  for (ClutterActor* a : player->title_texts) w->watch(a);
  w->arm();
}

gboolean never_called(gpointer) {
  ADD_FAILURE() << "a timeout outlived the scene";
  return G_SOURCE_REMOVE;
}

// Runs the main loop until something quits it; a loop that does not end within 10 s fails.
void run_main_loop_until_quit() {
  guint guard = g_timeout_add_seconds(
      10,
      [](gpointer) -> gboolean {
        ADD_FAILURE() << "the main loop did not end";
        clutter_main_quit();
        return G_SOURCE_REMOVE;
      },
      nullptr);
  clutter_main();
  g_source_remove(guard);
}

void expect_released(const TiluPlayer& player) {
  EXPECT_FALSE(player.playlist);
  EXPECT_FALSE(player.main_gst);
  EXPECT_TRUE(player.tiles.empty() && player.tile_actors.empty() && player.title_texts.empty());
  EXPECT_TRUE(player.scan_gsts.empty() && player.scan_timeout_ids.empty());
  EXPECT_FALSE(player.main_tile.actor || player.main_tile.content);
  EXPECT_EQ(player.text_timeout_id, 0u);
}

// Closing the window and Escape both destroy the stage; everything goes with it.
TEST_F(SceneTest, DestroyingTheStageReleasesEverything) {
  build(5);
  Watched watched;
  watch_scene(&player_, &watched);
  guint timeout = player_.text_timeout_id = g_timeout_add(60000, never_called, nullptr);
  clutter_actor_destroy(stage());
  expect_released(player_);
  EXPECT_TRUE(watched.all_gone());
  EXPECT_EQ(g_main_context_find_source_by_id(nullptr, timeout), nullptr) << "text-info timeout left pending";
}

// Provider playlists have tens of thousands of entries. Adding each actor used to walk all its
// siblings, which made the build quadratic (20 000 entries: over 40 s here, minutes under the
// sanitizers); linear, it takes a few seconds even in the sanitizer build on a busy machine.
TEST_F(SceneTest, LargeWallBuildsAndReleasesInLinearTime) {
  const int count = 20000;
  const gint64 start = g_get_monotonic_time();
  build(count);
  ASSERT_EQ(player_.tile_actors.size(), size_t(count));
  EXPECT_EQ(clutter_actor_get_n_children(player_.titles_actor), count);
  EXPECT_EQ(clutter_actor_get_last_child(player_.titles_actor), player_.title_texts[count - 1]);
  EXPECT_EQ(clutter_actor_get_previous_sibling(player_.main_actor), player_.tile_actors[count - 1]);
  tilu_player_release(&player_);
  const double seconds = double(g_get_monotonic_time() - start) / G_USEC_PER_SEC;
  EXPECT_LT(seconds, 30.0);
  std::printf("%d entries built and released in %.2f s\n", count, seconds);
}

TEST_F(SceneTest, DestroyInsideTheMainLoopEndsIt) {
  build(3);
  Watched watched;
  watch_scene(&player_, &watched);
  g_idle_add(
      [](gpointer stage) -> gboolean {
        clutter_actor_destroy(CLUTTER_ACTOR(stage));
        return G_SOURCE_REMOVE;
      },
      stage());
  run_main_loop_until_quit();
  expect_released(player_);
  EXPECT_TRUE(watched.all_gone());
}

// The window manager's close: handled at once, the stage destroyed from the main loop after.
TEST_F(SceneTest, CloseRequestDestroysTheStageFromTheLoop) {
  build(2);
  Watched watched;
  watch_scene(&player_, &watched);
  ClutterEvent* event = clutter_event_new(CLUTTER_DELETE);
  clutter_event_set_stage(event, CLUTTER_STAGE(stage()));
  gboolean handled = FALSE;
  g_signal_emit_by_name(stage(), "delete-event", event, &handled);
  clutter_event_free(event);
  EXPECT_TRUE(handled);
  EXPECT_TRUE(player_.playlist) << "destroyed inside the event emission";
  run_main_loop_until_quit();
  expect_released(player_);
  EXPECT_TRUE(watched.all_gone());
}

TEST_F(SceneTest, ReleaseIsIdempotent) {
  build(2);
  tilu_player_release(&player_);
  tilu_player_release(&player_);
  expect_released(player_);
}

// With the real pipeline module: the main pipeline opens on entry 0 (a missing file fails later,
// on the bus, not here), the main actor's content is kept, and scans start up to scan_jobs.
TEST_F(SceneTest, StartOpensMainPipelineAndFirstScans) {
  tilu_options.scan_num_jobs = 2;
  tilu_player_init(&player_, make_playlist(3, "file:///nonexistent/tilu-scene-test-%d.ts"));
  tilu_scene_build(&player_);
  tilu_player_start(&player_);
  EXPECT_TRUE(clutter_actor_is_visible(stage()));
  EXPECT_TRUE(player_.main_gst);
  ClutterContent* content = clutter_actor_get_content(player_.main_actor);
  EXPECT_NE(content, nullptr);
  EXPECT_EQ(player_.main_tile.content.get(), content);
  EXPECT_EQ(player_.num_scanning, 2);
  EXPECT_EQ(player_.next_scan_idx, 2);
  Watched watched;
  if (content) watched.watch(content);
  watched.arm();
  tilu_player_release(&player_);
  expect_released(player_);
  EXPECT_TRUE(watched.all_gone()) << "main content released";
}

TEST_F(SceneTest, NoScanJobsLeavesEveryTileInvisible) {
  tilu_options.scan_num_jobs = 0;
  tilu_player_init(&player_, make_playlist(4, "file:///nonexistent/tilu-scene-test-%d.ts"));
  tilu_scene_build(&player_);
  tilu_player_start(&player_);
  EXPECT_EQ(player_.scan_jobs, 0);
  EXPECT_EQ(player_.num_scanning, 0);
  for (ClutterActor* tile : player_.tile_actors) EXPECT_EQ(clutter_actor_get_opacity(tile), 0);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Started pipelines may join multicast groups: never on the host's network.
  tilutest::enter_private_netns();
  tilutest::XvfbDisplay display(1280, 720);
  if (clutter_gst_init(&argc, &argv) != CLUTTER_INIT_SUCCESS) {
    std::fprintf(stderr, "cannot initialise the scene graph on %s\n", display.name().c_str());
    return 1;
  }
  return RUN_ALL_TESTS();
}
