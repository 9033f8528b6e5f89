// tilurtpsrc: receives RTP (MPEG-TS, payload type 33) from a UDP group given as
// krtp://[user@]host[:port] and exposes the newest RTP source of RTP session 0 as "src".
//
//   udpsrc (caps application/x-rtp) ! rtpbin.recv_rtp_sink_0
//   rtpbin.recv_rtp_src_0_<ssrc>_<pt> -> ghost pad "src" (retargeted to every newer SSRC)

#include "tilu_gst_plugin_rtpsrc.h"

#include <cstring>

#include "glib_ptr.h"
#include "gst_ptr.h"
#include "tilu_gst_rtpsrc_element.h"

GST_DEBUG_CATEGORY_STATIC(gst_tilu_rtpsrc_debug);
#define GST_CAT_DEFAULT gst_tilu_rtpsrc_debug

enum {
  PROP_0,
  PROP_URI,
};

#define DEFAULT_PROP_URI nullptr

static GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_SOMETIMES, GST_STATIC_CAPS("application/x-rtp"));

static void gst_tilu_rtpsrc_uri_handler_init(gpointer g_iface, gpointer iface_data);

static void gst_tilu_rtpsrc_set_property(GObject* object, guint prop_id, const GValue* value,
                                         GParamSpec* pspec);
static void gst_tilu_rtpsrc_get_property(GObject* object, guint prop_id, GValue* value,
                                         GParamSpec* pspec);
static void gst_tilu_rtpsrc_finalize(GObject* object);
static GstStateChangeReturn gst_tilu_rtpsrc_change_state(GstElement* element,
                                                         GstStateChange transition);

// The parser logs to this category too and may run before the class exists (it is public).
static void gst_tilu_rtpsrc_debug_init(void) {
  static gsize initialized = 0;
  if (g_once_init_enter(&initialized)) {
    GST_DEBUG_CATEGORY_INIT(gst_tilu_rtpsrc_debug, "tilurtpsrc", 0, "TILU RTP Src");
    g_once_init_leave(&initialized, 1);
  }
}

#define gst_tilu_rtpsrc_parent_class parent_class
G_DEFINE_TYPE_WITH_CODE(GstTILURtpSrc, gst_tilu_rtpsrc, GST_TYPE_BIN,
                        G_IMPLEMENT_INTERFACE(GST_TYPE_URI_HANDLER, gst_tilu_rtpsrc_uri_handler_init));

gboolean gst_tilu_rtpsrc_parse_uri(const gchar* uri, gchar** host, guint16* port) {
  gst_tilu_rtpsrc_debug_init();

  // gst_uri_get_protocol rejects a null text with a critical; it is "not a valid URI" here.
  glibx::CharPtr protocol(uri ? gst_uri_get_protocol(uri) : nullptr);
  if (!protocol) {
    GST_ERROR("error parsing uri %s: no protocol", uri);
    return FALSE;
  }
  if (std::strcmp(protocol.get(), "krtp") != 0) {
    GST_ERROR("error parsing uri %s: wrong protocol (%s != krtp)", uri, protocol.get());
    return FALSE;
  }
  protocol.reset();

  // Null when the text after "://" holds an invalid escape.
  glibx::CharPtr location(gst_uri_get_location(uri));
  if (!location) return FALSE;
  GST_DEBUG("got location '%s'", location.get());

  const gchar* address = std::strchr(location.get(), '@');
  address = address ? address + 1 : location.get();

  glibx::CharPtr host_text;
  const gchar* separator;
  if (address[0] == '[') {
    GST_DEBUG("parse IPV6 address '%s'", address);
    const gchar* closing = std::strchr(address, ']');
    if (!closing) {
      GST_ERROR("error parsing uri %s", uri);
      return FALSE;
    }
    host_text.reset(g_strndup(address + 1, closing - address - 1));
    // The colons of the literal itself never separate the port.
    separator = std::strrchr(closing, ':');
  } else {
    GST_DEBUG("parse IPV4 address '%s'", address);
    separator = std::strrchr(address, ':');
    host_text.reset(separator ? g_strndup(address, separator - address) : g_strdup(address));
  }
  GST_DEBUG("host set to '%s'", host_text.get());

  // The low 16 bits of a signed 64-bit reading (70000 -> 4464, -1 -> 65535); conversion to an
  // unsigned type is modular, so nothing here is undefined even for clamped overflows.
  guint16 port_value = 0;
  if (separator) port_value = static_cast<guint16>(static_cast<guint64>(g_ascii_strtoll(separator + 1, nullptr, 10)));

  *host = host_text.release();
  *port = port_value;
  return TRUE;
}

