// libFuzzer driver for the capture filter: any captured bytes, any group. The first four input
// bytes choose the group; the rest is the frame, at the end of its own allocation so that a
// read past the captured length is caught.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sarv_filter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::uint32_t group = std::uint32_t(data[0]) << 24 | std::uint32_t(data[1]) << 16 |
                        std::uint32_t(data[2]) << 8 | std::uint32_t(data[3]);
  std::vector<std::uint8_t> frame(data + 4, data + size);
  std::uint16_t port = 0;
  if (sarv_filter_port(frame.data(), std::uint32_t(frame.size()), group, &port)) {
    // A match means the whole headers were inside the captured bytes, with the group in place.
    std::uint32_t h = std::uint32_t(frame[14] & 0x0f) * 4;
    if (frame.size() < 14 + 20 || frame.size() < 14 + h + 8 || frame[14 + 9] != 17) std::abort();
    if (std::memcmp(&frame[14 + 16], data, 4) != 0) std::abort();
    if (port != (std::uint16_t(frame[14 + h + 2]) << 8 | frame[14 + h + 3])) std::abort();
  }
  return 0;
}
