// The media pipeline module on real channels: the test's own network namespace with live
// MPEG-TS channels from tools/tilu-channels, its own Xvfb, real playbin pipelines and the real
// clutter-gst sink and content on a stage.
#include <clutter-gst/clutter-gst.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "channel_sender.h"
#include "glib_ptr.h"
#include "gst_ptr.h"
#include "lsan_early.h"
#include "media_test_support.h"
#include "test_env.h"
#include "tilu_gst.h"

using mediatest::address;
using mediatest::Journal;
using mediatest::run_for;
using mediatest::run_until;

namespace {

constexpr int kFirstFrameMs = 10000;   // a live channel shows a picture within a second or two
constexpr const char* kSilentUri = "udp://@239.255.9.9:5999";  // a group nobody sends to

ClutterActor* stage = nullptr;

// Channels shared by the tests; they run for the whole test program.
struct Channels {
  std::unique_ptr<tilutest::ChannelSender> udp;         // 640x360 H.264 + AAC, MPEG-TS over UDP
  std::unique_ptr<tilutest::ChannelSender> rtp;         // the same in RTP
  std::unique_ptr<tilutest::ChannelSender> audio_only;  // AAC alone
} channels;

tilutest::ChannelOptions light_channel(const char* group, int port, const char* format) {
  tilutest::ChannelOptions o;
  o.group = group;
  o.port = port;
  o.format = format;
  o.width = 640;
  o.height = 360;
  o.duration_s = 600;
  return o;
}

class ChannelsEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    channels.udp = std::make_unique<tilutest::ChannelSender>(light_channel("239.255.0.1", 5000, "udp"));
    channels.rtp = std::make_unique<tilutest::ChannelSender>(light_channel("239.255.1.1", 5100, "rtp"));
    auto audio = light_channel("239.255.2.1", 5200, "udp");
    audio.video = false;
    channels.audio_only = std::make_unique<tilutest::ChannelSender>(audio);
  }
  void TearDown() override { channels = Channels{}; }
};

// What a callback saw, and what it does to its own handle.
struct Probe {
  enum Action { kNothing, kCloseOnError, kCloseOnFrame, kCancelOnFrame };
  Journal* journal = nullptr;
  Action action = kNothing;
  TiluGst* gst = nullptr;  // the handle reporting to this probe; cleared when the callback closes it
  int frames = 0;
  int errors = 0;
};

void on_event(int event, gpointer data) {
  auto* probe = static_cast<Probe*>(data);
  ASSERT_TRUE(event == TILU_GST_TEXTURE_ON || event == TILU_GST_ERROR) << event;
  (event == TILU_GST_TEXTURE_ON ? probe->frames : probe->errors)++;
  if (probe->journal)
    probe->journal->add((event == TILU_GST_ERROR ? "EVENT ERROR " : "EVENT FRAME ") + address(probe->gst));
  if (event == TILU_GST_ERROR && probe->action == Probe::kCloseOnError)
    tilu_gst_close(std::exchange(probe->gst, nullptr));
  if (event == TILU_GST_TEXTURE_ON && probe->action == Probe::kCloseOnFrame)
    tilu_gst_close(std::exchange(probe->gst, nullptr));
  if (event == TILU_GST_TEXTURE_ON && probe->action == Probe::kCancelOnFrame)
    tilu_gst_cancel_new_frame_callback(probe->gst);
}

void on_sink_frame(ClutterGstVideoSink*, gpointer count) { ++*static_cast<int*>(count); }

double pipeline_volume(TiluGst* gst) {
  double v = -1;
  g_object_get(gst->pipeline.get(), "volume", &v, nullptr);
  return v;
}

guint pipeline_flags(TiluGst* gst) {
  guint flags = 0;
  g_object_get(gst->pipeline.get(), "flags", &flags, nullptr);
  return flags;
}

glibx::Ref<GstElement> pipeline_sink_bin(TiluGst* gst, const char* property) {
  GstElement* bin = nullptr;
  g_object_get(gst->pipeline.get(), property, &bin, nullptr);
  return glibx::Ref<GstElement>::adopt(bin);
}

bool has_child(GstElement* bin, const char* name) {
  auto child = glibx::Ref<GstElement>::adopt(gst_bin_get_by_name(GST_BIN(bin), name));
  return bool(child);
}

void post_error(TiluGst* gst, GstObject* source, const char* text, const char* debug) {
  GError* error = g_error_new_literal(GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED, text);
  auto bus = glibx::Ref<GstBus>::adopt(gst_element_get_bus(gst->pipeline.get()));
  gst_bus_post(bus.get(), gst_message_new_error(source, error, debug));
  g_error_free(error);
}

// Every "EVENT ERROR" of the handle directly follows its own "GST_MESSAGE_ERROR" line, and
// there are as many events as lines.
void expect_one_event_per_error_line(const Journal& journal, const void* gst) {
  std::string line = "GST_MESSAGE_ERROR " + address(gst) + " ";
  std::string event = "EVENT ERROR " + address(gst);
  const auto& entries = journal.entries();
  int lines = 0, events = 0;
  for (size_t i = 0; i < entries.size(); i++) {
    if (entries[i].rfind(line, 0) == 0) lines++;
    if (entries[i] == event) {
      events++;
      EXPECT_TRUE(i > 0 && entries[i - 1].rfind(line, 0) == 0) << "event without its log line:\n" << journal.dump();
    }
  }
  EXPECT_EQ(events, lines) << journal.dump();
}

