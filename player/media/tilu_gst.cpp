// The playback pipeline behind a TiluGst handle: a playbin whose video ends in the clutter-gst
// sink of a scene actor's content. Everything here runs on the main-loop thread, except
// _tilu_gst_on_deep_element_added (see there).
#include "tilu_gst.h"

#include <clutter-gst/clutter-gst.h>

#include <cstring>
#include <string>
#include <vector>

#include "gst_ptr.h"

// Preconditions report this module, the line, the function and the expression, then abort.
#define TILU_GST_ASSERT(expr)                                                       \
  do {                                                                              \
    if (G_UNLIKELY(!(expr)))                                                        \
      g_assertion_message_expr(nullptr, "tilu_gst", __LINE__, G_STRFUNC, #expr);    \
  } while (0)

namespace {

constexpr guint kPlayFlagAudio = 1u << 1;  // GST_PLAY_FLAG_AUDIO of playbin's "flags"

// Limits for the queues that decodebin puts between demuxer and decoders. While playing,
// decodebin keeps them at 5 buffers. A live MPEG-TS source makes the sink wait out the whole
// pipeline latency (tsdemux alone reports 700 ms) before it renders a frame, so about 0.75 s of
// compressed stream has to wait somewhere upstream of the decoder: with 5 buffers the demuxer
// blocks, udpsrc stops reading and the kernel drops datagrams once its receive buffer is full
// (a few hundred ms at 3-4 Mb/s), and most pictures arrive broken or not at all. Limiting by
// time instead lets the queues hold the latency with room for keyframe bursts.
constexpr guint64 kDecodeQueueTime = 3 * GST_SECOND;
constexpr guint kDecodeQueueBuffers = 10000;          // not the limit: time is
constexpr guint kDecodeQueueBytes = 32 * 1024 * 1024;  // a 3 s burst of a 80 Mb/s stream

bool has_property(gpointer object, const char* name) {
  return g_object_class_find_property(G_OBJECT_GET_CLASS(object), name) != nullptr;
}

// Runs on whichever framework thread adds the element (playbin builds its decoding chain on
// streaming threads). It only configures the new element and touches no handle.
void _tilu_gst_on_deep_element_added(GstBin*, GstBin*, GstElement* element, gpointer) {
  GstElementFactory* factory = gst_element_get_factory(element);
  if (!factory || !g_str_equal(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)), "decodebin"))
    return;
  g_object_set(element, "max-size-time", kDecodeQueueTime, "max-size-buffers", kDecodeQueueBuffers,
               "max-size-bytes", kDecodeQueueBytes, nullptr);
}

// Elements of the pipeline are created through this, so that a missing plug-in becomes an
// error on the bus instead of a null element used later.
class ElementMaker {
 public:
  GstElement* make(const char* factory, const char* name) {
    GstElement* element = gst_element_factory_make(factory, name);
    if (!element && missing_.empty()) missing_ = factory;
    return element;
  }
  bool ok() const { return missing_.empty(); }
  const std::string& missing() const { return missing_; }

 private:
  std::string missing_;
};

void post_missing_element(GstElement* pipeline, const std::string& factory) {
  GError* error = g_error_new(GST_CORE_ERROR, GST_CORE_ERROR_MISSING_PLUGIN,
                              "Could not create element \"%s\": its plug-in is not installed",
                              factory.c_str());
  glibx::CharPtr debug(g_strdup_printf("gst_element_factory_make(\"%s\") returned NULL", factory.c_str()));
  gst_element_post_message(pipeline, gst_message_new_error(GST_OBJECT(pipeline), error, debug.get()));
  g_error_free(error);
}

// The actor's clutter-gst sink, creating sink and content on the actor's first open. The
// content's creation reference is deliberately not dropped: it passes to the caller.
ClutterGstVideoSink* actor_sink(ClutterActor* texture) {
  ClutterContent* content = clutter_actor_get_content(texture);
  if (content) {
    TILU_GST_ASSERT(CLUTTER_GST_IS_CONTENT(content));
    return clutter_gst_content_get_sink(CLUTTER_GST_CONTENT(content));
  }
  ClutterGstVideoSink* sink = clutter_gst_video_sink_new();
  content = clutter_gst_content_new_with_sink(sink);
  clutter_actor_set_content(texture, content);
  return sink;
}

