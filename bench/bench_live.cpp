#include "bench_live.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench_gst_log.h"
#include "bench_process.h"
#include "test_env.h"

namespace bench {
namespace {

constexpr int kTiles = 9;
constexpr const char* kGroupPrefix = "239.255.13.";  // channel i on .(i + 1)
constexpr int kPort = 5000;
constexpr int kScanWidth = 480;
constexpr int kScanHeight = 270;
constexpr const char* kDisplayWidth = "1600";
constexpr const char* kDisplayHeight = "900";

std::string channel_uri(int i) { return "udp://" + std::string(kGroupPrefix) + std::to_string(i + 1) + ":" + std::to_string(kPort); }

// One broadcast-like channel (H.264 High with B-frames, AAC) encoded once into a file, so that
// the nine senders only copy it and the machine's CPU goes to the receivers.
bool encode_channel(const std::string& path, int seconds, const LiveChannel& channel) {
  const std::string frames = std::to_string(25 * seconds);
  return sh("gst-launch-1.0 -q videotestsrc num-buffers=" + frames +
            " pattern=smpte horizontal-speed=4 ! video/x-raw,width=" + std::to_string(channel.width) +
            ",height=" + std::to_string(channel.height) + ",framerate=25/1 ! timeoverlay ! "
            "videoconvert ! video/x-raw,format=I420 ! x264enc speed-preset=veryfast key-int-max=25 bframes=2 "
            "bitrate=" + std::to_string(channel.kbps) + " ! h264parse ! mpegtsmux name=m alignment=7 ! filesink location=" + path +
            " audiotestsrc num-buffers=" + frames + " samplesperbuffer=1764 ! audioconvert ! avenc_aac ! aacparse ! m. "
            ">/dev/null 2>&1");
}

// Nine live channels: the file replayed in a loop at its own pace to nine groups by one FFmpeg.
tilutest::ChildProcess start_replay(const std::string& file, const std::string& log) {
  std::vector<std::string> argv = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-re", "-stream_loop", "-1",
                                   "-i", file};
  for (int i = 0; i < kTiles; i++)
    argv.insert(argv.end(), {"-map", "0", "-c", "copy", "-f", "mpegts",
                             "udp://" + std::string(kGroupPrefix) + std::to_string(i + 1) + ":" +
                                 std::to_string(kPort) + "?pkt_size=1316&ttl=1"});
  return tilutest::ChildProcess(argv, log, log + ".err");
}

// Frames rendered by each sink whose name starts with sink_prefix, between two offsets of log.
std::map<std::string, long> rendered(const std::string& log, std::streamoff from, std::streamoff to,
                                     const std::string& sink_prefix) {
  std::map<std::string, long> counts;
  std::ifstream in(log, std::ios::binary);
  in.seekg(from);
  for (std::string line; in.tellg() < to && std::getline(in, line);) {
    std::string sink = rendering_sink(line);
    if (!sink.empty() && sink.rfind(sink_prefix, 0) == 0) counts[sink]++;
  }
  return counts;
}

std::streamoff file_size(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return in ? std::streamoff(in.tellg()) : 0;
}

struct Window {
  double cpu_per_tile_s = -1;
  std::vector<double> fps;  // per video sink, in the order of their names
  double resident_mib = -1;
};

// Waits until `sinks` video sinks render (or 40 s), settles, then measures one window.
Window measure_window(pid_t pid, const std::string& log, const std::string& prefix, size_t sinks,
                      int window_s) {
  Window w;
  const double give_up = now_s() + 40;
  while (now_s() < give_up && rendered(log, 0, file_size(log), prefix).size() < sinks) g_usleep(500000);
  const std::map<std::string, long> started = rendered(log, 0, file_size(log), prefix);
  if (started.size() < sinks)
    std::fprintf(stderr, "  only %zu of %zu video sinks render (%s)\n", started.size(), sinks, log.c_str());
  g_usleep(3 * G_USEC_PER_SEC);
  const std::streamoff from = file_size(log);
  const double cpu0 = cpu_seconds(pid), t0 = now_s();
  g_usleep(gulong(window_s) * G_USEC_PER_SEC);
  const double cpu1 = cpu_seconds(pid), t1 = now_s();
  const std::streamoff to = file_size(log);
  w.resident_mib = resident_mib(pid);
  if (cpu0 < 0 || cpu1 < 0) return w;
  w.cpu_per_tile_s = (cpu1 - cpu0) / (kTiles * (t1 - t0));
  // A sink that rendered before but not in the window counts with 0 fps.
  std::map<std::string, long> frames = rendered(log, from, to, prefix);
  for (const auto& entry : started) w.fps.push_back(double(frames[entry.first]) / (t1 - t0));
  return w;
}

Window run_tilu(const std::string& dir, int window_s) {
  const std::string playlist = dir + "/live.m3u";
  std::vector<std::string> uris;
  for (int i = 0; i < kTiles; i++) uris.push_back(channel_uri(i));
  write_playlist(playlist, uris, "Live");
  const std::string log = dir + "/tilu-gst.log";
  tilutest::run_command("rm -f '" + log + "'");
  tilutest::ChildProcess tilu(with_debug_log(log, {TILU_PLAYER_BIN, "-j", std::to_string(kTiles), playlist}),
                              dir + "/tilu.out", dir + "/tilu.err");
  // The window as large as the display, as a wall would be shown.
  sh("timeout 30 xdotool search --sync --onlyvisible --pid " + std::to_string(tilu.pid()) + " '' windowsize %@ " +
     kDisplayWidth + " " + kDisplayHeight + " 2>/dev/null");
  // The player's video sinks: nine tiles and the main video.
  Window w = measure_window(tilu.pid(), log, "cluttergstvideosink", kTiles + 1, window_s);
  tilu.stop();
  return w;
}

Window run_gst_floor(const std::string& dir, int window_s) {
  std::vector<std::string> argv = {"gst-launch-1.0", "-q"};
  for (int i = 0; i < kTiles; i++) {
    // The queue after the source holds the demuxer's latency, so that the socket is read at
    // once and the kernel drops nothing (as the player's decoding queues do).
    const std::string line = "udpsrc uri=" + channel_uri(i) + " ! queue max-size-time=3000000000 "
                             "max-size-buffers=0 max-size-bytes=0 ! tsdemux ! h264parse ! avdec_h264 ! videoscale ! "
                             "video/x-raw,width=" + std::to_string(kScanWidth) + ",height=" +
                             std::to_string(kScanHeight) + " ! fakesink sync=true name=floorsink" + std::to_string(i);
    for (size_t start = 0, end; start < line.size(); start = end + 1) {
      end = line.find(' ', start);
      if (end == std::string::npos) end = line.size();
      argv.push_back(line.substr(start, end - start));
    }
  }
  const std::string log = dir + "/floor-gst.log";
  tilutest::run_command("rm -f '" + log + "'");
  tilutest::ChildProcess floor(with_debug_log(log, argv), dir + "/floor.out", dir + "/floor.err");
  Window w = measure_window(floor.pid(), log, "floorsink", kTiles, window_s);
  floor.stop();
  return w;
}

// The frame count FFmpeg last wrote to its progress file.
long progress_frames(const std::string& path) {
  std::string text = read_text(path);
  size_t at = text.rfind("frame=");
  return at == std::string::npos ? -1 : std::atol(text.c_str() + at + 6);
}

Window run_ffmpeg_floor(const std::string& dir, int window_s) {
  std::vector<tilutest::ChildProcess> decoders;
  std::vector<std::string> progress;
  for (int i = 0; i < kTiles; i++) {
    progress.push_back(dir + "/ffmpeg-" + std::to_string(i) + ".progress");
    decoders.emplace_back(std::vector<std::string>{"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostats",
                                                   "-progress", progress.back(), "-stats_period", "0.2", "-i",
                                                   channel_uri(i) + "?fifo_size=100000&overrun_nonfatal=1", "-map",
                                                   "0:v", "-vf", "scale=" + std::to_string(kScanWidth) + ":" +
                                                   std::to_string(kScanHeight), "-f", "null", "-"},
                          dir + "/ffmpeg.out", dir + "/ffmpeg-" + std::to_string(i) + ".err");
  }
  Window w;
  const double give_up = now_s() + 40;
  auto all_decoding = [&] {
    for (const std::string& p : progress)
      if (progress_frames(p) <= 0) return false;
    return true;
  };
  while (now_s() < give_up && !all_decoding()) g_usleep(500000);
  g_usleep(3 * G_USEC_PER_SEC);
  auto cpu_total = [&] {
    double sum = 0;
    for (auto& d : decoders) {
      double c = cpu_seconds(d.pid());
      if (c < 0) return -1.0;
      sum += c;
    }
    return sum;
  };
  std::vector<long> frames0;
  for (const std::string& p : progress) frames0.push_back(progress_frames(p));
  const double cpu0 = cpu_total(), t0 = now_s();
  g_usleep(gulong(window_s) * G_USEC_PER_SEC);
  const double cpu1 = cpu_total(), t1 = now_s();
  if (cpu0 >= 0 && cpu1 >= 0 && all_decoding()) {
    w.cpu_per_tile_s = (cpu1 - cpu0) / (kTiles * (t1 - t0));
    for (int i = 0; i < kTiles; i++) w.fps.push_back(double(progress_frames(progress[i]) - frames0[i]) / (t1 - t0));
  }
  for (auto& d : decoders) d.stop(2);  // SIGINT: FFmpeg's own clean stop
  return w;
}

double lowest(const std::vector<double>& v) { return v.empty() ? -1 : *std::min_element(v.begin(), v.end()); }

void keep(std::vector<double>& into, double value) {
  if (value >= 0) into.push_back(value);
}

}  // namespace

