#include "tilu_channels_options.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <memory>
#include <optional>

#include "glib_ptr.h"

namespace channels {

namespace {

std::string udp_tail(const std::string& host, int port) {
  return "udpsink name=sink host=" + host + " port=" + std::to_string(port) +
         " auto-multicast=true ttl-mc=1 sync=true";
}

std::string rtp_tail(const std::string& host, int port) {
  return "rtpmp2tpay name=payloader pt=33 ! application/x-rtp,clock-rate=90000 ! " +
         udp_tail(host, port);
}

const std::array<OutputForm, 2> kOutputForms{{
    {"udp", "MPEG-TS over UDP", {"udp"}, udp_tail, false},
    {"rtp", "MPEG-TS in RTP (payload type 33, 90000 Hz)", {"krtp", "rtp"}, rtp_tail, true},
}};

}  // namespace

const OutputForm* find_form(const std::string& name) {
  for (const auto& f : kOutputForms)
    if (name == f.name) return &f;
  return nullptr;
}

namespace {

bool parse_ipv4(const std::string& text, guint32* out) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return false;
  unsigned a, b, c, d;
  char tail;
  if (std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%c", &a, &b, &c, &d, &tail) != 4) return false;
  if (a > 255 || b > 255 || c > 255 || d > 255) return false;
  *out = (a << 24) | (b << 16) | (c << 8) | d;
  return true;
}

std::string format_ipv4(guint32 addr) {
  return std::to_string(addr >> 24) + "." + std::to_string((addr >> 16) & 255) + "." +
         std::to_string((addr >> 8) & 255) + "." + std::to_string(addr & 255);
}

bool is_multicast(guint32 addr) { return (addr >> 28) == 0xE; }

bool valid_netns_name(const std::string& name) {
  if (name.empty() || name.size() > 64 || name == "." || name == "..") return false;
  for (char c : name)
    if (!g_ascii_isalnum(c) && c != '-' && c != '_' && c != '.') return false;
  return true;
}

// Checks what GLib's option parser cannot; returns the message for the first fault.
std::optional<std::string> validate(Settings& s, const std::string& size) {
  if (s.count < 1 || s.count > 1024) return "--count must be between 1 and 1024";
  if (!parse_ipv4(s.group, &s.group_addr) || !is_multicast(s.group_addr))
    return "--group must be an IPv4 multicast address (224.0.0.0 to 239.255.255.255), not \"" +
           s.group + "\"";
  if (!is_multicast(s.group_addr + guint32(s.count - 1)))
    return "--group " + s.group + " with --count " + std::to_string(s.count) +
           " runs past 239.255.255.255";
  if (s.port < 1 || s.port > 65535) return "--port must be between 1 and 65535";
  if (s.port_step < 0 || s.port_step > 65535) return "--port-step must be between 0 and 65535";
  if (gint64(s.port) + gint64(s.count - 1) * s.port_step > 65535)
    return "--port " + std::to_string(s.port) + " with --port-step " +
           std::to_string(s.port_step) + " runs past port 65535";
  const OutputForm* form = find_form(s.format);
  if (!form) return "--format must be udp or rtp, not \"" + s.format + "\"";
  if (s.uri_scheme.empty()) s.uri_scheme = form->schemes.front();
  bool scheme_fits = false;
  for (const auto& scheme : form->schemes) scheme_fits |= scheme == s.uri_scheme;
  if (!scheme_fits) {
    std::string allowed;
    for (const auto& scheme : form->schemes) allowed += (allowed.empty() ? "" : " or ") + scheme;
    return "--uri-scheme " + s.uri_scheme + " does not fit --format " + s.format + " (use " +
           allowed + ")";
  }
  if (s.bitrate_kbps < 16 || s.bitrate_kbps > 100000)
    return "--bitrate must be between 16 and 100000 kb/s";
  if (s.fps < 1 || s.fps > 120) return "--fps must be between 1 and 120";
  if (s.keyint == 0) s.keyint = s.fps;
  if (s.keyint < 1 || s.keyint > 1000) return "--keyint must be between 1 and 1000 frames";
  if (!size.empty()) {
    unsigned w, h;
    char tail;
    if (std::sscanf(size.c_str(), "%5ux%5u%c", &w, &h, &tail) != 2)
      return "--size must be WIDTHxHEIGHT, not \"" + size + "\"";
    s.width = int(w);
    s.height = int(h);
  }
  // 4:2:0 needs even dimensions.
  if (s.width < 16 || s.width > 4096 || s.height < 16 || s.height > 4096 || s.width % 2 ||
      s.height % 2)
    return "--size must be even, from 16x16 to 4096x4096";
  if (!s.audio && !s.video) return "--no-audio and --no-video together leave nothing to send";
  if (s.duration < 1 || s.duration > 7 * 24 * 3600)
    return "--duration must be between 1 and 604800 seconds";
  if (s.netns.empty()) s.netns = "tilu-channels-" + std::to_string(getpid());
  if (!valid_netns_name(s.netns))
    return "--netns must be a name of letters, digits, '-', '_' and '.', not \"" + s.netns + "\"";
  return std::nullopt;
}

}  // namespace

int parse_options(int argc, char** argv, Settings& s) {
  gchar* group = nullptr;
  gchar* format = nullptr;
  gchar* size = nullptr;
  gchar* playlist = nullptr;
  gchar* scheme = nullptr;
  gchar* netns = nullptr;
  gboolean no_audio = FALSE, no_video = FALSE, light = FALSE;
  const GOptionEntry entries[] = {
      {"count", 'n', 0, G_OPTION_ARG_INT, &s.count, "Number of channels (default 4)", "N"},
      {"group", 'g', 0, G_OPTION_ARG_STRING, &group,
       "Multicast group of channel 0; channel i uses this address plus i (default 239.255.0.1)",
       "A.B.C.D"},
      {"port", 'p', 0, G_OPTION_ARG_INT, &s.port, "UDP port of channel 0 (default 5000)", "N"},
      {"port-step", 0, 0, G_OPTION_ARG_INT, &s.port_step,
       "Channel i sends to port + i * K (default 0)", "K"},
      {"format", 'f', 0, G_OPTION_ARG_STRING, &format,
       "udp: MPEG-TS over UDP; rtp: MPEG-TS in RTP, payload type 33 (default udp)", "udp|rtp"},
      {"bitrate", 'b', 0, G_OPTION_ARG_INT, &s.bitrate_kbps,
       "Video bit rate in kb/s (default 2000)", "KBPS"},
      {"keyint", 'k', 0, G_OPTION_ARG_INT, &s.keyint,
       "Frames between keyframes (default: one a second)", "FRAMES"},
      {"size", 's', 0, G_OPTION_ARG_STRING, &size, "Picture size (default 1280x720)", "WxH"},
      {"fps", 0, 0, G_OPTION_ARG_INT, &s.fps, "Frames per second (default 25)", "N"},
      {"light", 'l', 0, G_OPTION_ARG_NONE, &light,
       "Light encoding for tests (zerolatency, ultrafast, no B-frames)", nullptr},
      {"no-audio", 0, 0, G_OPTION_ARG_NONE, &no_audio, "Send no sound", nullptr},
      {"no-video", 0, 0, G_OPTION_ARG_NONE, &no_video, "Send no picture (audio-only channels)",
       nullptr},
      {"playlist", 'o', 0, G_OPTION_ARG_FILENAME, &playlist,
       "Write the M3U playlist of the channels to FILE", "FILE"},
      {"uri-scheme", 0, 0, G_OPTION_ARG_STRING, &scheme,
       "Scheme of the playlist URIs: udp for --format udp; krtp (default) or rtp for --format rtp",
       "udp|rtp|krtp"},
      {"netns", 0, 0, G_OPTION_ARG_STRING, &netns,
       "Name of the network namespace to create when started in the host's own "
       "(default tilu-channels-PID)",
       "NAME"},
      {"duration", 'd', 0, G_OPTION_ARG_INT, &s.duration,
       "Stop after this many seconds (default 3600)", "SECONDS"},
      {}};

  std::unique_ptr<GOptionContext, decltype(&g_option_context_free)> context(
      g_option_context_new("- send live test channels to multicast groups"),
      g_option_context_free);
  g_option_context_set_summary(
      context.get(),
      "Sends N live channels, each a moving test picture with its name and a clock burnt in and\n"
      "a tone of its own, as H.264 and AAC in MPEG-TS, to one multicast group each. Prints\n"
      "\"ready\" once every channel plays. SIGUSR1 restarts every RTP channel with a new SSRC;\n"
      "SIGINT or SIGTERM stops it. It never sends on the host's own network.");
  g_option_context_add_main_entries(context.get(), entries, nullptr);
  glibx::Error error;
  bool parsed = g_option_context_parse(context.get(), &argc, &argv, error.out());
  auto take = [](gchar* p, std::string& to) {
    if (p) to = p;
    g_free(p);
  };
  take(group, s.group);
  take(format, s.format);
  std::string size_text;
  take(size, size_text);
  take(playlist, s.playlist);
  take(scheme, s.uri_scheme);
  s.netns_given = netns != nullptr;
  take(netns, s.netns);
  s.audio = !no_audio;
  s.video = !no_video;
  s.light = light;

  std::optional<std::string> fault;
  if (!parsed)
    fault = error.message();
  else if (argc > 1)
    fault = std::string("unexpected argument \"") + argv[1] + "\"";
  else
    fault = validate(s, size_text);
  if (fault) {
    std::fprintf(stderr, "tilu-channels: %s\nRun \"tilu-channels --help\" for the options.\n",
                 fault->c_str());
    return kExitUsage;
  }
  return kExitOk;
}

std::string channel_group(const Settings& s, int i) {
  return format_ipv4(s.group_addr + guint32(i));
}
int channel_port(const Settings& s, int i) { return s.port + i * s.port_step; }
std::string channel_name(int i) { return "Channel " + std::to_string(i + 1); }

std::string channel_uri(const Settings& s, int i) {
  std::string location = channel_group(s, i) + ":" + std::to_string(channel_port(s, i));
  // udp URIs name the group as a source-less join; RTP URIs name the host directly.
  return s.uri_scheme == "udp" ? "udp://@" + location : s.uri_scheme + "://" + location;
}

std::string playlist_text(const Settings& s) {
  std::string text = "#EXTM3U\n";
  for (int i = 0; i < s.count; i++)
    text += "#EXTINF:-1," + channel_name(i) + "\n" + channel_uri(s, i) + "\n";
  return text;
}

}  // namespace channels
