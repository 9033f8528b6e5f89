// tilu-channels: live test channels for the video wall and the scanner.
//
// Every channel is one pipeline: a moving test picture with the channel's name and a running
// clock burnt in, a tone of its own, H.264 (8-bit 4:2:0) and AAC in MPEG-TS, sent to a multicast
// group of its own, as plain UDP or in RTP. The matching M3U playlist is written beside.
//
// It never sends on the host's own network: started in the initial network namespace it
// creates a namespace of its own, moves into it before anything else runs, and deletes it on exit.
#include <gst/gst.h>
#include <pthread.h>
#include <signal.h>

#include <glib-unix.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "glib_ptr.h"
#include "gst_ptr.h"
#include "tilu_channels_netns.h"
#include "tilu_channels_options.h"

namespace channels {

namespace {

// Patterns that move when scrolled, so that each tile visibly lives.
constexpr std::array<const char*, 10> kPatterns{"smpte",   "ball",    "circular", "pinwheel",
                                                "spokes",  "colors",  "checkers-8", "bar",
                                                "smpte75", "smpte100"};

int channel_tone_hz(int i) { return 300 + (i * 50) % 3700; }

std::string video_branch(const Settings& s, int i) {
  std::string name = channel_name(i);
  // Text sizes follow the picture, so that a caption fits a small tile as well as a big one.
  std::string name_font = "Sans Bold " + std::to_string(std::max(6, s.height / 12));
  std::string clock_font = "Monospace " + std::to_string(std::max(6, s.height / 18));
  std::string d = "videotestsrc is-live=true pattern=" + std::string(kPatterns[i % kPatterns.size()]) +
                  " horizontal-speed=" + std::to_string(2 + int(i / kPatterns.size())) +
                  " ! video/x-raw,width=" + std::to_string(s.width) +
                  ",height=" + std::to_string(s.height) + ",framerate=" + std::to_string(s.fps) +
                  "/1 ! textoverlay text=\"" + name +
                  "\" valignment=top halignment=center shaded-background=true "
                  "font-desc=\"" + name_font +
                  "\" ! timeoverlay valignment=bottom halignment=right shaded-background=true "
                  "font-desc=\"" + clock_font + "\" ! videoconvert ! video/x-raw,format=I420 ! ";
  // Broadcast encoders send High profile with B-frames; the light form is for tests on a busy
  // machine. Without the I420 caps x264enc would pick 4:4:4.
  std::string rate = " bitrate=" + std::to_string(s.bitrate_kbps) +
                     " key-int-max=" + std::to_string(s.keyint);
  if (s.light)
    d += "x264enc tune=zerolatency speed-preset=ultrafast" + rate + " ! video/x-h264 ! ";
  else
    d += "x264enc speed-preset=veryfast bframes=2 b-adapt=false" + rate +
         " ! video/x-h264,profile=high ! ";
  d += "h264parse config-interval=-1 ! queue max-size-time=2000000000 max-size-bytes=0 "
       "max-size-buffers=0 ! mux. ";
  return d;
}

std::string audio_branch(int i) {
  return "audiotestsrc is-live=true wave=sine volume=0.3 freq=" +
         std::to_string(channel_tone_hz(i)) +
         " ! audioconvert ! audioresample ! audio/x-raw,rate=48000,channels=2 ! "
         "avenc_aac bitrate=128000 ! aacparse ! queue max-size-time=2000000000 "
         "max-size-bytes=0 max-size-buffers=0 ! mux. ";
}

std::string channel_description(const Settings& s, const OutputForm& form, int i) {
  std::string d;
  if (s.video) d += video_branch(s, i);
  if (s.audio) d += audio_branch(i);
  d += "mpegtsmux name=mux alignment=7 ! " + form.tail(channel_group(s, i), channel_port(s, i));
  return d;
}

struct Channel {
  int index = 0;
  glibx::Ref<GstElement> pipeline;
  glibx::Ref<GstElement> payloader;  // set when the form carries an SSRC
  guint bus_watch = 0;
  bool playing = false;
};

struct Sender {
  Settings settings;
  const OutputForm* form = nullptr;
  std::vector<Channel> channels;
  GMainLoop* loop = nullptr;
  guint duration_timer = 0;
  bool ready = false;
  int exit_code = kExitOk;
};

void stop_with(Sender& sender, int code) {
  if (sender.exit_code == kExitOk) sender.exit_code = code;
  g_main_loop_quit(sender.loop);
}

// "<what>: <error> (<debug text>)"; message may be null.
void print_error(const std::string& what, GstMessage* message) {
  GError* err = nullptr;
  gchar* debug = nullptr;
  if (message) gst_message_parse_error(message, &err, &debug);
  std::fprintf(stderr, "tilu-channels: %s: %s (%s)\n", what.c_str(),
               err ? err->message : "no reason given", debug ? debug : "");
  g_clear_error(&err);
  g_free(debug);
}

struct BusContext {
  Sender* sender;
  Channel* channel;
};

// Runs on the main loop (bus watch).
gboolean on_bus_message(GstBus*, GstMessage* message, gpointer data) {
  auto* ctx = static_cast<BusContext*>(data);
  Channel& channel = *ctx->channel;
  Sender& sender = *ctx->sender;
  switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR:
      print_error(channel_name(channel.index) + " failed", message);
      stop_with(sender, kExitFailure);
      break;
    case GST_MESSAGE_EOS:
      std::fprintf(stderr, "tilu-channels: %s ended\n", channel_name(channel.index).c_str());
      stop_with(sender, kExitFailure);
      break;
    case GST_MESSAGE_STATE_CHANGED: {
      if (GST_MESSAGE_SRC(message) != GST_OBJECT(channel.pipeline.get())) break;
      GstState state;
      gst_message_parse_state_changed(message, nullptr, &state, nullptr);
      channel.playing = state == GST_STATE_PLAYING;
      if (sender.ready) break;
      bool all = true;
      for (const auto& c : sender.channels) all &= c.playing;
      if (all) {
        sender.ready = true;
        std::printf("ready\n");
        std::fflush(stdout);
      }
      break;
    }
    default:
      break;
  }
  return G_SOURCE_CONTINUE;
}

gboolean on_stop_signal(gpointer data) {
  g_main_loop_quit(static_cast<Sender*>(data)->loop);
  return G_SOURCE_CONTINUE;
}

gboolean on_duration_over(gpointer data) {
  auto* sender = static_cast<Sender*>(data);
  std::fprintf(stderr, "tilu-channels: duration over\n");
  sender->duration_timer = 0;
  g_main_loop_quit(sender->loop);
  return G_SOURCE_REMOVE;
}

// A receiver of RTP keys its sources by SSRC: a new one looks like a restarted sender. The
// payloader changes its SSRC on the spot when it hears of a collision on the current one (the
// event an RTP session sends it), so the stream goes on without a gap.
bool restart_ssrc(Channel& channel) {
  glibx::Ref<GstPad> src =
      glibx::Ref<GstPad>::adopt(gst_element_get_static_pad(channel.payloader.get(), "src"));
  glibx::CapsRef caps = glibx::CapsRef::adopt(gst_pad_get_current_caps(src.get()));
  guint old_ssrc = 0;
  if (!caps || !gst_structure_get_uint(gst_caps_get_structure(caps.get(), 0), "ssrc", &old_ssrc))
    return false;  // not negotiated yet: no packet has gone out
  guint ssrc;
  do ssrc = g_random_int();
  while (ssrc == old_ssrc);
  GstStructure* collision = gst_structure_new("GstRTPCollision", "ssrc", G_TYPE_UINT, old_ssrc,
                                              "suggested-ssrc", G_TYPE_UINT, ssrc, nullptr);
  if (!gst_pad_send_event(src.get(), gst_event_new_custom(GST_EVENT_CUSTOM_UPSTREAM, collision)))
    return false;
  std::fprintf(stderr, "tilu-channels: %s restarted: SSRC %08x -> %08x\n",
               channel_name(channel.index).c_str(), old_ssrc, ssrc);
  return true;
}

gboolean on_restart_signal(gpointer data) {
  auto* sender = static_cast<Sender*>(data);
  for (auto& channel : sender->channels)
    if (channel.payloader && !restart_ssrc(channel))
      std::fprintf(stderr, "tilu-channels: %s: cannot change the SSRC yet\n",
                   channel_name(channel.index).c_str());
  return G_SOURCE_CONTINUE;
}

bool write_playlist(const Settings& s) {
  if (s.playlist.empty()) return true;
  std::string text = playlist_text(s);
  // g_file_set_contents writes a temporary file and renames it: never a half-written playlist.
  glibx::Error error;
  if (!g_file_set_contents(s.playlist.c_str(), text.data(), gssize(text.size()), error.out())) {
    std::fprintf(stderr, "tilu-channels: cannot write the playlist: %s\n", error.message());
    return false;
  }
  return true;
}

bool build_channels(Sender& sender, std::vector<BusContext>& contexts) {
  const Settings& s = sender.settings;
  sender.channels.resize(size_t(s.count));
  contexts.resize(size_t(s.count));
  for (int i = 0; i < s.count; i++) {
    Channel& channel = sender.channels[size_t(i)];
    channel.index = i;
    std::string description = channel_description(s, *sender.form, i);
    glibx::Error error;
    GstElement* pipeline = gst_parse_launch(description.c_str(), error.out());
    if (!pipeline || error) {
      std::fprintf(stderr, "tilu-channels: %s: cannot build the pipeline: %s\n",
                   channel_name(i).c_str(), error ? error.message() : "unknown error");
      if (pipeline) gst_object_unref(pipeline);
      return false;
    }
    // gst_parse_launch hands over a floating reference or, for a bin, sometimes a full one.
    channel.pipeline = g_object_is_floating(pipeline) ? glibx::Ref<GstElement>::wrap(pipeline)
                                                      : glibx::Ref<GstElement>::adopt(pipeline);
    if (sender.form->has_ssrc)
      channel.payloader = glibx::Ref<GstElement>::adopt(
          gst_bin_get_by_name(GST_BIN(channel.pipeline.get()), "payloader"));
    contexts[size_t(i)] = {&sender, &channel};
    glibx::Ref<GstBus> bus =
        glibx::Ref<GstBus>::adopt(gst_element_get_bus(channel.pipeline.get()));
    channel.bus_watch = gst_bus_add_watch(bus.get(), on_bus_message, &contexts[size_t(i)]);
  }
  return true;
}

// The bus watch would only see the error after the loop starts: take it from the bus now.
void report_start_failure(Channel& channel) {
  glibx::Ref<GstBus> bus = glibx::Ref<GstBus>::adopt(gst_element_get_bus(channel.pipeline.get()));
  glibx::MessageRef message =
      glibx::MessageRef::adopt(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
  print_error(channel_name(channel.index) + " does not start", message.get());
}

void stop_channels(Sender& sender) {
  for (auto& channel : sender.channels) {
    if (channel.bus_watch) g_source_remove(channel.bus_watch);
    channel.bus_watch = 0;
    if (channel.pipeline) gst_element_set_state(channel.pipeline.get(), GST_STATE_NULL);
  }
  sender.channels.clear();
}

// Signals are blocked from the start of main() until their watches exist, and the watches stay
// until the process ends: a stop request arriving early, or twice, cannot cut the removal of
// the namespace short.
constexpr int kHandledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGUSR1};

void block_handled_signals(bool block) {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kHandledSignals) sigaddset(&set, sig);
  pthread_sigmask(block ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

void watch_signals(Sender& sender) {
  g_unix_signal_add(SIGINT, on_stop_signal, &sender);
  g_unix_signal_add(SIGTERM, on_stop_signal, &sender);
  g_unix_signal_add(SIGHUP, on_stop_signal, &sender);
  g_unix_signal_add(SIGUSR1, on_restart_signal, &sender);
}

void run_sender(Sender& sender) {
  const Settings& settings = sender.settings;
  std::vector<BusContext> contexts;
  sender.duration_timer =
      g_timeout_add_seconds(guint(settings.duration), on_duration_over, &sender);

  bool ok = write_playlist(settings) && build_channels(sender, contexts);
  if (ok) {
    for (int i = 0; i < settings.count; i++) {
      std::fprintf(stderr, "tilu-channels: %s: %s (%s)\n", channel_name(i).c_str(),
                   channel_uri(settings, i).c_str(), sender.form->description);
      if (gst_element_set_state(sender.channels[size_t(i)].pipeline.get(), GST_STATE_PLAYING) ==
          GST_STATE_CHANGE_FAILURE) {
        report_start_failure(sender.channels[size_t(i)]);
        ok = false;
        break;
      }
    }
  }
  if (ok)
    g_main_loop_run(sender.loop);
  else
    sender.exit_code = kExitFailure;

  stop_channels(sender);
  if (sender.duration_timer) g_source_remove(sender.duration_timer);
  sender.duration_timer = 0;
}

}  // namespace

int run_main(int argc, char** argv) {
  block_handled_signals(true);
  // A reader that goes away must not end us before the namespace is removed.
  signal(SIGPIPE, SIG_IGN);
  Settings settings;
  if (int code = parse_options(argc, argv, settings); code != kExitOk) return code;

  // Before gst_init: no thread exists yet, so the whole process moves.
  OwnNetns own_netns;
  if (!leave_host_network(settings.netns, settings.netns_given, own_netns)) return kExitFailure;

  gst_init(nullptr, nullptr);
  // Lives to the end of the process, like the signal watches that point at it.
  static Sender sender;
  sender.settings = settings;
  sender.form = find_form(settings.format);
  std::unique_ptr<GMainLoop, decltype(&g_main_loop_unref)> loop(g_main_loop_new(nullptr, FALSE),
                                                                g_main_loop_unref);
  sender.loop = loop.get();
  watch_signals(sender);
  block_handled_signals(false);
  run_sender(sender);

  own_netns.remove();
  gst_deinit();
  return sender.exit_code;
}

}  // namespace channels

int main(int argc, char** argv) { return channels::run_main(argc, argv); }
