// MPEG-TS in RTP on a udp:// snapshot. Type detection looks at the stream bytes alone, and the
// 12-byte RTP header in front of every datagram breaks the 188-byte packet pattern of MPEG-TS:
// now and then it guesses another type (AAC) and no picture ever comes. The first datagram
// tells: RTP version 2 with the static payload type of MPEG-TS (33, RFC 3551) is depayloaded
// before anything downstream sees it, so detection finds plain MPEG-TS.
#pragma once

#include <gst/gst.h>

#include <atomic>

enum class SarvTransport { unknown, udp, rtp };

// True when a datagram is an RTP version 2 packet with payload type 33 (MP2T). RTCP (packet
// types 200 to 204) and plain MPEG-TS (sync byte 0x47, version bits 01) are not.
bool sarv_rtp_is_mp2t(const guint8* data, gsize size);

// Watches the source pad of a UDP source: its first datagram decides the transport, stored in
// seen (which must outlive the element's streaming); for RTP every later datagram is passed on
// as its payload alone, and datagrams that are not valid RTP are dropped.
void sarv_rtp_watch(GstElement* udpsrc, std::atomic<SarvTransport>* seen);
