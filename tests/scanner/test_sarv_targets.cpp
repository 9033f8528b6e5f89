// Target expansion and the job split, over the real address-mask parser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sarv_split.h"
#include "sarv_targets.h"

namespace {

std::vector<guint32> expand(std::vector<std::string> targets) {
  std::vector<char*> argv;
  for (auto& t : targets) argv.push_back(t.data());
  SarvTargetCheck check = sarv_targets_check(int(argv.size()), argv.data());
  EXPECT_EQ(check.status, 0) << check.message;
  std::vector<SarvGroup> groups(check.total, SarvGroup{});
  sarv_targets_expand(int(argv.size()), argv.data(), groups.data(), check.total);
  std::vector<guint32> addrs;
  for (const SarvGroup& g : groups) {
    EXPECT_EQ(g.gsts, nullptr);
    EXPECT_EQ(g.ports, nullptr);
    EXPECT_EQ(g.num_ports, 0);
    addrs.push_back(g.addr);
  }
  return addrs;
}

constexpr guint32 ip(int a, int b, int c, int d) {
  return guint32(a) << 24 | guint32(b) << 16 | guint32(c) << 8 | guint32(d);
}

TEST(SarvTargets, ExpandsInHostOrderFollowingTheCommandLine) {
  struct Case {
    std::vector<std::string> targets;
    std::vector<guint32> addrs;
  } cases[] = {
      {{"239.0.0.1"}, {ip(239, 0, 0, 1)}},
      {{"239.0.0.0/30"}, {ip(239, 0, 0, 0), ip(239, 0, 0, 1), ip(239, 0, 0, 2), ip(239, 0, 0, 3)}},
      {{"239.0.0.255/32", "239.0.1.0/31"},
       {ip(239, 0, 0, 255), ip(239, 0, 1, 0), ip(239, 0, 1, 1)}},
      // Carries over octets: .254/31 then the next /31 across the octet boundary.
      {{"224.0.0.254/31", "224.0.1.0/31"},
       {ip(224, 0, 0, 254), ip(224, 0, 0, 255), ip(224, 0, 1, 0), ip(224, 0, 1, 1)}},
      // Overlapping targets repeat their addresses, each in its own turn.
      {{"239.0.0.0/31", "239.0.0.1", "239.0.0.0/31"},
       {ip(239, 0, 0, 0), ip(239, 0, 0, 1), ip(239, 0, 0, 1), ip(239, 0, 0, 0), ip(239, 0, 0, 1)}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.targets[0]);
    EXPECT_EQ(expand(c.targets), c.addrs);
  }
}

TEST(SarvTargets, WideNetsCountWithoutExpanding) {
  std::vector<std::string> targets = {"239.0.0.0/8", "224.0.0.0/4", "224.0.0.0/3"};
  std::vector<char*> argv;
  for (auto& t : targets) argv.push_back(t.data());
  SarvTargetCheck check = sarv_targets_check(3, argv.data());
  EXPECT_EQ(check.status, 0);
  EXPECT_EQ(check.total, (1 << 24) + (1 << 28) + (1 << 29));
  // A fourth /3 passes 2^31 - 1 and is refused, naming the target that did it.
  std::string wide = "224.0.0.0/3";
  std::vector<char*> four = {wide.data(), wide.data(), wide.data(), wide.data()};
  check = sarv_targets_check(4, four.data());
  EXPECT_EQ(check.status, -2);
  EXPECT_NE(check.message.find("224.0.0.0/3"), std::string::npos);
}

TEST(SarvTargets, FirstFailingTargetDecides) {
  struct Case {
    std::vector<std::string> targets;
    int status;
    std::string message;
  } cases[] = {
      {{"239.0.0.1/30"}, -3, "239.0.0.1/30 parsing failed: "},
      {{"239.1.1.1#3"}, -3, "239.1.1.1#3 parsing failed: "},
      {{"239.0.0.0/33"}, -3, "239.0.0.0/33 parsing failed: "},
      {{"ff02::1"}, -4, "ff02::1 is not ipv4 ip address\n"},
      {{"::1"}, -4, "::1 is not ipv4 ip address\n"},
      {{"10.0.0.1"}, -5, "10.0.0.1 is not multicast ip address\n"},
      {{"0.0.0.0/0"}, -5, "0.0.0.0/0 is not multicast ip address\n"},
      {{"239.0.0.1", "10.0.0.1", "bogus"}, -5, "10.0.0.1 is not multicast ip address\n"},
      {{"bogus", "10.0.0.1"}, -3, "bogus parsing failed: "},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.targets[0]);
    std::vector<char*> argv;
    for (auto& t : c.targets) argv.push_back(t.data());
    SarvTargetCheck check = sarv_targets_check(int(argv.size()), argv.data());
    EXPECT_EQ(check.status, c.status);
    EXPECT_EQ(check.message.substr(0, c.message.size()), c.message);
  }
}

// Slices as (first record, count).
std::vector<std::pair<gint32, gint32>> split(gint32 total, gint* jobs) {
  std::vector<SarvGroup> groups(total, SarvGroup{});
  SarvGroupList all{groups.data(), total};
  std::vector<std::pair<gint32, gint32>> out;
  for (const SarvGroupList& s : sarv_split(all, jobs))
    out.emplace_back(gint32(s.groups - groups.data()), s.num_groups);
  return out;
}

TEST(SarvSplit, SlicesTable) {
  using Slices = std::vector<std::pair<gint32, gint32>>;
  Slices nine_of_25;
  for (int i = 0; i < 9; i++) nine_of_25.emplace_back(i * 25, 25);
  nine_of_25.emplace_back(225, 31);
  struct Case {
    gint32 total;
    gint jobs;
    gint jobs_after;
    Slices slices;
  } cases[] = {
      {10, 3, 3, {{0, 3}, {3, 3}, {6, 4}}},
      {2, 5, 2, {{0, 1}, {1, 1}}},
      {7, 1, 1, {{0, 7}}},
      {256, 10, 10, nine_of_25},
      {1, 4, 1, {{0, 1}}},
      {4, 4, 4, {{0, 1}, {1, 1}, {2, 1}, {3, 1}}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.total) + "/" + std::to_string(c.jobs));
    gint jobs = c.jobs;
    EXPECT_EQ(split(c.total, &jobs), c.slices);
    EXPECT_EQ(jobs, c.jobs_after);
  }
}

}  // namespace
