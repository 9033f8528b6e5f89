// One playback pipeline per playing video, behind the TiluGst handle.
// Every function runs on the main-loop thread.
#pragma once

#include <clutter/clutter.h>
#include <gst/gst.h>

#include <memory>

#include "glib_ptr.h"
#include "tilu_gst_frame_clock.h"

enum {
  TILU_GST_TEXTURE_ON = 0,  // a new frame reached the actor's content
  TILU_GST_ERROR = 1,       // the pipeline posted an error message
  TILU_GST_EOS = 2,         // the stream ended (a relay that went away, a finite source)
};

typedef void (*TiluGstCallback)(int event, gpointer user_data);

// One open pipeline. Created by tilu_gst_open, ended by tilu_gst_close; the caller owns it.
// Callers outside this module use only the functions below; the fields are here so that tests
// can look at the pipeline itself.
struct TiluGst {
  glibx::Ref<GstElement> pipeline;  // the "play" playbin; its one reference
  glibx::CharPtr audio_caps_str;    // cached once the audio sink bin's input is negotiated
  glibx::CharPtr video_caps_str;    // cached once the video sink bin's input is negotiated
  glibx::CharPtr audio_tags_str;    // last serialized tag list mentioning "audio-codec"
  glibx::CharPtr video_tags_str;    // last serialized tag list mentioning "video-codec"
  guint bus_watch_id = 0;           // main-loop source of the bus watch
  // Weak pointer (no reference): the sink watched for "new-frame". Registered only while the
  // handle watches it; the sink itself lives on in the actor's content.
  GstElement* video_sink = nullptr;
  gulong new_frame_handler_id = 0;  // 0 when not connected
  double volume = 0.0;              // last requested volume; the pipeline has 0.0 while muted
  int mute = 0;                     // non-zero = muted; 1 after open
  TiluGstCallback callback = nullptr;
  gpointer user_data = nullptr;  // handed back with every event
  // Arrival times of pictures and keyframes, written by the streaming threads (shared with the
  // pipeline's probes, which may outlive the handle by a moment).
  std::shared_ptr<TiluGstFrameClock> frame_clock;
};

// Never returns nullptr. The first open on an actor creates its content and hands the
// caller one reference to it (read it back with clutter_actor_get_content).
// A stream that cannot play, or an element that cannot be created, is reported later as
// TILU_GST_ERROR from the main loop.
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

// The URI that open gives the pipeline for uri, fetched through proxy_uri when that is
// non-null (newly allocated). A uri without a scheme and "://" is returned unchanged.
// rtp:// goes to the player's own element (as krtp://): the installed element for "rtp" stalls on
// MPEG-TS in RTP, the usual IPTV multicast, inside playbin.
gchar* tilu_gst_rewrite_uri(const char* proxy_uri, const char* uri);

// Monotonic times (µs) and intervals measured on the pipeline's video: see TiluGstFrameClock.
// Cheap to call from the main loop at any rate; no frame event is needed.
TiluGstFrameTimes tilu_gst_get_frame_times(TiluGst* gst);

struct TiluGstCloser {
  void operator()(TiluGst* gst) const noexcept { tilu_gst_close(gst); }
};
// Owner of a handle: reset() closes it exactly once; the slot is cleared before the close runs.
using TiluGstPtr = std::unique_ptr<TiluGst, TiluGstCloser>;