class TiluGstTest : public testing::Test {
 protected:
  void SetUp() override {
    actor_ = clutter_actor_new();
    clutter_actor_set_size(actor_, 640, 360);
    clutter_actor_add_child(stage, actor_);
  }
  void TearDown() override {
    for (Probe& p : probes_) tilu_gst_close(std::exchange(p.gst, nullptr));
    clutter_actor_destroy(actor_);
    content_.reset();
  }

  // Probes live as long as the test, so that a handle left open by a failed assertion is still
  // closed by TearDown.
  Probe& make_probe(Journal* journal = nullptr, Probe::Action action = Probe::kNothing) {
    probes_.push_back(Probe{journal, action});
    return probes_.back();
  }

  // Opens on the fixture's actor; keeps the content reference that the actor's first open hands
  // over, as the player does.
  TiluGst* open(const char* proxy, const std::string& uri, bool scan, Probe* probe, int width = 0,
                int height = 0) {
    bool had_content = clutter_actor_get_content(actor_) != nullptr;
    TiluGst* gst = tilu_gst_open(proxy, uri.c_str(), actor_, scan, width, height, probe ? on_event : nullptr, probe);
    if (!had_content) content_ = glibx::Ref<ClutterContent>::adopt(clutter_actor_get_content(actor_));
    if (probe) probe->gst = gst;
    return gst;
  }
  void close(Probe* probe) { tilu_gst_close(std::exchange(probe->gst, nullptr)); }

  ClutterGstVideoSink* sink() { return clutter_gst_content_get_sink(CLUTTER_GST_CONTENT(content_.get())); }

  ClutterActor* actor_ = nullptr;
  glibx::Ref<ClutterContent> content_;
  std::deque<Probe> probes_;
};

TEST_F(TiluGstTest, MainPipelineShowsTheChannelWithSound) {
  Journal journal;
  Probe& probe = make_probe(&journal);
  std::string uri = channels.udp->uri(0);
  TiluGst* gst = open(nullptr, uri, false, &probe);
  ASSERT_NE(gst, nullptr);
  EXPECT_EQ(journal.entries().back(), "tilu_gst_open uri(" + uri + ") real_uri(" + uri + ") texture(" +
                                          address(actor_) + ") gst(" + address(gst) + ")");

  // The pipeline as built: playbin "play", the scaler and the actor's sink in "scalesink", the
  // sound chain in "convertaudiosink".
  EXPECT_STREQ(GST_OBJECT_NAME(gst->pipeline.get()), "play");
  auto video_bin = pipeline_sink_bin(gst, "video-sink");
  ASSERT_TRUE(video_bin);
  EXPECT_STREQ(GST_OBJECT_NAME(video_bin.get()), "scalesink");
  EXPECT_TRUE(has_child(video_bin.get(), "scale"));
  EXPECT_EQ(GST_OBJECT_PARENT(sink()), GST_OBJECT(video_bin.get()));
  auto audio_bin = pipeline_sink_bin(gst, "audio-sink");
  ASSERT_TRUE(audio_bin);
  EXPECT_STREQ(GST_OBJECT_NAME(audio_bin.get()), "convertaudiosink");
  for (const char* name : {"convert", "resample", "volume", "audiosink"})
    EXPECT_TRUE(has_child(audio_bin.get(), name)) << name;
  EXPECT_TRUE(pipeline_flags(gst) & 2u);

  // The content open made is on the actor, and one reference to it is ours.
  ASSERT_TRUE(CLUTTER_GST_IS_CONTENT(content_.get()));
  EXPECT_EQ(G_OBJECT(content_.get())->ref_count, 2u);
  EXPECT_EQ(gst->video_sink, GST_ELEMENT(sink()));
  EXPECT_NE(gst->new_frame_handler_id, 0u);

  // Silent until told otherwise; nothing negotiated yet.
  EXPECT_EQ(tilu_gst_get_mute(gst), 1);
  EXPECT_EQ(tilu_gst_get_volume(gst), 0.0);
  EXPECT_EQ(pipeline_volume(gst), 0.0);
  EXPECT_EQ(tilu_gst_get_video_caps_str(gst), nullptr);
  EXPECT_EQ(tilu_gst_get_audio_caps_str(gst), nullptr);
  EXPECT_EQ(tilu_gst_get_audio_tags_str(gst), nullptr);
  EXPECT_EQ(tilu_gst_get_video_tags_str(gst), nullptr);

  ASSERT_TRUE(run_until([&] { return probe.frames > 0; }, kFirstFrameMs)) << journal.dump();
  EXPECT_EQ(probe.errors, 0) << journal.dump();
  EXPECT_NE(clutter_gst_content_get_frame(CLUTTER_GST_CONTENT(content_.get())), nullptr);
  gchar* playing_uri = nullptr;
  g_object_get(gst->pipeline.get(), "current-uri", &playing_uri, nullptr);
  EXPECT_STREQ(playing_uri, uri.c_str());
  g_free(playing_uri);

  // Caps strings appear once negotiated, then stay the same string.
  ASSERT_TRUE(run_until([&] { return tilu_gst_get_video_caps_str(gst) && tilu_gst_get_audio_caps_str(gst); }, 5000));
  const char* video_caps = tilu_gst_get_video_caps_str(gst);
  const char* audio_caps = tilu_gst_get_audio_caps_str(gst);
  std::string video_text = video_caps, audio_text = audio_caps;
  EXPECT_EQ(video_text.rfind("video/x-raw", 0), 0u) << video_text;
  EXPECT_NE(video_text.find("width=(int)640"), std::string::npos) << video_text;
  EXPECT_NE(video_text.find("height=(int)360"), std::string::npos) << video_text;
  EXPECT_EQ(audio_text.rfind("audio/x-raw", 0), 0u) << audio_text;
  run_for(1000);
  EXPECT_EQ(tilu_gst_get_video_caps_str(gst), video_caps);
  EXPECT_EQ(tilu_gst_get_audio_caps_str(gst), audio_caps);
  EXPECT_EQ(video_text, tilu_gst_get_video_caps_str(gst));
  EXPECT_EQ(audio_text, tilu_gst_get_audio_caps_str(gst));

  // The stream's own tag messages fill the tags strings.
  EXPECT_TRUE(run_until([&] { return tilu_gst_get_audio_tags_str(gst) && tilu_gst_get_video_tags_str(gst); }, 5000))
      << journal.dump();
  if (const char* tags = tilu_gst_get_audio_tags_str(gst)) {
    EXPECT_NE(std::strstr(tags, "audio-codec"), nullptr);
  }
  if (const char* tags = tilu_gst_get_video_tags_str(gst)) {
    EXPECT_NE(std::strstr(tags, "video-codec"), nullptr);
  }

  // One audio track, selected; the selection is the pipeline's.
  EXPECT_EQ(tilu_gst_get_num_audio(gst), 1);
  EXPECT_EQ(tilu_gst_get_current_audio(gst), 0);
  EXPECT_EQ(tilu_gst_set_current_audio(gst, 0), 0);
  EXPECT_EQ(tilu_gst_get_current_audio(gst), 0);

  close(&probe);
  EXPECT_EQ(journal.entries().back(), "tilu_gst_close gst(" + address(gst) + ")");
  int frames = probe.frames;
  run_for(500);
  EXPECT_EQ(probe.frames, frames) << "frame events after close";
  EXPECT_EQ(GST_OBJECT_PARENT(sink()), nullptr) << "the sink is still in the closed pipeline";
}

