// The capture filter: finds the UDP destination port of a datagram sent to one group, reading
// only the captured bytes of an Ethernet frame. Pure: no state, no allocation, no copy.
#pragma once

#include <cstdint>

// frame holds caplen captured bytes (not the length on the wire). group is the group address in
// host order. Returns true and sets *port when the frame carries, behind a 14-byte Ethernet
// header, an IPv4 header whose protocol is UDP and whose destination is group, followed by
// at least the 8 bytes of a UDP header within the captured bytes.
bool sarv_filter_port(const std::uint8_t* frame, std::uint32_t caplen, std::uint32_t group,
                      std::uint16_t* port);
