#include "sarv_gst.h"

#include <gio/gio.h>
#include <glib/gstdio.h>
#include <gst/base/gstbasesink.h>
#include <sys/socket.h>

#include <string>

#include "sarv_snapshot_dir.h"

namespace {

using ElementRef = glibx::Ref<GstElement>;

constexpr guint kPlayFlagAudio = 0x2;

// The file sink reads its location as a printf pattern for a file number; doubling every
// percent sign makes the pattern name exactly the file asked for.
std::string _sarv_gst_location_pattern(const gchar* location) {
  std::string pattern;
  for (const gchar* c = location; *c; c++) {
    pattern += *c;
    if (*c == '%') pattern += '%';
  }
  return pattern;
}

ElementRef _sarv_gst_make(const gchar* factory, const gchar* name) {
  ElementRef element = ElementRef::wrap(gst_element_factory_make(factory, name));
  if (!element)
    g_printerr("[%p] can't create %s for a snapshot: no element %s\n", (void*)g_thread_self(), name,
               factory);
  return element;
}

// The video sink: queue ! pngenc ! multifilesink in a bin with a ghost "sink" pad.
ElementRef _sarv_gst_sink_bin(const gchar* location) {
  ElementRef conv = _sarv_gst_make("queue", "conv");
  ElementRef png = _sarv_gst_make("pngenc", "png");
  ElementRef file = _sarv_gst_make("multifilesink", "file");
  ElementRef bin = _sarv_gst_make("bin", "convpngfile");
  if (!conv || !png || !file || !bin) return nullptr;
  // snapshot: the encoder ends the stream after its first frame.
  g_object_set(png.get(), "snapshot", TRUE, "compression-level", 9, nullptr);
  std::string pattern = _sarv_gst_location_pattern(location);
  g_object_set(file.get(), "max-files", 1, "location", pattern.c_str(), nullptr);
  gst_bin_add_many(GST_BIN(bin.get()), conv.get(), png.get(), file.get(), nullptr);
  if (!gst_element_link_many(conv.get(), png.get(), file.get(), nullptr)) {
    g_printerr("[%p] can't link the snapshot elements\n", (void*)g_thread_self());
    return nullptr;
  }
  glibx::Ref<GstPad> target =
      glibx::Ref<GstPad>::adopt(gst_element_get_static_pad(conv.get(), "sink"));
  GstPad* ghost = gst_ghost_pad_new("sink", target.get());
  if (!ghost || !gst_element_add_pad(bin.get(), ghost)) {
    g_printerr("[%p] can't add the snapshot sink pad\n", (void*)g_thread_self());
    return nullptr;
  }
  return bin;
}

// decodebin's "autoplug-continue", on a streaming thread. Clearing playbin's audio flag only
// keeps sound from a sink: decodebin would still decode it. Sound caps are final here, so the
// compressed stream is left unlinked and no audio decoder is ever made.
gboolean _sarv_gst_on_autoplug_continue(GstElement*, GstPad*, GstCaps* caps, gpointer) {
  for (guint i = 0; i < gst_caps_get_size(caps); i++)
    if (g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, i)), "audio/"))
      return FALSE;
  return TRUE;
}

// playbin's "deep-element-added", on whichever thread builds the element: every decodebin is
// hooked before it starts plugging.
void _sarv_gst_on_element_added(GstBin*, GstBin*, GstElement* element, gpointer) {
  GstElementFactory* factory = gst_element_get_factory(element);
  if (factory && g_str_equal(GST_OBJECT_NAME(factory), "decodebin"))
    g_signal_connect(element, "autoplug-continue", G_CALLBACK(_sarv_gst_on_autoplug_continue),
                     nullptr);
}

// A UDP socket bound to group:port itself. udpsrc binds a multicast receiver to the any address
// with SO_REUSEPORT (GLib's bind with reuse), and Linux then hands the datagrams of every group
// sent to that port to one socket of the port's group: two snapshots of different groups on one
// port (the usual IPTV plan) would swap or mix their pictures. Bound to the group, a socket gets
// that group's datagrams only; SO_REUSEADDR alone still lets several snapshots share it.
glibx::Ref<GSocket> _sarv_gst_group_socket(const gchar* address, gint port) {
  using glibx::Ref;
  auto group = Ref<GInetAddress>::adopt(g_inet_address_new_from_string(address));
  if (!group || !g_inet_address_get_is_multicast(group.get()) || port <= 0 || port > 65535)
    return nullptr;
  auto socket =
      Ref<GSocket>::adopt(g_socket_new(g_inet_address_get_family(group.get()),
                                       G_SOCKET_TYPE_DATAGRAM, G_SOCKET_PROTOCOL_UDP, nullptr));
  if (!socket) return nullptr;
  auto bind_address =
      Ref<GSocketAddress>::adopt(g_inet_socket_address_new(group.get(), guint16(port)));
  struct sockaddr_storage native;
  gssize length = g_socket_address_get_native_size(bind_address.get());
  if (length <= 0 ||
      !g_socket_address_to_native(bind_address.get(), &native, sizeof native, nullptr))
    return nullptr;
  int fd = g_socket_get_fd(socket.get());
  int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      bind(fd, reinterpret_cast<struct sockaddr*>(&native), socklen_t(length)) != 0)
    return nullptr;
  return socket;
}