// Takes the actor's sink out of a closed pipeline's "scalesink" bin, so that the next open on
// the actor finds it without a parent even if something still holds the old bin.
void release_video_sink(GstElement* pipeline) {
  if (!has_property(pipeline, "video-sink")) return;
  GstElement* bin_ptr = nullptr;
  g_object_get(pipeline, "video-sink", &bin_ptr, nullptr);
  auto bin = glibx::Ref<GstElement>::adopt(bin_ptr);
  if (!bin || !GST_IS_BIN(bin.get())) return;
  std::vector<glibx::Ref<GstElement>> sinks;
  {
    glibx::ObjectLock lock(bin.get());
    for (GList* l = GST_BIN_CHILDREN(bin.get()); l; l = l->next)
      if (CLUTTER_GST_IS_VIDEO_SINK(l->data)) sinks.push_back(glibx::Ref<GstElement>::wrap(GST_ELEMENT(l->data)));
  }
  for (auto& sink : sinks) gst_bin_remove(GST_BIN(bin.get()), sink.get());
}

// Text of the current caps on the "sink" pad of the pipeline's sink bin in property, or null.
glibx::CharPtr sink_bin_caps(GstElement* pipeline, const char* property) {
  if (!has_property(pipeline, property)) return {};
  GstElement* bin_ptr = nullptr;
  g_object_get(pipeline, property, &bin_ptr, nullptr);
  auto bin = glibx::Ref<GstElement>::adopt(bin_ptr);
  if (!bin) return {};
  auto pad = glibx::Ref<GstPad>::adopt(gst_element_get_static_pad(bin.get(), "sink"));
  if (!pad) return {};
  auto caps = glibx::CapsRef::adopt(gst_pad_get_current_caps(pad.get()));
  if (!caps) return {};
  return glibx::CharPtr(gst_caps_to_string(caps.get()));
}

bool is_video_decoder(GstElement* element) {
  GstElementFactory* factory = gst_element_get_factory(element);
  if (!factory) return false;
  const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
  return klass && std::strstr(klass, "Decoder") && std::strstr(klass, "Video");
}

// Runs on a streaming thread like the handler above; data is the handle's frame clock (a
// reference held by the connection), never the handle itself.
void _tilu_gst_on_decoder_added(GstBin*, GstBin*, GstElement* element, gpointer data) {
  if (!is_video_decoder(element)) return;
  auto pad = glibx::Ref<GstPad>::adopt(gst_element_get_static_pad(element, "sink"));
  if (pad) static_cast<std::shared_ptr<TiluGstFrameClock>*>(data)->get()->watch_keyframes(pad.get());
}

void drop_frame_clock_ref(gpointer data, GClosure*) { delete static_cast<std::shared_ptr<TiluGstFrameClock>*>(data); }

// Times every decoded picture where it enters the sink bin, and every keyframe at the video
// decoder's input: what the main video's stall watch reads, without a frame event.
void watch_frame_times(TiluGst* gst, GstElement* play, GstElement* scale) {
  gst->frame_clock = std::make_shared<TiluGstFrameClock>();
  g_signal_connect_data(play, "deep-element-added", G_CALLBACK(_tilu_gst_on_decoder_added),
                        new std::shared_ptr<TiluGstFrameClock>(gst->frame_clock), drop_frame_clock_ref,
                        GConnectFlags(0));
  auto pad = glibx::Ref<GstPad>::adopt(gst_element_get_static_pad(scale, "sink"));
  gst->frame_clock->watch_pictures(pad.get());
}

}  // namespace

gchar* tilu_gst_rewrite_uri(const char* proxy_uri, const char* uri) {
  // The location is the text after "://" as written, not unescaped, so that a percent-escape
  // in the playlist reaches the source (or the relay) intact.
  if (!gst_uri_is_valid(uri)) return g_strdup(uri);
  glibx::CharPtr scheme(gst_uri_get_protocol(uri));
  if (!scheme) return g_strdup(uri);
  // The scheme must be followed by "://" ("file:/x" or "mailto:x" have no location).
  const char* separator = uri + std::strlen(scheme.get());
  if (std::strncmp(separator, "://", 3) != 0) return g_strdup(uri);
  const char* location = separator + 3;

  if (proxy_uri) {
    const char* relay_scheme = g_str_equal(scheme.get(), "krtp") ? "rtp" : scheme.get();
    return g_strdup_printf("%s/%s/%s", proxy_uri, relay_scheme, location);
  }
  if (g_str_equal(scheme.get(), "rtp")) return g_strdup_printf("%s://%s", "krtp", location);
  return g_strdup_printf("%s://%s", scheme.get(), location);
}

