// Options of tilu-channels and the addressing they imply: which group, port and URI each
// channel gets, and the playlist that names them.
#pragma once

#include <glib.h>

#include <string>
#include <vector>

namespace channels {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct Settings {
  int count = 4;
  std::string group = "239.255.0.1";
  guint32 group_addr = 0;  // host order, filled by validation
  int port = 5000;
  int port_step = 0;
  std::string format = "udp";
  int bitrate_kbps = 2000;
  int keyint = 0;  // 0: one keyframe a second
  int width = 1280;
  int height = 720;
  int fps = 25;
  bool light = false;
  bool audio = true;
  bool video = true;
  std::string playlist;
  std::string uri_scheme;  // empty: the output form's own
  std::string netns;       // filled by validation: tilu-channels-<pid> unless given
  bool netns_given = false;
  int duration = 3600;
};

// One way of putting a channel's MPEG-TS on the network. A further form (another transport)
// is one more row: its sink chain and the URI schemes a playlist may name it by.
struct OutputForm {
  const char* name;
  const char* description;
  std::vector<std::string> schemes;  // the first is the default
  // The pipeline tail after the muxer; "payloader" names the element whose SSRC a restart
  // changes, if the form has one.
  std::string (*tail)(const std::string& host, int port);
  bool has_ssrc;
};

const OutputForm* find_form(const std::string& name);

// Parses and checks the command line. Returns kExitOk to go on, or the exit code to end with
// (after --help, or with the message of the first fault on standard error).
int parse_options(int argc, char** argv, Settings& s);

std::string channel_group(const Settings& s, int i);
int channel_port(const Settings& s, int i);
std::string channel_name(int i);
std::string channel_uri(const Settings& s, int i);
// The M3U text: "#EXTINF:-1,<name>" and the URI for every channel.
std::string playlist_text(const Settings& s);

}  // namespace channels
