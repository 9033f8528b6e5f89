// The real tilu program on live test channels, driven from outside like a user: key presses
// sent to its window with xdotool, the window resized and closed, the screen read back with
// screenshots and the debug log read from its standard output. Everything runs in the test's
// own network namespace and on its own Xvfb display.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "channel_sender.h"
#include "screenshot.h"
#include "test_env.h"
// Last: Xlib's macros (None, Bool, Status) would break the headers above.
#include "x11_helpers.h"

namespace {

constexpr int kEntries = 9;  // three rows of three (N = 3); the entries share three channels
constexpr int kChannels = 3;

using tilutest::CellView;
using tilutest::Screenshot;

// The player with its window, log and exit status.
class Tilu {
 public:
  Tilu(const std::string& playlist, const tilutest::TempDir& dir)
      : out_(dir.file("tilu.out")), err_(dir.file("tilu.err")) {
    // Debug lines go to standard output; the environment is inherited by the child.
    setenv("G_MESSAGES_DEBUG", "all", 1);
    // -o: no captions over the pictures; -j 0: no scans, so the only picture is the main video.
    process_ = tilutest::ChildProcess({TILU_PLAYER_BIN, "-o", "-j", "0", "-a", "100", playlist}, out_,
                                      err_);
    unsetenv("G_MESSAGES_DEBUG");
    tilutest::wait_until(
        [&] {
          window_ = first_line(tilutest::run_capture({"xdotool", "search", "--name", "^Tiluplay 0.8$"}, 5000).out);
          return !window_.empty() || !process_.running();
        },
        30000);
  }

  const std::string& window() const { return window_; }
  pid_t pid() const { return process_.pid(); }
  std::string log() const { return tilutest::read_text_file(out_); }
  std::string log_tail() const {
    const std::string text = log();
    return text.size() > 4000 ? text.substr(text.size() - 4000) : text;
  }
  // The end of standard error, where the sanitizers and GLib's warnings go.
  std::string errors() const {
    const std::string text = tilutest::read_text_file(err_);
    return text.size() > 6000 ? text.substr(text.size() - 6000) : text;
  }
  bool running() const { return process_.running(); }
  int wait(int timeout_ms) { return process_.wait(timeout_ms); }

  // Through XTEST into the focused window, as a keyboard types (a key sent to the window with
  // XSendEvent is ignored by the toolkit).
  void key(const std::string& name) {
    ASSERT_EQ(tilutest::run_command("xdotool windowfocus " + window_ + " key " + name), 0) << name;
  }
  // Resizes the window and waits for the view line of the new size. Asked again a few times: a
  // resize that reaches the window before the toolkit has mapped it is undone by the map.
  bool resize(int w, int h, const std::string& view_line) {
    const int before = occurrences(view_line);
    for (int attempt = 0; attempt < 4; ++attempt) {
      if (tilutest::run_command("xdotool windowsize " + window_ + " " + std::to_string(w) + " " +
                                std::to_string(h)) != 0) {
        return false;
      }
      if (log_has(view_line, before + 1, 5000)) return true;
    }
    return false;
  }

  // Waits until the log holds line `count` times or more.
  bool log_has(const std::string& line, int count = 1, int timeout_ms = 10000) const {
    return tilutest::wait_until([&] { return occurrences(line) >= count; }, timeout_ms);
  }
  bool log_mentions(const std::string& prefix, int timeout_ms = 10000) const {
    return tilutest::wait_until([&] { return log().find(": " + prefix) != std::string::npos; }, timeout_ms);
  }
  int occurrences(const std::string& line) const {
    const std::string text = "\n" + log();
    int n = 0;
    for (size_t at = text.find(": " + line + "\n"); at != std::string::npos; at = text.find(": " + line + "\n", at + 1)) {
      n++;
    }
    return n;
  }

 private:
  static std::string first_line(const std::string& s) { return s.substr(0, s.find('\n')); }

  std::string out_;
  std::string err_;
  tilutest::ChildProcess process_;
  std::string window_;
};

class TiluE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    tilutest::ChannelOptions options;
    options.count = kChannels;
    options.width = 320;
    options.height = 180;
    options.fps = 15;
    options.keyint = 8;  // a new main video shows within a second
    options.bitrate_kbps = 300;
    options.duration_s = 120;
    sender_ = std::make_unique<tilutest::ChannelSender>(options);
    ASSERT_TRUE(sender_->ready()) << sender_->log();

