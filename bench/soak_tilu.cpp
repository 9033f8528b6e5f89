// Long-run memory of the real tilu on live test channels: resident memory, descriptors and
// threads per 100 scans and per 100 zaps, with the slope of each phase after its warm-up.
//
// Runs in a private network namespace of its own with the test channels (tools/tilu-channels)
// and its own Xvfb; zaps with real key events (xdotool). Scans and zaps are counted from tilu's
// debug log: every "tilu_gst_open" line on a tile is a scan, one on the main actor a zap.
// Phases, each in a fresh tilu after its warm-up of scans:
//   scan  idle scanning with -j JOBS (default 1), then zapping with Right in the same run;
//   live  live mode (-j CHANNELS) with a short scan timeout, zapping with Right.
// A bare playbin with the same clutter-gst sink, opened and closed in this process as often,
// is the framework's own floor.
//
//   soak_tilu [--channels N] [--jobs J] [--warmup N] [--scans N] [--zaps N] [--live-zaps N]
//             [--every N] [--floor N] [--max-growth PERCENT] [--tilu PROGRAM]
//
// Exit status 1 when the resident memory of a phase grows by more than --max-growth percent
// (fitted over the phase), or its descriptors or threads keep growing; 2 for a bad command line.
#include <clutter-gst/clutter-gst.h>
#include <gst/gst.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "channel_sender.h"
#include "glib_ptr.h"
#include "soak_proc_stats.h"
#include "test_env.h"

namespace {

struct Options {
  int channels = 9;
  int jobs = 1;
  int warmup = 200;
  int scans = 5000;
  int zaps = 1000;
  int live_zaps = 1000;
  int every = 100;
  int floor = 300;  // bare playbin cycles; 0: none
  int zap_interval_ms = 333;  // three a second, as a person holding the key
  int live_scan_timeout_ms = 2000;
  double max_growth = 5.0;
  std::string tilu = TILU_PLAYER_BIN;
};

struct Sample {
  int count = 0;
  soak::ProcStats stats;
  double seconds = 0;
};

// One phase's table and its verdict.
struct Phase {
  std::string name;
  std::string unit;  // "scans", "zaps", "cycles"
  std::vector<Sample> samples;
};

// Rows are printed as they are measured, so that a long run shows its progress.
void print_header(const Phase& phase) {
  std::printf("\n%s\n", phase.name.c_str());
  std::printf("  %8s  %9s  %9s  %5s  %7s  %8s\n", phase.unit.c_str(), "RSS MB", "anon MB", "fds", "threads",
              "seconds");
  std::fflush(stdout);
}

void add_sample(Phase* phase, const Sample& s) {
  phase->samples.push_back(s);
  std::printf("  %8d  %9.1f  %9.1f  %5d  %7d  %8.0f\n", s.count, s.stats.rss_kb / 1024.0, s.stats.anon_kb / 1024.0,
              s.stats.fds, s.stats.threads, s.seconds);
  std::fflush(stdout);
}

void print_slope(const Phase& phase) {
  std::vector<double> x, rss;
  for (const Sample& s : phase.samples) {
    x.push_back(s.count);
    rss.push_back(s.stats.rss_kb / 1024.0);
  }
  soak::Fit fit = soak::fit_line(x, rss);
  std::printf("  slope %+.2f MB per 100 %s; fitted growth %+.1f %% over %d %s\n", fit.slope * 100, phase.unit.c_str(),
              soak::fitted_growth_percent(fit, x), x.empty() ? 0 : int(x.back() - x.front()), phase.unit.c_str());
  std::fflush(stdout);
}

// The verdict of a phase: its fitted RSS growth, and descriptors and threads that keep rising.
bool phase_flat(const Phase& phase, double max_growth) {
  std::vector<double> x, rss;
  std::vector<int> fds, threads;
  for (const Sample& s : phase.samples) {
    x.push_back(s.count);
    rss.push_back(s.stats.rss_kb / 1024.0);
    fds.push_back(s.stats.fds);
    threads.push_back(s.stats.threads);
  }
  bool ok = true;
  double growth = soak::fitted_growth_percent(soak::fit_line(x, rss), x);
  if (growth > max_growth) {
    std::printf("FAIL %s: resident memory grows %.1f %% (limit %.1f %%)\n", phase.name.c_str(), growth, max_growth);
    ok = false;
  }
  // Pipelines come and go (each scan holds a few sockets and threads while it runs), so single
  // samples vary by the dozen; a leak of one per scan or zap shows as a steady rise of the lows.
  if (!soak::lows_flat(fds, 24)) {
    std::printf("FAIL %s: file descriptors keep growing\n", phase.name.c_str());
    ok = false;
  }
  if (!soak::lows_flat(threads, 16)) {
    std::printf("FAIL %s: threads keep growing\n", phase.name.c_str());
    ok = false;
  }
  return ok;
}

// The real tilu with its debug log in files, read as it grows.
class Tilu {
 public:
  Tilu(const std::string& program, const tilutest::TempDir& dir, const std::string& name,
       const std::vector<std::string>& args)
      : out_path_(dir.file(name + ".out")), err_path_(dir.file(name + ".err")) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    setenv("G_MESSAGES_DEBUG", "all", 1);
    process_ = tilutest::ChildProcess(argv, out_path_, err_path_);
    unsetenv("G_MESSAGES_DEBUG");
  }
  pid_t pid() const { return process_.pid(); }
  bool running() const { return process_.running(); }
  // "still runs", or how it ended.
  std::string state() {
    if (process_.running()) return "tilu still runs";
    int status = process_.wait(1000);
    if (WIFSIGNALED(status)) return "tilu was killed by signal " + std::to_string(WTERMSIG(status));
    return "tilu exited with status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : status);
  }
  int scans() const { return scans_; }
  int main_opens() const { return main_opens_; }
  std::string log_tail() const {
    std::ifstream in(out_path_);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.size() > 3000 ? text.substr(text.size() - 3000) : text;
  }

