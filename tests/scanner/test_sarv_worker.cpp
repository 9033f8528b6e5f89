// The scanner end to end over a real Ethernet link: a sender namespace joined by a veth pair to
// this test's own namespace, where sarv joins, captures on vb and saves the snapshots.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gio/gio.h>

#include "glib_ptr.h"
#include "sarv_test_net.h"
#include "test_env.h"

namespace {

using sarvtest::Channel;

struct Line {
  std::string thread;
  std::string text;
};

// Every worker line is "[%p] text"; anything else fails the test.
std::vector<Line> worker_lines(const std::string& out) {
  static const std::regex form(R"(\[(0x[0-9a-f]+)\] (.*))");
  std::vector<Line> lines;
  std::istringstream in(out);
  for (std::string l; std::getline(in, l);) {
    std::smatch m;
    if (!std::regex_match(l, m, form)) {
      ADD_FAILURE() << "not a worker line: " << l;
      continue;
    }
    lines.push_back({m[1], m[2]});
  }
  return lines;
}

std::vector<std::string> texts(const std::vector<Line>& lines) {
  std::vector<std::string> t;
  for (const Line& l : lines) t.push_back(l.text);
  return t;
}

class SarvScan : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    link_ = new sarvtest::VethLink();
    if (!link_->ok()) return;
    channels_ = new tilutest::ChildProcess(sarvtest::start_channels(
        {
            {"239.1.1.1", 5000, 320, 240, true, true},
            {"239.1.1.1", 5002, 352, 288, true, false},
            {"239.1.2.1", 5000, 176, 144, true, false},
            {"239.1.2.6", 5000, 160, 120, true, false},
            {"239.1.2.6", 5002, 192, 108, true, false},
            {"239.1.2.11", 5000, 128, 96, true, false},
        },
        link_->sender_netns()));
    vb_ = sarvtest::device_index("vb");
    any_ = sarvtest::device_index("any");
  }
  static void TearDownTestSuite() {
    delete channels_;
    channels_ = nullptr;
    delete link_;
    link_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(link_->ok()) << "veth link not set up";
    ASSERT_GE(vb_, 0) << "vb is not in sarv -l";
  }

  tilutest::RunResult sarv(std::vector<std::string> args, int timeout_ms = 90000) {
    args.insert(args.begin(), TILU_SARV_BIN);
    return tilutest::run_capture(args, timeout_ms);
  }

  void expect_png(const std::string& path, std::uint32_t w, std::uint32_t h) {
    sarvtest::PngInfo png = sarvtest::read_png(path);
    EXPECT_TRUE(png.valid) << path << ": " << png.problem;
    EXPECT_EQ(png.width, w) << path;
    EXPECT_EQ(png.height, h) << path;
  }

  tilutest::TempDir tmp_;
  static inline sarvtest::VethLink* link_ = nullptr;
  static inline tilutest::ChildProcess* channels_ = nullptr;
  static inline int vb_ = -1;
  static inline int any_ = -1;
};