// playbin's "source-setup", on the thread that starts the pipeline: a udpsrc for a group gets
// its group-bound socket (it still joins and leaves the group on it, and closes it), and RTP
// is recognised on its first datagram.
void _sarv_gst_on_source_setup(GstElement*, GstElement* source, gpointer data) {
  GstElementFactory* factory = gst_element_get_factory(source);
  if (!factory || !g_str_equal(GST_OBJECT_NAME(factory), "udpsrc")) return;
  sarv_rtp_watch(source, &static_cast<SarvGst*>(data)->transport);
  gchar* address = nullptr;
  gint port = 0;
  g_object_get(source, "address", &address, "port", &port, nullptr);
  glibx::CharPtr owned_address(address);
  // Without one, udpsrc makes its own socket as usual.
  if (glibx::Ref<GSocket> socket = _sarv_gst_group_socket(address, port))
    g_object_set(source, "socket", socket.get(), "close-socket", TRUE, nullptr);
}

}  // namespace

SarvGst* sarv_gst_open(const gchar* uri, const gchar* location) {
  auto* gst = new SarvGst{};
  gst->marker = sarv_snapshot_marker_path(location);
  ElementRef play = _sarv_gst_make("playbin", "play");
  if (!play) return gst;
  g_object_set(play.get(), "uri", uri, nullptr);
  guint flags = 0;
  g_object_get(play.get(), "flags", &flags, nullptr);
  g_object_set(play.get(), "flags", flags & ~kPlayFlagAudio, nullptr);
  g_signal_connect(play.get(), "deep-element-added", G_CALLBACK(_sarv_gst_on_element_added),
                   nullptr);
  // The handle outlives the pipeline's streaming: the close stops it first.
  g_signal_connect(play.get(), "source-setup", G_CALLBACK(_sarv_gst_on_source_setup), gst);
  ElementRef bin = _sarv_gst_sink_bin(location);
  // Without its sink bin playbin would pick a display sink and write nothing: leave the
  // handle empty instead.
  if (!bin) return gst;
  g_object_set(play.get(), "video-sink", bin.get(), "mute", TRUE, nullptr);
  glibx::Ref<GstBus> bus = glibx::Ref<GstBus>::adopt(gst_element_get_bus(play.get()));
  gst->bus = bus.get();
  gst->pipeline = std::move(play);
  gst_element_set_state(gst->pipeline.get(), GST_STATE_PLAYING);
  return gst;
}

// Takes every message off the bus and keeps the two that the polls report. Messages of other
// types (state changes, the errors of a stream without decodable video) are dropped.
static void _sarv_gst_take_messages(SarvGst* gst) {
  while (glibx::MessageRef message = glibx::MessageRef::adopt(gst_bus_pop(gst->bus))) {
    if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS) {
      gst->eos_pending = true;
    } else if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR && !gst->write_error &&
               GST_IS_BASE_SINK(GST_MESSAGE_SRC(message.get()))) {
      GError* cause = nullptr;
      gst_message_parse_error(message.get(), &cause, nullptr);
      gst->write_error.reset(g_strdup(cause ? cause->message : "unknown error"));
      g_clear_error(&cause);
    }
  }
}

gboolean sarv_gst_is_finished(SarvGst* gst) {
  g_assert(gst);
  if (!gst->bus) return FALSE;
  _sarv_gst_take_messages(gst);
  if (!gst->eos_pending) return FALSE;
  gst->eos_pending = false;
  gst->finished = true;
  return TRUE;
}

glibx::CharPtr sarv_gst_write_error(SarvGst* gst) {
  g_assert(gst);
  if (!gst->bus) return nullptr;
  _sarv_gst_take_messages(gst);
  return std::move(gst->write_error);
}

void sarv_gst_close(SarvGst* gst) {
  if (!gst) return;
  // Going to NULL deactivates the pads under their stream locks, so a file write in progress
  // has completed (the sink writes each file whole, through a temporary name) before the
  // pipeline is released.
  if (gst->pipeline) {
    if (!gst->finished) sarv_gst_is_finished(gst);
    gst_element_set_state(gst->pipeline.get(), GST_STATE_NULL);
  }
  if (gst->finished) {
    if (gst->transport.load() == SarvTransport::rtp) {
      glibx::Error error;
      if (!g_file_set_contents(gst->marker.c_str(), "", 0, error.out()))
        g_printerr("[%p] can't mark %s as RTP: %s\n", (void*)g_thread_self(), gst->marker.c_str(),
                   error.message());
    } else {
      g_unlink(gst->marker.c_str());
    }
  }
  gst->bus = nullptr;
  delete gst;
}
