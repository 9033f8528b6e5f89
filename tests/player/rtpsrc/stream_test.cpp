// Live MPEG-TS-in-RTP multicast (sent inside this test's namespace) through tilurtpsrc: the raw
// RTP through the harness, two SSRCs at once (two fixed-SSRC senders), and playbin decoding a
// test channel's krtp URI across the channel's SSRC restart.
#include <gst/check/gstharness.h>
#include <gst/rtp/gstrtpbuffer.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "glib_ptr.h"
#include "gst_ptr.h"
#include "channel_sender.h"
#include "rtpsrc_test_support.h"
#include "tilu_gst_rtpsrc_element.h"

namespace {

using glibx::CharPtr;
using ElementRef = glibx::Ref<GstElement>;
using rtpsrctest::LogCapture;
using rtpsrctest::RtpSender;

std::string pad_name_for(guint32 ssrc) { return "adding a pad recv_rtp_src_0_" + std::to_string(ssrc) + "_33"; }

struct Harness {
  std::atomic<int> no_more_pads{0};
  glibx::Ref<GstBus> bus = glibx::Ref<GstBus>::adopt(gst_bus_new());
  GstHarness* h;
  explicit Harness(const std::string& uri) : h(gst_harness_new_with_padnames("tilurtpsrc", nullptr, nullptr)) {
    g_object_set(h->element, "uri", uri.c_str(), nullptr);
    // "src" is a sometimes pad: link it when it appears, on the streaming thread that adds it.
    g_signal_connect(h->element, "pad-added", G_CALLBACK(+[](GstElement*, GstPad* pad, gpointer harness) {
                       gst_harness_add_element_src_pad(static_cast<GstHarness*>(harness), pad);
                     }),
                     h);
    g_signal_connect(h->element, "no-more-pads",
                     G_CALLBACK(+[](GstElement*, gpointer count) { (*static_cast<std::atomic<int>*>(count))++; }),
                     &no_more_pads);
    // The jitter buffer schedules on the clock: a test clock would hold every packet.
    gst_harness_use_systemclock(h);
    gst_element_set_bus(h->element, bus.get());
    gst_harness_play(h);
  }
  ~Harness() {
    gst_harness_teardown(h);
  }
  // The first error the element posted, as text; empty when none.
  std::string error() {
    auto message = glibx::MessageRef::adopt(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
    if (!message) return {};
    GError* gerror = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message.get(), &gerror, &debug);
    std::string text = std::string(gerror->message) + " (" + (debug ? debug : "") + ")";
    g_error_free(gerror);
    g_free(debug);
    return text;
  }
  GstTILURtpSrc* src() const { return GST_TILU_RTPSRC(h->element); }

  // The next RTP buffer's SSRC and payload type; false when none arrives in time.
  bool pull(guint32* ssrc, guint* payload_type, int timeout_ms = 15000) {
    gint64 deadline = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
    while (g_get_monotonic_time() < deadline) {
      auto buffer = glibx::BufferRef::adopt(gst_harness_try_pull(h));
      if (!buffer) {
        g_usleep(5000);
        continue;
      }
      GstRTPBuffer rtp = GST_RTP_BUFFER_INIT;
      if (!gst_rtp_buffer_map(buffer.get(), GST_MAP_READ, &rtp)) return false;
      *ssrc = gst_rtp_buffer_get_ssrc(&rtp);
      *payload_type = gst_rtp_buffer_get_payload_type(&rtp);
      gst_rtp_buffer_unmap(&rtp);
      return true;
    }
    return false;
  }
  void drain() {
    while (auto buffer = glibx::BufferRef::adopt(gst_harness_try_pull(h))) {
    }
  }
};

TEST(TiluRtpSrcStream, ReceivesTheGroupsRtpThroughItsSourcePad) {
  LogCapture log;
  RtpSender sender("239.255.8.1", 5100, 0x1111);
  Harness harness("krtp://239.255.8.1:5100");

  for (int i = 0; i < 10; i++) {
    guint32 ssrc = 0;
    guint pt = 0;
    ASSERT_TRUE(harness.pull(&ssrc, &pt)) << "buffer " << i;
    EXPECT_EQ(ssrc, 0x1111u);
    EXPECT_EQ(pt, 33u);
  }
  EXPECT_EQ(harness.error(), "");
  EXPECT_EQ(log.count(pad_name_for(0x1111)), 1);
  EXPECT_EQ(log.count("Ignore SSRC"), 0);

  auto caps = glibx::CapsRef::adopt(gst_pad_get_current_caps(harness.h->sinkpad));
  ASSERT_TRUE(caps);
  GstStructure* s = gst_caps_get_structure(caps.get(), 0);
  EXPECT_TRUE(gst_structure_has_name(s, "application/x-rtp")) << CharPtr(gst_caps_to_string(caps.get())).get();
  gint value = 0;
  EXPECT_TRUE(gst_structure_get_int(s, "payload", &value) && value == 33);
  EXPECT_TRUE(gst_structure_get_int(s, "clock-rate", &value) && value == 90000);
}

TEST(TiluRtpSrcStream, TwoSsrcsAtOnceGiveOneSourcePadFollowingTheNewest) {
  LogCapture log;
  // Both senders are running before the element starts, so both RTP sources' jitter buffers
  // add their pads at about the same moment, each from its own thread.
  RtpSender a("239.255.8.2", 5102, 0x1111);
  RtpSender b("239.255.8.2", 5102, 0x2222);
  g_usleep(1500 * 1000);
  Harness harness("krtp://239.255.8.2:5102");

  ASSERT_TRUE(log.wait_for(pad_name_for(0x1111)));
  ASSERT_TRUE(log.wait_for(pad_name_for(0x2222)));
  ASSERT_TRUE(log.wait_for("Ignore SSRC"));
  g_usleep(300 * 1000);  // the retarget follows the log line
  EXPECT_EQ(harness.h->element->numsrcpads, 1);
  EXPECT_EQ(harness.src()->num_pads, 1);

  auto target = glibx::Ref<GstPad>::adopt(gst_ghost_pad_get_target(GST_GHOST_PAD(harness.src()->ghost_pad)));
  ASSERT_TRUE(target);
  CharPtr target_name(gst_pad_get_name(target.get()));
  // Which of the two came second depends on which thread took the element's lock second.
  guint32 newest = g_str_has_prefix(target_name.get(), "recv_rtp_src_0_4369_") ? 0x1111 : 0x2222;
  EXPECT_TRUE(g_str_has_prefix(target_name.get(), "recv_rtp_src_0_4369_") ||
              g_str_has_prefix(target_name.get(), "recv_rtp_src_0_8738_"))
      << target_name.get();

  harness.drain();
  for (int i = 0; i < 20; i++) {
    guint32 ssrc = 0;
    guint pt = 0;
    ASSERT_TRUE(harness.pull(&ssrc, &pt)) << "buffer " << i << ", error: " << harness.error();
    EXPECT_EQ(ssrc, newest);
  }
  EXPECT_EQ(log.count("Ignore SSRC"), 1);
  EXPECT_EQ(harness.no_more_pads, 1);
  // The source left behind keeps sending: its data goes nowhere, and nothing stops.
  EXPECT_EQ(harness.error(), "");
}

// playbin with fakesinks counting decoded video frames.
struct Player {
  ElementRef playbin = ElementRef::wrap(gst_element_factory_make("playbin", nullptr));
  std::atomic<int> frames{0};
  std::atomic<bool> raw_video{false};

