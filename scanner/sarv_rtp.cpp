#include "sarv_rtp.h"

#include <gst/rtp/gstrtpbuffer.h>

#include "gst_ptr.h"

namespace {

constexpr guint8 kRtpVersion = 2;
constexpr guint8 kPayloadMp2t = 33;
constexpr gsize kRtpHeaderSize = 12;

// The payload of an RTP packet (CSRCs, header extension and padding taken off), with the
// packet's timestamps and flags; empty when the packet is not valid RTP or not MPEG-TS.
GstBuffer* _sarv_rtp_payload(GstBuffer* packet) {
  GstRTPBuffer rtp = GST_RTP_BUFFER_INIT;
  if (!gst_rtp_buffer_map(packet, GST_MAP_READ, &rtp)) return nullptr;
  GstBuffer* payload = gst_rtp_buffer_get_payload_type(&rtp) == kPayloadMp2t
                           ? gst_rtp_buffer_get_payload_buffer(&rtp)
                           : nullptr;
  gst_rtp_buffer_unmap(&rtp);
  return payload;
}

// A buffer probe on the UDP source's pad, on its streaming thread.
GstPadProbeReturn _sarv_rtp_on_datagram(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* seen = static_cast<std::atomic<SarvTransport>*>(data);
  GstBuffer* datagram = GST_PAD_PROBE_INFO_BUFFER(info);
  SarvTransport transport = seen->load();
  if (transport == SarvTransport::unknown) {
    glibx::BufferMap map(datagram);
    if (!map) return GST_PAD_PROBE_OK;
    transport = sarv_rtp_is_mp2t(map.data(), map.size()) ? SarvTransport::rtp : SarvTransport::udp;
    seen->store(transport);
  }
  if (transport == SarvTransport::udp) return GST_PAD_PROBE_REMOVE;
  GstBuffer* payload = _sarv_rtp_payload(datagram);
  if (!payload) return GST_PAD_PROBE_DROP;
  gst_buffer_unref(datagram);
  GST_PAD_PROBE_INFO_DATA(info) = payload;
  return GST_PAD_PROBE_OK;
}

}  // namespace

bool sarv_rtp_is_mp2t(const guint8* data, gsize size) {
  return size > kRtpHeaderSize && (data[0] >> 6) == kRtpVersion &&
         (data[1] & 0x7f) == kPayloadMp2t;
}

void sarv_rtp_watch(GstElement* udpsrc, std::atomic<SarvTransport>* seen) {
  glibx::Ref<GstPad> pad = glibx::Ref<GstPad>::adopt(gst_element_get_static_pad(udpsrc, "src"));
  if (pad)
    gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, _sarv_rtp_on_datagram, seen,
                      nullptr);
}
