// The snapshot pipeline: one UDP stream in, its first video frame out as one PNG file.
#pragma once

#include <gst/gst.h>

#include <atomic>
#include <string>

#include "glib_ptr.h"
#include "gst_ptr.h"
#include "sarv_rtp.h"

struct SarvGst {
  // The playbin; owns the video-sink bin, its elements and the bus. Empty when the pipeline
  // could not be built: such a handle never finishes and writes nothing.
  glibx::Ref<GstElement> pipeline;
  GstBus* bus = nullptr;  // the pipeline's bus, kept alive by the pipeline itself
  // What the first datagram showed; written on the UDP source's streaming thread.
  std::atomic<SarvTransport> transport{SarvTransport::unknown};
  bool finished = false;  // a poll has reported the end of stream
  // Read off the bus by either poll, so that neither drops what the other one reports.
  bool eos_pending = false;     // end of stream seen, not yet reported by a finished poll
  glibx::CharPtr write_error;   // the file sink's error, not yet reported
  std::string marker;     // the empty file left beside the picture of an RTP stream
};

// Builds and starts a snapshot of uri into the file location. Never returns NULL and never
// waits for the pipeline. The strings are copied.
SarvGst* sarv_gst_open(const gchar* uri, const gchar* location);

// True once the pipeline has posted end-of-stream: the file is then written. Never blocks.
gboolean sarv_gst_is_finished(SarvGst* gst);

// The message of the error that kept the file from being written (the file sink's), once the
// pipeline has posted it; empty before and when the handle has none. Never blocks.
glibx::CharPtr sarv_gst_write_error(SarvGst* gst);

// Stops the pipeline and releases the handle. NULL is allowed. When the picture was written, an
// RTP stream leaves its marker beside it ("G-P.rtp" for "G-P.png"), and a plain UDP stream
// removes a marker left by an earlier scan.
void sarv_gst_close(SarvGst* gst);