TEST_F(SarvScan, TwoPortsOnOneGroupAndASilentGroup) {
  std::string dir = tmp_.file("out");
  gint64 start = g_get_monotonic_time();
  tilutest::RunResult r = sarv(
      {"-i", std::to_string(vb_), "-t", "8000", "-s", "100", "-o", dir, "239.1.1.1", "239.1.1.2"});
  double seconds = double(g_get_monotonic_time() - start) / G_USEC_PER_SEC;
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(sarvtest::list_dir(dir),
            (std::vector<std::string>{"239.1.1.1-5000.png", "239.1.1.1-5002.png"}));
  expect_png(dir + "/239.1.1.1-5000.png", 320, 240);
  expect_png(dir + "/239.1.1.1-5002.png", 352, 288);

  std::vector<Line> lines = worker_lines(r.out);
  ASSERT_EQ(lines.size(), 6u) << r.out;
  for (const Line& l : lines) EXPECT_EQ(l.thread, lines[0].thread) << "one worker, one prefix";
  std::vector<std::string> t = texts(lines);
  EXPECT_EQ(t[0], "start scanning 239.1.1.1");
  // The two ports are found in the order their datagrams happen to arrive.
  std::set<std::string> saves = {t[1], t[2]};
  EXPECT_EQ(saves, (std::set<std::string>{
                       "trying to save udp://239.1.1.1:5000 to " + dir + "/239.1.1.1-5000.png",
                       "trying to save udp://239.1.1.1:5002 to " + dir + "/239.1.1.1-5002.png"}));
  EXPECT_EQ(t[3], "finish scanning 239.1.1.1");
  EXPECT_EQ(t[4], "start scanning 239.1.1.2");
  EXPECT_EQ(t[5], "finish scanning 239.1.1.2");
  // The silent group runs to its 8 s limit; the live one ends when both snapshots are done.
  EXPECT_GE(seconds, 8.0);
  EXPECT_LT(seconds, 40.0);
}

