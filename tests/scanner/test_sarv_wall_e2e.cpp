// Scan to wall, as a user does it: sarv scans live channels over an Ethernet link, sarv-playlist
// turns its output directory into a playlist, and tilu shows every channel found, each in its
// own tile of the screen. Runs in the test's own network namespaces, on its own Xvfb display.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sarv_test_net.h"
#include "screenshot.h"
#include "test_env.h"

namespace {

// Channels of tools/tilu-channels sent from the far end of the link: three over UDP on
// consecutive groups whose text order differs from their numeric order (239.1.4.10 sorts
// before 239.1.4.9 as text), and one in RTP. Each on a port of its own: the player's UDP
// sources share the datagrams of all groups sent to one port.
class ScanToWall : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(link_.ok());
    ASSERT_NO_FATAL_FAILURE(start(udp_, "udp", "239.1.4.9", 5000, 3));
    ASSERT_NO_FATAL_FAILURE(start(rtp_, "rtp", "239.1.4.12", 5006, 1));
  }

  void start(tilutest::ChildProcess& sender, const std::string& format, const std::string& group,
             int port, int count) {
    const std::string out = dir_.file(format + ".out"), log = dir_.file(format + ".log");
    sender = tilutest::ChildProcess(
        {"ip", "netns", "exec", link_.sender_netns(), TILU_TOOLS_DIR "/tilu-channels",
         "--format", format, "--count", std::to_string(count), "--group", group, "--port",
         std::to_string(port), "--port-step", "2", "--light", "--no-audio", "--size", "320x180",
         "--fps", "15", "--keyint", "15", "--bitrate", "300", "--duration", "240"},
        out, log);
    ASSERT_TRUE(tilutest::wait_until(
        [&] {
          return tilutest::read_text_file(out).find("ready\n") != std::string::npos ||
                 !sender.running();
        },
        60000));
    ASSERT_TRUE(sender.running()) << tilutest::read_text_file(log);
  }

  sarvtest::VethLink link_;
  tilutest::TempDir dir_;
  tilutest::ChildProcess udp_, rtp_;
};

TEST_F(ScanToWall, EveryChannelFoundShowsOnTheWall) {
  const int vb = sarvtest::device_index("vb");
  ASSERT_GE(vb, 0);
  const std::string out = dir_.file("sarv_out");
  // One worker per address; each address ends as soon as its snapshot is written, so the
  // generous time limit costs nothing unless the machine is very slow.
  tilutest::RunResult scan = tilutest::run_capture(
      {TILU_SARV_BIN, "-q", "-i", std::to_string(vb), "-j", "4", "-t", "30000", "-s", "0", "-o",
       out, "239.1.4.9", "239.1.4.10", "239.1.4.11", "239.1.4.12"},
      120000);
  ASSERT_EQ(scan.exit_code, 0) << scan.out << scan.err;
  ASSERT_EQ(sarvtest::list_dir(out),
            (std::vector<std::string>{"239.1.4.10-5002.png", "239.1.4.11-5004.png",
                                      "239.1.4.12-5006.png", "239.1.4.12-5006.rtp",
                                      "239.1.4.9-5000.png"}));

  const std::string m3u = dir_.file("wall.m3u");
  tilutest::RunResult convert = tilutest::run_capture({SARV_PLAYLIST_BIN, "-o", m3u, out});
  ASSERT_EQ(convert.exit_code, 0) << convert.err;
  EXPECT_EQ(convert.err, "");
  EXPECT_EQ(tilutest::read_text_file(m3u),
            "#EXTM3U\n"
            "#EXTINF:-1,239.1.4.9:5000\nudp://@239.1.4.9:5000\n"
            "#EXTINF:-1,239.1.4.10:5002\nudp://@239.1.4.10:5002\n"
            "#EXTINF:-1,239.1.4.11:5004\nudp://@239.1.4.11:5004\n"
            "#EXTINF:-1,239.1.4.12:5006\nrtp://@239.1.4.12:5006\n");

  // Four entries make a grid of two by two; the window's default 800 x 600 shows it in the
  // 16:9 band 800 x 450 from y = 75, cells of 400 x 225. -j 4: every tile keeps its own scan.
  tilutest::XvfbDisplay display(800, 600);
  tilutest::ChildProcess tilu({TILU_PLAYER_BIN, "-o", "-j", "4", "-a", "0", m3u},
                              dir_.file("tilu.out"), dir_.file("tilu.err"));
  const tilutest::CellView view{0, 75, 400, 225};
  struct Cell {
    int column, row;
  } cells[] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
  std::string last;
  bool shown = tilutest::wait_until(
      [&] {
        tilutest::Screenshot shot(dir_.file("shot.ppm"));
        if (!shot.ok()) {
          last = "no screenshot";
          return false;
        }
        bool all = true;
        last.clear();
        for (const Cell& c : cells) {
          // The middle of the cell, clear of the focus frame's rim.
          const int mx = int(view.w * 0.1), my = int(view.h * 0.1);
          double lit = shot.lit_share(view.left(c.column) + mx, view.top(c.row) + my,
                                      view.left(c.column + 1) - mx, view.top(c.row + 1) - my);
          last += "cell (" + std::to_string(c.column) + ", " + std::to_string(c.row) +
                  "): " + std::to_string(lit) + "\n";
          // Some test pictures are mostly black (a ball): a few lit percent is a picture.
          all = all && lit > 0.02;
        }
        return all || !tilu.running();
      },
      90000, 200);
  ASSERT_TRUE(tilu.running()) << tilutest::read_text_file(dir_.file("tilu.err"));
  EXPECT_TRUE(shown) << last << tilutest::read_text_file(dir_.file("tilu.err"));
}

}  // namespace

int main(int argc, char** argv) {
  tilutest::enter_private_netns();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