static gboolean _tilu_gst_on_bus_message(GstBus*, GstMessage* message, gpointer data) {
  auto* gst = static_cast<TiluGst*>(data);
  const char* source = GST_MESSAGE_SRC_NAME(message);
  switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR: {
      glibx::Error error;
      gchar* debug_ptr = nullptr;
      gst_message_parse_error(message, error.out(), &debug_ptr);
      glibx::CharPtr debug(debug_ptr);
      g_debug("GST_MESSAGE_ERROR %p |%s| |%s| |%s|", static_cast<void*>(gst), source, error.message(),
              debug ? debug.get() : "(null)");
      // The callback may close the handle: nothing of it is read afterwards.
      if (TiluGstCallback callback = gst->callback) callback(TILU_GST_ERROR, gst->user_data);
      break;
    }
    case GST_MESSAGE_EOS:
      g_debug("GST_MESSAGE_EOS %p |%s|", static_cast<void*>(gst), source);
      // As with an error, the callback may close the handle.
      if (TiluGstCallback callback = gst->callback) callback(TILU_GST_EOS, gst->user_data);
      break;
    case GST_MESSAGE_WARNING:
    case GST_MESSAGE_INFO: {
      const bool warning = GST_MESSAGE_TYPE(message) == GST_MESSAGE_WARNING;
      glibx::Error error;
      gchar* debug_ptr = nullptr;
      if (warning)
        gst_message_parse_warning(message, error.out(), &debug_ptr);
      else
        gst_message_parse_info(message, error.out(), &debug_ptr);
      glibx::CharPtr debug(debug_ptr);
      g_debug(warning ? "GST_MESSAGE_WARNING %p |%s| |%s| |%s|" : "GST_MESSAGE_INFO %p |%s| |%s| |%s|",
              static_cast<void*>(gst), source, error.message(), debug ? debug.get() : "(null)");
      break;
    }
    case GST_MESSAGE_TAG: {
      if (gst->audio_tags_str && gst->video_tags_str) break;
      GstTagList* tags_ptr = nullptr;
      gst_message_parse_tag(message, &tags_ptr);
      auto tags = glibx::TagListRef::adopt(tags_ptr);
      glibx::CharPtr text(gst_tag_list_to_string(tags.get()));
      g_debug("GST_MESSAGE_TAG %p |%s| |%s|", static_cast<void*>(gst), source, text.get());
      if (std::strstr(text.get(), "audio-codec"))
        gst->audio_tags_str = std::move(text);
      else if (std::strstr(text.get(), "video-codec"))
        gst->video_tags_str = std::move(text);
      break;
    }
    default:
      break;
  }
  return TRUE;
}

static void _tilu_gst_on_new_frame(ClutterGstVideoSink*, gpointer user_data) {
  TILU_GST_ASSERT(user_data);
  auto* gst_impl = static_cast<TiluGst*>(user_data);
  TILU_GST_ASSERT(gst_impl->callback);
  // Last action: the callback may cancel or close the handle.
  gst_impl->callback(TILU_GST_TEXTURE_ON, gst_impl->user_data);
}

// Ends the "new-frame" connection and the weak registration together; callback and user data
// stay for the error events.
static void _tilu_gst_stop_watching_sink(TiluGst* gst) {
  if (!gst->video_sink || !gst->new_frame_handler_id) return;
  g_signal_handler_disconnect(gst->video_sink, gst->new_frame_handler_id);
  g_object_remove_weak_pointer(G_OBJECT(gst->video_sink), reinterpret_cast<gpointer*>(&gst->video_sink));
  gst->video_sink = nullptr;
  gst->new_frame_handler_id = 0;
}

