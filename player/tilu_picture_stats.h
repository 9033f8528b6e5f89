// What the health marks need to know about one picture: a cheap digest of its subsampled luma
// (equal digests: the same picture) and its mean luma (a black picture).
#pragma once

#include <gst/gst.h>

struct TiluPictureStats {
  guint64 digest = 0;
  double mean_luma = 0;  // studio range: black is 16, white 235
};

// False when the sample holds no picture in a format read here (8-bit YUV or RGB).
bool tilu_picture_stats_of_sample(GstSample* sample, TiluPictureStats* stats);