  // Reads the lines written since the last call. The first pipeline tilu opens is the main one.
  void poll() {
    for (auto* reader : {&out_, &err_}) {
      std::string line;
      while (reader->next_line(line)) count(line);
    }
  }

 private:
  // A file being written: whole lines only, the rest waits for the next read.
  class LineReader {
   public:
    explicit LineReader(std::string path) : path_(std::move(path)) {}
    bool next_line(std::string& line) {
      for (;;) {
        size_t end = buffer_.find('\n', start_);
        if (end != std::string::npos) {
          line = buffer_.substr(start_, end - start_);
          start_ = end + 1;
          return true;
        }
        buffer_.erase(0, start_);
        start_ = 0;
        std::ifstream in(path_, std::ios::binary);
        in.seekg(offset_);
        char chunk[65536];
        in.read(chunk, sizeof chunk);
        std::streamsize n = in.gcount();
        if (n <= 0) return false;
        offset_ += n;
        buffer_.append(chunk, size_t(n));
      }
    }

   private:
    std::string path_;
    std::streamoff offset_ = 0;
    std::string buffer_;
    size_t start_ = 0;
  };

  void count(const std::string& line) {
    size_t at = line.find("tilu_gst_open uri(");
    if (at == std::string::npos) return;
    size_t t = line.find(" texture(", at);
    if (t == std::string::npos) return;
    std::string texture = line.substr(t + 9, line.find(')', t) - t - 9);
    if (main_texture_.empty()) main_texture_ = texture;
    (texture == main_texture_ ? main_opens_ : scans_)++;
  }

  std::string out_path_, err_path_;
  LineReader out_{out_path_}, err_{err_path_};
  tilutest::ChildProcess process_;
  std::string main_texture_;
  int scans_ = 0;
  int main_opens_ = 0;
};

double seconds_since(gint64 t0) { return double(g_get_monotonic_time() - t0) / G_USEC_PER_SEC; }

// Waits until done() holds, reading tilu's log every 50 ms; false when tilu ended or the
// deadline (generous: a loaded machine scans slowly) passed.
bool wait_for(Tilu& tilu, const std::function<bool()>& done, int timeout_s) {
  gint64 deadline = g_get_monotonic_time() + gint64(timeout_s) * G_USEC_PER_SEC;
  for (;;) {
    tilu.poll();
    if (done()) return true;
    if (!tilu.running() || g_get_monotonic_time() > deadline) return false;
    g_usleep(50000);
  }
}

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

std::string find_window() {
  for (int i = 0; i < 100; i++) {
    std::string id = first_line(tilutest::run_capture({"xdotool", "search", "--name", "^Tiluplay 0\\.8$"}, 5000).out);
    if (!id.empty()) return id;
    g_usleep(100000);
  }
  return {};
}

