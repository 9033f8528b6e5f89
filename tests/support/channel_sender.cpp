#include "channel_sender.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace tilutest {

namespace {

constexpr int kReadyTimeoutMs = 20000;

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> sender_argv(const ChannelOptions& o, const std::string& playlist) {
  std::vector<std::string> argv = {
      TILU_TOOLS_DIR "/tilu-channels",
      "--count", std::to_string(o.count),
      "--group", o.group,
      "--port", std::to_string(o.port),
      "--port-step", std::to_string(o.port_step),
      "--format", o.format,
      "--bitrate", std::to_string(o.bitrate_kbps),
      "--keyint", std::to_string(o.keyint),
      "--size", std::to_string(o.width) + "x" + std::to_string(o.height),
      "--fps", std::to_string(o.fps),
      "--duration", std::to_string(o.duration_s),
  };
  if (!o.broadcast) argv.push_back("--light");
  if (!o.audio) argv.push_back("--no-audio");
  if (!o.video) argv.push_back("--no-video");
  if (!o.uri_scheme.empty()) argv.insert(argv.end(), {"--uri-scheme", o.uri_scheme});
  if (!playlist.empty()) argv.insert(argv.end(), {"--playlist", playlist});
  return argv;
}

}  // namespace

ChannelSender::ChannelSender(const ChannelOptions& options, const std::string& playlist_path)
    : options_(options), log_path_(dir_.file("sender.log")), out_path_(dir_.file("sender.out")) {
  process_ = ChildProcess(sender_argv(options_, playlist_path), out_path_, log_path_);
  gint64 deadline = g_get_monotonic_time() + gint64(kReadyTimeoutMs) * 1000;
  while (g_get_monotonic_time() < deadline) {
    if (read_file(out_path_).find("ready\n") != std::string::npos) {
      ready_ = true;
      return;
    }
    if (!process_.running()) break;
    usleep(20000);
  }
  int status = process_.stop();
  ADD_FAILURE() << "tilu-channels did not report \"ready\" (wait status " << status
                << "); its log:\n"
                << log();
}

ChannelSender::~ChannelSender() { process_.stop(); }

void ChannelSender::restart_ssrc() {
  ASSERT_TRUE(process_.running()) << "the sender is not running; its log:\n" << log();
  ASSERT_EQ(kill(process_.pid(), SIGUSR1), 0);
}

int ChannelSender::stop(int sig) { return process_.stop(sig); }

std::string ChannelSender::log() const { return read_file(log_path_); }

std::string ChannelSender::group(int i) const {
  in_addr addr{};
  if (inet_pton(AF_INET, options_.group.c_str(), &addr) != 1) return {};
  addr.s_addr = htonl(ntohl(addr.s_addr) + uint32_t(i));
  char text[INET_ADDRSTRLEN];
  return inet_ntop(AF_INET, &addr, text, sizeof text);
}

int ChannelSender::port(int i) const { return options_.port + i * options_.port_step; }

std::string ChannelSender::uri(int i, const std::string& scheme) const {
  std::string location = group(i) + ":" + std::to_string(port(i));
  return scheme == "udp" ? "udp://@" + location : scheme + "://" + location;
}

}  // namespace tilutest
