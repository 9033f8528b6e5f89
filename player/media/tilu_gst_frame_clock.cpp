#include "tilu_gst_frame_clock.h"

namespace {

// A gap this long is an outage, not a picture interval: it does not enter the mean.
constexpr gint64 kMaxFrameInterval = G_USEC_PER_SEC;
// Weight of a new interval in the running mean, as 1/kMeanWeight.
constexpr gint64 kMeanWeight = 8;

using ClockRef = std::shared_ptr<TiluGstFrameClock>;

// Every probe holds its own reference on the clock, dropped when the pad drops the probe.
void drop_clock_ref(gpointer data) { delete static_cast<ClockRef*>(data); }

TiluGstFrameClock* clock_of(gpointer data) { return static_cast<ClockRef*>(data)->get(); }

GstPadProbeReturn on_picture_buffer(GstPad*, GstPadProbeInfo*, gpointer data) {
  clock_of(data)->on_picture(g_get_monotonic_time());
  return GST_PAD_PROBE_OK;
}

GstPadProbeReturn on_decoder_input(GstPad*, GstPadProbeInfo* info, gpointer data) {
  GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
  if (buffer && !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT))
    clock_of(data)->on_keyframe(g_get_monotonic_time());
  return GST_PAD_PROBE_OK;
}

}  // namespace

void TiluGstFrameClock::watch(GstPad* pad, GstPadProbeCallback callback) {
  gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, callback, new ClockRef(shared_from_this()), drop_clock_ref);
}

void TiluGstFrameClock::watch_pictures(GstPad* pad) { watch(pad, on_picture_buffer); }

void TiluGstFrameClock::watch_keyframes(GstPad* pad) { watch(pad, on_decoder_input); }

// One streaming thread per pad writes each pair of fields; a reader may see a field of the
// previous buffer beside one of this buffer, which is harmless for timing.
void TiluGstFrameClock::on_picture(gint64 now) {
  gint64 previous = last_frame_.exchange(now, std::memory_order_relaxed);
  gint64 interval = now - previous;
  if (previous == 0 || interval <= 0 || interval > kMaxFrameInterval) return;
  gint64 mean = frame_interval_.load(std::memory_order_relaxed);
  frame_interval_.store(mean == 0 ? interval : mean + (interval - mean) / kMeanWeight, std::memory_order_relaxed);
}

void TiluGstFrameClock::on_keyframe(gint64 now) {
  gint64 previous = last_keyframe_.exchange(now, std::memory_order_relaxed);
  if (previous != 0 && now > previous) keyframe_interval_.store(now - previous, std::memory_order_relaxed);
}

TiluGstFrameTimes TiluGstFrameClock::times() const {
  return {last_frame_.load(std::memory_order_relaxed), frame_interval_.load(std::memory_order_relaxed),
          keyframe_interval_.load(std::memory_order_relaxed)};
}
