#include "scan_video_support.h"

#include <clutter-gst/clutter-gst.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "rtpsrc/tilu_gst_plugin_rtpsrc.h"

#if defined(__SANITIZE_ADDRESS__)
#define TILU_TEST_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TILU_TEST_LSAN 1
#endif
#endif
#ifdef TILU_TEST_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace tilutest {

namespace {

// GLib drops its quark table's old block each time the table grows (on purpose: other threads
// may still read it), and LeakSanitizer, which sees only g_malloc of GLib's frames, would report
// the dropped block as our leak. Every type the media framework registers adds quarks, and the
// plug-ins a pipeline loads would grow the table in the middle of a test. So the libraries are
// initialised and every element's plug-in loaded and its class initialised at start, with leak
// checking paused; what the tests add afterwards stays below one growth.
void pause_leak_checking() {
#ifdef TILU_TEST_LSAN
  __lsan_disable();
#endif
}

void load_media_plugins_and_resume_leak_checking() {
#ifdef TILU_TEST_LSAN
  GList* features = gst_registry_get_feature_list(gst_registry_get(), GST_TYPE_ELEMENT_FACTORY);
  for (GList* l = features; l; l = l->next) {
    GstPluginFeature* loaded = gst_plugin_feature_load(GST_PLUGIN_FEATURE(l->data));
    if (!loaded) continue;
    GType type = gst_element_factory_get_element_type(GST_ELEMENT_FACTORY(loaded));
    if (type) g_type_class_ref(type);  // kept: classes live as long as the process anyway
    gst_object_unref(loaded);
  }
  gst_plugin_feature_list_free(features);
  __lsan_enable();
#endif
}

constexpr const char* kPipelineMark = "tilu-test-serial";

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

}  // namespace

int scan_video_test_main(int argc, char** argv) {
  enter_private_netns();
  XvfbDisplay display;
  ::testing::InitGoogleTest(&argc, argv);
  pause_leak_checking();
  if (clutter_gst_init(&argc, &argv) != CLUTTER_INIT_SUCCESS) {
    std::fprintf(stderr, "clutter_gst_init failed on %s\n", display.name().c_str());
    return 1;
  }
  // As at the player's start-up: krtp (and rtp) entries play through the player's own element.
  gst_tilu_rtpsrc_plugin_register();
  load_media_plugins_and_resume_leak_checking();
  int result = RUN_ALL_TESTS();
  // The closed pipelines' streaming threads are still winding down; LeakSanitizer's exit-time
  // scan stops every thread and now and then crashes on one that is half gone.
  gst_task_cleanup_all();
  tilutest::wait_for_threads_to_settle();
  return result;
}

LiveChannels::LiveChannels(const std::vector<Channel>& channels) : channels_(channels) {
  for (size_t i = 0; i < channels.size(); i++) senders_.push_back(start(i));
}

ChildProcess LiveChannels::start(size_t i) const {
  std::string video = "videotestsrc is-live=true pattern=" + std::to_string(channels_[i].pattern) +
                      " ! video/x-raw,width=320,height=180,framerate=25/1 ! " +
                      (channels_[i].clock ? "timeoverlay ! " : "") +
                      "videoconvert"
                      " ! video/x-raw,format=I420 ! x264enc tune=zerolatency speed-preset=ultrafast"
                      " key-int-max=10 bitrate=300 ! h264parse ! mpegtsmux name=m alignment=7"
                      " ! udpsink host=239.255.1." + std::to_string(i + 1) + " port=5000";
  if (channels_[i].audio) video += " audiotestsrc is-live=true ! audioconvert ! avenc_aac ! aacparse ! m.";
  // Killed with this process even when a test crashes, so that no sender outlives it.
  std::vector<std::string> argv = {"setpriv", "--pdeathsig", "KILL", "gst-launch-1.0", "-q"};
  for (auto& w : words(video)) argv.push_back(w);
  return ChildProcess(argv, "/dev/null", "/dev/null");
}

void LiveChannels::stop(size_t i) { senders_[i].stop(); }

void LiveChannels::restart(size_t i) { restart(i, channels_[i]); }

void LiveChannels::restart(size_t i, const Channel& channel) {
  senders_[i].stop();
  channels_[i] = channel;
  senders_[i] = start(i);
}

std::string LiveChannels::uri(size_t i) const { return "udp://@239.255.1." + std::to_string(i + 1) + ":5000"; }

std::string silent_uri() { return "udp://@239.255.1.200:5000"; }
std::string broken_uri() { return "file:///nonexistent/tilu-test/channel.ts"; }

gint64 now_ms() { return g_get_monotonic_time() / 1000; }

