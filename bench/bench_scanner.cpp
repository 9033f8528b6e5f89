#include "bench_scanner.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_process.h"
#include "test_env.h"
#include "veth_link.h"

namespace bench {
namespace {

constexpr const char* kLiveGroup = "239.255.12.1";  // channel 0 of four: .1 to .4
constexpr const char* kSilentGroup = "239.255.12.9";
constexpr const char* kNet = "239.255.12.0/28";
constexpr int kPort = 5000;
constexpr const char* kSilentLimitMs = "3000";

struct Timed {
  double png = -1;   // seconds from the start to a whole PNG, or -1
  double exit = -1;  // seconds from the start to the exit, or -1
};

// Starts argv, waits for png (when given) and for the exit; kills it after limit_s.
Timed time_run(const std::vector<std::string>& argv, const std::string& png, double limit_s,
               bool wait_exit, const std::string& log) {
  Timed t;
  const double start = now_s();
  tilutest::ChildProcess child(argv, log, log + ".err");
  if (!png.empty()) {
    double seen = wait_png(png, start + limit_s);
    if (seen > 0) t.png = seen - start;
    else std::fprintf(stderr, "  no PNG from %s: %s\n", argv[0].c_str(), read_text(log + ".err").c_str());
  }
  if (wait_exit) {
    int left_ms = int((start + limit_s - now_s()) * 1000);
    // Any end counts: the time is the figure, and a sanitizer build may end with its own status.
    if (left_ms > 0 && child.wait(left_ms) >= 0) t.exit = now_s() - start;
  }
  return t;
}

// Seconds between the "start scanning" and "finish scanning" lines of a one-address run.
double scan_span(const tilutest::RunResult& r) {
  if (r.exit_code < 0 || r.out_line_times.size() != 2) return -1;
  if (r.out.find("start scanning") == std::string::npos || r.out.find("finish scanning") == std::string::npos)
    return -1;
  return double(r.out_line_times[1] - r.out_line_times[0]) / 1e6;
}

}  // namespace

void run_scanner_section(Table& table, int trials, const std::string& work_dir) {
  Figure live_png{"sarv live address: PNG written", "s", {}, "snapshot playbin: PNG written", {}, "-s 0, one live group"};
  Figure live_exit{"sarv live address: exit", "s", {}, "snapshot playbin: PNG written", {}, ""};
  Figure silent{"sarv silent address -t 3000: start to finish", "s", {}, "its time limit", {}, "no traffic to the group"};
  Figure net{"sarv /28, 4 live, -j 16 -t 3000: exit", "s", {}, "sarv silent address -t 3000: exit", {}, ""};
  tilutest::VethLink link("tilu-bench-" + std::to_string(getpid()));
  if (!link.ok()) std::fprintf(stderr, "veth link: %s failed\n", link.failure().c_str());
  const std::string sender_log = work_dir + "/scanner-sender.out";
  tilutest::ChildProcess sender;
  int device = -1;
  if (link.ok()) {
    sender = tilutest::ChildProcess({"ip", "netns", "exec", link.sender_netns(), TILU_TOOLS_DIR "/tilu-channels",
                                     "-n", "4", "-g", kLiveGroup, "-l", "-s", "640x360", "-b", "800",
                                     "-d", "900"},
                                    sender_log, sender_log + ".err");
    if (!wait_text(sender_log, "ready", now_s() + 60))
      std::fprintf(stderr, "scanner channels did not start: %s\n", read_text(sender_log + ".err").c_str());
    device = sarv_device("vb");
  }
  if (device >= 0) {
    const std::string dev = std::to_string(device);
    const std::string out = work_dir + "/sarv";
    const std::string floor_png = work_dir + "/floor.png";
    const std::string uri = std::string("udp://") + kLiveGroup + ":" + std::to_string(kPort);
    const std::string sarv_png = out + "/" + kLiveGroup + "-" + std::to_string(kPort) + ".png";
    for (int trial = 0; trial < trials; trial++) {
      std::fprintf(stderr, "scanner trial %d/%d\n", trial + 1, trials);
      tilutest::run_command("rm -rf '" + out + "' '" + floor_png + "'");
      Timed floor = time_run({"gst-launch-1.0", "-q", "playbin", "uri=" + uri, "audio-sink=fakesink",
                              "video-sink=videoconvert ! pngenc snapshot=true ! filesink location=" + floor_png},
                             floor_png, 20, false, work_dir + "/floor.log");
      Timed live = time_run({TILU_SARV_BIN, "-q", "-i", dev, "-t", "20000", "-s", "0", "-o", out, kLiveGroup},
                            sarv_png, 25, true, work_dir + "/sarv.log");
      if (floor.png > 0 && live.png > 0 && live.exit > 0) {
        live_png.values.push_back(live.png);
        live_png.floor_values.push_back(floor.png);
        live_exit.values.push_back(live.exit);
        live_exit.floor_values.push_back(floor.png);
      } else {
        std::fprintf(stderr, "  live address not measured: floor PNG %.2f s, sarv PNG %.2f s, exit %.2f s\n",
                     floor.png, live.png, live.exit);
      }

      const double one_start = now_s();
      tilutest::RunResult one =
          tilutest::run_capture({TILU_SARV_BIN, "-i", dev, "-t", kSilentLimitMs, "-s", "0", "-o", out, kSilentGroup}, 20000);
      const double one_exit = now_s() - one_start;
      if (scan_span(one) > 0) {
        silent.values.push_back(scan_span(one));
        silent.floor_values.push_back(std::atof(kSilentLimitMs) / 1000);
      }
      tilutest::run_command("rm -rf '" + out + "'");
      Timed whole = time_run({TILU_SARV_BIN, "-q", "-i", dev, "-j", "16", "-t", kSilentLimitMs, "-s", "0", "-o", out, kNet},
                             "", 30, true, work_dir + "/sarv-net.log");
      if (one.exit_code >= 0 && whole.exit > 0 && count_pngs(out) == 4) {
        net.values.push_back(whole.exit);
        net.floor_values.push_back(one_exit);
      } else {
        std::fprintf(stderr, "  /28 not measured: silent exit %d, /28 exit %.2f s, %d PNG files\n",
                     one.exit_code, whole.exit, count_pngs(out));
      }
    }
  }
  for (Figure* f : {&live_png, &live_exit, &silent, &net}) table.add(*f);
  sender.stop();
}

}  // namespace bench