TEST_F(TiluGstTest, ScanPipelineIsSilentAndScaledToTheScanSize) {
  Journal journal;
  Probe& probe = make_probe(&journal);
  TiluGst* gst = open(nullptr, channels.udp->uri(0), true, &probe, 320, 180);
  EXPECT_FALSE(pipeline_flags(gst) & 2u) << "audio flag still set";
  EXPECT_FALSE(pipeline_sink_bin(gst, "audio-sink"));
  EXPECT_EQ(tilu_gst_get_mute(gst), 1);
  EXPECT_EQ(pipeline_volume(gst), 0.0);

  ASSERT_TRUE(run_until([&] { return probe.frames > 0; }, kFirstFrameMs)) << journal.dump();
  ClutterGstFrame* frame = clutter_gst_content_get_frame(CLUTTER_GST_CONTENT(content_.get()));
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->resolution.width, 320);
  EXPECT_EQ(frame->resolution.height, 180);
  ASSERT_TRUE(run_until([&] { return tilu_gst_get_video_caps_str(gst) != nullptr; }, 5000));
  EXPECT_EQ(std::string(tilu_gst_get_video_caps_str(gst)).rfind("video/x-raw", 0), 0u);
  EXPECT_EQ(tilu_gst_get_audio_caps_str(gst), nullptr) << "a scan has no audio sink";
  EXPECT_EQ(probe.errors, 0) << journal.dump();
}

TEST_F(TiluGstTest, VolumeAndMuteFollowTheHandleNotThePipeline) {
  Probe& probe = make_probe();
  TiluGst* gst = open(nullptr, kSilentUri, false, &probe);
  enum Op { kVolume, kMute };
  struct Step {
    Op op;
    double value;
    int mute;
    double volume;
    double pipeline;
  };
  const Step steps[] = {
      {kVolume, 0.5, 1, 0.5, 0.0},  // muted: only stored
      {kMute, 0, 0, 0.5, 0.5},      // unmuting plays the stored volume
      {kVolume, 0.8, 0, 0.8, 0.8},
      {kMute, 1, 1, 0.8, 0.0},
      {kVolume, 0.3, 1, 0.3, 0.0},
      {kMute, 0, 0, 0.3, 0.3},
      {kMute, 5, 5, 0.3, 0.0},  // any non-zero value mutes
      {kMute, 0, 0, 0.3, 0.3},
      {kVolume, 1.0, 0, 1.0, 1.0},
      {kVolume, 0.0, 0, 0.0, 0.0},
  };
  int i = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE("step " + std::to_string(i++));
    int result = s.op == kVolume ? tilu_gst_set_volume(gst, s.value) : tilu_gst_set_mute(gst, int(s.value));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(tilu_gst_get_mute(gst), s.mute);
    EXPECT_DOUBLE_EQ(tilu_gst_get_volume(gst), s.volume);
    EXPECT_DOUBLE_EQ(pipeline_volume(gst), s.pipeline);
  }
  gboolean pipeline_mute = TRUE;
  g_object_get(gst->pipeline.get(), "mute", &pipeline_mute, nullptr);
  EXPECT_FALSE(pipeline_mute) << "the pipeline's own mute is never used";
}