// Scans until count scans after the warm-up, sampling every `every`.
bool run_scans(Tilu& tilu, const Options& o, int scans, Phase* phase) {
  if (!wait_for(tilu, [&] { return tilu.scans() >= o.warmup; }, 60 + o.warmup * 10)) return false;
  const int base = tilu.scans();
  const gint64 t0 = g_get_monotonic_time();
  if (scans > 0) print_header(*phase);
  for (int done = 0; done <= scans && scans > 0; done += o.every) {
    if (!wait_for(tilu, [&] { return tilu.scans() >= base + done; }, 60 + o.every * 10)) return false;
    add_sample(phase, {done, soak::read_proc_stats(tilu.pid()), seconds_since(t0)});
  }
  return true;
}

// Zaps with Right at the interval, as real key presses to the focused window; each zap is
// confirmed by the main pipeline's reopen (the key is pressed again if none comes: a loaded X
// server may lose one). Right wraps from the last entry to the first. Samples every `every`.
bool run_zaps(Tilu& tilu, const Options& o, int zaps, Phase* phase) {
  std::string window = find_window();
  if (window.empty()) {
    std::fprintf(stderr, "soak: no tilu window\n");
    return false;
  }
  const std::string press = "xdotool windowfocus " + window + " key Right";
  tilu.poll();
  int opens = tilu.main_opens();
  const gint64 t0 = g_get_monotonic_time();
  print_header(*phase);
  add_sample(phase, {0, soak::read_proc_stats(tilu.pid()), 0});
  for (int zap = 1; zap <= zaps; zap++) {
    gint64 next = g_get_monotonic_time() + gint64(o.zap_interval_ms) * 1000;
    bool reopened = false;
    for (int attempt = 0; attempt < 6 && !reopened; attempt++) {
      tilutest::run_command(press);
      reopened = wait_for(tilu, [&] { return tilu.main_opens() > opens; }, 5);
    }
    if (!reopened) {
      std::fprintf(stderr, "soak: zap %d did not reopen the main pipeline\n", zap);
      return false;
    }
    opens = tilu.main_opens();
    if (zap % o.every == 0) add_sample(phase, {zap, soak::read_proc_stats(tilu.pid()), seconds_since(t0)});
    gint64 now = g_get_monotonic_time();
    if (now < next) g_usleep(gulong(next - now));
  }
  return true;
}

// The framework's floor: a bare playbin with a clutter-gst sink on one content, opened until its
// first frame and closed, in this process.
bool run_floor(const std::string& uri, const Options& o, Phase* phase) {
  int argc = 0;
  char** argv = nullptr;
  if (clutter_gst_init(&argc, &argv) != CLUTTER_INIT_SUCCESS) return false;
  ClutterActor* stage = clutter_stage_new();
  ClutterActor* actor = clutter_actor_new();
  clutter_actor_set_size(actor, 640, 360);
  clutter_actor_add_child(stage, actor);
  clutter_actor_show(stage);
  ClutterGstVideoSink* sink = clutter_gst_video_sink_new();
  auto content = glibx::Ref<ClutterContent>::adopt(clutter_gst_content_new_with_sink(sink));
  clutter_actor_set_content(actor, content.get());
  int frames = 0;
  g_signal_connect(sink, "new-frame", G_CALLBACK(+[](ClutterGstVideoSink*, gpointer n) { ++*static_cast<int*>(n); }),
                   &frames);
  const gint64 t0 = g_get_monotonic_time();
  print_header(*phase);
  auto cycle = [&] {
    GstElement* play = gst_element_factory_make("playbin", nullptr);
    g_object_set(play, "uri", uri.c_str(), "video-sink", sink, nullptr);
    gst_element_set_state(play, GST_STATE_PLAYING);
    frames = 0;
    gint64 deadline = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
    while (frames == 0 && g_get_monotonic_time() < deadline) g_main_context_iteration(nullptr, TRUE);
    gst_element_set_state(play, GST_STATE_NULL);
    g_object_set(play, "video-sink", nullptr, nullptr);
    gst_object_unref(play);
  };
  for (int i = 0; i < o.warmup; i++) cycle();
  for (int done = 0; done <= o.floor; done++) {
    if (done % o.every == 0) add_sample(phase, {done, soak::read_proc_stats(getpid()), seconds_since(t0)});
    if (done < o.floor) cycle();
  }
  clutter_actor_destroy(stage);
  return true;
}

