// The capture filter over crafted Ethernet frames, as the 42-byte capture delivers them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sarv_filter.h"

namespace {

constexpr std::uint32_t kGroup = 0xef010101;  // 239.1.1.1

struct Frame {
  std::uint8_t protocol = 17;
  std::uint32_t dst = kGroup;
  std::uint16_t port = 5000;
  int ihl = 5;        // IPv4 header length in 32-bit words
  bool vlan = false;  // an 802.1Q tag between the MAC addresses and the EtherType
  std::uint32_t snap = 42;

  // The frame as the capture hands it over: at most snap bytes.
  std::vector<std::uint8_t> bytes() const {
    std::vector<std::uint8_t> f(12, 0x02);  // destination and source MAC
    if (vlan) f.insert(f.end(), {0x81, 0x00, 0x00, 0x64});
    f.insert(f.end(), {0x08, 0x00});
    std::vector<std::uint8_t> ip(std::max(ihl * 4, 20), 0);
    ip[0] = std::uint8_t(0x40 | (ihl & 0x0f));
    ip[2] = 0x05, ip[3] = 0xdc;  // total length 1500
    ip[8] = 16;
    ip[9] = protocol;
    ip[12] = 198, ip[13] = 18, ip[14] = 0, ip[15] = 1;
    for (int i = 0; i < 4; i++) ip[16 + i] = std::uint8_t(dst >> (24 - 8 * i));
    f.insert(f.end(), ip.begin(), ip.end());
    std::uint8_t udp[8] = {0x9c, 0x40, std::uint8_t(port >> 8), std::uint8_t(port), 0x05, 0xc8,
                           0,    0};
    f.insert(f.end(), udp, udp + 8);
    f.resize(std::min<std::size_t>(f.size(), snap), 0);
    // Padding of the payload, in case snap is larger than the headers.
    while (f.size() < snap) f.push_back(0x47);
    return f;
  }
};

struct Case {
  std::string name;
  Frame frame;
  bool found;
  std::uint16_t port;
};

std::vector<Case> cases() {
  std::vector<Case> c;
  c.push_back({"udp to the group", {}, true, 5000});
  c.push_back({"highest port", {.port = 65535}, true, 65535});
  c.push_back({"port zero", {.port = 0}, true, 0});
  c.push_back({"udp to another group", {.dst = 0xef010102}, false, 0});
  c.push_back({"udp to the group with bytes swapped", {.dst = 0x010101ef}, false, 0});
  c.push_back({"tcp to the group", {.protocol = 6}, false, 0});
  c.push_back({"igmp to the group", {.protocol = 2}, false, 0});
  // With 42 bytes captured, four bytes of options leave only 4 of the 8 UDP header bytes.
  c.push_back({"ip options within 42 bytes", {.ihl = 6}, false, 0});
  c.push_back({"ip options with a longer capture", {.ihl = 6, .snap = 64}, true, 5000});
  // The IPv4 header is taken at byte 14: behind a VLAN tag the fields are four bytes off.
  c.push_back({"vlan tag", {.vlan = true}, false, 0});
  c.push_back({"vlan tag with a longer capture", {.vlan = true, .snap = 96}, false, 0});
  // Header length 0 is not refused: the "UDP header" then starts at the IPv4 header, whose
  // bytes 2 and 3 are the total length (1500).
  c.push_back({"header length 0", {.ihl = 0}, true, 1500});
  c.push_back({"header length 60", {.ihl = 15}, false, 0});
  c.push_back({"header length 60 with a full capture", {.ihl = 15, .snap = 82}, true, 5000});
  return c;
}

TEST(SarvFilter, CraftedFrames) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> f = c.frame.bytes();
    std::uint16_t port = 0xbeef;
    EXPECT_EQ(sarv_filter_port(f.data(), std::uint32_t(f.size()), kGroup, &port), c.found);
    EXPECT_EQ(port, c.found ? c.port : 0xbeef) << "the port is written only for a match";
  }
}

// Every runt of a matching frame: only the whole 42 bytes are recognised. Each runt sits at the
// end of its own exact-size allocation, so that a read past the captured length is caught by
// the address sanitizer.
TEST(SarvFilter, RuntFramesOfEveryLength) {
  std::vector<std::uint8_t> whole = Frame{}.bytes();
  ASSERT_EQ(whole.size(), 42u);
  for (std::uint32_t len = 0; len <= 42; len++) {
    SCOPED_TRACE("captured length " + std::to_string(len));
    std::vector<std::uint8_t> runt(whole.begin(), whole.begin() + len);
    std::uint16_t port = 0;
    EXPECT_EQ(sarv_filter_port(runt.data(), len, kGroup, &port), len == 42);
  }
}

// The captured length counts, not the frame's bytes: a full buffer with a short caplen fails.
TEST(SarvFilter, UsesCapturedLength) {
  std::vector<std::uint8_t> whole = Frame{}.bytes();
  std::uint16_t port = 0;
  EXPECT_FALSE(sarv_filter_port(whole.data(), 41, kGroup, &port));
  EXPECT_FALSE(sarv_filter_port(nullptr, 0, kGroup, &port));
}

}  // namespace
