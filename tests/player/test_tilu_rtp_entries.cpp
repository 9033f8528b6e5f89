// rtp:// playlist entries, with and without "@", play in the main video and in a tile, on RTP
// from the test sender and from FFmpeg; a sender that restarts with a new SSRC keeps playing.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "channel_sender.h"
#include "log_capture.h"
#include "scan_video_support.h"

namespace {

using tilutest::ChannelOptions;
using tilutest::ChannelSender;
using tilutest::TestPlayer;

constexpr const char* kSenderGroup = "239.255.8.1";
constexpr const char* kFfmpegGroup = "239.255.8.2";
constexpr int kPort = 5000;

gint64 last_main_frame(TiluPlayer* p) {
  return p->main_gst ? tilu_gst_get_frame_times(p->main_gst.get()).last_frame : 0;
}

// MPEG-TS in RTP as FFmpeg makes it (its own muxer and payloader, RTCP beside it), bounded.
class FfmpegSender {
 public:
  explicit FfmpegSender(const std::string& group)
      : process_({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-re", "-f", "lavfi", "-i",
                  "testsrc=size=640x360:rate=25", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000", "-t",
                  "120", "-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-g", "25", "-pix_fmt",
                  "yuv420p", "-b:v", "800k", "-c:a", "aac", "-f", "rtp_mpegts",
                  "rtp://" + group + ":" + std::to_string(kPort) + "?ttl=1&pkt_size=1316"},
                 dir_.file("ffmpeg.out"), dir_.file("ffmpeg.err")) {}

 private:
  tilutest::TempDir dir_;
  tilutest::ChildProcess process_;
};

class RtpEntryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ChannelOptions o;
    o.group = kSenderGroup;
    o.port = kPort;
    o.format = "rtp";
    o.uri_scheme = "rtp";
    o.duration_s = 200;
    sender_ = new ChannelSender(o);
    ffmpeg_ = new FfmpegSender(kFfmpegGroup);
  }
  static void TearDownTestSuite() {
    delete sender_;
    delete ffmpeg_;
    sender_ = nullptr;
    ffmpeg_ = nullptr;
  }

  static ChannelSender* sender_;
  static FfmpegSender* ffmpeg_;
};
ChannelSender* RtpEntryTest::sender_ = nullptr;
FfmpegSender* RtpEntryTest::ffmpeg_ = nullptr;

struct EntryCase {
  const char* sender;
  std::string uri;
};

// Each entry plays as the main video and in its tile (one scan job).
TEST_F(RtpEntryTest, PlaysInMainVideoAndTile) {
  ASSERT_TRUE(sender_->ready()) << sender_->log();
  const std::string port = ":" + std::to_string(kPort);
  const EntryCase cases[] = {
      {"tilu-channels", std::string("rtp://") + kSenderGroup + port},
      {"tilu-channels", std::string("rtp://@") + kSenderGroup + port},
      {"ffmpeg", std::string("rtp://") + kFfmpegGroup + port},
      {"ffmpeg", std::string("rtp://@") + kFfmpegGroup + port},
  };
  for (const EntryCase& c : cases) {
    SCOPED_TRACE(std::string(c.sender) + " " + c.uri);
    TiluOptions options;
    options.scan_num_jobs = 1;
    TestPlayer player({c.uri}, options);
    tilutest::LogCapture log;
    tilu_player_start(player.get());
    gint64 start = tilutest::now_ms();
    bool main_shown = tilutest::run_loop_until([&] { return player->main_shown != FALSE; }, 30000);
    EXPECT_TRUE(main_shown) << "no main picture";
    EXPECT_TRUE(tilutest::run_loop_until(
        [&] { return clutter_actor_get_opacity(player->tile_actors[0]) == 255; }, 30000))
        << "no tile picture";
    std::printf("[ %s %s ] pictures after %" G_GINT64_FORMAT " ms\n", c.sender, c.uri.c_str(),
                tilutest::now_ms() - start);
    EXPECT_EQ(player->main_failures, 0);
    EXPECT_EQ(log.count("main_end_of_stream(0)"), 0);
  }
}

// The sender's payloader restarts with a new SSRC: the main video goes on without a reopen.
TEST_F(RtpEntryTest, NewSsrcKeepsPlaying) {
  ASSERT_TRUE(sender_->ready()) << sender_->log();
  TiluOptions options;
  options.scan_num_jobs = 0;
  TestPlayer player({std::string("rtp://@") + kSenderGroup + ":" + std::to_string(kPort)}, options);
  tilutest::LogCapture log;
  tilu_player_start(player.get());
  ASSERT_TRUE(tilutest::run_loop_until([&] { return player->main_shown != FALSE; }, 30000));
  tilutest::run_loop_for(1000);
  TiluGst* before = player->main_gst.get();

  sender_->restart_ssrc();
  gint64 restarted = g_get_monotonic_time();
  // Pictures of the new source, not the queue's last ones: 2 s after the restart.
  EXPECT_TRUE(tilutest::run_loop_until(
      [&] { return last_main_frame(player.get()) > restarted + 2 * G_USEC_PER_SEC; }, 8000))
      << "no pictures after the new SSRC";
  EXPECT_EQ(player->main_gst.get(), before) << "reopened instead of playing on";
  EXPECT_TRUE(log.starting_with("main_stall(").empty());
}

}  // namespace

int main(int argc, char** argv) { return tilutest::scan_video_test_main(argc, argv); }
