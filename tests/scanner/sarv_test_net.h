// Test fixtures of the scanner tests: live channels made by gst-launch-1.0, a veth link to a
// sender namespace, and checks of the PNG files written.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "test_env.h"
#include "veth_link.h"

namespace sarvtest {

struct Channel {
  std::string group;
  int port;
  int width = 320;
  int height = 240;
  bool video = true;
  bool audio = true;
};

// One gst-launch-1.0 process that sends every channel as MPEG-TS over UDP multicast
// (H.264 4:2:0 with a key frame each second, AAC), optionally inside the named namespace.
inline tilutest::ChildProcess start_channels(const std::vector<Channel>& channels,
                                             const std::string& netns = {}) {
  std::vector<std::string> argv;
  if (!netns.empty()) argv = {"ip", "netns", "exec", netns};
  argv.insert(argv.end(), {"gst-launch-1.0", "-q"});
  auto add = [&argv](const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find(' ', start);
      if (end == std::string::npos) end = text.size();
      if (end > start) argv.push_back(text.substr(start, end - start));
      start = end + 1;
    }
  };
  for (size_t i = 0; i < channels.size(); i++) {
    const Channel& c = channels[i];
    std::string mux = "m" + std::to_string(i);
    add("mpegtsmux name=" + mux + " alignment=7 ! udpsink host=" + c.group +
        " port=" + std::to_string(c.port) + " ttl-mc=1 sync=true");
    if (c.video)
      add("videotestsrc is-live=true pattern=ball ! video/x-raw,width=" + std::to_string(c.width) +
          ",height=" + std::to_string(c.height) +
          ",framerate=25/1 ! videoconvert ! video/x-raw,format=I420 ! x264enc tune=zerolatency "
          "speed-preset=ultrafast key-int-max=25 bitrate=300 ! h264parse ! " +
          mux + ".");
    if (c.audio)
      add("audiotestsrc is-live=true ! audioconvert ! avenc_aac ! aacparse ! " + mux + ".");
  }
  return tilutest::ChildProcess(argv);
}

// Runs a shell command and fails the current test when it does not succeed.
inline bool sh(const std::string& command) {
  int rc = tilutest::run_command(command);
  if (rc != 0) ADD_FAILURE() << "command failed (" << rc << "): " << command;
  return rc == 0;
}

// The veth link of the scanner tests, its sender namespace named after this process.
class VethLink : public tilutest::VethLink {
 public:
  VethLink() : tilutest::VethLink("sarv-scanner-" + std::to_string(getpid())) {
    if (!ok()) ADD_FAILURE() << "command failed: " << failure();
  }
};

// dev_idx of a device in `sarv -l`, or -1.
inline int device_index(const std::string& name) {
  tilutest::RunResult r = tilutest::run_capture({TILU_SARV_BIN, "-l"});
  std::string key = "dev_name(" + name + ")";
  size_t at = r.out.find(key);
  if (at == std::string::npos) return -1;
  size_t line = r.out.rfind("dev_idx(", at);
  return std::stoi(r.out.substr(line + 8));
}

inline std::vector<std::string> list_dir(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

struct PngInfo {
  bool valid = false;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::string problem;
};

// A whole PNG file: the signature, an IHDR first, every chunk inside the file, IEND last.
inline PngInfo read_png(const std::string& path) {
  PngInfo info;
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
  static const unsigned char sig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  auto be32 = [&b](size_t at) {
    return std::uint32_t(b[at]) << 24 | std::uint32_t(b[at + 1]) << 16 |
           std::uint32_t(b[at + 2]) << 8 | std::uint32_t(b[at + 3]);
  };
  if (b.size() < 8 + 25 + 12 || !std::equal(sig, sig + 8, b.begin())) {
    info.problem = "no PNG signature (" + std::to_string(b.size()) + " bytes)";
    return info;
  }
  size_t at = 8;
  std::string last;
  bool first = true;
  while (at + 12 <= b.size()) {
    std::uint32_t len = be32(at);
    std::string type(b.begin() + at + 4, b.begin() + at + 8);
    if (at + 12 + size_t(len) > b.size()) {
      info.problem = "chunk " + type + " runs past the end";
      return info;
    }
    if (first) {
      if (type != "IHDR" || len != 13) {
        info.problem = "first chunk is " + type;
        return info;
      }
      info.width = be32(at + 8);
      info.height = be32(at + 12);
      first = false;
    }
    last = type;
    at += 12 + len;
  }
  if (at != b.size() || last != "IEND") {
    info.problem = "file does not end with IEND";
    return info;
  }
  info.valid = true;
  return info;
}

}  // namespace sarvtest