bool run_loop_until(const std::function<bool()>& done, int timeout_ms,
                    const std::function<void()>& after_iteration) {
  // Wakes the loop up regularly, so that the deadline is seen even when nothing happens.
  guint wake = g_timeout_add(10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  gint64 deadline = now_ms() + timeout_ms;
  bool held = done();
  while (!held && now_ms() < deadline) {
    // clutter_init leaves the scene graph's lock held by this thread, and clutter_main releases
    // it while the loop runs; sources added with clutter_threads_add_timeout and the event
    // handler take it themselves.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    clutter_threads_leave();
    g_main_context_iteration(nullptr, TRUE);
    clutter_threads_enter();
    G_GNUC_END_IGNORE_DEPRECATIONS
    if (after_iteration) after_iteration();
    held = done();
  }
  g_source_remove(wake);
  return held;
}

void run_loop_for(int ms, const std::function<void()>& after_iteration) {
  run_loop_until([] { return false; }, ms, after_iteration);
}

TestPlayer::TestPlayer(const std::vector<std::string>& uris, const TiluOptions& options) {
  std::string path = dir_.file("list.m3u");
  {
    std::ofstream out(path);
    out << "#EXTM3U\n";
    for (size_t i = 0; i < uris.size(); i++) out << "#EXTINF:-1,Channel " << i << "\n" << uris[i] << "\n";
  }
  tilu_options = options;
  TiluPlaylistPtr playlist(tilu_playlist_load(path.c_str()));
  if (!playlist) ADD_FAILURE() << "playlist " << path << " did not load";
  player_ = std::make_unique<TiluPlayer>();
  tilu_player_init(player_.get(), std::move(playlist));
  tilu_scene_build(player_.get());
  stage_ = clutter_actor_get_parent(player_->grid_actor);
  clutter_actor_show(stage_);
}

TestPlayer::~TestPlayer() {
  // Only the first release does anything (a test may have destroyed the stage itself).
  tilu_player_release(player_.get());
  player_.reset();
  tilu_options = TiluOptions{};
}

ScanRecorder::ScanRecorder(TiluPlayer* player)
    : player_(player),
      t0_(now_ms()),
      serials_(player->playlist->count, 0),
      opaque_at_(player->playlist->count, -1) {
  poll();
}

void ScanRecorder::poll() {
  const TiluPlayer& p = *player_;
  if (!p.playlist) return;  // released
  gint64 t = now_ms() - t0_;
  int running = 0;
  for (int i = 0; i < p.playlist->count; i++) {
    TiluGst* gst = p.scan_gsts[i].get();
    int serial = gst ? GPOINTER_TO_INT(g_object_get_data(G_OBJECT(gst->pipeline.get()), kPipelineMark)) : 0;
    if (gst && serial == 0) {
      serial = next_serial_++;
      g_object_set_data(G_OBJECT(gst->pipeline.get()), kPipelineMark, GINT_TO_POINTER(serial));
    }
    if (serial != serials_[i]) {
      if (serials_[i] != 0) events_.push_back({Event::kStop, i, t, serials_[i]});
      if (serial != 0) events_.push_back({Event::kStart, i, t, serial});
      serials_[i] = serial;
    }
    if (opaque_at_[i] < 0 && clutter_actor_get_opacity(p.tile_actors[i]) == 255) opaque_at_[i] = t;

    running += gst ? 1 : 0;
    if (violation_.empty() && (gst != nullptr) != (p.scan_timeout_ids[i] != 0))
      violation_ = "entry " + std::to_string(i) + ": pipeline and timeout not set together";
  }
  if (!violation_.empty()) return;
  if (p.num_scanning != running)
    violation_ = "num_scanning " + std::to_string(p.num_scanning) + " but " + std::to_string(running) + " running";
  else if (p.num_scanning > p.scan_jobs)
    violation_ = "num_scanning " + std::to_string(p.num_scanning) + " above scan_jobs";
  else if (p.next_scan_idx < 0 || p.next_scan_idx >= p.playlist->count)
    violation_ = "next_scan_idx " + std::to_string(p.next_scan_idx) + " out of range";
  if (!violation_.empty()) violation_ += " at " + std::to_string(t) + " ms";
}

std::vector<int> ScanRecorder::starts() const {
  std::vector<int> out;
  for (const auto& e : events_)
    if (e.kind == Event::kStart) out.push_back(e.index);
  return out;
}

std::vector<gint64> ScanRecorder::start_times(int index) const {
  std::vector<gint64> out;
  for (const auto& e : events_)
    if (e.kind == Event::kStart && e.index == index) out.push_back(e.ms);
  return out;
}

}  // namespace tilutest
