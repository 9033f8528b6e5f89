// The scan scheduler on real pipelines: live test channels in the test's own namespace, a
// group nobody sends to and a URI that fails while it opens. The record is checked after every
// main-loop iteration, so after every start, frame, error and timeout.
#include <gtest/gtest.h>

#include <algorithm>

#include "scan_video_support.h"

namespace {

using tilutest::LiveChannels;
using tilutest::ScanRecorder;
using tilutest::TestPlayer;

// Under load a timeout fires late, never early; decoding the first frame takes a few hundred ms.
constexpr int kLateMs = 900;

TiluOptions scan_options(int jobs, int timeout_ms) {
  TiluOptions o;
  o.scan_num_jobs = jobs;
  o.scan_timeout = timeout_ms;
  o.scan_width = 160;
  o.scan_height = 90;
  return o;
}

class ScanTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { channels_ = new LiveChannels({{true, 0}, {true, 1}, {true, 18}}); }
  static void TearDownTestSuite() {
    delete channels_;
    channels_ = nullptr;
  }
  static std::string live(int i) { return channels_->uri(size_t(i)); }

  // Runs the loop, polling the recorder and asserting that num_scanning stays at scan_jobs
  // between callbacks.
  static bool run(TestPlayer& player, ScanRecorder& recorder, int ms, const std::function<bool()>& done = {}) {
    auto after = [&] {
      recorder.poll();
      if (recorder.violation().empty() && player->num_scanning != player->scan_jobs)
        ADD_FAILURE() << "num_scanning " << player->num_scanning << " between callbacks";
    };
    if (!done) {
      tilutest::run_loop_for(ms, after);
      return true;
    }
    return tilutest::run_loop_until(done, ms, after);
  }

  static LiveChannels* channels_;
};
LiveChannels* ScanTest::channels_ = nullptr;

TEST_F(ScanTest, ZeroJobsNeverScans) {
  TestPlayer player({live(0), live(1)}, scan_options(0, 1000));
  tilu_scan_start_all(player.get());
  ScanRecorder recorder(player.get());
  run(player, recorder, 1500);
  EXPECT_EQ(recorder.violation(), "");
  EXPECT_TRUE(recorder.events().empty());
  EXPECT_EQ(player->num_scanning, 0);
  for (ClutterActor* tile : player->tile_actors) EXPECT_EQ(clutter_actor_get_opacity(tile), 0);
}

// Defaults: one scan at a time, in playlist order, each ended by its first frame.
TEST_F(ScanTest, RoundRobinEndsEachScanAtItsFirstFrame) {
  TestPlayer player({live(0), live(1), live(2)}, scan_options(1, 10000));
  tilu_scan_start_all(player.get());
  ASSERT_NE(player->scan_gsts[0], nullptr);
  EXPECT_EQ(player->next_scan_idx, 1);
  EXPECT_NE(player->tiles[0].content.get(), nullptr) << "the first open's content reference is kept";

  ScanRecorder recorder(player.get());
  bool ok = run(player, recorder, 20000, [&] { return recorder.starts().size() >= 4; });
  ASSERT_TRUE(ok) << "starts so far: " << recorder.starts().size();
  EXPECT_EQ(recorder.violation(), "");
  EXPECT_EQ(recorder.starts(), (std::vector<int>{0, 1, 2, 0}));

  for (int i = 0; i < 3; i++) {
    // The scan of i ended in the very iteration in which its tile got its first frame.
    auto stop = std::find_if(recorder.events().begin(), recorder.events().end(),
                             [&](const auto& e) { return e.kind == ScanRecorder::Event::kStop && e.index == i; });
    ASSERT_NE(stop, recorder.events().end()) << i;
    EXPECT_EQ(stop->ms, recorder.opaque_at(i)) << "entry " << i;
    EXPECT_LT(stop->ms, 10000) << "ended by its frame, not its timeout";
  }
  // Closing the scan keeps the picture: the tile stays opaque with the same content.
  EXPECT_EQ(clutter_actor_get_content(player->tile_actors[1]), player->tiles[1].content.get());
  EXPECT_EQ(clutter_actor_get_opacity(player->tile_actors[1]), 255);
}

struct LiveCase {
  const char* name;
  int entries;
  int jobs;
};

class ScanLiveTest : public ScanTest, public ::testing::WithParamInterface<LiveCase> {};

