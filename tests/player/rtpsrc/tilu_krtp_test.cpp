// The real tilu playing krtp test channels under an Xvfb of the test's own, inside the test's
// own network namespace: the element's debug lines on tilu's standard error, the main video
// moving on the screen before and after the channels restart with new SSRCs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "channel_sender.h"
#include "rtpsrc_test_support.h"
#include "test_env.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

std::string read_text(const std::string& path) {
  gchar* text = nullptr;
  g_file_get_contents(path.c_str(), &text, nullptr, nullptr);
  std::string s = text ? text : "";
  g_free(text);
  return s;
}

int occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

// The whole display as packed RGB; empty when the capture failed.
std::string screenshot() {
  tilutest::RunResult r =
      tilutest::run_capture({"import", "-silent", "-window", "root", "-depth", "8", "rgb:-"}, 20000);
  return r.out.size() == size_t(kWidth) * kHeight * 3 ? r.out : std::string();
}

// Share of the top-left quarter's pixels that changed between two shots. Entry 0 has the focus,
// so the main video lies over its tile there.
double moved_share(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return 0;
  long changed = 0, total = 0;
  for (int y = 0; y < kHeight / 2; y++)
    for (int x = 0; x < kWidth / 2; x++) {
      size_t i = (size_t(y) * kWidth + x) * 3;
      int diff = 0;
      for (int c = 0; c < 3; c++) diff += std::abs(int(guint8(a[i + c])) - int(guint8(b[i + c])));
      changed += diff > 60 ? 1 : 0;
      total++;
    }
  return double(changed) / double(total);
}

// Waits until the main video's area changes between two shots a second apart.
bool picture_moves(int timeout_ms, double* share) {
  gint64 deadline = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
  do {
    std::string before = screenshot();
    usleep(1000 * 1000);
    *share = moved_share(before, screenshot());
    if (*share > 0.002) return true;
  } while (g_get_monotonic_time() < deadline);
  return false;
}

bool wait_for_log(const std::string& path, const std::string& line, int count, int timeout_ms) {
  gint64 deadline = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
  while (occurrences(read_text(path), line) < count) {
    if (g_get_monotonic_time() > deadline) return false;
    usleep(100 * 1000);
  }
  return true;
}

TEST(TiluKrtpPlayback, KrtpEntriesPlayAndKeepMovingAcrossAnSsrcRestart) {
  tilutest::XvfbDisplay display(kWidth, kHeight);
  tilutest::TempDir dir;
  // Two channels: entry 0 plays as the main video, entry 1 only in its tile's scans.
  tilutest::ChannelSender sender(rtpsrctest::rtp_channels("239.255.10.1", 5300, 2, 90), dir.file("wall.m3u"));
  ASSERT_TRUE(sender.ready()) << sender.log();
  ASSERT_NE(read_text(dir.file("wall.m3u")).find("krtp://239.255.10.1:5300"), std::string::npos)
      << read_text(dir.file("wall.m3u"));

  setenv("GST_DEBUG", "tilurtpsrc:6", 1);
  setenv("GST_DEBUG_NO_COLOR", "1", 1);
  tilutest::ChildProcess tilu({TILU_PLAYER_BIN, "-j", "1", "-t", "15000", dir.file("wall.m3u")}, dir.file("out.txt"),
                              dir.file("err.txt"));
  unsetenv("GST_DEBUG");
  unsetenv("GST_DEBUG_NO_COLOR");
  const std::string err = dir.file("err.txt");

  // The main pipeline's element gets its stream.
  ASSERT_TRUE(wait_for_log(err, "adding a pad recv_rtp_src_0_", 1, 40000)) << read_text(err).substr(0, 4000);
  std::string log = read_text(err);
  EXPECT_GE(occurrences(log, "Configuring tilurtpsrc"), 1);
  EXPECT_GE(occurrences(log, "Creating elements"), 1);
  EXPECT_EQ(occurrences(log, "Start failed"), 0);
  EXPECT_EQ(occurrences(log, "Ignore SSRC"), 0);

  double share = 0;
  EXPECT_TRUE(picture_moves(20000, &share)) << "the main video stands still (" << share << ")";

  sender.restart_ssrc();
  ASSERT_TRUE(wait_for_log(err, "Ignore SSRC", 1, 20000)) << read_text(err).substr(0, 4000);
  usleep(1500 * 1000);
  EXPECT_TRUE(picture_moves(20000, &share)) << "the main video stopped after the restart (" << share << ")";
  // The tiles' scan pipelines, each with an element of its own, received their streams too.
  EXPECT_TRUE(wait_for_log(err, "adding a pad recv_rtp_src_0_", 3, 40000));
  log = read_text(err);
  EXPECT_GE(occurrences(log, "Configuring tilurtpsrc"), 3);
  EXPECT_EQ(occurrences(log, "Start failed"), 0);
  EXPECT_TRUE(tilu.running()) << read_text(dir.file("out.txt"));
  tilu.stop();
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (!GTEST_FLAG_GET(list_tests)) tilutest::enter_private_netns();
  return RUN_ALL_TESTS();
}