    playlist_ = dir_.file("wall.m3u");
    std::ofstream m3u(playlist_);
    m3u << "#EXTM3U\n";
    for (int i = 0; i < kEntries; ++i) {
      m3u << "#EXTINF:-1,Entry " << i << "\n" << sender_->uri(i % kChannels) << "\n";
    }
  }

  // Waits until the screen shows the focus frame around cell (column, row) and the main video in
  // it, and no picture in the cell `away` (when given).
  ::testing::AssertionResult shows_focus(const CellView& view, int column, int row, int away_column = -1,
                                         int away_row = -1) {
    std::string last;
    const bool ok = tilutest::wait_until(
        [&] {
          Screenshot shot(dir_.file("shot.ppm"));
          if (!shot.ok()) {
            last = "no screenshot";
            return false;
          }
          const int x0 = view.left(column), y0 = view.top(row);
          const int x1 = view.left(column + 1), y1 = view.top(row + 1);
          // The yellow rim: the frame is 3 % larger than its cell, the pictures 3 % smaller.
          const bool rim = shot.at((x0 + x1) / 2, y0 + 1).yellow() && shot.at(x0 + 2, (y0 + y1) / 2).yellow();
          const double lit = inner_lit_share(shot, view, column, row);
          const double away = away_column >= 0 ? inner_lit_share(shot, view, away_column, away_row) : 0.0;
          last = "rim " + std::to_string(rim) + ", picture " + std::to_string(lit) + ", away " + std::to_string(away);
          // Some test pictures are mostly black (a ball, a clock): a few lit percent is a picture.
          return rim && lit > 0.02 && away < 0.005;
        },
        15000);
    if (ok) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "cell (" << column << ", " << row << "): " << last;
  }

  // The middle of a cell, clear of the focus frame's rim around a neighbour.
  static double inner_lit_share(const Screenshot& shot, const CellView& view, int column, int row) {
    const int mx = int(view.w * 0.1), my = int(view.h * 0.1);
    return shot.lit_share(view.left(column) + mx, view.top(row) + my, view.left(column + 1) - mx,
                          view.top(row + 1) - my);
  }

  // Nothing of the program is left: its process group is empty.
  static ::testing::AssertionResult nothing_left(pid_t pid) {
    if (kill(-pid, 0) == -1 && errno == ESRCH) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "left in tilu's process group:\n"
           << tilutest::run_capture({"ps", "-o", "pid,stat,args", "-g", std::to_string(pid)}).out;
  }

  tilutest::TempDir dir_;
  std::unique_ptr<tilutest::ChannelSender> sender_;
  std::string playlist_;
};

