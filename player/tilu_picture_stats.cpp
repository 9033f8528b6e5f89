#include "tilu_picture_stats.h"

#include <gst/video/video.h>

#include <algorithm>

#include "glib_ptr.h"

namespace {

// Every second pixel of every second row of a scan picture (480 x 270 by default): a live
// picture whose only motion is a small burnt-in clock must still change its digest, and strokes
// of two pixels or more are always sampled. Once per scan this is about 32 000 reads.
constexpr int kSamplesAcross = 240;
constexpr int kSamplesDown = 135;

constexpr guint64 kFnvOffset = 14695981039346656037ull;
constexpr guint64 kFnvPrime = 1099511628211ull;

// Luma of one pixel in studio range (BT.601), from the first component of a YUV format or from
// the three components of an RGB one.
struct LumaReader {
  const GstVideoFrame* frame;
  bool rgb;
  int component[3];  // R, G, B component indices, or Y alone in [0]

  guint8 at(int x, int y) const {
    if (!rgb) return pixel(component[0], x, y);
    int r = pixel(component[0], x, y), g = pixel(component[1], x, y), b = pixel(component[2], x, y);
    return guint8(16 + (66 * r + 129 * g + 25 * b + 128) / 256);
  }

 private:
  guint8 pixel(int c, int x, int y) const {
    const guint8* data = static_cast<const guint8*>(GST_VIDEO_FRAME_COMP_DATA(frame, c));
    return data[y * GST_VIDEO_FRAME_COMP_STRIDE(frame, c) + x * GST_VIDEO_FRAME_COMP_PSTRIDE(frame, c)];
  }
};

}  // namespace

bool tilu_picture_stats_of_sample(GstSample* sample, TiluPictureStats* stats) {
  if (!sample) return false;
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  GstCaps* caps = gst_sample_get_caps(sample);
  GstVideoInfo info;
  if (!buffer || !caps || !gst_video_info_from_caps(&info, caps)) return false;
  const GstVideoFormatInfo* format = info.finfo;
  bool yuv = GST_VIDEO_FORMAT_INFO_IS_YUV(format), rgb = GST_VIDEO_FORMAT_INFO_IS_RGB(format);
  if ((!yuv && !rgb) || GST_VIDEO_FORMAT_INFO_DEPTH(format, 0) != 8 || info.width <= 0 || info.height <= 0)
    return false;

  GstVideoFrame frame;
  if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) return false;
  // Component order of the format: Y (or R), then U, V (or G, B).
  LumaReader luma{&frame, rgb, {0, 1, 2}};
  const int width = info.width, height = info.height;
  const int step_x = std::max(1, width / kSamplesAcross), step_y = std::max(1, height / kSamplesDown);
  guint64 hash = kFnvOffset, sum = 0, count = 0;
  for (int y = step_y / 2; y < height; y += step_y)
    for (int x = step_x / 2; x < width; x += step_x) {
      guint8 value = luma.at(x, y);
      hash = (hash ^ value) * kFnvPrime;
      sum += value;
      count++;
    }
  gst_video_frame_unmap(&frame);
  stats->digest = hash;
  stats->mean_luma = count ? double(sum) / double(count) : 0;
  return count > 0;
}
