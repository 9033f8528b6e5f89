// The main video on real pipelines: fade-in and growth, the info text's two forms, the text
// modes and their timeout, recovery from a stream that fails at once, shutdown.
#include <gtest/gtest.h>

#include <algorithm>

#include "log_capture.h"
#include "scan_video_support.h"

namespace {

using tilutest::LiveChannels;
using tilutest::TestPlayer;

constexpr double kTileScale = 0.97f;

TiluOptions video_options(int ani_ms) {
  TiluOptions o;
  o.scan_num_jobs = 0;  // the main video alone
  o.ani_duration = ani_ms;
  return o;
}

double scale_x(ClutterActor* actor) {
  double x = 0, y = 0;
  clutter_actor_get_scale(actor, &x, &y);
  return x;
}

std::string text_of(ClutterActor* text) { return clutter_text_get_text(CLUTTER_TEXT(text)); }

std::string short_form(TiluPlayer* p) {
  glibx::CharPtr s(g_strdup_printf("vid_idx: %d\nuri: %s\nvolume: %f\nmute: %u", p->vid_idx,
                                   p->playlist->uri[p->vid_idx], p->volume, unsigned(p->mute)));
  return s.get();
}

bool frame_reports_cancelled(TiluPlayer* p) { return p->main_gst && p->main_gst->new_frame_handler_id == 0; }

class VideoTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { channels_ = new LiveChannels({{true, 0}, {false, 18}}); }
  static void TearDownTestSuite() {
    delete channels_;
    channels_ = nullptr;
  }
  static std::string with_sound() { return channels_->uri(0); }
  static std::string video_only() { return channels_->uri(1); }

  static bool wait_first_frame(TestPlayer& player, int ms = 10000) {
    return tilutest::run_loop_until([&] { return player->main_shown != FALSE; }, ms);
  }

  static LiveChannels* channels_;
};
LiveChannels* VideoTest::channels_ = nullptr;

// More than one tile shows: the main actor fades in linearly over ani-duration and stays at
// the tiles' scale.
TEST_F(VideoTest, FadesInLinearlyAtTileScale) {
  constexpr int kAni = 1200;
  TestPlayer player({with_sound(), video_only()}, video_options(kAni));
  ASSERT_EQ(player->zoom, 2);
  tilu_player_start(player.get());
  // As after a focus move: start-up leaves the main actor at its default opacity.
  _tilu_main_vid_open(player.get());
  EXPECT_EQ(clutter_actor_get_opacity(player->main_actor), 0);
  EXPECT_EQ(player->main_shown, FALSE);

  ASSERT_TRUE(wait_first_frame(player));
  ClutterTransition* fade = clutter_actor_get_transition(player->main_actor, "opacity");
  ASSERT_NE(fade, nullptr);
  EXPECT_EQ(clutter_timeline_get_duration(CLUTTER_TIMELINE(fade)), guint(kAni));
  EXPECT_EQ(clutter_timeline_get_progress_mode(CLUTTER_TIMELINE(fade)), CLUTTER_LINEAR);
  EXPECT_TRUE(clutter_transition_get_remove_on_complete(fade));
  EXPECT_LT(clutter_actor_get_opacity(player->main_actor), 128);
  EXPECT_NEAR(scale_x(player->main_actor), kTileScale, 1e-6);
  EXPECT_EQ(clutter_actor_get_transition(player->main_actor, "scale-x"), nullptr);

  // Half way: neither transparent nor opaque yet.
  tilutest::run_loop_for(kAni / 2);
  guint8 half = clutter_actor_get_opacity(player->main_actor);
  EXPECT_GT(half, 40);
  EXPECT_LT(half, 230);

  tilutest::run_loop_until([&] { return clutter_actor_get_opacity(player->main_actor) == 255; }, kAni + 2000);
  EXPECT_EQ(clutter_actor_get_opacity(player->main_actor), 255);
  tilutest::run_loop_until([&] { return !clutter_actor_get_transition(player->main_actor, "opacity"); }, 2000);
  EXPECT_EQ(clutter_actor_get_transition(player->main_actor, "opacity"), nullptr) << "not removed on completion";
  EXPECT_NEAR(scale_x(player->main_actor), kTileScale, 1e-6);
}

