// The real sarv binary's command line: exit statuses, their messages and the output directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "test_env.h"

namespace {

using tilutest::run_capture;

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

mode_t current_umask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

class SarvCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tilutest::RunResult r = run_capture({TILU_SARV_BIN, "-l"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    listing_ = r.out;
    devices_ = int(lines(r.out).size());
    ASSERT_GT(devices_, 0) << "no capture device in the test namespace";
  }

  std::string out_dir() const { return tmp_.file("out"); }
  // The loopback device's index in the listing: an Ethernet capture in the namespace.
  static std::string lo_index() {
    std::vector<std::string> l = lines(listing_);
    for (size_t i = 0; i < l.size(); i++)
      if (l[i].find(" dev_name(lo) ") != std::string::npos) return std::to_string(i);
    return "0";
  }

  tilutest::TempDir tmp_;
  static inline std::string listing_;
  static inline int devices_ = 0;
};

TEST_F(SarvCli, ListsDevicesInTableOrder) {
  std::regex line(R"(dev_idx\((\d+)\) dev_name\(([^()]+)\) dev_desc\((.*)\))");
  int i = 0;
  bool lo_seen = false;
  for (const std::string& l : lines(listing_)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(l, m, line)) << l;
    EXPECT_EQ(std::stoi(m[1]), i++);
    // Loopback has no description here; it is listed with empty parentheses.
    if (m[2] == "lo") {
      lo_seen = true;
      EXPECT_EQ(m[3], "");
    }
  }
  EXPECT_TRUE(lo_seen);
}

struct Row {
  std::string name;
  std::vector<std::string> args;  // after the program name; OUT stands for the output directory
  int status;                     // as the shell sees it (-2 is 254)
  std::string out;                // expected standard output, or its start when prefix
  bool prefix;
  bool dir_created;
};

const char kHelpStart[] = "Usage:\n  sarv [OPTION";