// "udp://%s:%u" for the URI, or null when it does not parse (the parser has said why).
static glibx::CharPtr gst_tilu_rtpsrc_udp_uri(const gchar* uri) {
  gchar* host = nullptr;
  guint16 port = 0;
  if (!gst_tilu_rtpsrc_parse_uri(uri, &host, &port)) return nullptr;
  glibx::CharPtr owned_host(host);
  return glibx::CharPtr(g_strdup_printf("udp://%s:%u", owned_host.get(), guint(port)));
}

static glibx::CharPtr gst_tilu_rtpsrc_dup_uri(GstTILURtpSrc* self) {
  glibx::ObjectLock lock(self);
  return glibx::CharPtr(g_strdup(self->uri));
}

static void gst_tilu_rtpsrc_class_init(GstTILURtpSrcClass* klass) {
  GObjectClass* gobject_class = G_OBJECT_CLASS(klass);
  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);

  gobject_class->set_property = gst_tilu_rtpsrc_set_property;
  gobject_class->get_property = gst_tilu_rtpsrc_get_property;
  gobject_class->finalize = gst_tilu_rtpsrc_finalize;

  g_object_class_install_property(
      gobject_class, PROP_URI,
      g_param_spec_string("uri", "URI", "URI of the media to play", DEFAULT_PROP_URI,
                          GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));

  gst_element_class_add_static_pad_template(element_class, &src_template);

  element_class->change_state = GST_DEBUG_FUNCPTR(gst_tilu_rtpsrc_change_state);

  gst_element_class_set_static_metadata(element_class, "tilurtpsrc", "Generic/Bin/Src", "TILU RTP Src",
                                        "tilu developers <tilu-devel@lists.tilu.invalid>");

  gst_tilu_rtpsrc_debug_init();
}

static void gst_tilu_rtpsrc_init(GstTILURtpSrc* self) {
  self->uri = nullptr;
  self->udpsrc = nullptr;
  self->rtpbin = nullptr;
  self->ghost_pad = nullptr;
  self->num_pads = 0;
  g_mutex_init(&self->pad_lock);

  GST_DEBUG_OBJECT(self, "tilurtpsrc initialized");
}

static void gst_tilu_rtpsrc_finalize(GObject* object) {
  GstTILURtpSrc* self = GST_TILU_RTPSRC(object);

  g_free(self->uri);
  self->uri = nullptr;
  // The bin has released the children and the ghost pad in its dispose.
  self->udpsrc = nullptr;
  self->rtpbin = nullptr;
  self->ghost_pad = nullptr;
  self->num_pads = 0;
  g_mutex_clear(&self->pad_lock);

  G_OBJECT_CLASS(parent_class)->finalize(object);
}

static void gst_tilu_rtpsrc_set_property(GObject* object, guint prop_id, const GValue* value,
                                         GParamSpec* pspec) {
  GstTILURtpSrc* self = GST_TILU_RTPSRC(object);

  switch (prop_id) {
    case PROP_URI: {
      {
        glibx::ObjectLock lock(self);
        g_free(self->uri);
        self->uri = g_value_dup_string(value);
      }
      // Once started, the UDP source follows; a URI that does not parse leaves it where it is.
      if (self->udpsrc) {
        if (glibx::CharPtr udp_uri = gst_tilu_rtpsrc_udp_uri(g_value_get_string(value)))
          g_object_set(self->udpsrc, "uri", udp_uri.get(), nullptr);
      }
      break;
    }
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
      break;
  }
}

static void gst_tilu_rtpsrc_get_property(GObject* object, guint prop_id, GValue* value,
                                         GParamSpec* pspec) {
  GstTILURtpSrc* self = GST_TILU_RTPSRC(object);

  switch (prop_id) {
    case PROP_URI: {
      glibx::ObjectLock lock(self);
      g_value_set_string(value, self->uri);
      break;
    }
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
      break;
  }
}

static GstPadProbeReturn gst_tilu_rtpsrc_drop_cb(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
  (void)pad;
  (void)info;
  (void)data;
  return GST_PAD_PROBE_DROP;
}

