// Target expansion and the job split, over the real address-mask parser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sarv_split.h"
#include "sarv_targets.h"

namespace {

constexpr guint32 ip(int a, int b, int c, int d) {
  return guint32(a) << 24 | guint32(b) << 16 | guint32(c) << 8 | guint32(d);
}

std::vector<guint32> expand(std::vector<std::string> targets) {
  std::vector<char*> argv;
  for (auto& t : targets) argv.push_back(t.data());
  SarvTargetCheck check = sarv_targets_check(int(argv.size()), argv.data());
  EXPECT_EQ(check.status, 0) << check.message;
  SarvGroupList all{check.ranges.data(), gint32(check.ranges.size()), 0, check.total};
  std::vector<guint32> addrs;
  for (gint32 i = 0; i < all.num_groups; i++) addrs.push_back(sarv_group_list_addr(&all, i));
  return addrs;
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

// Wide nets are counted, never expanded: any address of any slice is computed when asked for.
TEST(SarvTargets, WideNetsCountWithoutExpanding) {
  std::vector<std::string> targets = {"239.0.0.0/8", "224.0.0.0/4", "239.1.2.3"};
  std::vector<char*> argv;
  for (auto& t : targets) argv.push_back(t.data());
  SarvTargetCheck check = sarv_targets_check(3, argv.data());
  EXPECT_EQ(check.status, 0);
  EXPECT_EQ(check.total, (1 << 24) + (1 << 28) + 1);
  SarvGroupList all{check.ranges.data(), gint32(check.ranges.size()), 0, check.total};
  struct {
    gint32 index;
    guint32 addr;
  } at[] = {{0, ip(239, 0, 0, 0)},
            {(1 << 24) - 1, ip(239, 255, 255, 255)},
            {1 << 24, ip(224, 0, 0, 0)},
            {(1 << 24) + (1 << 28) - 1, ip(239, 255, 255, 255)},
            {(1 << 24) + (1 << 28), ip(239, 1, 2, 3)}};
  for (auto& a : at) EXPECT_EQ(sarv_group_list_addr(&all, a.index), a.addr) << a.index;
  // The slices of three jobs see the same addresses at their own indices.
  gint jobs = 3;
  std::vector<SarvGroupList> slices = sarv_split(all, &jobs);
  ASSERT_EQ(slices.size(), 3u);
  const SarvGroupList& last = slices[2];
  EXPECT_EQ(sarv_group_list_addr(&last, last.num_groups - 1), ip(239, 1, 2, 3));
  EXPECT_EQ(sarv_group_list_addr(&slices[1], 0), sarv_group_list_addr(&all, gint32(slices[1].first)));
  // An eighth /4 passes 2^31 - 1 and is refused, naming the target that did it.
  std::string wide = "224.0.0.0/4";
  std::vector<char*> eight(8, wide.data());
  check = sarv_targets_check(8, eight.data());
  EXPECT_EQ(check.status, -2);
  EXPECT_EQ(check.message, "224.0.0.0/4 takes the number of addresses above 2147483647\n");
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
      // Starts with a multicast address but covers 240.0.0.0/4 as well.
      {{"224.0.0.0/3"}, -5, "224.0.0.0/3 reaches outside the multicast range 224.0.0.0/4\n"},
      // GIO would warn about these lengths before failing; they are refused first.
      {{"239.0.0.0/-1"}, -3, "239.0.0.0/-1 parsing failed: the prefix length -1 is not a number from 0 to 32\n"},
      {{"239.0.0.0/999"}, -3, "239.0.0.0/999 parsing failed: the prefix length 999 is not a number from 0 to 32\n"},
      {{"239.0.0.0/4294967296"}, -3, "239.0.0.0/4294967296 parsing failed: the prefix length 4294967296 is not a number from 0 to 32\n"},
      {{"239.0.0.0/"}, -3, "239.0.0.0/ parsing failed: "},
      {{"239.0.0.0/40"}, -3, "239.0.0.0/40 parsing failed: "},
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

// Slices as (first address, count).
std::vector<std::pair<gint32, gint32>> split(gint32 total, gint* jobs) {
  SarvTargetRange range{0, ip(239, 0, 0, 0), guint32(total)};
  SarvGroupList all{&range, 1, 0, total};
  std::vector<std::pair<gint32, gint32>> out;
  for (const SarvGroupList& s : sarv_split(all, jobs)) {
    EXPECT_EQ(s.ranges, &range);
    out.emplace_back(gint32(s.first), s.num_groups);
  }
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