void run_live_section(Table& table, int rounds, int window_s, const LiveChannel& channel,
                      const std::string& work_dir) {
  const std::string inputs = std::to_string(channel.width) + "x" + std::to_string(channel.height) + " H.264 " +
                             std::to_string(channel.kbps) + " kb/s, tiles 480x270";
  Figure cpu{"tilu -j 9: CPU per tile-second", "CPU s / tile s", {}, "9 decode+scale pipelines, gst-launch", {}, inputs};
  Figure cpu_ff{"tilu -j 9: CPU per tile-second", "CPU s / tile s", {}, "FFmpeg decode+scale, 9 processes", {}, ""};
  Figure fps_low{"tilu -j 9: lowest video sink frame rate", "fps", {}, "lowest decode+scale pipeline", {}, "9 tiles + main video"};
  Figure fps_ff{"FFmpeg decode+scale: lowest frame rate", "fps", {}, "", {}, ""};
  Figure memory{"tilu -j 9: resident memory", "MiB", {}, "9 decode+scale pipelines, gst-launch", {}, ""};
  std::vector<Figure> sinks(kTiles + 1);
  for (int i = 0; i <= kTiles; i++)
    sinks[i] = {"tilu -j 9: video sink " + std::to_string(i) + " frame rate", "fps", {},
                "decode+scale pipeline " + std::to_string(i % kTiles), {}, ""};

  const std::string file = work_dir + "/live.ts";
  const int file_s = std::max(12, window_s * 2);
  std::fprintf(stderr, "encoding a %d s channel, %s\n", file_s, inputs.c_str());
  tilutest::ChildProcess replay;
  if (encode_channel(file, file_s, channel)) replay = start_replay(file, work_dir + "/replay.log");
  tilutest::XvfbDisplay display(std::atoi(kDisplayWidth), std::atoi(kDisplayHeight));
  for (int round = 0; replay.running() && round < rounds; round++) {
    std::fprintf(stderr, "live round %d/%d\n", round + 1, rounds);
    Window floor = run_gst_floor(work_dir, window_s);
    Window tilu = run_tilu(work_dir, window_s);
    Window ff = run_ffmpeg_floor(work_dir, window_s);
    const bool have_tilu = tilu.cpu_per_tile_s >= 0 && tilu.fps.size() == size_t(kTiles + 1);
    const bool have_floor = floor.cpu_per_tile_s >= 0 && floor.fps.size() == size_t(kTiles);
    if (have_tilu && have_floor) {
      cpu.values.push_back(tilu.cpu_per_tile_s);
      cpu.floor_values.push_back(floor.cpu_per_tile_s);
      fps_low.values.push_back(lowest(tilu.fps));
      fps_low.floor_values.push_back(lowest(floor.fps));
      memory.values.push_back(tilu.resident_mib);
      memory.floor_values.push_back(floor.resident_mib);
      for (int i = 0; i <= kTiles; i++) {
        sinks[i].values.push_back(tilu.fps[i]);
        sinks[i].floor_values.push_back(floor.fps[i % kTiles]);
      }
    }
    if (have_tilu && ff.cpu_per_tile_s >= 0) {
      cpu_ff.values.push_back(tilu.cpu_per_tile_s);
      cpu_ff.floor_values.push_back(ff.cpu_per_tile_s);
    }
    keep(fps_ff.values, lowest(ff.fps));
  }
  for (Figure* f : {&cpu, &cpu_ff, &fps_low, &fps_ff, &memory}) table.add(*f);
  for (Figure& f : sinks) table.add(f);
  replay.stop();
}

}  // namespace bench