// Fully zoomed in: the main actor shows at 0.97 and grows to full size after one ani-duration
// of delay and one of growth.
TEST_F(VideoTest, GrowsToFullSizeAtZoomOne) {
  constexpr int kAni = 500;
  TestPlayer player({with_sound()}, video_options(kAni));
  ASSERT_EQ(player->zoom, 1);
  tilu_player_start(player.get());
  ASSERT_TRUE(wait_first_frame(player));
  ClutterTransition* grow = clutter_actor_get_transition(player->main_actor, "scale-x");
  ASSERT_NE(grow, nullptr);
  EXPECT_EQ(clutter_timeline_get_delay(CLUTTER_TIMELINE(grow)), guint(kAni));
  EXPECT_EQ(clutter_timeline_get_duration(CLUTTER_TIMELINE(grow)), guint(kAni));
  EXPECT_EQ(clutter_timeline_get_progress_mode(CLUTTER_TIMELINE(grow)), CLUTTER_EASE_OUT_CUBIC);
  EXPECT_NE(clutter_actor_get_transition(player->main_actor, "scale-y"), nullptr);
  EXPECT_NEAR(scale_x(player->main_actor), kTileScale, 1e-6);

  // Frame reports repeat the growth until both formats are known; after that it completes.
  ASSERT_TRUE(tilutest::run_loop_until([&] { return frame_reports_cancelled(player.get()); }, 10000));
  tilutest::run_loop_until([&] { return scale_x(player->main_actor) == 1.0; }, 2 * kAni + 3000);
  double x = 0, y = 0;
  clutter_actor_get_scale(player->main_actor, &x, &y);
  EXPECT_EQ(x, 1.0);
  EXPECT_EQ(y, 1.0);
}

struct NoAnimationCase {
  const char* name;
  int entries;
  bool scales;  // zoom 1: the growth is requested too
};

class VideoNoAnimationTest : public VideoTest, public ::testing::WithParamInterface<NoAnimationCase> {};

