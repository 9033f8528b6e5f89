#include "sarv_filter.h"

namespace {
constexpr std::uint32_t kEthernetHeader = 14;
constexpr std::uint32_t kIpv4MinHeader = 20;
constexpr std::uint32_t kUdpHeader = 8;
constexpr std::uint8_t kProtocolUdp = 17;
}  // namespace

bool sarv_filter_port(const std::uint8_t* frame, std::uint32_t caplen, std::uint32_t group,
                      std::uint16_t* port) {
  if (!frame || caplen < kEthernetHeader) return false;
  const std::uint8_t* ip = frame + kEthernetHeader;
  std::uint32_t left = caplen - kEthernetHeader;
  if (left < kIpv4MinHeader) return false;
  // No lower bound on the header length: the frame is taken as it comes, and every read
  // below stays within the captured bytes whatever h is.
  std::uint32_t h = std::uint32_t(ip[0] & 0x0f) * 4;
  if (left < h) return false;
  if (ip[9] != kProtocolUdp) return false;
  if (ip[16] != std::uint8_t(group >> 24) || ip[17] != std::uint8_t(group >> 16) ||
      ip[18] != std::uint8_t(group >> 8) || ip[19] != std::uint8_t(group))
    return false;
  const std::uint8_t* udp = ip + h;
  left -= h;
  if (left < kUdpHeader) return false;
  *port = std::uint16_t(udp[2] << 8 | udp[3]);
  return true;
}