TEST_F(TiluGstTest, TagMessagesFillTheTagsStrings) {
  Journal journal;
  Probe& probe = make_probe(&journal);
  TiluGst* gst = open(nullptr, kSilentUri, false, &probe);
  enum Stored { kNowhere, kAudio, kVideo, kIgnored };
  struct Step {
    const char* audio_codec;  // null: no such tag in the list
    const char* video_codec;
    Stored stored;
  };
  const Step steps[] = {
      {nullptr, nullptr, kNowhere},  // neither codec: logged, not stored
      {nullptr, "MPEG-2 Video", kVideo},
      {nullptr, "H.264", kVideo},    // a newer list replaces the older one
      {"MPEG-4 AAC", "HEVC", kAudio},  // both codecs: the audio tags only
      {"MPEG-1 Layer 3", nullptr, kIgnored},  // both held: ignored unparsed, not logged
      {nullptr, "VP9", kIgnored},
  };
  std::string audio_expected, video_expected;
  int i = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE("step " + std::to_string(i++));
    GstTagList* tags = gst_tag_list_new(GST_TAG_TITLE, "channel", nullptr);
    if (s.audio_codec) gst_tag_list_add(tags, GST_TAG_MERGE_APPEND, GST_TAG_AUDIO_CODEC, s.audio_codec, nullptr);
    if (s.video_codec) gst_tag_list_add(tags, GST_TAG_MERGE_APPEND, GST_TAG_VIDEO_CODEC, s.video_codec, nullptr);
    glibx::CharPtr text(gst_tag_list_to_string(tags));
    std::string line = "GST_MESSAGE_TAG " + address(gst) + " |play| |" + text.get() + "|";
    auto bus = glibx::Ref<GstBus>::adopt(gst_element_get_bus(gst->pipeline.get()));
    gst_bus_post(bus.get(), gst_message_new_tag(GST_OBJECT(gst->pipeline.get()), tags));

    bool logged = s.stored != kIgnored;
    EXPECT_EQ(run_until([&] { return journal.contains(line); }, logged ? 3000 : 300), logged) << journal.dump();
    if (s.stored == kAudio) audio_expected = text.get();
    if (s.stored == kVideo) video_expected = text.get();
    const char* audio = tilu_gst_get_audio_tags_str(gst);
    const char* video = tilu_gst_get_video_tags_str(gst);
    EXPECT_EQ(audio ? audio : "", audio_expected);
    EXPECT_EQ(video ? video : "", video_expected);
  }
}

TEST_F(TiluGstTest, BusMessagesAreLoggedAndOnlyErrorsReported) {
  Journal journal;
  Probe& probe = make_probe(&journal);
  TiluGst* gst = open(nullptr, kSilentUri, false, &probe);
  GstObject* play = GST_OBJECT(gst->pipeline.get());
  auto bus = glibx::Ref<GstBus>::adopt(gst_element_get_bus(gst->pipeline.get()));
  auto error = [](const char* text) { return g_error_new_literal(GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED, text); };
  GError* e1 = error("broken");
  GError* e2 = error("no source");
  GError* w = error("late");
  GError* in = error("fyi");
  gst_bus_post(bus.get(), gst_message_new_error(play, e1, "details"));
  gst_bus_post(bus.get(), gst_message_new_error(nullptr, e2, nullptr));
  gst_bus_post(bus.get(), gst_message_new_warning(play, w, "slow"));
  gst_bus_post(bus.get(), gst_message_new_info(nullptr, in, "note"));
  for (GError* e : {e1, e2, w, in}) g_error_free(e);

  std::string g = address(gst);
  ASSERT_TRUE(run_until([&] { return journal.contains("GST_MESSAGE_INFO"); }, 3000)) << journal.dump();
  std::vector<std::string> expected = {
      "GST_MESSAGE_ERROR " + g + " |play| |broken| |details|", "EVENT ERROR " + g,
      "GST_MESSAGE_ERROR " + g + " |(NULL)| |no source| |(null)|", "EVENT ERROR " + g,
      "GST_MESSAGE_WARNING " + g + " |play| |late| |slow|", "GST_MESSAGE_INFO " + g + " |(NULL)| |fyi| |note|"};
  std::vector<std::string> seen;
  // (The audio sink's own attempts at a sound server post warnings of their own.)
  for (const auto& e : journal.entries())
    for (const char* mine : {"|broken|", "|no source|", "|late|", "|fyi|", "EVENT"})
      if (e.find(mine) != std::string::npos) seen.push_back(e);
  EXPECT_EQ(seen, expected) << journal.dump();
  EXPECT_EQ(probe.errors, 2);
  EXPECT_EQ(probe.frames, 0);
}