TEST_F(SarvCli, ExitStatusTable) {
  std::string n = std::to_string(devices_);
  std::vector<Row> rows = {
      {"list with targets", {"-l", "-o", "OUT", "239.0.0.1"}, 0, listing_, false, false},
      {"no target", {"-o", "OUT"}, 254, kHelpStart, true, false},
      {"interface equal to the device count",
       {"-i", n, "-o", "OUT", "239.0.0.1"},
       254,
       kHelpStart,
       true,
       false},
      {"negative interface",
       {"-i", "-1", "-o", "OUT", "239.0.0.1"},
       254,
       "dev_idx(-1) is not a device index, see -l\nUsage:",
       true,
       false},
      {"unknown option",
       {"--bogus", "-o", "OUT", "239.0.0.1"},
       254,
       "option parsing failed: Unknown option --bogus\n",
       false,
       false},
      {"jobs not a number",
       {"-j", "many", "-o", "OUT", "239.0.0.1"},
       254,
       "option parsing failed: ",
       true,
       false},
      {"jobs zero",
       {"-j", "0", "-o", "OUT", "239.0.0.1"},
       254,
       "jobs(0) must be 1 or more\n",
       false,
       false},
      {"jobs negative",
       {"-j", "-3", "-o", "OUT", "239.0.0.1"},
       254,
       "jobs(-3) must be 1 or more\n",
       false,
       false},
      {"sleep negative",
       {"-s", "-1", "-o", "OUT", "239.0.0.1"},
       254,
       "sleep(-1) must be from 0 to 4294967 ms\n",
       false,
       false},
      {"sleep past 2^32 microseconds",
       {"-s", "4294968", "-o", "OUT", "239.0.0.1"},
       254,
       "sleep(4294968) must be from 0 to 4294967 ms\n",
       false,
       false},
      // The largest sleep that fits is accepted (the run then stops at the target).
      {"largest sleep",
       {"-s", "4294967", "-o", "OUT", "10.0.0.1"},
       251,
       "10.0.0.1 is not multicast ip address\n",
       false,
       true},
      {"bits beyond the prefix",
       {"-o", "OUT", "239.0.0.1/30"},
       253,
       "239.0.0.1/30 parsing failed: ",
       true,
       true},
      {"hash in the target",
       {"-o", "OUT", "239.0.0.1#2"},
       253,
       "239.0.0.1#2 parsing failed: ",
       true,
       true},
      {"ipv6 multicast",
       {"-o", "OUT", "ff02::1"},
       252,
       "ff02::1 is not ipv4 ip address\n",
       false,
       true},
      {"not multicast",
       {"-o", "OUT", "10.0.0.1"},
       251,
       "10.0.0.1 is not multicast ip address\n",
       false,
       true},
      {"good then not multicast",
       {"-o", "OUT", "239.0.0.1", "10.0.0.1"},
       251,
       "10.0.0.1 is not multicast ip address\n",
       false,
       true},
      {"more than 2^31 - 1 addresses",
       {"-o", "OUT", "224.0.0.0/4", "224.0.0.0/4", "224.0.0.0/4", "224.0.0.0/4", "224.0.0.0/4",
        "224.0.0.0/4", "224.0.0.0/4", "224.0.0.0/4"},
       254,
       "224.0.0.0/4 takes the number of addresses above 2147483647\n",
       false,
       true},
      // The parse error alone: no GLib warning on standard error before it.
      {"negative prefix length",
       {"-o", "OUT", "239.0.0.0/-1"},
       253,
       "239.0.0.0/-1 parsing failed: the prefix length -1 is not a number from 0 to 32\n",
       false,
       true},
      {"net reaching outside 224.0.0.0/4",
       {"-o", "OUT", "224.0.0.0/3"},
       251,
       "224.0.0.0/3 reaches outside the multicast range 224.0.0.0/4\n",
       false,
       true},
      // An output directory that cannot take a file is refused before anything is scanned.
      {"output is a file",
       {"-o", "/etc/passwd", "239.0.0.1"},
       250,
       "output directory /etc/passwd cannot be used: Not a directory\n",
       false,
       false},
      {"output under /proc",
       {"-o", "/proc/x", "239.0.0.1"},
       250,
       "output directory /proc/x cannot be used: No such file or directory\n",
       false,
       false},
      {"output name too long",
       {"-o", std::string(300, 'x'), "239.0.0.1"},
       250,
       "output directory " + std::string(300, 'x') + " cannot be used: File name too long\n",
       false,
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    tilutest::TempDir tmp;
    std::vector<std::string> argv = {TILU_SARV_BIN};
    for (const std::string& a : row.args) argv.push_back(a == "OUT" ? tmp.file("out") : a);
    tilutest::RunResult r = run_capture(argv, 30000);
    EXPECT_EQ(r.exit_code, row.status) << r.out << r.err;
    if (row.prefix)
      EXPECT_EQ(r.out.substr(0, row.out.size()), row.out);
    else
      EXPECT_EQ(r.out, row.out);
    // The main thread reports everything on standard output.
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(exists(tmp.file("out")), row.dir_created);
    if (row.dir_created) {
      struct stat st;
      ASSERT_EQ(stat(tmp.file("out").c_str(), &st), 0);
      EXPECT_TRUE(S_ISDIR(st.st_mode));
      EXPECT_EQ(st.st_mode & 0777, 0755u & ~current_umask());
    }
  }
}

// The widest net starts at once and takes no memory per address (one record each, made up
// front, was 8 GiB and the kernel ended the program without a word).
TEST_F(SarvCli, WidestNetStartsWithoutExpandingIt) {
  tilutest::ChildProcess sarv({TILU_SARV_BIN, "-i", lo_index(), "-t", "100", "-s", "0", "-o", out_dir(),
                               "224.0.0.0/4"},
                              tmp_.file("stdout"), tmp_.file("stderr"));
  std::string out;
  for (int waited = 0; waited < 30000 && sarv.running(); waited += 100) {
    gchar* text = nullptr;
    if (g_file_get_contents(tmp_.file("stdout").c_str(), &text, nullptr, nullptr)) out = text;
    g_free(text);
    if (out.find("start scanning 224.0.0.1\n") != std::string::npos) break;
    usleep(100000);
  }
  ASSERT_NE(out.find("start scanning 224.0.0.0\n"), std::string::npos) << out;
  ASSERT_NE(out.find("start scanning 224.0.0.1\n"), std::string::npos) << out;
  std::string status;
  gchar* text = nullptr;
  ASSERT_TRUE(g_file_get_contents(("/proc/" + std::to_string(sarv.pid()) + "/status").c_str(), &text, nullptr,
                                  nullptr));
  status = text;
  g_free(text);
  size_t at = status.find("VmRSS:");
  ASSERT_NE(at, std::string::npos);
  long rss_kb = std::stol(status.substr(at + 6));
  // Loose enough for the sanitizer build; the records alone would be 8 388 608 kB.
  EXPECT_LT(rss_kb, 1024 * 1024) << status;
  sarv.stop();
}

// The usage text on a usage error is the main group's help, as --help prints it.
TEST_F(SarvCli, UsageErrorPrintsTheMainHelp) {
  tilutest::RunResult help = run_capture({TILU_SARV_BIN, "--help"});
  EXPECT_EQ(help.exit_code, 0);
  tilutest::RunResult usage = run_capture({TILU_SARV_BIN, "-o", tmp_.file("out")});
  EXPECT_EQ(usage.exit_code, 254);
  EXPECT_EQ(usage.out, help.out);
  for (const char* text :
       {"<multicast ip address or net ... [#N]>",
        "sarv scans to find free video streaming multicast ip addresses.",
        "-i, --interface=dev_idx", "Network device interface index", "-l, --list-inteface",
        "List network device interfaces", "-j, --jobs=jobs", "Number of jobs",
        "-o, --output=dirname", "Output directory name", "-s, --sleep=ms",
        "Sleep time(milliseconds) between scans", "-t, --timeout=ms",
        "Timeout time(milliseconds) in each scan", "-q, --quiet", "Print no log except for errors",
        "\nSarvscan 0.2 is Written by ", "--help-gst"})
    EXPECT_NE(usage.out.find(text), std::string::npos) << text;
  // The seven entries appear in table order.
  size_t at = 0;
  for (const char* opt : {"--interface", "--list-inteface", "--jobs", "--output", "--sleep",
                          "--timeout", "--quiet"}) {
    size_t found = usage.out.find(opt, at);
    ASSERT_NE(found, std::string::npos) << opt;
    at = found;
  }
}

}  // namespace

int main(int argc, char** argv) {
  // A private namespace gives a fixed, small device table (any, lo and pseudo-devices).
  tilutest::enter_private_netns();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