// Every entry has its own scan: frames never close a pipeline, each is reopened every
// scan-timeout milliseconds, in entry order.
TEST_P(ScanLiveTest, ReopensEveryPipelineEachTimeout) {
  const LiveCase& c = GetParam();
  constexpr int kTimeout = 1500;
  std::vector<std::string> uris;
  for (int i = 0; i < c.entries; i++) uris.push_back(live(i));
  TestPlayer player(uris, scan_options(c.jobs, kTimeout));
  ASSERT_EQ(player->scan_jobs, c.entries);
  tilu_scan_start_all(player.get());
  EXPECT_EQ(player->num_scanning, c.entries);
  EXPECT_EQ(player->next_scan_idx, 0);

  ScanRecorder recorder(player.get());
  run(player, recorder, 2 * kTimeout + kTimeout / 2);
  EXPECT_EQ(recorder.violation(), "");
  for (int i = 0; i < c.entries; i++) {
    EXPECT_GE(recorder.opaque_at(i), 0) << "entry " << i << " never showed a frame";
    // Opened at start-up, reopened at about one and two timeouts; no frame closed it between.
    auto times = recorder.start_times(i);
    ASSERT_EQ(times.size(), 3u) << "entry " << i;
    for (size_t k = 1; k < times.size(); k++) {
      EXPECT_GE(times[k] - times[k - 1], kTimeout - 50) << "entry " << i;
      EXPECT_LE(times[k] - times[k - 1], kTimeout + kLateMs) << "entry " << i;
    }
  }
  // Reopened in entry order; each stop is followed by the start of the same entry in the same
  // iteration.
  std::vector<int> expected;
  for (int round = 0; round < 3; round++)
    for (int i = 0; i < c.entries; i++) expected.push_back(i);
  EXPECT_EQ(recorder.starts(), expected);
  const auto& ev = recorder.events();
  for (size_t k = size_t(c.entries); k + 1 < ev.size(); k += 2) {
    EXPECT_EQ(ev[k].kind, ScanRecorder::Event::kStop);
    EXPECT_EQ(ev[k + 1].kind, ScanRecorder::Event::kStart);
    EXPECT_EQ(ev[k].index, ev[k + 1].index);
    EXPECT_EQ(ev[k].ms, ev[k + 1].ms);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, ScanLiveTest,
                         ::testing::Values(LiveCase{"OneEntryDefaultJobs", 1, 1}, LiveCase{"JobsEqualCount", 3, 3},
                                           LiveCase{"JobsAboveCount", 2, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

// Outside live mode a stream that fails at once ends its scan at once; its tile stays invisible.
TEST_F(ScanTest, StreamThatFailsAtOnceGivesWayToTheNext) {
  TestPlayer player({tilutest::broken_uri(), live(1), live(2)}, scan_options(1, 10000));
  tilu_scan_start_all(player.get());
  ScanRecorder recorder(player.get());
  bool ok = run(player, recorder, 15000, [&] { return recorder.opaque_at(1) >= 0 && recorder.opaque_at(2) >= 0; });
  ASSERT_TRUE(ok);
  EXPECT_EQ(recorder.violation(), "");
  std::vector<int> starts = recorder.starts();
  ASSERT_GE(starts.size(), 3u);
  EXPECT_EQ(std::vector<int>(starts.begin(), starts.begin() + 3), (std::vector<int>{0, 1, 2}));
  // Well below the 10 s timeout even when a busy machine delays the main loop.
  EXPECT_LT(recorder.start_times(1)[0], 5000) << "the failed scan waited for its timeout";
  EXPECT_EQ(clutter_actor_get_opacity(player->tile_actors[0]), 0);
}

// A whole playlist of dead streams (a relay that is down): the first round goes at once, then
// the scans are spaced out, and the window keeps painting.
TEST_F(ScanTest, DeadPlaylistDoesNotSpinOrStarveTheWindow) {
  TestPlayer player({tilutest::broken_uri(), tilutest::broken_uri() + "2", tilutest::broken_uri() + "3"},
                    scan_options(1, 5000));
  ClutterTimeline* timeline = clutter_timeline_new(4000);
  int frames = 0;
  g_signal_connect_swapped(timeline, "new-frame", G_CALLBACK(+[](int* n) { ++*n; }), &frames);
  clutter_timeline_start(timeline);

  tilu_scan_start_all(player.get());
  ScanRecorder recorder(player.get());
  run(player, recorder, 3500);
  EXPECT_EQ(recorder.violation(), "");
  size_t starts = recorder.starts().size();
  EXPECT_GE(starts, 4u) << "the first round did not go through at once";
  EXPECT_LE(starts, 8u) << "dead streams are retried in a busy loop";
  EXPECT_GE(frames, 20) << "the frame clock was starved";
  clutter_timeline_stop(timeline);
  g_object_unref(timeline);
}

// 3 entries, 2 jobs: entry 0 never gets a frame, 1 and 2 do. 0 and 1 start; 1 ends and 2 starts;
// 2 ends while 0 still runs and next_scan_idx is 0: 0 is passed over and 1 starts, and so on.
// No entry is ever scanned twice, no slot is lost, and 0 runs on until its own timeout.
TEST_F(ScanTest, CollisionPassesOverTheEntryStillScanning) {
  constexpr int kTimeout = 7000;
  TestPlayer player({tilutest::silent_uri(), live(1), live(2)}, scan_options(2, kTimeout));
  tilu_scan_start_all(player.get());
  EXPECT_EQ(player->next_scan_idx, 2);
  ScanRecorder recorder(player.get());
  int first = recorder.serial(0);
  ASSERT_NE(first, 0);

  bool ok = run(player, recorder, kTimeout - 500, [&] { return recorder.starts().size() >= 6; });
  ASSERT_TRUE(ok) << "starts so far: " << recorder.starts().size();
  EXPECT_EQ(recorder.violation(), "");
  EXPECT_EQ(recorder.starts(), (std::vector<int>{0, 1, 2, 1, 2, 1}));
  EXPECT_EQ(recorder.serial(0), first) << "entry 0 was restarted while its scan ran";

  // Its timeout ends it, and the round robin goes on past it.
  ok = run(player, recorder, kTimeout + kLateMs, [&] { return recorder.serial(0) != first; });
  ASSERT_TRUE(ok) << "entry 0 was not ended by its timeout";
  EXPECT_EQ(recorder.violation(), "");
  EXPECT_EQ(clutter_actor_get_opacity(player->tile_actors[0]), 0);
  EXPECT_EQ(clutter_actor_get_opacity(player->tile_actors[1]), 255);
  EXPECT_EQ(clutter_actor_get_opacity(player->tile_actors[2]), 255);
}

TEST_F(ScanTest, StopAndShutdown) {
  TestPlayer player({live(0), live(1), live(2)}, scan_options(2, 10000));
  tilu_scan_start_all(player.get());
  ASSERT_EQ(player->num_scanning, 2);

  // An entry without a scan: nothing changes.
  TiluGst* before0 = player->scan_gsts[0].get();
  _tilu_scan_vid_stop(player.get(), 2);
  EXPECT_EQ(player->num_scanning, 2);
  EXPECT_EQ(player->scan_gsts[0].get(), before0);
  EXPECT_EQ(player->scan_timeout_ids[2], 0u);

  std::vector<guint> ids(player->scan_timeout_ids);
  tilu_scan_stop_all(player.get());
  EXPECT_EQ(player->num_scanning, 0);
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(player->scan_gsts[i], nullptr);
    EXPECT_EQ(player->scan_timeout_ids[i], 0u);
    if (ids[i]) {
      EXPECT_EQ(g_main_context_find_source_by_id(nullptr, ids[i]), nullptr) << "timeout left behind";
    }
  }
  // Nothing restarts a stopped scheduler.
  ScanRecorder recorder(player.get());
  tilutest::run_loop_for(800, [&] { recorder.poll(); });
  EXPECT_TRUE(recorder.events().empty());
}

// The stage's "destroy" (Escape, closing the window) stops every scan, with the main loop running.
TEST_F(ScanTest, StageDestroyStopsTheScans) {
  TestPlayer player({live(0), live(1)}, scan_options(1, 10000));
  tilu_player_start(player.get());
  std::vector<guint> ids(player->scan_timeout_ids);
  g_timeout_add(300, [](gpointer stage) -> gboolean {
    clutter_actor_destroy(CLUTTER_ACTOR(stage));
    return G_SOURCE_REMOVE;
  }, player.stage());
  guint guard = g_timeout_add(10000, [](gpointer) -> gboolean {
    ADD_FAILURE() << "on_destroy did not quit the main loop";
    clutter_main_quit();
    return G_SOURCE_REMOVE;
  }, nullptr);
  clutter_main();
  g_source_remove(guard);
  EXPECT_EQ(player->num_scanning, 0);
  for (guint id : ids) {
    if (id) {
      EXPECT_EQ(g_main_context_find_source_by_id(nullptr, id), nullptr);
    }
  }
}

// Forked at the check itself ("fast" death tests): the statements abort before they touch a
// pipeline, and no child process or display is started again in the dying copy.
using ScanDeathTest = ScanTest;

TEST_F(ScanDeathTest, PreconditionsAbortWithTheirExpression) {
  TestPlayer player({live(0), live(1)}, scan_options(1, 10000));
  tilu_scan_start_all(player.get());
  EXPECT_DEATH(_tilu_scan_vid_start(player.get(), 0),
               "tilu_main.*_tilu_scan_vid_start.*player->scan_gsts\\[scan_vid_idx\\] == NULL");
  EXPECT_DEATH(_tilu_scan_texture_on_callback(7, &player->tiles[0]), "_tilu_scan_texture_on_callback.*FALSE");
}

}  // namespace

int main(int argc, char** argv) { return tilutest::scan_video_test_main(argc, argv); }