// Every way a stream can fail: the handle exists, each error message becomes one event right
// after its log line, and the handle closes cleanly.
TEST_F(TiluGstTest, BadStreamsGiveAHandleAndOneErrorPerMessage) {
  struct Case {
    const char* what;
    std::string uri;
    bool scan;
    std::vector<const char*> hidden;  // plug-in features taken out of the registry for the case
    const char* error_text;   // expected somewhere in the error line, or null
  };
  const Case cases[] = {
      {"no scheme", "not a uri", false, {}, nullptr},
      {"unknown scheme", "foo://bar", false, {}, nullptr},
      {"nonexistent host", "http://nonexistent.invalid/live.ts", false, {}, nullptr},
      {"stream without video", channels.audio_only->uri(0), true, {}, nullptr},
      {"missing decoder", channels.udp->uri(0), true, {"avdec_h264", "openh264dec"}, nullptr},
      {"missing element", channels.udp->uri(0), false, {"videoscale"}, "\"videoscale\""},
      {"missing playbin", channels.udp->uri(0), false, {"playbin"}, "\"playbin\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Journal journal;
    Probe& probe = make_probe(&journal);
    std::vector<std::unique_ptr<mediatest::HiddenFeature>> hidden;
    for (const char* name : c.hidden) {
      hidden.push_back(std::make_unique<mediatest::HiddenFeature>(name));
      ASSERT_TRUE(hidden.back()->hidden()) << name;
    }
    TiluGst* gst = open(nullptr, c.uri, c.scan, &probe, 320, 180);
    ASSERT_NE(gst, nullptr);
    ASSERT_NE(gst->pipeline.get(), nullptr);
    EXPECT_TRUE(run_until([&] { return probe.errors > 0; }, 15000)) << journal.dump();
    run_for(300);  // later error messages of the same failure
    expect_one_event_per_error_line(journal, gst);
    EXPECT_EQ(probe.frames, 0);
    if (c.error_text) {
      EXPECT_TRUE(journal.contains(c.error_text)) << journal.dump();
    }
    // The controls still answer on a failed handle.
    EXPECT_EQ(tilu_gst_set_volume(gst, 0.5), 0);
    EXPECT_EQ(tilu_gst_set_mute(gst, 0), 0);
    EXPECT_EQ(tilu_gst_get_video_caps_str(gst), nullptr);
    EXPECT_EQ(tilu_gst_get_audio_caps_str(gst), nullptr);
    close(&probe);
    EXPECT_EQ(journal.entries().back(), "tilu_gst_close gst(" + address(gst) + ")");
  }
}

TEST_F(TiluGstTest, ErrorCallbackMayCloseItsHandle) {
  Journal journal;
  Probe& probe = make_probe(&journal, Probe::kCloseOnError);
  TiluGst* gst = open(nullptr, "foo://bar", false, &probe);
  ASSERT_TRUE(run_until([&] { return probe.gst == nullptr; }, 10000)) << journal.dump();
  run_for(500);
  EXPECT_EQ(probe.errors, 1) << journal.dump();
  const auto& e = journal.entries();
  auto closed = std::find(e.begin(), e.end(), "tilu_gst_close gst(" + address(gst) + ")");
  ASSERT_NE(closed, e.end());
  EXPECT_EQ(*(closed - 1), "EVENT ERROR " + address(gst));

  // Two errors waiting on the bus: the first closes the handle, the second is never delivered.
  Probe& second = make_probe(&journal, Probe::kCloseOnError);
  TiluGst* gst2 = open(nullptr, kSilentUri, false, &second);
  post_error(gst2, GST_OBJECT(gst2->pipeline.get()), "first", nullptr);
  post_error(gst2, nullptr, "second", nullptr);
  ASSERT_TRUE(run_until([&] { return second.gst == nullptr; }, 3000));
  run_for(300);
  EXPECT_EQ(second.errors, 1);
  EXPECT_FALSE(journal.contains("|second|")) << journal.dump();
}

TEST_F(TiluGstTest, FrameCallbackMayCloseItsHandle) {
  Journal journal;
  Probe& probe = make_probe(&journal, Probe::kCloseOnFrame);
  open(nullptr, channels.udp->uri(0), false, &probe);
  ASSERT_TRUE(run_until([&] { return probe.gst == nullptr; }, kFirstFrameMs)) << journal.dump();
  run_for(500);
  EXPECT_EQ(probe.frames, 1);
  EXPECT_EQ(probe.errors, 0);

  // The sink, closed from inside its own signal, plays again in the actor's next pipeline.
  ClutterContent* content = content_.get();
  Probe& again = make_probe(&journal);
  open(nullptr, channels.udp->uri(0), true, &again, 320, 180);
  EXPECT_EQ(clutter_actor_get_content(actor_), content);
  EXPECT_TRUE(run_until([&] { return again.frames > 1; }, kFirstFrameMs)) << journal.dump();
}

TEST_F(TiluGstTest, CancelStopsFramesButNotErrors) {
  Journal journal;
  Probe& probe = make_probe(&journal, Probe::kCancelOnFrame);
  TiluGst* gst = open(nullptr, channels.udp->uri(0), false, &probe);
  ASSERT_TRUE(run_until([&] { return probe.frames > 0; }, kFirstFrameMs)) << journal.dump();
  EXPECT_EQ(gst->video_sink, nullptr);
  EXPECT_EQ(gst->new_frame_handler_id, 0u);
  EXPECT_EQ(tilu_gst_cancel_new_frame_callback(gst), 0);  // the second cancel does nothing
  EXPECT_EQ(gst->callback, &on_event);

  int sink_frames = 0;
  gulong id = g_signal_connect(sink(), "new-frame", G_CALLBACK(on_sink_frame), &sink_frames);
  run_until([&] { return sink_frames >= 10; }, 5000);
  g_signal_handler_disconnect(sink(), id);
  EXPECT_GE(sink_frames, 10) << "the picture stopped";
  EXPECT_EQ(probe.frames, 1) << "frame events after cancel";

  post_error(gst, nullptr, "after cancel", nullptr);
  EXPECT_TRUE(run_until([&] { return probe.errors == 1; }, 3000)) << journal.dump();
}

TEST_F(TiluGstTest, NullCallbackConnectsNothing) {
  Journal journal;
  TiluGst* gst = open(nullptr, channels.udp->uri(0), false, nullptr);
  EXPECT_EQ(gst->video_sink, nullptr);
  EXPECT_EQ(gst->new_frame_handler_id, 0u);
  EXPECT_EQ(gst->callback, nullptr);
  int sink_frames = 0;
  gulong id = g_signal_connect(sink(), "new-frame", G_CALLBACK(on_sink_frame), &sink_frames);
  EXPECT_TRUE(run_until([&] { return sink_frames >= 3; }, kFirstFrameMs)) << "the picture did not play";
  g_signal_handler_disconnect(sink(), id);
  post_error(gst, nullptr, "unheard", nullptr);
  EXPECT_TRUE(run_until([&] { return journal.contains("|unheard|"); }, 3000));
  EXPECT_EQ(tilu_gst_cancel_new_frame_callback(gst), 0);
  EXPECT_EQ(tilu_gst_close(gst), 0);
  Journal null_close;
  EXPECT_EQ(tilu_gst_close(nullptr), 0);
  EXPECT_EQ(null_close.entries(), std::vector<std::string>{"tilu_gst_close gst(" + address(nullptr) + ")"});
}

// Hundreds of pipelines in turn on one actor, as a sender that keeps failing makes the player
// do: one content and one sink throughout, and nothing piles up.
TEST_F(TiluGstTest, ManyOpenCloseCyclesOnOneActor) {
  std::string uri = channels.udp->uri(0);
  Probe& first = make_probe();
  open(nullptr, uri, false, &first);
  ClutterContent* content = content_.get();
  ClutterGstVideoSink* video_sink = sink();
  ASSERT_TRUE(run_until([&] { return first.frames > 0; }, kFirstFrameMs));
  close(&first);
  const guint content_refs = G_OBJECT(content)->ref_count;
  const guint sink_refs = G_OBJECT(video_sink)->ref_count;
  EXPECT_EQ(content_refs, 2u) << "the actor's and the one open handed over";

  auto cycle = [&](int i) {
    Probe& probe = make_probe();
    open(nullptr, uri, i % 2, &probe, 320, 180);
    ASSERT_EQ(clutter_actor_get_content(actor_), content) << "cycle " << i;
    ASSERT_EQ(sink(), video_sink);
    if (i % 50 == 0)
      EXPECT_TRUE(run_until([&] { return probe.frames > 0; }, kFirstFrameMs)) << "cycle " << i;
    else
      for (int k = 0; k < 5; k++) g_main_context_iteration(nullptr, FALSE);
    close(&probe);
  };
  for (int i = 0; i < 20; i++) cycle(i);
  run_for(200);
  const int fds = mediatest::open_fds();
  const int threads = mediatest::threads();
  for (int i = 20; i < 320; i++) cycle(i);
  run_for(200);
  EXPECT_LE(mediatest::open_fds(), fds + 3) << "file descriptors grew";
  EXPECT_LE(mediatest::threads(), threads + 6) << "threads grew";
  EXPECT_EQ(G_OBJECT(content)->ref_count, content_refs);
  EXPECT_EQ(G_OBJECT(video_sink)->ref_count, sink_refs);
}

// Weak references on every element a pipeline ever held and on their pads, taken as playbin
// adds them (on streaming threads too) and again from the whole tree while it plays.
class FinalizeWatch {
 public:
  explicit FinalizeWatch(GstElement* pipeline) {
    watch(G_OBJECT(pipeline), GST_OBJECT_NAME(pipeline));
    g_signal_connect(pipeline, "deep-element-added", G_CALLBACK(on_added), this);
  }
  FinalizeWatch(const FinalizeWatch&) = delete;
  FinalizeWatch& operator=(const FinalizeWatch&) = delete;
  ~FinalizeWatch() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [object, name] : alive_) g_object_weak_unref(object, on_finalized, this);
  }

  // Every element now in the tree, with its pads.
  void watch_tree(GstElement* pipeline) {
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(pipeline));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
      watch_element(GST_ELEMENT(g_value_get_object(&item)));
      g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
  }
  // "factory name" of each object still alive.
  std::vector<std::string> alive() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> names;
    for (auto& [object, name] : alive_) names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
  }
  size_t watched() {
    std::lock_guard<std::mutex> lock(mutex_);
    return watched_;
  }

 private:
  static void on_added(GstBin*, GstBin*, GstElement* element, gpointer self) {
    static_cast<FinalizeWatch*>(self)->watch_element(element);
  }
  void watch_element(GstElement* element) {
    GstElementFactory* factory = gst_element_get_factory(element);
    std::string kind = factory ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)) : G_OBJECT_TYPE_NAME(element);
    watch(G_OBJECT(element), kind + " " + GST_OBJECT_NAME(element));
    glibx::ObjectLock lock(element);
    for (GList* l = element->pads; l; l = l->next)
      watch(G_OBJECT(l->data), kind + " " + GST_OBJECT_NAME(element) + ":" + GST_OBJECT_NAME(l->data));
  }
  void watch(GObject* object, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (alive_.count(object)) return;
    alive_.emplace(object, name);
    watched_++;
    g_object_weak_ref(object, on_finalized, this);
  }
  static void on_finalized(gpointer self, GObject* object) {
    auto* w = static_cast<FinalizeWatch*>(self);
    std::lock_guard<std::mutex> lock(w->mutex_);
    w->alive_.erase(object);
  }

  std::mutex mutex_;
  std::map<GObject*, std::string> alive_;
  size_t watched_ = 0;
};

