// MPEG-TS in RTP given to a udp:// snapshot: recognised on its first datagram, depayloaded,
// saved every time, and marked beside the picture. Senders run in a private network namespace.
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "channel_sender.h"
#include "sarv_gst.h"
#include "sarv_rtp.h"
#include "sarv_test_net.h"
#include "test_env.h"

namespace {

constexpr gint64 kSnapshotWaitUs = 30 * G_USEC_PER_SEC;
constexpr int kScansInARow = 20;

TEST(SarvRtpRecognition, FirstDatagramTable) {
  // Headers of 12 bytes followed by a byte of payload.
  struct Case {
    const char* what;
    std::vector<guint8> bytes;
    bool mp2t;
  } cases[] = {
      {"RTP v2, MP2T", {0x80, 33, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0x47}, true},
      {"RTP v2, MP2T, marker bit", {0x80, 0x80 | 33, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0x47}, true},
      {"RTP v2, MP2T, padding and CSRC count", {0xa1, 33, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0x47}, true},
      {"RTP v2, dynamic payload type", {0x80, 96, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0x47}, false},
      {"RTP v2, MPV (32)", {0x80, 32, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0x47}, false},
      {"RTP v1 with PT 33", {0x40, 33, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0x47}, false},
      {"RTCP sender report", {0x80, 200, 0, 6, 0, 0, 0, 1, 0, 0, 0, 0, 0}, false},
      {"plain MPEG-TS", {0x47, 0x40, 0x00, 0x10, 0, 0, 0xb0, 0x0d, 0, 1, 0xc1, 0, 0}, false},
      {"header alone", {0x80, 33, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}, false},
      {"empty", {}, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(sarv_rtp_is_mp2t(c.bytes.data(), c.bytes.size()), c.mp2t) << c.what;
}

// One snapshot of uri into dir as the scanner names it; true when the picture is a whole PNG.
bool snapshot(const std::string& uri, const std::string& location, SarvTransport* seen) {
  SarvGst* gst = sarv_gst_open(uri.c_str(), location.c_str());
  bool finished = false;
  gint64 end = g_get_monotonic_time() + kSnapshotWaitUs;
  while (!finished && g_get_monotonic_time() < end) {
    finished = sarv_gst_is_finished(gst);
    if (!finished) g_usleep(20000);
  }
  *seen = gst->transport.load();
  sarv_gst_close(gst);
  return finished && sarvtest::read_png(location).valid;
}

// Every scan of the stream saves its picture and leaves the RTP marker beside it, and nothing
// else, in a row: a scan that lost the stream to a wrong type guess would write nothing.
void expect_saved_in_a_row(const std::string& group, int port) {
  std::string stem = group + "-" + std::to_string(port);
  std::string uri = "udp://" + group + ":" + std::to_string(port);
  int saved = 0;
  for (int i = 0; i < kScansInARow; i++) {
    SCOPED_TRACE("scan " + std::to_string(i + 1));
    tilutest::TempDir dir;
    SarvTransport seen = SarvTransport::unknown;
    bool ok = snapshot(uri, dir.file(stem + ".png"), &seen);
    EXPECT_TRUE(ok);
    EXPECT_EQ(seen, SarvTransport::rtp);
    EXPECT_EQ(sarvtest::list_dir(dir.path()),
              (std::vector<std::string>{stem + ".png", stem + ".rtp"}));
    saved += ok;
  }
  EXPECT_EQ(saved, kScansInARow);
}

TEST(SarvRtpSnapshots, FromTheTestSender) {
  tilutest::ChannelOptions options;
  options.format = "rtp";
  options.group = "239.255.8.1";
  options.width = 320;
  options.height = 180;
  options.bitrate_kbps = 400;
  tilutest::ChannelSender sender(options);
  ASSERT_TRUE(sender.ready());
  expect_saved_in_a_row(sender.group(0), sender.port(0));
}

// FFmpeg's RTP muxer with low-rate mono AAC: short ADTS frames are what type detection most
// often took for the whole stream before the RTP header was taken off.
TEST(SarvRtpSnapshots, FromFfmpeg) {
  tilutest::ChildProcess ffmpeg(
      {"ffmpeg", "-nostdin", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
       "testsrc=size=320x240:rate=25", "-f", "lavfi", "-i", "sine=frequency=440", "-t", "240",
       "-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-g", "25", "-pix_fmt",
       "yuv420p", "-c:a", "aac", "-b:a", "24k", "-ac", "1", "-f", "rtp_mpegts",
       "rtp://239.255.8.2:5004?ttl=1"});
  ASSERT_TRUE(ffmpeg.running());
  expect_saved_in_a_row("239.255.8.2", 5004);
  EXPECT_TRUE(ffmpeg.running()) << "the sender ended before the scans did";
}

// Plain MPEG-TS over UDP leaves no marker and removes one left by an earlier scan; a stream
// that never delivers a picture leaves neither picture nor marker.
TEST(SarvRtpSnapshots, PlainUdpAndSilenceLeaveNoMarker) {
  tilutest::ChildProcess channels =
      sarvtest::start_channels({{"239.255.8.3", 5000, 320, 240, true, false}});
  tilutest::TempDir dir;
  std::string stale = dir.file("239.255.8.3-5000.rtp");
  ASSERT_TRUE(g_file_set_contents(stale.c_str(), "", 0, nullptr));
  SarvTransport seen = SarvTransport::unknown;
  EXPECT_TRUE(snapshot("udp://239.255.8.3:5000", dir.file("239.255.8.3-5000.png"), &seen));
  EXPECT_EQ(seen, SarvTransport::udp);
  EXPECT_EQ(sarvtest::list_dir(dir.path()), std::vector<std::string>{"239.255.8.3-5000.png"});

  tilutest::TempDir quiet;
  SarvGst* gst =
      sarv_gst_open("udp://239.255.8.9:5000", quiet.file("239.255.8.9-5000.png").c_str());
  g_usleep(G_USEC_PER_SEC);
  EXPECT_FALSE(sarv_gst_is_finished(gst));
  sarv_gst_close(gst);
  EXPECT_EQ(sarvtest::list_dir(quiet.path()), std::vector<std::string>{});
}

}  // namespace

int main(int argc, char** argv) {
  tilutest::enter_private_netns();
  gst_init(&argc, &argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