bool parse(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; i += 2) {
    if (i + 1 >= argc) return false;
    std::string name = argv[i];
    if (name == "--tilu") {
      o->tilu = argv[i + 1];
      continue;
    }
    char* end = nullptr;
    double value = std::strtod(argv[i + 1], &end);
    if (!end || *end || value < 0) return false;
    if (name == "--channels") o->channels = int(value);
    else if (name == "--jobs") o->jobs = int(value);
    else if (name == "--warmup") o->warmup = int(value);
    else if (name == "--scans") o->scans = int(value);
    else if (name == "--zaps") o->zaps = int(value);
    else if (name == "--live-zaps") o->live_zaps = int(value);
    else if (name == "--every") o->every = int(value);
    else if (name == "--floor") o->floor = int(value);
    else if (name == "--max-growth") o->max_growth = value;
    else return false;
  }
  return o->channels >= 2 && o->channels <= 64 && o->jobs >= 1 && o->jobs < o->channels && o->every >= 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, &o)) {
    std::fprintf(stderr,
                 "usage: %s [--channels 2..64] [--jobs J] [--warmup N] [--scans N] [--zaps N] [--live-zaps N]\n"
                 "          [--every N] [--floor N] [--max-growth PERCENT] [--tilu PROGRAM]\n",
                 argv[0]);
    return 2;
  }
  tilutest::enter_private_netns();
  tilutest::TempDir dir;
  tilutest::ChannelOptions channel_options;
  channel_options.count = o.channels;
  channel_options.bitrate_kbps = 600;
  channel_options.keyint = 12;  // a picture within half a second: more scans per minute
  channel_options.duration_s = 24 * 3600;
  std::string playlist = dir.file("channels.m3u");
  tilutest::ChannelSender channels(channel_options, playlist);
  if (!channels.ready()) {
    std::fprintf(stderr, "soak: the channels did not start\n%s", channels.log().c_str());
    return 1;
  }
  tilutest::XvfbDisplay display(1280, 720);
  std::printf("soak: %d channels 640x360; warm-up %d scans; samples every %d\n", o.channels, o.warmup, o.every);
  std::fflush(stdout);

  std::vector<Phase> phases;
  bool ok = true;
  auto finish = [&](Tilu& tilu, bool ran, const char* what) {
    if (!ran) {
      std::printf("FAIL %s: the run did not complete (%s)\n%s\n", what, tilu.state().c_str(),
                  tilu.log_tail().c_str());
      ok = false;
    }
  };
  if (o.scans > 0 || o.zaps > 0) {
    Tilu tilu(o.tilu, dir, "scan", {"-j", std::to_string(o.jobs), playlist});
    Phase scans{"idle scanning, -j " + std::to_string(o.jobs), "scans", {}};
    bool ran = run_scans(tilu, o, o.scans, &scans);
    if (ran && o.scans > 0) phases.push_back(scans), print_slope(phases.back());
    Phase zaps{"zapping with Right, -j " + std::to_string(o.jobs), "zaps", {}};
    if (ran && o.zaps > 0) {
      ran = run_zaps(tilu, o, o.zaps, &zaps);
      if (ran) phases.push_back(zaps), print_slope(phases.back());
    }
    finish(tilu, ran, "scan phase");
  }
  if (o.live_zaps > 0) {
    Tilu tilu(o.tilu, dir, "live", {"-j", std::to_string(o.channels), "-t", std::to_string(o.live_scan_timeout_ms), playlist});
    Phase zaps{"live mode -j " + std::to_string(o.channels) + " -t " + std::to_string(o.live_scan_timeout_ms) +
                   ", zapping with Right",
               "zaps", {}};
    Phase ignored{"", "", {}};
    bool ran = run_scans(tilu, o, 0, &ignored) && run_zaps(tilu, o, o.live_zaps, &zaps);
    if (ran) phases.push_back(zaps), print_slope(phases.back());
    finish(tilu, ran, "live phase");
  }
  if (o.floor > 0) {
    Phase floor{"floor: bare playbin + clutter-gst sink, open to first frame and close, in-process", "cycles", {}};
    if (run_floor(channels.uri(0), o, &floor)) phases.push_back(floor), print_slope(phases.back());
  }

  std::printf("\n");
  for (const Phase& phase : phases)
    if (phase.unit != "cycles") ok = phase_flat(phase, o.max_growth) && ok;
  std::printf("%s\n", ok ? "soak: flat" : "soak: GROWTH");
  return ok ? 0 : 1;
}