// Every element and pad of a closed pipeline is finalized, in main mode (sound chain, volume
// control) and in scan mode alike, over several open/close cycles on one actor; only the
// actor's sink lives on in its content.
TEST_F(TiluGstTest, ClosedPipelinesAreFinalized) {
  for (int cycle = 0; cycle < 6; cycle++) {
    const bool scan = cycle % 3 == 2;
    SCOPED_TRACE(std::string(scan ? "scan" : "main") + " cycle " + std::to_string(cycle));
    Journal journal;
    Probe& probe = make_probe(&journal);
    TiluGst* gst = open(nullptr, channels.udp->uri(0), scan, &probe, 320, 180);
    auto watch = std::make_unique<FinalizeWatch>(gst->pipeline.get());
    tilu_gst_set_volume(gst, 0.5);
    tilu_gst_set_mute(gst, 0);
    ASSERT_TRUE(run_until([&] { return probe.frames > 0 && (scan || tilu_gst_get_audio_caps_str(gst)); },
                          kFirstFrameMs))
        << journal.dump();
    watch->watch_tree(gst->pipeline.get());
    std::vector<std::string> names = watch->alive();
    EXPECT_EQ(std::count_if(names.begin(), names.end(), [](auto& n) {
                return n.rfind("volume ", 0) == 0 && n.find(':') == std::string::npos;
              }),
              scan ? 0 : 1)
        << "one volume control in a main pipeline";
    if (!scan) {
      // The sound chain's own volume element is the one the pipeline's volume drives.
      auto audio_bin = pipeline_sink_bin(gst, "audio-sink");
      auto volume = glibx::Ref<GstElement>::adopt(gst_bin_get_by_name(GST_BIN(audio_bin.get()), "volume"));
      ASSERT_TRUE(volume);
      double level = 0;
      g_object_get(volume.get(), "volume", &level, nullptr);
      EXPECT_DOUBLE_EQ(level, 0.5);
      tilu_gst_set_mute(gst, 1);
      g_object_get(volume.get(), "volume", &level, nullptr);
      EXPECT_DOUBLE_EQ(level, 0.0);
    }
    close(&probe);
    std::vector<std::string> left;
    bool gone = run_until([&] {
      // The sink outlives the pipeline in the actor's content.
      left = watch->alive();
      left.erase(std::remove_if(left.begin(), left.end(), [&](const std::string& n) {
                   return n.find(GST_OBJECT_NAME(sink())) != std::string::npos;
                 }), left.end());
      return left.empty();
    }, 10000);
    std::string text;
    for (auto& n : left) text += "  " + n + "\n";
    EXPECT_TRUE(gone) << left.size() << " of " << watch->watched() << " objects still alive:\n" << text;
  }
}

