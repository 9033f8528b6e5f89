// Frame rate that a scene actor receives from a live broadcast-like MPEG-TS multicast channel
// (1280x720 H.264 High with B-frames, 3.5 Mb/s, AAC), for the tilu_gst main and scan pipelines,
// printed beside a bare playbin with the same synchronised clutter-gst sink measured in the same
// run. Runs in a private network namespace of its own with its own Xvfb; needs root.
//
//   bench_frame_rate [--seconds N] [--bitrate KBPS] [--rounds N]
#include <clutter-gst/clutter-gst.h>
#include <gst/gst.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "test_env.h"
#include "tilu_gst.h"

namespace {

constexpr const char* kGroup = "239.255.0.3";
constexpr int kPort = 5004;
constexpr int kChannelFps = 25;

struct Counter {
  int frames = 0;
  gint64 first_frame_us = 0;
};

void count_frame(Counter* counter) {
  if (counter->frames++ == 0) counter->first_frame_us = g_get_monotonic_time();
}

void on_bare_new_frame(ClutterGstVideoSink*, gpointer counter) { count_frame(static_cast<Counter*>(counter)); }

void on_tilu_event(int event, gpointer counter) {
  if (event == TILU_GST_TEXTURE_ON) count_frame(static_cast<Counter*>(counter));
}

// Runs the main loop for ms milliseconds.
void run_for(int ms) {
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_timeout_add(ms, [](gpointer l) -> gboolean { g_main_loop_quit(static_cast<GMainLoop*>(l)); return G_SOURCE_REMOVE; }, loop);
  g_main_loop_run(loop);
  g_main_loop_unref(loop);
}

long udp_counter(const char* name) {
  FILE* f = std::fopen("/proc/net/snmp", "r");
  if (!f) return -1;
  char header[1024], values[1024];
  long result = -1;
  while (std::fgets(header, sizeof header, f) && std::fgets(values, sizeof values, f)) {
    if (std::strncmp(header, "Udp:", 4) != 0) continue;
    gchar** names = g_strsplit(header, " ", -1);
    gchar** numbers = g_strsplit(values, " ", -1);
    for (int i = 0; names[i] && numbers[i]; i++)
      if (!std::strcmp(names[i], name)) result = std::atol(numbers[i]);
    g_strfreev(names);
    g_strfreev(numbers);
    break;
  }
  std::fclose(f);
  return result;
}

double received_mbps = 0;

// Waits for the first frame (up to 15 s), lets the pipeline settle for 2 s, then counts frames
// for seconds; returns frames per second, or -1 when no frame came.
double measure(Counter* counter, int seconds) {
  for (int waited = 0; counter->frames == 0 && waited < 15000; waited += 100) run_for(100);
  if (counter->frames == 0) return -1;
  run_for(2000);
  int start = counter->frames;
  long datagrams = udp_counter("InDatagrams");
  gint64 t0 = g_get_monotonic_time();
  run_for(seconds * 1000);
  double elapsed = double(g_get_monotonic_time() - t0) / G_USEC_PER_SEC;
  received_mbps = (udp_counter("InDatagrams") - datagrams) * 1316.0 * 8 / 1e6 / elapsed;
  return (counter->frames - start) / elapsed;
}

ClutterActor* new_actor(ClutterActor* stage) {
  ClutterActor* actor = clutter_actor_new();
  clutter_actor_set_size(actor, 640, 360);
  clutter_actor_add_child(stage, actor);
  return actor;
}

double bare_playbin(ClutterActor* stage, const std::string& uri, int seconds) {
  ClutterActor* actor = new_actor(stage);
  ClutterGstVideoSink* sink = clutter_gst_video_sink_new();
  ClutterContent* content = clutter_gst_content_new_with_sink(sink);
  clutter_actor_set_content(actor, content);
  Counter counter;
  gulong id = g_signal_connect(sink, "new-frame", G_CALLBACK(on_bare_new_frame), &counter);
  GstElement* play = gst_element_factory_make("playbin", nullptr);
  g_object_set(play, "uri", uri.c_str(), "video-sink", sink, nullptr);
  gst_element_set_state(play, GST_STATE_PLAYING);
  double fps = measure(&counter, seconds);
  GstQuery* query = gst_query_new_latency();
  if (gst_element_query(play, query)) {
    GstClockTime min = 0, max = 0;
    gboolean live = FALSE;
    gst_query_parse_latency(query, &live, &min, &max);
    std::printf("  (pipeline latency %" G_GUINT64_FORMAT " ms, live %d)\n", min / GST_MSECOND, live);
  }
  gst_query_unref(query);
  gst_element_set_state(play, GST_STATE_NULL);
  g_signal_handler_disconnect(sink, id);
  gst_object_unref(play);
  clutter_actor_destroy(actor);
  g_object_unref(content);
  return fps;
}

double tilu_pipeline(ClutterActor* stage, const std::string& uri, bool scan, int seconds) {
  ClutterActor* actor = new_actor(stage);
  Counter counter;
  TiluGst* gst = tilu_gst_open(nullptr, uri.c_str(), actor, scan, 480, 270, on_tilu_event, &counter);
  double fps = measure(&counter, seconds);
  tilu_gst_close(gst);
  ClutterContent* content = clutter_actor_get_content(actor);
  g_object_ref(content);
  clutter_actor_destroy(actor);
  g_object_unref(content);  // the reference open handed over
  g_object_unref(content);
  return fps;
}

// Datagrams the kernel dropped because a socket's receive buffer was full (this namespace).
long udp_receive_buffer_errors() { return udp_counter("RcvbufErrors"); }

long last_errors = 0;


void print_fps(const char* what, double fps) {
  long errors = udp_receive_buffer_errors();
  long dropped = errors - last_errors;
  last_errors = errors;
  if (fps < 0)
    std::printf("  %-34s no frame", what);
  else
    std::printf("  %-34s %6.2f fps  (%5.1f %% of the channel)", what, fps, 100.0 * fps / kChannelFps);
  std::printf("  %.2f Mb/s received, %ld datagrams dropped by the kernel\n", received_mbps, dropped);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 10;
  int bitrate = 3500;
  int rounds = 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--seconds")) seconds = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--bitrate")) bitrate = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[i + 1]);
  }
  if (seconds < 1 || seconds > 120 || bitrate < 100 || rounds < 1 || rounds > 10) {
    std::fprintf(stderr, "usage: %s [--seconds 1..120] [--bitrate KBPS] [--rounds 1..10]\n", argv[0]);
    return 2;
  }

  tilutest::enter_private_netns();
  tilutest::TempDir temp;
  std::string dest = std::string("host=") + kGroup + " port=" + std::to_string(kPort);
  std::string launch =
      "exec gst-launch-1.0 -q videotestsrc is-live=true pattern=smpte horizontal-speed=4 ! "
      "video/x-raw,width=1280,height=720,framerate=" + std::to_string(kChannelFps) + "/1 ! timeoverlay ! "
      "videoconvert ! video/x-raw,format=I420 ! x264enc speed-preset=veryfast key-int-max=25 bframes=2 "
      "bitrate=" + std::to_string(bitrate) + " ! h264parse ! mpegtsmux name=m alignment=7 ! udpsink " + dest +
      " audiotestsrc is-live=true ! audioconvert ! avenc_aac ! aacparse ! m.";
  tilutest::ChildProcess sender({"sh", "-c", launch}, temp.file("sender.out"), temp.file("sender.err"));
  tilutest::XvfbDisplay display;
  if (clutter_gst_init(&argc, &argv) != CLUTTER_INIT_SUCCESS) {
    std::fprintf(stderr, "clutter_gst_init failed\n");
    return 1;
  }
  ClutterActor* stage = clutter_stage_new();
  clutter_actor_set_size(stage, 1280, 720);
  clutter_actor_show(stage);

  std::string uri = std::string("udp://@") + kGroup + ":" + std::to_string(kPort);
  std::printf("channel %s: 1280x720 H.264 High, B-frames, %d kb/s, %d fps, AAC; %d s per figure\n",
              uri.c_str(), bitrate, kChannelFps, seconds);
  for (int round = 0; round < rounds; round++) {
    print_fps("playbin + clutter-gst sink (floor)", bare_playbin(stage, uri, seconds));
    print_fps("tilu_gst main pipeline", tilu_pipeline(stage, uri, false, seconds));
    print_fps("tilu_gst scan pipeline 480x270", tilu_pipeline(stage, uri, true, seconds));
  }
  clutter_actor_destroy(stage);
  sender.stop();
  return 0;
}