  explicit Player(const std::string& uri) {
    EXPECT_TRUE(playbin);
    GstElement* video = gst_element_factory_make("fakesink", "video");
    g_object_set(video, "signal-handoffs", TRUE, "sync", FALSE, nullptr);
    g_signal_connect(video, "handoff", G_CALLBACK(on_handoff), this);
    GstElement* audio = gst_element_factory_make("fakesink", "audio");
    g_object_set(playbin.get(), "uri", uri.c_str(), "video-sink", video, "audio-sink", audio, nullptr);
    gst_element_set_state(playbin.get(), GST_STATE_PLAYING);
  }
  ~Player() { gst_element_set_state(playbin.get(), GST_STATE_NULL); }

  static void on_handoff(GstElement*, GstBuffer*, GstPad* pad, gpointer data) {
    auto* self = static_cast<Player*>(data);
    if (auto caps = glibx::CapsRef::adopt(gst_pad_get_current_caps(pad)))
      if (gst_structure_has_name(gst_caps_get_structure(caps.get(), 0), "video/x-raw")) self->raw_video = true;
    self->frames++;
  }

  // Waits for at least n frames; fails the test on a bus error.
  bool wait_frames(int n, int timeout_ms = 20000) {
    auto bus = glibx::Ref<GstBus>::adopt(gst_element_get_bus(playbin.get()));
    gint64 deadline = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
    while (frames < n) {
      if (g_get_monotonic_time() > deadline) return false;
      auto message = glibx::MessageRef::adopt(gst_bus_timed_pop_filtered(bus.get(), 20 * GST_MSECOND, GST_MESSAGE_ERROR));
      if (message) {
        GError* error = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(message.get(), &error, &debug);
        ADD_FAILURE() << "bus error: " << error->message << " (" << (debug ? debug : "") << ")";
        g_error_free(error);
        g_free(debug);
        return false;
      }
    }
    return true;
  }
};

TEST(TiluRtpSrcStream, PlaybinDecodesAKrtpStreamAcrossAnSsrcRestart) {
  LogCapture log;
  tilutest::ChannelSender sender(rtpsrctest::rtp_channels("239.255.8.3", 5104, 1, 60));
  ASSERT_TRUE(sender.ready()) << sender.log();
  ASSERT_EQ(sender.uri(0, "krtp"), "krtp://239.255.8.3:5104");
  Player player(sender.uri(0, "krtp"));

  ASSERT_TRUE(player.wait_frames(10)) << "frames: " << player.frames;
  EXPECT_TRUE(player.raw_video);
  GstElement* source = nullptr;
  g_object_get(player.playbin.get(), "source", &source, nullptr);
  auto owned_source = ElementRef::adopt(source);
  ASSERT_TRUE(owned_source);
  EXPECT_TRUE(GST_IS_TILU_RTPSRC(source)) << G_OBJECT_TYPE_NAME(source);
  EXPECT_EQ(log.count("Configuring tilurtpsrc"), 1);
  EXPECT_EQ(log.count("Creating elements"), 1);
  EXPECT_EQ(log.count("Ignore SSRC"), 0);

  // The channel's sender restarts with a new SSRC; the receiver keeps running.
  sender.restart_ssrc();
  ASSERT_TRUE(log.wait_for("Ignore SSRC")) << "no new RTP source seen; sender log:\n" << sender.log();
  int before = player.frames;
  ASSERT_TRUE(player.wait_frames(before + 25)) << "frames stopped at " << player.frames << " after the restart";
  EXPECT_EQ(log.count("Ignore SSRC"), 1);
  EXPECT_EQ(source->numsrcpads, 1);
}

}  // namespace