TEST_F(SarvScan, QuietPrintsNothing) {
  std::string dir = tmp_.file("quiet");
  tilutest::RunResult r =
      sarv({"-q", "-i", std::to_string(vb_), "-t", "8000", "-s", "0", "-o", dir, "239.1.1.1"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(sarvtest::list_dir(dir),
            (std::vector<std::string>{"239.1.1.1-5000.png", "239.1.1.1-5002.png"}));
}

TEST_F(SarvScan, PercentSignInTheOutputDirectory) {
  std::string dir = tmp_.file("out%d%s");
  tilutest::RunResult r =
      sarv({"-i", std::to_string(vb_), "-t", "8000", "-s", "0", "-o", dir, "239.1.2.11"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("to " + dir + "/239.1.2.11-5000.png\n"), std::string::npos) << r.out;
  EXPECT_EQ(sarvtest::list_dir(dir), std::vector<std::string>{"239.1.2.11-5000.png"});
  expect_png(dir + "/239.1.2.11-5000.png", 128, 96);
}

// With nothing sent to the group the address ends at its limit, on a link without any traffic
// as on one busy with other groups' datagrams: the limit must not wait for a packet, nor for the
// capture to hand over a block of them.
TEST_F(SarvScan, SilentAddressEndsAtItsLimit) {
  struct Case {
    const char* device;
    const char* link;
  };
  const Case cases[] = {{"lo", "no traffic"}, {"vb", "other groups' traffic"}};
  const int limit_ms = 1200;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    int device = sarvtest::device_index(c.device);
    ASSERT_GE(device, 0);
    std::string dir = tmp_.file(std::string("silent-") + c.device);
    tilutest::RunResult r = sarv({"-i", std::to_string(device), "-t", std::to_string(limit_ms),
                                  "-s", "0", "-o", dir, "239.1.1.2"},
                                 20000);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(texts(worker_lines(r.out)),
              (std::vector<std::string>{"start scanning 239.1.1.2", "finish scanning 239.1.1.2"}));
    ASSERT_EQ(r.out_line_times.size(), 2u);
    const double took = double(r.out_line_times[1] - r.out_line_times[0]) / G_USEC_PER_SEC;
    EXPECT_GT(took, limit_ms / 1000.0 - 0.1);
    EXPECT_LT(took, limit_ms / 1000.0 + 0.2);
    EXPECT_EQ(sarvtest::list_dir(dir), std::vector<std::string>{});
  }
}

// The output directory goes away after the start-up check: the snapshot cannot be written, and
// its worker says so on standard error instead of finishing as if it had been saved.
TEST_F(SarvScan, SnapshotThatCannotBeWrittenIsReported) {
  std::string dir = tmp_.file("gone");
  std::string out_path = tmp_.file("stdout"), err_path = tmp_.file("stderr");
  // The live address needs the time to decode its first picture and try to write it: a failed
  // write ends its scan at once, so the generous limit costs only the silent address.
  tilutest::ChildProcess sarv({TILU_SARV_BIN, "-i", std::to_string(vb_), "-t", "8000", "-s", "0", "-o", dir,
                               "239.1.1.2", "239.1.2.11"},
                              out_path, err_path);
  auto read = [](const std::string& path) { return tilutest::read_text_file(path); };
  // The first, silent address keeps the worker busy while the directory is removed.
  for (int waited = 0; waited < 30000 && read(out_path).find("start scanning 239.1.1.2") == std::string::npos;
       waited += 50)
    usleep(50000);
  ASSERT_EQ(rmdir(dir.c_str()), 0) << read(out_path);
  int status = sarv.wait(90000);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::string err = read(err_path);
  EXPECT_NE(err.find("] can't save " + dir + "/239.1.2.11-5000.png: "), std::string::npos) << err;
  EXPECT_NE(read(out_path).find("finish scanning 239.1.2.11"), std::string::npos);
}

// A negative time limit ends each address at the first return of the read, before any packet
// is looked at: nothing is saved, even on a live group.
TEST_F(SarvScan, NegativeTimeoutLooksAtNoPacket) {
  std::string dir = tmp_.file("neg");
  tilutest::RunResult r =
      sarv({"-i", std::to_string(vb_), "-t", "-1", "-s", "0", "-o", dir, "239.1.1.1", "239.1.2.6"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(texts(worker_lines(r.out)),
            (std::vector<std::string>{"start scanning 239.1.1.1", "finish scanning 239.1.1.1",
                                      "start scanning 239.1.2.6", "finish scanning 239.1.2.6"}));
  EXPECT_EQ(sarvtest::list_dir(dir), std::vector<std::string>{});
}

TEST_F(SarvScan, DeviceThatIsNotEthernet) {
  ASSERT_GE(any_, 0);
  std::string dir = tmp_.file("any");
  tilutest::RunResult r = sarv(
      {"-i", std::to_string(any_), "-t", "500", "-s", "0", "-o", dir, "239.1.1.1", "239.1.1.2"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "");
  std::vector<Line> lines = worker_lines(r.err);
  ASSERT_EQ(lines.size(), 1u) << r.err;
  EXPECT_EQ(lines[0].text, "any is not ethernet");
  EXPECT_EQ(sarvtest::list_dir(dir), std::vector<std::string>{});
}

// A set-up failure ends that worker only, before any address, and the run still ends with 0:
// here port 65535 is taken by a socket that allows no reuse, so no worker can bind.
TEST_F(SarvScan, SocketThatCannotBeBound) {
  glibx::Error error;
  auto blocker = glibx::Ref<GSocket>::adopt(g_socket_new(
      G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_DATAGRAM, G_SOCKET_PROTOCOL_DEFAULT, error.out()));
  ASSERT_TRUE(blocker) << error.message();
  auto any = glibx::Ref<GInetAddress>::adopt(g_inet_address_new_any(G_SOCKET_FAMILY_IPV4));
  auto address = glibx::Ref<GSocketAddress>::adopt(g_inet_socket_address_new(any.get(), 65535));
  ASSERT_TRUE(g_socket_bind(blocker.get(), address.get(), FALSE, error.out())) << error.message();

  std::string dir = tmp_.file("nobind");
  tilutest::RunResult r = sarv({"-i", std::to_string(vb_), "-j", "2", "-t", "500", "-s", "0",
                                "-o", dir, "239.1.1.1", "239.1.1.2"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "");
  std::vector<Line> lines = worker_lines(r.err);
  ASSERT_EQ(lines.size(), 2u) << r.err;
  EXPECT_NE(lines[0].thread, lines[1].thread);
  for (const Line& l : lines) EXPECT_EQ(l.text.rfind("can't bind socket: ", 0), 0u) << l.text;
  EXPECT_EQ(sarvtest::list_dir(dir), std::vector<std::string>{});
}

// With no group membership allowed the join fails; the address is scanned all the same (its
// datagrams are still seen by the promiscuous capture) and the failed leave is reported too.
TEST_F(SarvScan, FailedJoinIsReportedAndTheAddressScanned) {
  ASSERT_TRUE(sarvtest::sh("sysctl -qw net.ipv4.igmp_max_memberships=0"));
  std::string dir = tmp_.file("nojoin");
  tilutest::RunResult r =
      sarv({"-i", std::to_string(vb_), "-t", "2000", "-s", "0", "-o", dir, "239.1.1.1"});
  sarvtest::sh("sysctl -qw net.ipv4.igmp_max_memberships=20");
  EXPECT_EQ(r.exit_code, 0);
  std::vector<std::string> err = texts(worker_lines(r.err));
  ASSERT_GE(err.size(), 1u) << r.err;
  EXPECT_EQ(err[0].rfind("can't join 239.1.1.1: ", 0), 0u) << err[0];
  EXPECT_EQ(err.back().rfind("can't leave 239.1.1.1: ", 0), 0u) << err.back();
  std::vector<std::string> out = texts(worker_lines(r.out));
  ASSERT_GE(out.size(), 3u) << r.out;
  EXPECT_EQ(out.front(), "start scanning 239.1.1.1");
  EXPECT_EQ(out[1].rfind("trying to save udp://239.1.1.1:500", 0), 0u) << out[1];
  EXPECT_EQ(out.back(), "finish scanning 239.1.1.1");
}

// Eight workers over a /28 with three live groups: slices of two addresses each.
TEST_F(SarvScan, SeveralJobsOverANet) {
  std::string dir = tmp_.file("net");
  gint64 start = g_get_monotonic_time();
  tilutest::RunResult r = sarv(
      {"-i", std::to_string(vb_), "-j", "8", "-t", "6000", "-s", "100", "-o", dir, "239.1.2.0/28"});
  double seconds = double(g_get_monotonic_time() - start) / G_USEC_PER_SEC;
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(sarvtest::list_dir(dir),
            (std::vector<std::string>{"239.1.2.1-5000.png", "239.1.2.11-5000.png",
                                      "239.1.2.6-5000.png", "239.1.2.6-5002.png"}));
  expect_png(dir + "/239.1.2.1-5000.png", 176, 144);
  expect_png(dir + "/239.1.2.6-5000.png", 160, 120);
  expect_png(dir + "/239.1.2.6-5002.png", 192, 108);
  expect_png(dir + "/239.1.2.11-5000.png", 128, 96);

  // Each worker's lines, in its own order.
  std::map<std::string, std::vector<std::string>> by_thread;
  for (const Line& l : worker_lines(r.out)) by_thread[l.thread].push_back(l.text);
  ASSERT_EQ(by_thread.size(), 8u) << r.out;
  std::set<int> first_addresses;
  for (auto& [thread, t] : by_thread) {
    SCOPED_TRACE(thread);
    ASSERT_GE(t.size(), 4u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(t[0], m, std::regex(R"(start scanning 239\.1\.2\.(\d+))")));
    int a = std::stoi(m[1]);
    EXPECT_EQ(a % 2, 0) << "slices start at even addresses";
    first_addresses.insert(a);
    // Drop the save lines and what is left is the slice in order.
    std::vector<std::string> progress;
    for (const std::string& s : t)
      if (s.rfind("trying to save ", 0) != 0) progress.push_back(s);
    std::string g0 = "239.1.2." + std::to_string(a), g1 = "239.1.2." + std::to_string(a + 1);
    EXPECT_EQ(progress,
              (std::vector<std::string>{"start scanning " + g0, "finish scanning " + g0,
                                        "start scanning " + g1, "finish scanning " + g1}));
  }
  EXPECT_EQ(first_addresses, (std::set<int>{0, 2, 4, 6, 8, 10, 12, 14}));
  EXPECT_LT(seconds, 60.0);
}

}  // namespace

int main(int argc, char** argv) {
  tilutest::enter_private_netns();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
