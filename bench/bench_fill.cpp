#include "bench_fill.h"

#include <gst/gst.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench_gst_log.h"
#include "bench_process.h"
#include "test_env.h"

namespace bench {
namespace {

constexpr int kChannels = 25;
constexpr const char* kFirstGroup = "239.255.14.1";
constexpr double kGiveUpS = 90;

std::string channel_uri(int i) { return "udp://239.255.14." + std::to_string(i + 1) + ":5000"; }

// When each video sink of the log first rendered, in seconds since the framework's start.
std::map<std::string, double> first_renders(const std::string& log) {
  std::map<std::string, double> first;
  std::istringstream in(read_text(log));
  for (std::string line; std::getline(in, line);) {
    std::string sink = rendering_sink(line);
    if (sink.rfind("cluttergstvideosink", 0) == 0 && !first.count(sink)) first[sink] = log_seconds(line);
  }
  return first;
}

// tilu on a wall of n channels with jobs scan jobs: seconds from its start until the last of its
// n tiles and its main video showed a first picture, or -1.
double tilu_fill(int n, int jobs, const std::string& dir) {
  const std::string playlist = dir + "/fill.m3u";
  std::vector<std::string> uris;
  for (int i = 0; i < n; i++) uris.push_back(channel_uri(i));
  write_playlist(playlist, uris, "Channel");
  const std::string log = dir + "/fill-gst.log";
  tilutest::run_command("rm -f '" + log + "'");
  tilutest::ChildProcess tilu(with_debug_log(log, {TILU_PLAYER_BIN, "-j", std::to_string(jobs), playlist}),
                              dir + "/fill.out", dir + "/fill.err");
  const double give_up = now_s() + kGiveUpS;
  std::map<std::string, double> first;
  while (now_s() < give_up && (first = first_renders(log)).size() < size_t(n + 1)) g_usleep(200000);
  tilu.stop();
  if (first.size() < size_t(n + 1)) return -1;
  double last = 0;
  for (auto& [sink, at] : first) last = std::max(last, at);
  return last;
}

// The floor: bare scan pipelines, `jobs` at a time, each ended at its first frame and the next
// entry started in its place, as the player's scan scheduler does.
class FloorScans {
 public:
  FloorScans(int n, int jobs) : n_(n), lanes_(size_t(jobs)) {}

  double run() {
    loop_ = g_main_loop_new(nullptr, FALSE);
    start_ = now_s();
    for (Lane& lane : lanes_) {
      lane.owner = this;
      start_next(lane);
    }
    guint timeout = g_timeout_add(guint(kGiveUpS * 1000), [](gpointer loop) -> gboolean {
      g_main_loop_quit(static_cast<GMainLoop*>(loop));
      return G_SOURCE_REMOVE;
    }, loop_);
    if (done_ < n_) g_main_loop_run(loop_);
    if (done_ == n_) g_source_remove(timeout);
    for (Lane& lane : lanes_) stop(lane);
    g_main_loop_unref(loop_);
    return done_ == n_ ? last_ - start_ : -1;
  }

 private:
  struct Lane {
    FloorScans* owner = nullptr;
    GstElement* play = nullptr;
    std::atomic<bool> shown{false};
  };

  static void on_handoff(GstElement*, GstBuffer*, GstPad*, gpointer data) {
    auto* lane = static_cast<Lane*>(data);
    if (lane->shown.exchange(true)) return;
    g_idle_add([](gpointer d) -> gboolean {
      auto* l = static_cast<Lane*>(d);
      l->owner->finished(*l);
      return G_SOURCE_REMOVE;
    }, lane);
  }

  void finished(Lane& lane) {
    stop(lane);
    done_++;
    last_ = now_s();
    if (done_ == n_) g_main_loop_quit(loop_);
    else start_next(lane);
  }

  void start_next(Lane& lane) {
    if (next_ >= n_) return;
    const int index = next_++;
    lane.shown = false;
    lane.play = gst_element_factory_make("playbin", nullptr);
    GstElement* sink = gst_parse_bin_from_description(
        "videoscale ! video/x-raw,width=480,height=270 ! fakesink name=floor signal-handoffs=true sync=true", TRUE,
        nullptr);
    GstElement* fake = gst_bin_get_by_name(GST_BIN(sink), "floor");
    g_signal_connect(fake, "handoff", G_CALLBACK(on_handoff), &lane);
    gst_object_unref(fake);
    guint flags = 0;
    g_object_get(lane.play, "flags", &flags, nullptr);
    g_object_set(lane.play, "uri", channel_uri(index).c_str(), "video-sink", sink, "flags", flags & ~2u, nullptr);
    gst_element_set_state(lane.play, GST_STATE_PLAYING);
  }

  static void stop(Lane& lane) {
    if (!lane.play) return;
    gst_element_set_state(lane.play, GST_STATE_NULL);
    gst_object_unref(lane.play);
    lane.play = nullptr;
  }

  int n_;
  std::vector<Lane> lanes_;
  GMainLoop* loop_ = nullptr;
  int next_ = 0;
  int done_ = 0;
  double start_ = 0;
  double last_ = 0;
};

}  // namespace

void run_fill_section(Table& table, int trials, const std::string& work_dir) {
  struct Wall {
    int n, jobs;
    Figure figure;
  };
  std::vector<Wall> walls;
  for (int n : {9, 25})
    for (int jobs : {1, 3})
      walls.push_back({n, jobs, {"tilu wall fill, " + std::to_string(n) + " channels, -j " + std::to_string(jobs), "s",
                                 {}, "bare scan pipelines, " + std::to_string(jobs) + " at a time", {},
                                 n == 9 ? "320x180 channels, key frame each second" : ""}});
  gst_init(nullptr, nullptr);
  const std::string sender_log = work_dir + "/fill-sender.out";
  tilutest::ChildProcess sender({TILU_TOOLS_DIR "/tilu-channels", "-n", std::to_string(kChannels), "-g", kFirstGroup,
                                 "-l", "-s", "320x180", "-b", "300", "--no-audio", "-d", "1800"},
                                sender_log, sender_log + ".err");
  if (!wait_text(sender_log, "ready", now_s() + 90)) {
    std::fprintf(stderr, "fill channels did not start: %s\n", read_text(sender_log + ".err").c_str());
  } else {
    tilutest::XvfbDisplay display(1600, 900);
    for (int trial = 0; trial < trials; trial++) {
      for (Wall& wall : walls) {
        std::fprintf(stderr, "fill trial %d/%d: %d channels, %d jobs\n", trial + 1, trials, wall.n, wall.jobs);
        const double floor = FloorScans(wall.n, wall.jobs).run();
        const double tilu = tilu_fill(wall.n, wall.jobs, work_dir);
        if (floor > 0 && tilu > 0) {
          wall.figure.values.push_back(tilu);
          wall.figure.floor_values.push_back(floor);
        } else {
          std::fprintf(stderr, "  not measured: tilu %.2f s, floor %.2f s\n", tilu, floor);
        }
      }
    }
  }
  for (Wall& wall : walls) table.add(wall.figure);
  sender.stop();
}

}  // namespace bench