// The relay of tools/tilu-relay, as `tilu -p http://127.0.0.1:PORT` uses it.
TEST_F(TiluGstTest, RelayPlaysUdpAndRtpChannels) {
  tilutest::TempDir dir;
  tilutest::ChildProcess relay({TILU_TOOLS_DIR "/tilu-relay", "--port", "0", "--max-seconds", "120"},
                               dir.file("relay.out"), dir.file("relay.err"));
  std::string port;
  ASSERT_TRUE(run_until([&] {
    std::ifstream in(dir.file("relay.out"));
    return bool(std::getline(in, port)) && !port.empty();
  }, 5000));
  std::string proxy = "http://127.0.0.1:" + port;

  struct Case {
    std::string uri;
    std::string real_uri;
  };
  const Case cases[] = {
      {channels.udp->uri(0), proxy + "/udp/@239.255.0.1:5000"},
      {channels.rtp->uri(0, "krtp"), proxy + "/rtp/239.255.1.1:5100"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.uri);
    Journal journal;
    Probe& probe = make_probe(&journal);
    TiluGst* gst = open(proxy.c_str(), c.uri, false, &probe);
    EXPECT_TRUE(journal.contains("tilu_gst_open uri(" + c.uri + ") real_uri(" + c.real_uri + ") texture(" +
                                 address(actor_) + ") gst(" + address(gst) + ")"))
        << journal.dump();
    EXPECT_TRUE(run_until([&] { return probe.frames >= 5; }, 15000)) << journal.dump();
    EXPECT_EQ(probe.errors, 0) << journal.dump();
    EXPECT_TRUE(run_until([&] { return tilu_gst_get_audio_caps_str(gst) != nullptr; }, 5000)) << "no sound";
    close(&probe);
  }
  int status = relay.stop();
  std::ifstream err(dir.file("relay.err"));
  std::string relay_log((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "relay wait status " << status << "\n" << relay_log;
}

// The effective limit of the queue that decodebin put between demuxer and decoder, or -1.
gint64 decode_queue_time(GstElement* pipeline) {
  gint64 limit = -1;
  GstIterator* it = gst_bin_iterate_recurse(GST_BIN(pipeline));
  GValue item = G_VALUE_INIT;
  while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
    auto* element = GST_ELEMENT(g_value_get_object(&item));
    GstElementFactory* factory = gst_element_get_factory(element);
    if (factory && g_str_equal(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)), "multiqueue")) {
      guint64 time = 0;
      g_object_get(element, "max-size-time", &time, nullptr);
      limit = gint64(time);
    }
    g_value_reset(&item);
  }
  g_value_unset(&item);
  gst_iterator_free(it);
  return limit;
}

