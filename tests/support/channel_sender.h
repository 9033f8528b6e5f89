// Live test channels for tests: runs the tools/tilu-channels sender as a child process in the
// test's own network namespace (call tilutest::enter_private_netns() first).
#pragma once

#include <string>

#include "test_env.h"

namespace tilutest {

struct ChannelOptions {
  int count = 1;
  std::string group = "239.255.0.1";  // channel i sends to this address + i (with carry)
  int port = 5000;                     // channel i sends to port + i * port_step
  int port_step = 0;
  std::string format = "udp";          // "udp": MPEG-TS over UDP; "rtp": MPEG-TS in RTP (PT 33)
  int bitrate_kbps = 800;
  int keyint = 25;                     // frames between keyframes
  int width = 640;
  int height = 360;
  int fps = 25;
  bool broadcast = false;  // High profile with B-frames (speed-preset veryfast) instead of zerolatency
  bool video = true;       // false: an audio-only stream
  bool audio = true;
  std::string uri_scheme;  // playlist URI scheme; empty: "udp" for udp, "krtp" for rtp
  int duration_s = 300;    // the sender stops by itself after this, even if a test dies
};

class ChannelSender {
 public:
  // Starts the sender and waits until every channel is playing. playlist_path, when given, is
  // where the sender writes the matching M3U playlist.
  explicit ChannelSender(const ChannelOptions& options, const std::string& playlist_path = {});
  ChannelSender(const ChannelSender&) = delete;
  ChannelSender& operator=(const ChannelSender&) = delete;
  ~ChannelSender();

  // Restarts every RTP channel's payloader with a new SSRC; the stream goes on.
  void restart_ssrc();
  // Stops the sender (the channels go silent) with sig (SIGTERM by default) and returns its
  // wait status.
  int stop(int sig = 15);
  // True once the sender reported every channel playing (false after a failed start).
  bool ready() const { return ready_; }
  pid_t pid() const { return process_.pid(); }
  // What the sender wrote on standard error so far.
  std::string log() const;
  // "udp://@G:N" for channel i (or "rtp://", "krtp://" with the scheme given).
  std::string uri(int i, const std::string& scheme = "udp") const;
  std::string group(int i) const;
  int port(int i) const;

 private:
  ChannelOptions options_;
  TempDir dir_;  // the sender's output and log; outlives the process
  ChildProcess process_;
  std::string log_path_;
  std::string out_path_;
  bool ready_ = false;
};

}  // namespace tilutest
