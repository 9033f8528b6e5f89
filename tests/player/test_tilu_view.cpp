// The view handlers on real actors: the stage's allocation, the grid actor's animated scale and
// position, the main actor's scale, and the log lines. Runs under its own Xvfb display.
#include <clutter-gst/clutter-gst.h>
#include <gtest/gtest.h>

#include <string>

#include "log_capture.h"
#include "test_env.h"
#include "test_util.h"
#include "tilu_geometry.h"
#include "tilu_player.h"

namespace {

using tilutest::format;
using tilutest::spin_until;

// The value a property is heading to: the final value of its running transition, or the
// current value when none runs.
gfloat target_x(ClutterActor* actor) {
  if (ClutterTransition* t = clutter_actor_get_transition(actor, "position")) {
    const GValue* v = clutter_interval_peek_final_value(clutter_transition_get_interval(t));
    return static_cast<const ClutterPoint*>(g_value_get_boxed(v))->x;
  }
  return clutter_actor_get_x(actor);
}
gfloat target_y(ClutterActor* actor) {
  if (ClutterTransition* t = clutter_actor_get_transition(actor, "position")) {
    const GValue* v = clutter_interval_peek_final_value(clutter_transition_get_interval(t));
    return static_cast<const ClutterPoint*>(g_value_get_boxed(v))->y;
  }
  return clutter_actor_get_y(actor);
}
gdouble target_scale(ClutterActor* actor, const char* property) {
  if (ClutterTransition* t = clutter_actor_get_transition(actor, property)) {
    return g_value_get_double(clutter_interval_peek_final_value(clutter_transition_get_interval(t)));
  }
  gdouble x = 0, y = 0;
  clutter_actor_get_scale(actor, &x, &y);
  return g_str_equal(property, "scale-x") ? x : y;
}

bool has_grid_transitions(ClutterActor* grid) {
  return clutter_actor_get_transition(grid, "position") || clutter_actor_get_transition(grid, "scale-x") ||
         clutter_actor_get_transition(grid, "scale-y");
}

// A grid actor and a main actor set up the way start-up leaves them, on a stage of its own, and
// a record pointing at them. The playlist is the scene's own (count entries, no strings).
class ViewScene {
 public:
  ViewScene(gint32 columns, gint32 count, guint ani_duration_ms) {
    tilu_options.num_vid_per_row = columns;
    tilu_options.ani_duration = static_cast<gint>(ani_duration_ms);
    playlist_.count = count;
    player.playlist.reset(&playlist_);
    player.num_rows = (count - 1) / columns + 1;
    player.zoom = columns;
    player.center_x = player.center_y = (static_cast<gfloat>(columns) - 1.0f) * 0.5f;

    stage = clutter_stage_new();
    grid = clutter_actor_new();
    clutter_actor_add_child(stage, grid);
    clutter_actor_set_size(grid, columns * 500.0f, player.num_rows * 500.0f);
    main = clutter_actor_new();
    clutter_actor_add_child(grid, main);
    clutter_actor_set_pivot_point(main, 0.5f, 0.5f);
    clutter_actor_set_scale(main, 0.97f, 0.97f);
    clutter_actor_set_easing_mode(grid, CLUTTER_EASE_OUT_CUBIC);
    clutter_actor_set_easing_duration(grid, ani_duration_ms);
    player.grid_actor = grid;
    player.main_actor = main;
  }
  ViewScene(const ViewScene&) = delete;
  ViewScene& operator=(const ViewScene&) = delete;
  ~ViewScene() {
    player.playlist.release();  // the scene's own, not from the allocator
    clutter_actor_destroy(stage);
  }

  void set_view(const TiluViewArea& v) {
    player.view_x = v.x;
    player.view_y = v.y;
    player.view_width = v.width;
    player.view_height = v.height;
  }

  TiluPlayer player;
  ClutterActor* stage = nullptr;
  ClutterActor* grid = nullptr;
  ClutterActor* main = nullptr;

