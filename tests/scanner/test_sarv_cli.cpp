// The real sarv binary's command line: exit statuses, their messages and the output directory.
#include <gtest/gtest.h>
#include <sys/stat.h>

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
       {"-o", "OUT", "224.0.0.0/3", "224.0.0.0/3", "224.0.0.0/3", "224.0.0.0/3"},
       254,
       "224.0.0.0/3 takes the number of addresses above 2147483647\n",
       false,
       true},
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
