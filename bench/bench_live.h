// Live mode: tilu with nine live tiles of broadcast-like channels (-j 9; 720p 3.5 Mb/s unless
// told otherwise) on an Xvfb
// display, against nine decode-and-scale pipelines in one gst-launch process and against FFmpeg
// decoding and scaling the same inputs: CPU per tile-second, each tile's delivered frame rate
// and tilu's resident memory.
#pragma once

#include <string>

#include "bench_table.h"

namespace bench {

struct LiveChannel {
  int width = 1280;
  int height = 720;
  int kbps = 3500;
};

void run_live_section(Table& table, int rounds, int window_s, const LiveChannel& channel,
                      const std::string& work_dir);

}  // namespace bench