// Runs on the streaming thread of the RTP source whose pad rtpbin adds (its jitter buffer), so
// two sources starting together meet here; pad_lock makes the test of num_pads and the ghost
// pad's creation or retargeting one step.
static void gst_tilu_rtpsrc_rtpbin_pad_added_cb(GstElement* rtpbin, GstPad* pad, gpointer element) {
  (void)rtpbin;
  GstTILURtpSrc* self = GST_TILU_RTPSRC(element);

  glibx::CharPtr name(gst_pad_get_name(pad));
  GST_DEBUG_OBJECT(self, "adding a pad %s", name.get());

  if (!g_str_has_prefix(name.get(), "recv_rtp_src_")) {
    name.reset();
    GST_DEBUG_OBJECT(self, "Pad name does not start with recv_rtp_src_");
    return;
  }
  name.reset();

  if (GST_PAD_DIRECTION(pad) == GST_PAD_SINK) {
    GST_DEBUG_OBJECT(self, "Pad is not src pad");
    return;
  }

  auto target = glibx::Ref<GstPad>::wrap(pad);

  g_mutex_lock(&self->pad_lock);
  if (self->num_pads != 0) {
    // One source pad for the element: a sender that restarts with a new SSRC keeps playing
    // through the same pad, and downstream never sees a second stream.
    GST_DEBUG_OBJECT(self, "Ignore SSRC");
    // An older source that is still sending would now push into an unlinked pad, and rtpbin
    // hands that not-linked result back to the UDP source, which stops the whole element with
    // a streaming error. Its data is dropped instead, before the link goes away.
    auto previous = glibx::Ref<GstPad>::adopt(gst_ghost_pad_get_target(GST_GHOST_PAD(self->ghost_pad)));
    if (previous)
      gst_pad_add_probe(previous.get(), GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                        gst_tilu_rtpsrc_drop_cb, nullptr, nullptr);
    gst_ghost_pad_set_target(GST_GHOST_PAD(self->ghost_pad), target.get());
    g_mutex_unlock(&self->pad_lock);
    return;
  }

  self->ghost_pad = gst_ghost_pad_new("src", target.get());
  gst_pad_set_active(self->ghost_pad, TRUE);
  // The element takes the floating reference: from here the bin owns the ghost pad.
  gst_element_add_pad(GST_ELEMENT(self), self->ghost_pad);
  self->num_pads = 1;
  g_mutex_unlock(&self->pad_lock);

  gst_element_no_more_pads(GST_ELEMENT(self));
}

static void gst_tilu_rtpsrc_post_uri_error(GstTILURtpSrc* self, const gchar* uri) {
  if (!uri)
    GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("No krtp URI set"), ("the \"uri\" property is empty"));
  else
    GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("Invalid krtp URI '%s'", uri),
                      ("expected krtp://[user@]host[:port]"));
}

static gboolean gst_tilu_rtpsrc_start(GstTILURtpSrc* self) {
  glibx::CharPtr uri = gst_tilu_rtpsrc_dup_uri(self);

  // Receiving from the UDP source's default address (any host, port 5004) for a URI that names
  // another one would show some other stream under this entry: refuse to start instead.
  glibx::CharPtr udp_uri = gst_tilu_rtpsrc_udp_uri(uri.get());

  if (self->udpsrc) {
    // Back up after a return to READY: the bin kept the pair it was given, and a second pair
    // would join the same group twice. The same children go up again, at the current address.
    GST_DEBUG_OBJECT(self, "Reusing elements");
    if (!udp_uri) {
      gst_tilu_rtpsrc_post_uri_error(self, uri.get());
      return FALSE;
    }
    g_object_set(self->udpsrc, "uri", udp_uri.get(), nullptr);
    return TRUE;
  }

  GST_DEBUG_OBJECT(self, "Creating elements");

  auto udpsrc = glibx::Ref<GstElement>::wrap(gst_element_factory_make("udpsrc", nullptr));
  if (!udpsrc) {
    GST_ELEMENT_ERROR(self, CORE, MISSING_PLUGIN, ("Missing element '%s' - check your GStreamer installation.", "udpsrc"),
                      (nullptr));
    return FALSE;
  }
  auto rtpbin = glibx::Ref<GstElement>::wrap(gst_element_factory_make("rtpbin", nullptr));
  if (!rtpbin) {
    GST_ELEMENT_ERROR(self, CORE, MISSING_PLUGIN, ("Missing element '%s' - check your GStreamer installation.", "rtpbin"),
                      (nullptr));
    return FALSE;  // drops the UDP source
  }

  auto caps = glibx::CapsRef::adopt(gst_caps_new_simple("application/x-rtp", "media", G_TYPE_STRING, "video",
                                                        "clock-rate", G_TYPE_INT, 90000, "payload", G_TYPE_INT, 33,
                                                        nullptr));
  g_object_set(udpsrc.get(), "caps", caps.get(), nullptr);
  caps.reset();

  if (!udp_uri) {
    gst_tilu_rtpsrc_post_uri_error(self, uri.get());
    return FALSE;
  }
  g_object_set(udpsrc.get(), "uri", udp_uri.get(), nullptr);

  // The bin takes references of its own; the local owners drop theirs on return.
  gst_bin_add_many(GST_BIN(self), udpsrc.get(), rtpbin.get(), nullptr);
  self->udpsrc = udpsrc.get();
  self->rtpbin = rtpbin.get();

  if (!gst_element_link_pads(self->udpsrc, "src", self->rtpbin, "recv_rtp_sink_0"))
    GST_ERROR_OBJECT(self, "Could not link udpsrc to rtpbin");

  g_signal_connect(self->rtpbin, "pad-added", G_CALLBACK(gst_tilu_rtpsrc_rtpbin_pad_added_cb), self);

  // udpsrc binds and joins the group on its way to READY. When that fails for a host it cannot
  // resolve (or an empty one) it posts nothing, and the pipeline would fail without saying why.
  if (!gst_element_sync_state_with_parent(self->udpsrc)) {
    GST_ERROR_OBJECT(self, "Could not set udpsrc to playing");
    GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("Could not receive from '%s'", uri.get()),
                      ("udpsrc could not open %s", udp_uri.get()));
  }
  if (!gst_element_sync_state_with_parent(self->rtpbin)) GST_ERROR_OBJECT(self, "Could not set rtpbin to playing");

  return TRUE;
}

