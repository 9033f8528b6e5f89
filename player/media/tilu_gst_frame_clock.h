// When the pictures of a pipeline arrive: the time of the last decoded picture, the mean
// interval between pictures and between keyframes. Written on the streaming threads by pad
// probes (one store per buffer, no lock), read on the main loop.
#pragma once

#include <gst/gst.h>

#include <atomic>
#include <memory>

// A snapshot of the clock, all on the monotonic clock in microseconds; 0 where not yet known.
struct TiluGstFrameTimes {
  gint64 last_frame = 0;        // arrival of the last decoded picture
  gint64 frame_interval = 0;    // mean time between pictures
  gint64 keyframe_interval = 0;  // time between the last two keyframes at the decoder's input
};

// Held by shared_ptr: the handle and every probe keep a reference.
class TiluGstFrameClock : public std::enable_shared_from_this<TiluGstFrameClock> {
 public:
  // Buffer probes: pictures on a pad after the decoder, keyframes on a decoder's input.
  void watch_pictures(GstPad* pad);
  void watch_keyframes(GstPad* pad);
  TiluGstFrameTimes times() const;

  // What the probes do with one buffer that arrives at now (µs).
  void on_picture(gint64 now);
  void on_keyframe(gint64 now);

 private:
  void watch(GstPad* pad, GstPadProbeCallback callback);

  std::atomic<gint64> last_frame_{0};
  std::atomic<gint64> frame_interval_{0};
  std::atomic<gint64> last_keyframe_{0};
  std::atomic<gint64> keyframe_interval_{0};
};