 private:
  TiluPlaylist playlist_{};
};

struct AllocationCase {
  gfloat w, h;
  TiluViewArea view;
};

TEST(View, AllocationComputesViewAndLogsIt) {
  const AllocationCase cases[] = {
      {1600, 900, {0, 0, 1600, 900}},
      {1920, 1200, {0, 60, 1920, 1080}},
      {2560, 1080, {320, 0, 1920, 1080}},
  };
  ViewScene scene(3, 5, 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    // The emitter's size counts, not the box: the box is only logged.
    ClutterActor* sized = clutter_actor_new();
    g_object_ref_sink(sized);
    clutter_actor_set_size(sized, c.w, c.h);
    const ClutterActorBox box{1.5f, 2.0f, 3.25f, 4.0f};
    tilutest::LogCapture log;
    on_allocation_changed(sized, &box, CLUTTER_DELEGATE_LAYOUT, &scene.player);
    g_object_unref(sized);

    EXPECT_EQ(scene.player.stage_width, c.w);
    EXPECT_EQ(scene.player.stage_height, c.h);
    EXPECT_EQ(scene.player.view_x, c.view.x);
    EXPECT_EQ(scene.player.view_y, c.view.y);
    EXPECT_EQ(scene.player.view_width, c.view.width);
    EXPECT_EQ(scene.player.view_height, c.view.height);

    // Start-up view: the grid's corner at the view's corner, N tiles across.
    const double sx = static_cast<double>(c.view.width / 1500.0f);
    const double sy = static_cast<double>(c.view.height / 1500.0f);
    EXPECT_EQ(clutter_actor_get_x(scene.grid), c.view.x);
    EXPECT_EQ(clutter_actor_get_y(scene.grid), c.view.y);
    EXPECT_EQ(target_scale(scene.grid, "scale-x"), sx);
    EXPECT_EQ(target_scale(scene.grid, "scale-y"), sy);

    const auto& lines = log.lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front(), format("on_allocation_changed event x1(%f) y1(%f) x2(%f) y2(%f) flags(%d)", 1.5,
                                    2.0, 3.25, 4.0, int(CLUTTER_DELEGATE_LAYOUT)));
    EXPECT_EQ(log.count(format("ra_x(%f) ra_y(%f) ra_scale_x(%f) ra_scale_y(%f)", double(c.view.x),
                               double(c.view.y), sx, sy)),
              1);
    EXPECT_EQ(lines.back(), format("new_x(%f) new_y(%f) new_width(%f) new_height(%f)", double(c.view.x),
                                   double(c.view.y), double(c.view.width), double(c.view.height)));
  }
}

struct UpdateCase {
  const char* name;
  gint32 columns, count, zoom, vid_idx;
  gfloat x, y;  // expected grid position in a 1920 x 1080 view at (0, 60)
  gfloat tile_w, tile_h;
  gdouble main_scale;
};

TEST(View, ZoomAndFocusPlaceTheGrid) {
  const UpdateCase cases[] = {
      {"startup 5 entries", 3, 5, 3, 4, 0, 60, 640, 360, 0.9700000286102295},
      {"zoom 1 column 2 row 1", 3, 9, 1, 5, -3840.0f, -1020.00006103515625f, 1920, 1080, 1.0},
      {"zoom 2 column 0 of 4", 4, 16, 2, 0, 0, 60, 960, 540, 0.9700000286102295},
      {"zoom 2 column 3 of 4", 4, 16, 2, 3, -1920.0f, 60, 960, 540, 0.9700000286102295},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ViewScene scene(c.columns, c.count, 300);
    scene.set_view({0, 60, 1920, 1080});
    scene.player.zoom = c.zoom;
    scene.player.vid_idx = c.vid_idx;
    EXPECT_EQ(_tilu_center_on_focus(&scene.player), 0);
    EXPECT_EQ(_tilu_is_focus_visible(&scene.player), 1);
    EXPECT_EQ(_tilu_update_view(&scene.player), 0);

    EXPECT_EQ(target_x(scene.grid), c.x);
    EXPECT_EQ(target_y(scene.grid), c.y);
    // Each tile takes the 16:9 shape of the view: view / zoom.
    EXPECT_FLOAT_EQ(target_scale(scene.grid, "scale-x") * 500.0, c.tile_w);
    EXPECT_FLOAT_EQ(target_scale(scene.grid, "scale-y") * 500.0, c.tile_h);
    // The main actor's scale has no animation: already there.
    gdouble mx = 0, my = 0;
    clutter_actor_get_scale(scene.main, &mx, &my);
    EXPECT_EQ(mx, c.main_scale);
    EXPECT_EQ(my, c.main_scale);
  }
}

TEST(View, AnimatedTransitionsAreRemovedWhenDone) {
  ViewScene scene(4, 16, 150);
  scene.set_view({0, 60, 1920, 1080});
  clutter_actor_show(scene.stage);  // transitions only advance on a shown stage's frame clock
  scene.player.zoom = 1;
  scene.player.vid_idx = 5;
  _tilu_center_on_focus(&scene.player);
  tilutest::LogCapture log;
  _tilu_update_view(&scene.player);
  EXPECT_EQ(log.starting_with("can't find transition").size(), 0u);
  ASSERT_NE(clutter_actor_get_transition(scene.grid, "position"), nullptr);
  ASSERT_NE(clutter_actor_get_transition(scene.grid, "scale-x"), nullptr);
  ASSERT_NE(clutter_actor_get_transition(scene.grid, "scale-y"), nullptr);
  EXPECT_EQ(clutter_timeline_get_duration(CLUTTER_TIMELINE(clutter_actor_get_transition(scene.grid, "position"))), 150u);

  EXPECT_TRUE(spin_until([&] { return !has_grid_transitions(scene.grid); }, 5000))
      << "the grid's transitions stay on the actor after completing";
  EXPECT_EQ(clutter_actor_get_x(scene.grid), -500.0f * 1920.0f / 500.0f);
  gdouble sx = 0, sy = 0;
  clutter_actor_get_scale(scene.grid, &sx, &sy);
  EXPECT_EQ(sx, double(1920.0f / 500.0f));
  EXPECT_EQ(sy, double(1080.0f / 500.0f));
}

