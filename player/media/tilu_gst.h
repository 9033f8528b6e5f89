// One playback pipeline per playing video, behind the TiluGst handle.
// Every function runs on the main-loop thread.
#pragma once

#include <clutter/clutter.h>
#include <gst/gst.h>

#include <memory>

enum {
  TILU_GST_TEXTURE_ON = 0,  // a new frame reached the actor's content
  TILU_GST_ERROR = 1,       // the pipeline posted an error message
};

typedef void (*TiluGstCallback)(int event, gpointer user_data);

struct TiluGst;

// Never returns nullptr. The first open on an actor creates its content and hands the
// caller one reference to it (read it back with clutter_actor_get_content).
TiluGst* tilu_gst_open(const char* proxy_uri, const char* uri, ClutterActor* texture, int scan_mode,
                       int width, int height, TiluGstCallback callback, gpointer user_data);
int tilu_gst_close(TiluGst* gst);  // accepts nullptr
int tilu_gst_cancel_new_frame_callback(TiluGst* gst);

int tilu_gst_set_mute(TiluGst* gst, int mute);
int tilu_gst_get_mute(TiluGst* gst);
int tilu_gst_set_volume(TiluGst* gst, double volume);
double tilu_gst_get_volume(TiluGst* gst);
int tilu_gst_get_num_audio(TiluGst* gst);
int tilu_gst_set_current_audio(TiluGst* gst, int index);
int tilu_gst_get_current_audio(TiluGst* gst);
const char* tilu_gst_get_audio_caps_str(TiluGst* gst);
const char* tilu_gst_get_video_caps_str(TiluGst* gst);
const char* tilu_gst_get_audio_tags_str(TiluGst* gst);
const char* tilu_gst_get_video_tags_str(TiluGst* gst);

struct TiluGstCloser {
  void operator()(TiluGst* gst) const noexcept { tilu_gst_close(gst); }
};
// Owner of a handle: reset() closes it exactly once; the slot is cleared before the close runs.
using TiluGstPtr = std::unique_ptr<TiluGst, TiluGstCloser>;