// A broadcast-like channel (1280x720 High profile with B-frames at 3.5 Mb/s, a keyframe a
// second) plays in the main and in a scan pipeline, and the queue in front of its decoder can
// hold the sink's live latency with room for a keyframe burst: with decodebin's default of a few
// buffers the demuxer blocks, udpsrc stops reading and the kernel drops datagrams, and a third
// to two thirds of the frames are lost. The frame rate itself is a benchmark figure
// (bench_frame_rate), not something a test on a shared machine can assert.
TEST_F(TiluGstTest, BroadcastChannelQueuesHoldTheLiveLatency) {
  tilutest::ChannelOptions o;
  o.group = "239.255.3.1";
  o.port = 5300;
  o.width = 1280;
  o.height = 720;
  o.bitrate_kbps = 3500;
  o.keyint = 25;
  o.broadcast = true;
  o.duration_s = 120;
  tilutest::ChannelSender sender(o);
  ASSERT_TRUE(sender.ready());

  for (bool scan : {false, true}) {
    SCOPED_TRACE(scan ? "scan 480x270" : "main");
    Journal journal;
    Probe& probe = make_probe(&journal);
    TiluGst* gst = open(nullptr, sender.uri(0), scan, &probe, 480, 270);
    ASSERT_TRUE(run_until([&] { return probe.frames >= 10; }, 3 * kFirstFrameMs)) << journal.dump();
    EXPECT_GE(decode_queue_time(gst->pipeline.get()), gint64(2 * GST_SECOND));
    EXPECT_EQ(probe.errors, 0) << journal.dump();
    close(&probe);
  }
}

}  // namespace

int main(int argc, char** argv) {
  tilutest::enter_private_netns();
  testing::InitGoogleTest(&argc, argv);
  tilutest::XvfbDisplay display;
  ClutterInitError init;
  {
#ifdef TILU_LSAN_EARLY
    // Initialisation interns thousands of quarks; GLib drops the quark array each time it
    // grows (on purpose, for lock-free readers), and the dropped block would be reported.
    __lsan::ScopedDisabler quark_growth;
#endif
    init = clutter_gst_init(&argc, &argv);
  }
  if (init != CLUTTER_INIT_SUCCESS) {
    std::fprintf(stderr, "clutter_gst_init failed on %s\n", display.name().c_str());
    return 1;
  }
  stage = clutter_stage_new();
  clutter_actor_set_size(stage, 1280, 720);
  clutter_actor_show(stage);
  testing::AddGlobalTestEnvironment(new ChannelsEnvironment);
  int result = RUN_ALL_TESTS();
  clutter_actor_destroy(stage);
  // Let the closed pipelines' streaming threads end before LeakSanitizer's exit-time scan, which
  // stops every thread and now and then crashes on one that is half gone.
  gst_task_cleanup_all();
  tilutest::wait_for_threads_to_settle();
  return result;
}