TiluGst* tilu_gst_open(const char* proxy_uri, const char* uri, ClutterActor* texture, int scan_mode,
                       int width, int height, TiluGstCallback callback, gpointer user_data) {
  TILU_GST_ASSERT(uri);
  TILU_GST_ASSERT(CLUTTER_IS_ACTOR(texture));
  auto* gst = new TiluGst{};
  ElementMaker maker;

  // Without playbin the handle still gets a pipeline: a bare one that carries the bus on which
  // the missing plug-in is reported.
  GstElement* play = maker.make("playbin", "play");
  gst->pipeline = glibx::Ref<GstElement>::wrap(play ? play : gst_pipeline_new("play"));
  GstElement* pipeline = gst->pipeline.get();

  glibx::CharPtr real_uri(tilu_gst_rewrite_uri(proxy_uri, uri));
  if (play) {
    g_object_set(pipeline, "uri", real_uri.get(), nullptr);
    g_signal_connect(pipeline, "deep-element-added", G_CALLBACK(_tilu_gst_on_deep_element_added), nullptr);
  }

  GstElement* scale = maker.make("videoscale", "scale");
  GstElement* sink = GST_ELEMENT(actor_sink(texture));

  if (callback) {
    gst->video_sink = sink;
    g_object_add_weak_pointer(G_OBJECT(sink), reinterpret_cast<gpointer*>(&gst->video_sink));
    gst->callback = callback;
    gst->user_data = user_data;
    gst->new_frame_handler_id = g_signal_connect(sink, "new-frame", G_CALLBACK(_tilu_gst_on_new_frame), gst);
  }

  GstElement* convert = nullptr;
  GstElement* resample = nullptr;
  GstElement* volume = nullptr;
  GstElement* audio_sink = nullptr;
  if (!scan_mode) {
    convert = maker.make("audioconvert", "convert");
    resample = maker.make("audioresample", "resample");
    // The sound chain carries its own volume control, which playbin then uses for its "volume"
    // property. Without one, playbin inserts a software volume element of its own, and GStreamer
    // 1.22 never frees that element (with its two pads) when the pipeline goes: one per main
    // pipeline, so every zap would leak one.
    volume = maker.make("volume", "volume");
    audio_sink = maker.make("autoaudiosink", "audiosink");
  }

  if (maker.ok()) {
    GstElement* scalesink = gst_bin_new("scalesink");
    gst_bin_add_many(GST_BIN(scalesink), scale, sink, nullptr);
    {
      auto pad = glibx::Ref<GstPad>::adopt(gst_element_get_static_pad(scale, "sink"));
      gst_element_add_pad(scalesink, gst_ghost_pad_new("sink", pad.get()));
    }
    if (scan_mode) {
      auto caps = glibx::CapsRef::adopt(
          gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, width, "height", G_TYPE_INT, height, nullptr));
      gst_element_link_filtered(scale, sink, caps.get());
      guint flags = 0;
      g_object_get(pipeline, "flags", &flags, nullptr);
      g_object_set(pipeline, "flags", flags & ~kPlayFlagAudio, nullptr);
    } else {
      GstElement* audio_bin = gst_bin_new("convertaudiosink");
      gst_bin_add_many(GST_BIN(audio_bin), convert, resample, volume, audio_sink, nullptr);
      auto pad = glibx::Ref<GstPad>::adopt(gst_element_get_static_pad(convert, "sink"));
      gst_element_add_pad(audio_bin, gst_ghost_pad_new("sink", pad.get()));
      gst_element_link_many(convert, resample, volume, audio_sink, nullptr);
      g_object_set(pipeline, "audio-sink", audio_bin, nullptr);
      gst_element_link(scale, sink);
    }
    g_object_set(pipeline, "video-sink", scalesink, nullptr);
    watch_frame_times(gst, pipeline, scale);
  } else {
    // Whatever was made is dropped; the actor's sink stays with its content.
    for (GstElement* element : {scale, convert, resample, volume, audio_sink})
      if (element) gst_object_unref(gst_object_ref_sink(element));
    post_missing_element(pipeline, maker.missing());
  }

  gst->mute = 1;
  if (has_property(pipeline, "volume")) g_object_set(pipeline, "volume", 0.0, nullptr);

  {
    auto bus = glibx::Ref<GstBus>::adopt(gst_element_get_bus(pipeline));
    gst->bus_watch_id = gst_bus_add_watch(bus.get(), _tilu_gst_on_bus_message, gst);
  }
  // A pipeline that lacks an element is not started: its error is already on the bus.
  if (maker.ok()) gst_element_set_state(pipeline, GST_STATE_PLAYING);

  g_debug("tilu_gst_open uri(%s) real_uri(%s) texture(%p) gst(%p)", uri, real_uri.get(),
          static_cast<void*>(texture), static_cast<void*>(gst));
  return gst;
}