TEST(View, WithoutAnimationEachApplicationLogsThreeMissingTransitions) {
  ViewScene scene(3, 9, 0);
  scene.set_view({320, 0, 1920, 1080});
  tilutest::LogCapture log;
  for (int application = 1; application <= 3; ++application) {
    scene.player.zoom = application;  // 1, 2, 3
    scene.player.vid_idx = 4;
    _tilu_center_on_focus(&scene.player);
    _tilu_update_view(&scene.player);
    SCOPED_TRACE(testing::Message() << "application " << application);
    EXPECT_EQ(log.count("can't find transition(position)"), application);
    EXPECT_EQ(log.count("can't find transition(scale-x)"), application);
    EXPECT_EQ(log.count("can't find transition(scale-y)"), application);
    // And the grid is there at once.
    const TiluGridPlacement p = tilu_grid_placement(&scene.player);
    EXPECT_EQ(clutter_actor_get_x(scene.grid), p.x);
    EXPECT_EQ(clutter_actor_get_y(scene.grid), p.y);
    EXPECT_FALSE(has_grid_transitions(scene.grid));
  }
  // Order within one application: position, then scale-x, then scale-y.
  const auto missing = log.starting_with("can't find transition");
  ASSERT_EQ(missing.size(), 9u);
  EXPECT_EQ(missing[0], "can't find transition(position)");
  EXPECT_EQ(missing[1], "can't find transition(scale-x)");
  EXPECT_EQ(missing[2], "can't find transition(scale-y)");
}

TEST(View, UpdateViewLogsItsValues) {
  ViewScene scene(3, 9, 0);
  scene.set_view({0, 60, 1920, 1080});
  scene.player.zoom = 1;
  scene.player.center_x = 2;
  scene.player.center_y = 1;
  tilutest::LogCapture log;
  _tilu_update_view(&scene.player);
  const auto ra = log.starting_with("ra_x(");
  ASSERT_EQ(ra.size(), 1u);
  EXPECT_EQ(ra[0], "ra_x(-3840.000000) ra_y(-1020.000061) ra_scale_x(3.840000) ra_scale_y(2.160000)");
}

// The real stage: every resize reaches on_allocation_changed and recomputes the view.
TEST(View, StageResizeRecomputesTheView) {
  ViewScene scene(3, 5, 0);
  g_signal_connect(scene.stage, "allocation-changed", G_CALLBACK(on_allocation_changed), &scene.player);
  clutter_stage_set_user_resizable(CLUTTER_STAGE(scene.stage), TRUE);
  clutter_actor_show(scene.stage);
  // Found by its title, like a user's tool would: the scene graph may sit on GDK or on Xlib.
  clutter_stage_set_title(CLUTTER_STAGE(scene.stage), "tilu view test");
  std::string window;
  ASSERT_TRUE(spin_until(
      [&] {
        window = tilutest::run_capture({"xdotool", "search", "--name", "tilu view test"}, 5000).out;
        return !window.empty();
      },
      10000));
  window = window.substr(0, window.find('\n'));
  const AllocationCase cases[] = {
      {1920, 1200, {0, 60, 1920, 1080}},
      {1600, 900, {0, 0, 1600, 900}},
      {1280, 540, {160, 0, 960, 540}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    // Resized from outside, the way a user or a window manager does it.
    ASSERT_EQ(tilutest::run_command("xdotool windowsize " + window + " " + std::to_string(int(c.w)) +
                                    " " + std::to_string(int(c.h))),
              0);
    EXPECT_TRUE(spin_until([&] { return scene.player.stage_width == c.w && scene.player.stage_height == c.h; }, 5000));
    EXPECT_EQ(scene.player.view_x, c.view.x);
    EXPECT_EQ(scene.player.view_y, c.view.y);
    EXPECT_EQ(scene.player.view_width, c.view.width);
    EXPECT_EQ(scene.player.view_height, c.view.height);
    EXPECT_EQ(clutter_actor_get_x(scene.grid), c.view.x);
    EXPECT_EQ(clutter_actor_get_y(scene.grid), c.view.y);
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  tilutest::XvfbDisplay display(2560, 1400);
  if (clutter_gst_init(nullptr, nullptr) != CLUTTER_INIT_SUCCESS) {
    std::fprintf(stderr, "clutter could not start on %s\n", display.name().c_str());
    return 1;
  }
  return RUN_ALL_TESTS();
}