static GstStateChangeReturn gst_tilu_rtpsrc_change_state(GstElement* element, GstStateChange transition) {
  GstTILURtpSrc* self = GST_TILU_RTPSRC(element);

  if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
    GST_DEBUG_OBJECT(self, "Configuring tilurtpsrc");
    if (!gst_tilu_rtpsrc_start(self)) {
      GST_DEBUG_OBJECT(self, "Start failed");
      return GST_STATE_CHANGE_FAILURE;
    }
  }

  return GST_ELEMENT_CLASS(parent_class)->change_state(element, transition);
}

/* GstURIHandler */

static GstURIType gst_tilu_rtpsrc_uri_get_type(GType type) {
  (void)type;
  return GST_URI_SRC;
}

static const gchar* const* gst_tilu_rtpsrc_uri_get_protocols(GType type) {
  (void)type;
  static const gchar* protocols[] = {"krtp", nullptr};
  return protocols;
}

static gchar* gst_tilu_rtpsrc_uri_get_uri(GstURIHandler* handler) {
  return gst_tilu_rtpsrc_dup_uri(GST_TILU_RTPSRC(handler)).release();
}

// Accepts any text: a URI that does not parse is reported when the element starts.
static gboolean gst_tilu_rtpsrc_uri_set_uri(GstURIHandler* handler, const gchar* uri, GError** error) {
  (void)error;
  g_object_set(handler, "uri", uri, nullptr);
  return TRUE;
}

static void gst_tilu_rtpsrc_uri_handler_init(gpointer g_iface, gpointer iface_data) {
  (void)iface_data;
  GstURIHandlerInterface* iface = static_cast<GstURIHandlerInterface*>(g_iface);

  iface->get_type = gst_tilu_rtpsrc_uri_get_type;
  iface->get_protocols = gst_tilu_rtpsrc_uri_get_protocols;
  iface->get_uri = gst_tilu_rtpsrc_uri_get_uri;
  iface->set_uri = gst_tilu_rtpsrc_uri_set_uri;
}

/* Static plug-in */

static gboolean gst_tilu_rtpsrc_plugin_init(GstPlugin* plugin) {
  return gst_element_register(plugin, "tilurtpsrc", GST_RANK_NONE, GST_TYPE_TILU_RTPSRC);
}

gboolean gst_tilu_rtpsrc_plugin_register(void) {
  // A second registration would add a second plug-in of the same name to the registry.
  static gsize result = 0;
  if (g_once_init_enter(&result)) {
    gboolean registered =
        gst_plugin_register_static(1, 6, "tilurtpsrc", "RTP protocol for tilu", gst_tilu_rtpsrc_plugin_init, "0.8",
                                   "GPL", "tilu", "tilu", "https://tilu.invalid/");
    g_once_init_leave(&result, registered ? 1 : 2);
  }
  return result == 1;
}