// ani-duration 0: no transitions; the values apply at once and each missing one is logged.
TEST_P(VideoNoAnimationTest, LogsEveryMissingTransition) {
  const NoAnimationCase& c = GetParam();
  std::vector<std::string> uris(size_t(c.entries), with_sound());
  TestPlayer player(uris, video_options(0));
  tilutest::LogCapture log;
  tilu_player_start(player.get());
  ASSERT_TRUE(wait_first_frame(player));
  EXPECT_EQ(clutter_actor_get_opacity(player->main_actor), 255);
  EXPECT_EQ(clutter_actor_get_transition(player->main_actor, "opacity"), nullptr);
  EXPECT_GE(log.count("can't find transition(opacity)"), 1);
  if (c.scales) {
    EXPECT_EQ(scale_x(player->main_actor), 1.0);
    EXPECT_EQ(log.count("can't find transition(scale-x)"), log.count("can't find transition(opacity)"));
    EXPECT_EQ(log.count("can't find transition(scale-y)"), log.count("can't find transition(opacity)"));
  } else {
    EXPECT_NEAR(scale_x(player->main_actor), kTileScale, 1e-6);
    EXPECT_EQ(log.count("can't find transition(scale-x)"), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Zoom, VideoNoAnimationTest,
                         ::testing::Values(NoAnimationCase{"ZoomOne", 1, true}, NoAnimationCase{"Grid", 4, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The info text: the short form until the first frame, then the long form with the stream's
// formats, tags and tracks; a format that never comes shows as "(null)".
TEST_F(VideoTest, InfoTextShortThenLong) {
  TiluOptions o = video_options(0);
  o.show_debug = TRUE;
  TestPlayer player({with_sound(), video_only()}, o);
  EXPECT_EQ(text_of(player->info_text), short_form(player.get())) << "built with the scene";
  tilu_player_start(player.get());
  _tilu_refresh_text(player.get());
  EXPECT_EQ(text_of(player->info_text), short_form(player.get()));
  EXPECT_EQ(text_of(player->info_text),
            "vid_idx: 0\nuri: " + with_sound() + "\nvolume: 0.500000\nmute: 0");
  EXPECT_EQ(clutter_actor_get_opacity(player->info_text), 255);

  ASSERT_TRUE(tilutest::run_loop_until([&] { return frame_reports_cancelled(player.get()); }, 10000));
  std::string text = text_of(player->info_text);
  EXPECT_EQ(text.rfind(short_form(player.get()) + "\naudio_caps: audio/x-raw", 0), 0u) << text;
  EXPECT_NE(text.find("\naudio_tags: "), std::string::npos) << text;
  EXPECT_NE(text.find("\nvideo_caps: video/x-raw"), std::string::npos) << text;
  EXPECT_NE(text.find("\nvideo_tags: "), std::string::npos) << text;
  EXPECT_TRUE(text.ends_with("\nnum_audio: 1\ncurrent_audio: 0\n")) << text;

  // A stream without sound: the audio format never arrives, frame reports go on.
  player->vid_idx = 1;
  _tilu_main_vid_open(player.get());
  EXPECT_EQ(player->main_shown, FALSE);
  ASSERT_TRUE(wait_first_frame(player));
  tilutest::run_loop_for(1000);
  text = text_of(player->info_text);
  EXPECT_NE(text.find("\naudio_caps: (null)\naudio_tags: (null)\nvideo_caps: video/x-raw"), std::string::npos)
      << text;
  EXPECT_TRUE(text.ends_with("\nnum_audio: 0\ncurrent_audio: -1\n") ||
              text.ends_with("\nnum_audio: 0\ncurrent_audio: 0\n"))
      << text;
  EXPECT_FALSE(frame_reports_cancelled(player.get()));
}

// A focus move closes the main pipeline, opens the new entry's and moves the focus frame onto
// its tile; the main actor is transparent until the new stream's first frame.
TEST_F(VideoTest, OpenMovesTheFocusAndStartsTransparent) {
  TestPlayer player({video_only(), video_only(), video_only(), with_sound()}, video_options(0));
  tilu_player_start(player.get());
  ASSERT_TRUE(wait_first_frame(player));
  player->vid_idx = 3;
  player->volume = 0.25;
  _tilu_main_vid_open(player.get());
  EXPECT_EQ(player->main_shown, FALSE);
  EXPECT_EQ(clutter_actor_get_opacity(player->main_actor), 0);
  gfloat x = 0, y = 0;
  clutter_actor_get_position(player->focus_actor, &x, &y);
  EXPECT_EQ(x, 500.0f);
  EXPECT_EQ(y, 500.0f);
  EXPECT_EQ(tilu_gst_get_volume(player->main_gst.get()), 0.25);
  EXPECT_EQ(tilu_gst_get_mute(player->main_gst.get()), 0);
  EXPECT_EQ(player->main_tile.content.get(), clutter_actor_get_content(player->main_actor));
  ASSERT_TRUE(wait_first_frame(player));
  EXPECT_EQ(clutter_actor_get_opacity(player->main_actor), 255);
}

// A focus move in the middle of a fade-in: the main actor turns transparent at once and stays
// so until the new stream's first frame (here a stream that never sends one).
TEST_F(VideoTest, OpenDuringFadeInTurnsTransparentAtOnce) {
  TestPlayer player({with_sound(), tilutest::silent_uri()}, video_options(3000));
  tilu_player_start(player.get());
  _tilu_main_vid_open(player.get());
  ASSERT_TRUE(wait_first_frame(player));
  ASSERT_NE(clutter_actor_get_transition(player->main_actor, "opacity"), nullptr);
  player->vid_idx = 1;
  _tilu_main_vid_open(player.get());
  EXPECT_EQ(clutter_actor_get_opacity(player->main_actor), 0);
  guint8 highest = 0;
  tilutest::run_loop_for(800, [&] { highest = std::max(highest, clutter_actor_get_opacity(player->main_actor)); });
  EXPECT_EQ(highest, 0);
}

struct ModeCase {
  int mode;
  guint8 info;
  guint8 titles;
  bool timeout;  // the restart leaves a text-info timeout pending
};

class VideoTextModeTest : public VideoTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(VideoTextModeTest, OpacitiesAndTimeout) {
  const ModeCase& c = GetParam();
  TestPlayer player({with_sound()}, video_options(0));
  player->text_mode = c.mode;
  _tilu_refresh_text(player.get());
  _tilu_restart_text_info_timeout(player.get());
  EXPECT_EQ(clutter_actor_get_opacity(player->info_text), c.info);
  EXPECT_EQ(clutter_actor_get_opacity(player->titles_actor), c.titles);
  EXPECT_EQ(player->text_timeout_id != 0, c.timeout);
  EXPECT_EQ(text_of(player->info_text), short_form(player.get())) << "rewritten in every mode";
}

INSTANTIATE_TEST_SUITE_P(Modes, VideoTextModeTest,
                         ::testing::Values(ModeCase{TILU_TEXT_NONE, 0, 0, false},
                                           ModeCase{TILU_TEXT_MAIN_ONLY, 0, 255, true},
                                           ModeCase{TILU_TEXT_MAIN_DEBUG, 255, 255, false}),
                         [](const auto& info) { return "Mode" + std::to_string(info.param.mode); });

// Mode 1: the captions vanish text-info-timeout ms after the last refresh, not the first.
TEST_F(VideoTest, CaptionsVanishAfterTheLastRefresh) {
  constexpr int kTimeout = 900;
  TiluOptions o = video_options(0);
  o.text_info_timeout = kTimeout;
  TestPlayer player({with_sound()}, o);
  ASSERT_EQ(player->text_mode, TILU_TEXT_MAIN_ONLY);
  auto refresh = [&] {
    _tilu_refresh_text(player.get());
    _tilu_restart_text_info_timeout(player.get());
  };
  refresh();
  gint64 t0 = tilutest::now_ms();
  tilutest::run_loop_for(kTimeout / 2);
  refresh();
  gint64 last = tilutest::now_ms();
  guint8 titles = 255;
  gint64 vanished = -1;
  tilutest::run_loop_until([&] { return clutter_actor_get_opacity(player->titles_actor) == 0; }, 3 * kTimeout,
                           [&] {
                             if (vanished < 0 && clutter_actor_get_opacity(player->titles_actor) == 0)
                               vanished = tilutest::now_ms();
                             titles = clutter_actor_get_opacity(player->titles_actor);
                           });
  ASSERT_EQ(titles, 0) << "captions never vanished";
  EXPECT_GE(vanished - last, kTimeout - 20);
  EXPECT_GE(vanished - t0, kTimeout + kTimeout / 2 - 20);
  EXPECT_LE(vanished - last, kTimeout + 800);
  EXPECT_EQ(player->text_timeout_id, 0u);
  EXPECT_EQ(clutter_actor_get_opacity(player->info_text), 0);
}

// The stage's "destroy" handler removes a pending text-info timeout along with the scene.
TEST_F(VideoTest, StageDestroyRemovesTheTextTimeout) {
  TiluOptions o = video_options(0);
  o.text_info_timeout = 600;
  TestPlayer player({with_sound()}, o);
  tilu_player_start(player.get());
  _tilu_restart_text_info_timeout(player.get());
  guint id = player->text_timeout_id;
  ASSERT_NE(id, 0u);
  clutter_actor_destroy(player.stage());
  EXPECT_EQ(player->text_timeout_id, 0u);
  EXPECT_EQ(g_main_context_find_source_by_id(nullptr, id), nullptr);
  tilutest::run_loop_for(900);  // would touch the destroyed captions if it were still there
}

// A stream that fails at once (a dead relay): reopened at once, then at growing intervals; the
// main pipeline is never missing and the window keeps painting. A focus move starts afresh.
TEST_F(VideoTest, DeadStreamIsRetriedWithoutStarvingTheWindow) {
  TestPlayer player({tilutest::broken_uri(), with_sound()}, video_options(0));
  tilutest::LogCapture log;
  ClutterTimeline* timeline = clutter_timeline_new(4000);
  int frames = 0;
  g_signal_connect_swapped(timeline, "new-frame", G_CALLBACK(+[](int* n) { ++*n; }), &frames);
  clutter_timeline_start(timeline);

  tilu_player_start(player.get());
  bool always_open = true;
  tilutest::run_loop_for(3000, [&] { always_open = always_open && player->main_gst != nullptr; });
  EXPECT_TRUE(always_open);
  auto opens = log.starting_with("tilu_gst_open uri(" + tilutest::broken_uri());
  EXPECT_GE(opens.size(), 3u) << "not reopened after its errors";
  EXPECT_LE(opens.size(), 8u) << "retried in a busy loop";
  EXPECT_GE(player->main_failures, 3);
  EXPECT_GE(frames, 20) << "the frame clock was starved";
  EXPECT_LE(log.starting_with("main_failures(").size(), 4u);

  // Moving the focus to a live entry plays it at once, without waiting for a pending retry.
  player->vid_idx = 1;
  _tilu_main_vid_open(player.get());
  EXPECT_EQ(player->main_failures, 0);
  EXPECT_FALSE(player->main_reopen);
  ASSERT_TRUE(wait_first_frame(player));
  tilutest::run_loop_for(500);
  EXPECT_EQ(player->main_shown, TRUE) << "a stale retry reopened the stream";
  clutter_timeline_stop(timeline);
  g_object_unref(timeline);
}

// Shutdown while a retry is pending: the retry never touches the released scene.
TEST_F(VideoTest, StageDestroyWithRetryPending) {
  TestPlayer player({tilutest::broken_uri()}, video_options(0));
  tilu_player_start(player.get());
  ASSERT_TRUE(tilutest::run_loop_until([&] { return player->main_failures >= 2; }, 5000));
  clutter_actor_destroy(player.stage());
  EXPECT_EQ(player->main_gst, nullptr);
  tilutest::run_loop_for(600);
}

// Forked at the check itself ("fast" death tests): the statements abort before they touch a
// pipeline, and no child process or display is started again in the dying copy.
using VideoDeathTest = VideoTest;

TEST_F(VideoDeathTest, UnknownEventAndModeAbort) {
  TestPlayer player({with_sound()}, video_options(0));
  EXPECT_DEATH(_tilu_texture_on_callback(3, &player->main_tile), "tilu_main.*_tilu_texture_on_callback.*FALSE");
  player->text_mode = 3;
  EXPECT_DEATH(_tilu_refresh_text(player.get()), "tilu_main.*_tilu_refresh_text.*FALSE");
  player->text_mode = TILU_TEXT_MAIN_ONLY;
}

}  // namespace

int main(int argc, char** argv) { return tilutest::scan_video_test_main(argc, argv); }