int tilu_gst_cancel_new_frame_callback(TiluGst* gst) {
  TILU_GST_ASSERT(gst);
  _tilu_gst_stop_watching_sink(gst);
  return 0;
}

int tilu_gst_close(TiluGst* gst) {
  const void* address = gst;
  if (gst) {
    if (gst->video_sink && gst->new_frame_handler_id) {
      _tilu_gst_stop_watching_sink(gst);
      gst->callback = nullptr;
      gst->user_data = nullptr;
    }
    gst_element_set_state(gst->pipeline.get(), GST_STATE_NULL);
    release_video_sink(gst->pipeline.get());
    if (gst->bus_watch_id) g_source_remove(gst->bus_watch_id);
    gst->audio_caps_str.reset();
    gst->video_caps_str.reset();
    gst->audio_tags_str.reset();
    gst->video_tags_str.reset();
    gst->pipeline.reset();
    delete gst;
  }
  g_debug("tilu_gst_close gst(%p)", address);
  return 0;
}

int tilu_gst_set_mute(TiluGst* gst, int mute) {
  TILU_GST_ASSERT(gst);
  gst->mute = mute;
  if (has_property(gst->pipeline.get(), "volume"))
    g_object_set(gst->pipeline.get(), "volume", mute ? 0.0 : gst->volume, nullptr);
  return 0;
}

int tilu_gst_get_mute(TiluGst* gst) {
  TILU_GST_ASSERT(gst);
  return gst->mute;
}

int tilu_gst_set_volume(TiluGst* gst, double volume) {
  TILU_GST_ASSERT(gst);
  gst->volume = volume;
  if (!gst->mute && has_property(gst->pipeline.get(), "volume"))
    g_object_set(gst->pipeline.get(), "volume", volume, nullptr);
  return 0;
}

double tilu_gst_get_volume(TiluGst* gst) {
  TILU_GST_ASSERT(gst);
  return gst->volume;
}

int tilu_gst_get_num_audio(TiluGst* gst) {
  TILU_GST_ASSERT(gst);
  gint n = 0;
  if (has_property(gst->pipeline.get(), "n-audio")) g_object_get(gst->pipeline.get(), "n-audio", &n, nullptr);
  return n;
}

int tilu_gst_set_current_audio(TiluGst* gst, int index) {
  TILU_GST_ASSERT(gst);
  if (has_property(gst->pipeline.get(), "current-audio"))
    g_object_set(gst->pipeline.get(), "current-audio", index, nullptr);
  return 0;
}

int tilu_gst_get_current_audio(TiluGst* gst) {
  TILU_GST_ASSERT(gst);
  gint index = -1;
  if (has_property(gst->pipeline.get(), "current-audio"))
    g_object_get(gst->pipeline.get(), "current-audio", &index, nullptr);
  return index;
}

const char* tilu_gst_get_audio_caps_str(TiluGst* gst) {
  TILU_GST_ASSERT(gst);
  if (!gst->audio_caps_str) gst->audio_caps_str = sink_bin_caps(gst->pipeline.get(), "audio-sink");
  return gst->audio_caps_str.get();
}

const char* tilu_gst_get_video_caps_str(TiluGst* gst) {
  TILU_GST_ASSERT(gst);
  if (!gst->video_caps_str) gst->video_caps_str = sink_bin_caps(gst->pipeline.get(), "video-sink");
  return gst->video_caps_str.get();
}

const char* tilu_gst_get_audio_tags_str(TiluGst* gst) {
  TILU_GST_ASSERT(gst);
  return gst->audio_tags_str.get();
}

TiluGstFrameTimes tilu_gst_get_frame_times(TiluGst* gst) {
  TILU_GST_ASSERT(gst);
  return gst->frame_clock ? gst->frame_clock->times() : TiluGstFrameTimes{};
}

const char* tilu_gst_get_video_tags_str(TiluGst* gst) {
  TILU_GST_ASSERT(gst);
  return gst->video_tags_str.get();
}
