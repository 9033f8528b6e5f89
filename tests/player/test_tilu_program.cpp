// The real tilu binary as a user runs it: its texts, its failures and exit codes, and its window
// under an Xvfb of the test's own, closed the way a window manager closes it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "test_env.h"

// After gtest: Xlib defines None, which gtest uses as a name.
#include <X11/Xlib.h>

namespace {

const char* const kVersionLine = "Tiluplay 0.8";

struct Screen {
  int width = 800, height = 600;
} screen;

// Runs tilu with args in the working directory cwd (the test's own, when empty).
tilutest::RunResult run_tilu(const std::vector<std::string>& args, const std::string& cwd = "",
                             int timeout_ms = 30000) {
  std::vector<std::string> argv;
  if (!cwd.empty()) argv = {"env", "-C", cwd};
  argv.push_back(TILU_PLAYER_BIN);
  argv.insert(argv.end(), args.begin(), args.end());
  return tilutest::run_capture(argv, timeout_ms);
}

void write_file(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr) << path;
  std::fputs(text.c_str(), f);
  std::fclose(f);
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

TEST(ProgramTexts, VersionAndKeyHelp) {
  const std::string keys =
      "Left/Right/Up/Down : Move focus left/right/up/down\n"
      "+/-                : Zoom in/out\n"
      "Enter              : Zoom in fully\n"
      "F11                : Fullscreen/Unfullscreen\n"
      "PgUp/PgDn          : Volume up/down\n"
      "Home               : Change audio\n"
      "End                : Mute/Unmute\n"
      "Insert             : Change text mode(none/main_only/main_debug)\n";
  tilutest::RunResult r = run_tilu({"--help-keys"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, keys);

  for (const auto& args : {std::vector<std::string>{"--version"}, {"--version", "--help-keys"},
                           {"--help-keys", "--version", "whatever.m3u"}}) {
    r = run_tilu(args);
    EXPECT_EQ(r.exit_code, 0) << args.size() << r.err;
    std::vector<std::string> lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_EQ(lines[0], kVersionLine);
    EXPECT_EQ(r.out.back(), '\n');
  }
}

TEST(ProgramTexts, HelpListsTheOptions) {
  struct Option {
    std::string short_name, long_name, argument, description;
    bool operator==(const Option&) const = default;
  };
  const std::vector<Option> expected = {
      {"p", "proxy-uri", "uri", "Proxy server uri"},
      {"a", "ani-duration", "ms", "Animation duration in milliseconds"},
      {"n", "num-vid-per-row", "videos", "Number of videos per row"},
      {"j", "scan-num-jobs", "jobs", "Number of scanning jobs"},
      {"t", "scan-timeout", "ms", "Scan timeout in milliseconds"},
      {"i", "text-info-timeout", "ms", "Text info timeout in milliseconds"},
      {"w", "scan-width", "width", "Scan video horizontal resolution"},
      {"h", "scan-height", "height", "Scan video vertical resolution"},
      {"v", "volume", "volume", "Volume from 0.0(0%) to 1.0(100%)"},
      {"m", "mute", "", "Mute"},
      {"o", "no-text", "", "Do not show text"},
      {"d", "show-debug", "", "Show debug text"},
      {"", "version", "", "Show version information"},
      {"", "help-keys", "", "Help for shortcut keys"},
      {"", "alarms", "", "Mark tiles whose stream is gone, frozen or black, and print each change"},
      {"", "alarm-log", "FILE", "Append each change of a tile's state to FILE as a JSON line (implies --alarms)"},
  };
  tilutest::RunResult r = run_tilu({"--help"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("tilu [OPTION…] [videos m3u/csv file]"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("--help-gst"), std::string::npos) << "the media framework's options";
  EXPECT_NE(r.out.find("--help-clutter"), std::string::npos) << "the scene graph's options";

  const std::regex line(R"(^  (?:-(\S), )?--([a-z-]+)(?:=(\S+))?\s+(.+)$)");
  std::vector<Option> found;
  bool in_section = false;
  for (const std::string& l : lines_of(r.out)) {
    if (l == "Application Options:") {
      in_section = true;
      continue;
    }
    if (!in_section || l.empty()) continue;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(l, m, line)) << l;
    found.push_back({m[1], m[2], m[3], m[4]});
  }
  ASSERT_EQ(found.size(), expected.size()) << r.out;
  for (size_t i = 0; i < expected.size(); i++) {
    EXPECT_EQ(found[i].short_name, expected[i].short_name) << expected[i].long_name;
    EXPECT_EQ(found[i].long_name, expected[i].long_name);
    EXPECT_EQ(found[i].argument, expected[i].argument) << expected[i].long_name;
    EXPECT_EQ(found[i].description, expected[i].description) << expected[i].long_name;
  }
}

struct FailureCase {
  std::vector<std::string> args;
  std::string expected;  // whole standard output, or its beginning when it ends in "…"
};

// Each case runs where a valid playlist "list.m3u" and an empty "empty.m3u" lie: a value that
// slipped through would open the window and the run would not end.
TEST(ProgramFailures, MessagesAndExitCodes) {
  const std::vector<FailureCase> cases = {
      {{"--bogus", "list.m3u"}, "Failed to initialize: Unknown option --bogus\n"},
      {{"-j", "abc", "list.m3u"}, "Failed to initialize: …"},
      {{"--volume=loud", "list.m3u"}, "Failed to initialize: …"},
      {{"--num-vid-per-row"}, "Failed to initialize: …"},
      {{"-j", "-1", "list.m3u"}, "Failed to initialize: invalid value for --scan-num-jobs: -1 (must be 0 or more)\n"},
      {{"-n", "-2", "list.m3u"},
       "Failed to initialize: invalid value for --num-vid-per-row: -2 (must be from 0 to 10000)\n"},
      {{"--scan-width=0", "list.m3u"}, "Failed to initialize: invalid value for --scan-width: …"},
      {{"-h", "-270", "list.m3u"}, "Failed to initialize: invalid value for --scan-height: …"},
      {{"-t", "0", "list.m3u"}, "Failed to initialize: invalid value for --scan-timeout: …"},
      {{"-a", "-300", "list.m3u"}, "Failed to initialize: invalid value for --ani-duration: …"},
      {{"-i", "-1", "list.m3u"}, "Failed to initialize: invalid value for --text-info-timeout: …"},
      {{"-v", "1.5", "list.m3u"}, "Failed to initialize: invalid value for --volume: 1.5 (must be from 0.0 to 1.0)\n"},
      {{"nothere.m3u"}, "Failed to open nothere.m3u\n"},
      {{"empty.m3u"}, "Failed to open empty.m3u\n"},
      {{"/nonexistent/dir/list.csv"}, "Failed to open /nonexistent/dir/list.csv\n"},
      {{"--alarm-log=/nonexistent/dir/alarms.jsonl", "list.m3u"},
       "Failed to initialize: cannot open alarm log /nonexistent/dir/alarms.jsonl: No such file or directory\n"},
      // Not regular files: a FIFO without a writer blocked the program, /dev/zero spun for ever.
      {{"fifo.m3u"}, "Failed to open fifo.m3u\n"},
      {{"zero.m3u"}, "Failed to open zero.m3u\n"},
      {{"/dev/zero"}, "Failed to open /dev/zero\n"},
      {{"."}, "Failed to open .\n"},
  };
  tilutest::TempDir dir;
  write_file(dir.file("list.m3u"), "#EXTINF:-1,News\nudp://239.255.42.1:5000\n");
  write_file(dir.file("empty.m3u"), "#EXTM3U\n# nothing yet\n");
  ASSERT_EQ(mkfifo(dir.file("fifo.m3u").c_str(), 0600), 0);
  ASSERT_EQ(symlink("/dev/zero", dir.file("zero.m3u").c_str()), 0);
  for (const FailureCase& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    tilutest::RunResult r = run_tilu(c.args, dir.path(), 20000);
    EXPECT_EQ(r.exit_code, 255) << joined << r.err;
    const std::string ellipsis = "…";
    if (c.expected.ends_with(ellipsis)) {
      std::string prefix = c.expected.substr(0, c.expected.size() - ellipsis.size());
      EXPECT_TRUE(r.out.starts_with(prefix)) << joined << ": " << r.out;
      EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << joined << ": " << r.out;
    } else {
      EXPECT_EQ(r.out, c.expected) << joined;
    }
  }
}

TEST(ProgramFailures, NoPlaylistAtAll) {
  tilutest::TempDir dir;
  tilutest::RunResult r = run_tilu({}, dir.path(), 20000);
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(r.out, "Failed to open tilu.m3u\n");
}

// ---- the window ----

std::vector<Window> find_windows() {
  tilutest::RunResult r = tilutest::run_capture({"xdotool", "search", "--name", "^Tiluplay 0\\.8$"}, 10000);
  std::vector<Window> windows;
  for (const std::string& l : lines_of(r.out))
    if (!l.empty()) windows.push_back(Window(std::stoul(l)));
  return windows;
}

std::vector<Window> wait_for_windows(tilutest::ChildProcess* tilu, int timeout_ms) {
  for (int waited = 0; waited < timeout_ms && tilu->running(); waited += 100) {
    std::vector<Window> windows = find_windows();
    if (!windows.empty()) return windows;
    usleep(100000);
  }
  return {};
}

// What a window manager sends when the user clicks the close button.
void request_close(Window window) {
  Display* x = XOpenDisplay(nullptr);
  ASSERT_NE(x, nullptr);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = long(XInternAtom(x, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(x, window, False, NoEventMask, &event);
  XFlush(x);
  XCloseDisplay(x);
}

struct Pixels {
  long yellow = 0, white = 0;
};

// Counts the focus frame's yellow and the captions' white on the screen.
Pixels screenshot_colours() {
  tilutest::RunResult r =
      tilutest::run_capture({"import", "-silent", "-window", "root", "-depth", "8", "rgb:-"}, 20000);
  Pixels p;
  if (r.out.size() != size_t(screen.width) * screen.height * 3) return p;
  for (size_t i = 0; i + 2 < r.out.size(); i += 3) {
    auto red = guint8(r.out[i]), green = guint8(r.out[i + 1]), blue = guint8(r.out[i + 2]);
    if (red > 230 && green > 230 && blue < 40) p.yellow++;
    if (red > 230 && green > 230 && blue > 230) p.white++;
  }
  return p;
}

int exit_status(int wait_status) {
  return wait_status >= 0 && WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
}

class WindowTest : public testing::Test {
 protected:
  void start(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"env", "-C", dir_.path(), TILU_PLAYER_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    tilu_ = tilutest::ChildProcess(argv, dir_.file("out.txt"), dir_.file("err.txt"));
  }
  std::string output(const char* name) {
    gchar* text = nullptr;
    g_file_get_contents(dir_.file(name).c_str(), &text, nullptr, nullptr);
    std::string s = text ? text : "";
    g_free(text);
    return s;
  }
  // Exactly one window, titled as the player names it.
  Window the_window() {
    std::vector<Window> windows = wait_for_windows(&tilu_, 30000);
    EXPECT_EQ(windows.size(), 1u) << output("out.txt") << output("err.txt");
    return windows.empty() ? 0 : windows[0];
  }
  void expect_clean_exit() {
    int status = tilu_.wait(20000);
    EXPECT_EQ(exit_status(status), 0) << "wait status " << status << "\n" << output("err.txt");
    EXPECT_EQ(output("out.txt").find("Failed"), std::string::npos) << output("out.txt");
    EXPECT_TRUE(find_windows().empty());
  }

  tilutest::TempDir dir_;
  tilutest::ChildProcess tilu_;
};

TEST_F(WindowTest, ShowsTheCaptionedGridAndClosesWithTheWindow) {
  write_file(dir_.file("wall.m3u"),
             "#EXTM3U\n#EXTINF:-1,News\nudp://239.255.42.1:5000\n#EXTINF:-1,Sport\nudp://239.255.42.2:5000\n"
             "#EXTINF:-1,Music\nudp://239.255.42.3:5000\n#EXTINF:-1,Weather\nudp://239.255.42.4:5000\n");
  start({"wall.m3u"});
  Window window = the_window();
  ASSERT_NE(window, 0u);
  // The focus frame shows through the transparent first tile, the captions are white.
  Pixels pixels;
  for (int tries = 0; tries < 50 && (pixels.yellow < 5000 || pixels.white < 200); tries++) {
    usleep(200000);
    pixels = screenshot_colours();
  }
  EXPECT_GE(pixels.yellow, 5000);
  EXPECT_GE(pixels.white, 200);
  request_close(window);
  expect_clean_exit();
}

TEST_F(WindowTest, FallsBackToTiluCsvForAMissingPlaylist) {
  write_file(dir_.file("tilu.csv"), "-1,News,udp://239.255.42.1:5000\n-1,Sport,udp://239.255.42.2:5000\n");
  start({"missing.m3u"});
  Window window = the_window();
  ASSERT_NE(window, 0u);
  request_close(window);
  expect_clean_exit();
}

TEST_F(WindowTest, EscapeEndsTheProgram) {
  write_file(dir_.file("tilu.m3u"), "#EXTINF:-1,News\nudp://239.255.42.1:5000\n");
  start({});
  Window window = the_window();
  ASSERT_NE(window, 0u);
  // Without a window manager the focus is set by hand; a key that came before the stage took it
  // is pressed again, as a person would.
  std::string id = std::to_string(window);
  for (int press = 0; press < 10 && tilu_.running(); press++) {
    tilutest::run_capture({"xdotool", "windowfocus", id}, 10000);
    tilutest::run_capture({"xdotool", "key", "Escape"}, 10000);
    for (int waited = 0; waited < 2000 && tilu_.running(); waited += 100) usleep(100000);
  }
  expect_clean_exit();
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // The player joins the playlist's groups: never on the host's network.
  tilutest::enter_private_netns();
  tilutest::XvfbDisplay xvfb(screen.width, screen.height);
  return RUN_ALL_TESTS();
}