TEST_F(TiluE2E, KeysMoveFocusAndZoomWithTheViewFollowing) {
  Tilu tilu(playlist_, dir_);
  ASSERT_FALSE(tilu.window().empty()) << "no tilu window; its log:\n" << tilu.log();

  ASSERT_TRUE(tilu.resize(1600, 900, "new_x(0.000000) new_y(0.000000) new_width(1600.000000) new_height(900.000000)"))
      << tilu.log_tail();
  // The start-up view: all three columns, the grid at the view's corner.
  EXPECT_TRUE(tilu.log_has("ra_x(0.000000) ra_y(0.000000) ra_scale_x(1.066667) ra_scale_y(0.600000)"));
  const CellView whole{0, 0, 1600.0 / 3, 300};
  EXPECT_TRUE(shows_focus(whole, 0, 0));

  // Right: focus and main video on entry 1.
  tilu.key("Right");
  EXPECT_TRUE(tilu.log_has("on_key_press event key_symbol(65363)"));
  EXPECT_TRUE(tilu.log_has("vid_idx(1)"));
  EXPECT_TRUE(shows_focus(whole, 1, 0, 0, 0));

  // Zoom in to 2 x 2 around entry 1: columns 1-2.
  tilu.key("plus");
  EXPECT_TRUE(tilu.log_has("zoom(0.500000)"));
  EXPECT_TRUE(tilu.log_has("ra_x(-800.000000) ra_y(0.000000) ra_scale_x(1.600000) ra_scale_y(0.900000)"));
  const CellView zoom2{-800, 0, 800, 450};
  EXPECT_TRUE(shows_focus(zoom2, 1, 0));

  // Right twice: entry 2 is inside the view; entry 3 wraps to the next row and the view goes
  // back against the left edge.
  tilu.key("Right");
  EXPECT_TRUE(tilu.log_has("vid_idx(2)"));
  tilu.key("Right");
  EXPECT_TRUE(tilu.log_has("vid_idx(3)"));
  EXPECT_TRUE(tilu.log_has("ra_x(0.000000) ra_y(0.000000) ra_scale_x(1.600000) ra_scale_y(0.900000)"));
  EXPECT_TRUE(shows_focus(CellView{0, 0, 800, 450}, 0, 1, 1, 0));

  // Down to entry 6 in the third row: the view scrolls one row.
  tilu.key("Down");
  EXPECT_TRUE(tilu.log_has("vid_idx(6)"));
  EXPECT_TRUE(tilu.log_has("ra_x(0.000000) ra_y(-450.000000) ra_scale_x(1.600000) ra_scale_y(0.900000)"));
  EXPECT_TRUE(shows_focus(CellView{0, -450, 800, 450}, 0, 2));

  // Zoom out again: the whole grid.
  const std::string whole_view = "ra_x(0.000000) ra_y(0.000000) ra_scale_x(1.066667) ra_scale_y(0.600000)";
  const int whole_views = tilu.occurrences(whole_view);
  tilu.key("minus");
  EXPECT_TRUE(tilu.log_has("zoom(0.333333)"));
  EXPECT_TRUE(tilu.log_has(whole_view, whole_views + 1));
  EXPECT_TRUE(shows_focus(whole, 0, 2, 1, 0));

  // Volume and mute show their values.
  tilu.key("Next");  // Page Down
  EXPECT_TRUE(tilu.log_has("volume(0.480000)"));
  EXPECT_TRUE(tilu.log_has("mute(0)"));
  tilu.key("End");
  EXPECT_TRUE(tilu.log_has("mute(1)"));

  // A taller window: the view is recomputed, with bands above and below.
  EXPECT_TRUE(
      tilu.resize(1920, 1200, "new_x(0.000000) new_y(60.000000) new_width(1920.000000) new_height(1080.000000)"));
  EXPECT_TRUE(tilu.log_has("ra_x(0.000000) ra_y(60.000000) ra_scale_x(1.280000) ra_scale_y(0.720000)"));
  EXPECT_TRUE(shows_focus(CellView{0, 60, 640, 360}, 0, 2));

  const pid_t pid = tilu.pid();
  tilu.key("Escape");
  const int status = tilu.wait(15000);
  ASSERT_NE(status, -1) << "tilu still running after Escape; Escape "
                        << (tilu.occurrences("on_key_press event key_symbol(65307)") ? "arrived" : "never arrived")
                        << "\n" << tilu.log_tail() << "\n" << tilu.errors();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status << "\n" << tilu.errors();
  EXPECT_TRUE(nothing_left(pid));
}

TEST_F(TiluE2E, ClosingTheWindowEndsWithExitZero) {
  struct Way {
    const char* name;
    bool (*close)(const std::string& window);
  };
  // Only the window manager's way: a window destroyed behind the toolkit's back (xdotool
  // windowclose) is not reported to the scene graph on its GDK backend.
  const Way ways[] = {
      {"window manager's delete", [](const std::string& w) { return tilutest::send_wm_delete(std::stoul(w)); }},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.name);
    Tilu tilu(playlist_, dir_);
    ASSERT_FALSE(tilu.window().empty()) << "no tilu window; its log:\n" << tilu.log();
    ASSERT_TRUE(tilu.log_mentions("new_x(")) << tilu.log();
    const pid_t pid = tilu.pid();
    ASSERT_TRUE(way.close(tilu.window()));
    const int status = tilu.wait(15000);
    ASSERT_NE(status, -1) << "tilu still running after its window closed";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status << "\n" << tilu.errors();
    EXPECT_TRUE(nothing_left(pid));
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  tilutest::enter_private_netns();  // the channels are sent and joined here only
  tilutest::XvfbDisplay display(1920, 1200);
  return RUN_ALL_TESTS();
}
