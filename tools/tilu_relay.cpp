// tilu-relay: a small HTTP relay for tests. GET /udp/@G:N (or /udp/G:N) joins the IPv4 group G
// on port N and streams every datagram's payload as the response body; /rtp/@G:N does the same
// with the RTP header stripped (the RTP payload). Listens on 127.0.0.1 only, prints the port it
// listens on as the first line of standard output, and stops on SIGTERM or SIGINT or after
// --max-seconds. Meant to run inside a test's own network namespace.
//
//   tilu-relay [--port N] [--max-seconds S]
#include <gio/gio.h>
#include <glib-unix.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "glib_ptr.h"

namespace {

std::atomic<bool> stopping{false};
std::atomic<int> active_clients{0};

constexpr int kReceiveBufferBytes = 2 * 1024 * 1024;
constexpr gsize kMaxDatagram = 65536;

struct Target {
  bool rtp = false;
  std::string group;
  guint16 port = 0;
};

// Parses "/udp/@G:N", "/udp/G:N", "/rtp/@G:N", "/rtp/G:N"; "src@G:N" (a source-specific form)
// is accepted and the source ignored. Returns false for anything else.
bool parse_target(const std::string& path, Target* target) {
  std::string rest;
  if (path.rfind("/udp/", 0) == 0) {
    target->rtp = false;
    rest = path.substr(5);
  } else if (path.rfind("/rtp/", 0) == 0) {
    target->rtp = true;
    rest = path.substr(5);
  } else {
    return false;
  }
  auto at = rest.rfind('@');
  if (at != std::string::npos) rest = rest.substr(at + 1);
  auto colon = rest.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string port_text = rest.substr(colon + 1);
  if (port_text.empty() || port_text.size() > 5 || port_text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  unsigned long port = std::stoul(port_text);
  if (port == 0 || port > 65535) return false;
  target->group = rest.substr(0, colon);
  target->port = guint16(port);
  auto address = glibx::Ref<GInetAddress>::adopt(g_inet_address_new_from_string(target->group.c_str()));
  return address && g_inet_address_get_family(address.get()) == G_SOCKET_FAMILY_IPV4 &&
         g_inet_address_get_is_multicast(address.get());
}

// Offset and length of the payload of an RTP packet (RFC 3550 section 5.1), or false when the
// datagram is not a version 2 RTP packet.
bool rtp_payload(const guint8* data, gsize size, gsize* offset, gsize* length) {
  if (size < 12 || (data[0] >> 6) != 2) return false;
  gsize header = 12 + 4 * gsize(data[0] & 0x0f);
  if (data[0] & 0x10) {  // header extension: 4 bytes, then its length in 32-bit words
    if (size < header + 4) return false;
    header += 4 + 4 * gsize((data[header + 2] << 8) | data[header + 3]);
  }
  gsize padding = (data[0] & 0x20) ? data[size - 1] : 0;
  if (size < header + padding) return false;
  *offset = header;
  *length = size - header - padding;
  return true;
}

bool write_all(GOutputStream* out, const void* data, gsize size) {
  gsize written = 0;
  return g_output_stream_write_all(out, data, size, &written, nullptr, nullptr) && written == size;
}

bool respond(GOutputStream* out, const char* status, const char* body) {
  glibx::CharPtr text(g_strdup_printf("HTTP/1.0 %s\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n%s\n",
                                      status, body));
  return write_all(out, text.get(), std::strlen(text.get()));
}

// A UDP socket bound to the group and port and joined to the group, or null (message in error).
glibx::Ref<GSocket> join_group(const Target& target, glibx::Error& error) {
  auto socket = glibx::Ref<GSocket>::adopt(
      g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_DATAGRAM, G_SOCKET_PROTOCOL_UDP, error.out()));
  if (!socket) return {};
  // Several clients (and the players under test) may receive the same group at once.
  g_socket_set_option(socket.get(), SOL_SOCKET, SO_REUSEADDR, 1, nullptr);
  g_socket_set_option(socket.get(), SOL_SOCKET, SO_RCVBUF, kReceiveBufferBytes, nullptr);
  auto group = glibx::Ref<GInetAddress>::adopt(g_inet_address_new_from_string(target.group.c_str()));
  auto bind_address = glibx::Ref<GSocketAddress>::adopt(g_inet_socket_address_new(group.get(), target.port));
  if (!g_socket_bind(socket.get(), bind_address.get(), TRUE, error.out())) return {};
  if (!g_socket_join_multicast_group(socket.get(), group.get(), FALSE, nullptr, error.out())) return {};
  // Wakes the receive loop once a second so that a stop is noticed.
  g_socket_set_timeout(socket.get(), 1);
  return socket;
}

void relay(GSocket* socket, const Target& target, GOutputStream* out) {
  auto buffer = std::make_unique<guint8[]>(kMaxDatagram);
  while (!stopping.load()) {
    glibx::Error error;
    gssize n = g_socket_receive(socket, reinterpret_cast<gchar*>(buffer.get()), kMaxDatagram, nullptr, error.out());
    if (n < 0) {
      if (g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) continue;
      std::fprintf(stderr, "tilu-relay: receive: %s\n", error.message());
      return;
    }
    gsize offset = 0, length = gsize(n);
    if (target.rtp && !rtp_payload(buffer.get(), gsize(n), &offset, &length)) continue;
    if (length > 0 && !write_all(out, buffer.get() + offset, length)) return;  // the client went away
  }
}

gboolean on_run(GThreadedSocketService*, GSocketConnection* connection, GObject*, gpointer) {
  active_clients++;
  GInputStream* in = g_io_stream_get_input_stream(G_IO_STREAM(connection));
  GOutputStream* out = g_io_stream_get_output_stream(G_IO_STREAM(connection));
  auto reader = glibx::Ref<GDataInputStream>::adopt(g_data_input_stream_new(in));
  g_data_input_stream_set_newline_type(reader.get(), G_DATA_STREAM_NEWLINE_TYPE_ANY);

  glibx::CharPtr request(g_data_input_stream_read_line(reader.get(), nullptr, nullptr, nullptr));
  // Headers are read and ignored, up to the blank line.
  for (int i = 0; request && *request.get() && i < 100; i++) {
    glibx::CharPtr header(g_data_input_stream_read_line(reader.get(), nullptr, nullptr, nullptr));
    if (!header || !*header.get()) break;
  }
  glibx::StrvPtr parts(request ? g_strsplit(request.get(), " ", 3) : nullptr);
  Target target;
  if (!parts || !parts.get()[0] || !parts.get()[1]) {
    respond(out, "400 Bad Request", "bad request");
  } else if (!g_str_equal(parts.get()[0], "GET")) {
    respond(out, "405 Method Not Allowed", "only GET");
  } else if (!parse_target(parts.get()[1], &target)) {
    std::fprintf(stderr, "tilu-relay: %s: not found\n", parts.get()[1]);
    respond(out, "404 Not Found", "expected /udp/@GROUP:PORT or /rtp/@GROUP:PORT with an IPv4 multicast group");
  } else {
    glibx::Error error;
    auto socket = join_group(target, error);
    if (!socket) {
      std::fprintf(stderr, "tilu-relay: %s: %s\n", parts.get()[1], error.message());
      respond(out, "502 Bad Gateway", error.message());
    } else {
      std::fprintf(stderr, "tilu-relay: %s: streaming\n", parts.get()[1]);
      static const char kHead[] = "HTTP/1.0 200 OK\r\nContent-Type: video/mp2t\r\nConnection: close\r\n\r\n";
      if (write_all(out, kHead, sizeof kHead - 1)) relay(socket.get(), target, out);
      std::fprintf(stderr, "tilu-relay: %s: done\n", parts.get()[1]);
    }
  }
  g_io_stream_close(G_IO_STREAM(connection), nullptr, nullptr);
  active_clients--;
  return TRUE;
}

// The signal watches stay installed until the process exits: once a watch is removed GLib
// restores the default action, and a second SIGTERM during the shutdown would kill the relay.
gboolean on_stop_signal(gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
  return G_SOURCE_CONTINUE;
}

gboolean on_time_over(gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
  return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
  gint port = 0;
  gint max_seconds = 600;
  GOptionEntry entries[] = {
      {"port", 0, 0, G_OPTION_ARG_INT, &port, "TCP port on 127.0.0.1 (0 picks a free one)", "N"},
      {"max-seconds", 0, 0, G_OPTION_ARG_INT, &max_seconds, "Stop after this many seconds", "S"},
      {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr}};
  GOptionContext* context = g_option_context_new("- HTTP relay of multicast UDP and RTP streams, for tests");
  g_option_context_add_main_entries(context, entries, nullptr);
  glibx::Error error;
  bool parsed = g_option_context_parse(context, &argc, &argv, error.out());
  g_option_context_free(context);
  if (!parsed) {
    std::fprintf(stderr, "tilu-relay: %s\n", error.message());
    return 2;
  }
  if (port < 0 || port > 65535 || max_seconds < 1) {
    std::fprintf(stderr, "tilu-relay: --port must be 0..65535 and --max-seconds at least 1\n");
    return 2;
  }

  auto service = glibx::Ref<GSocketService>::adopt(g_threaded_socket_service_new(32));
  auto loopback = glibx::Ref<GInetAddress>::adopt(g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4));
  auto address = glibx::Ref<GSocketAddress>::adopt(g_inet_socket_address_new(loopback.get(), guint16(port)));
  GSocketAddress* effective_ptr = nullptr;
  if (!g_socket_listener_add_address(G_SOCKET_LISTENER(service.get()), address.get(), G_SOCKET_TYPE_STREAM,
                                     G_SOCKET_PROTOCOL_TCP, nullptr, &effective_ptr, error.out())) {
    std::fprintf(stderr, "tilu-relay: listening on 127.0.0.1:%d: %s\n", port, error.message());
    return 1;
  }
  auto effective = glibx::Ref<GSocketAddress>::adopt(effective_ptr);
  std::printf("%u\n", unsigned(g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(effective.get()))));
  std::fflush(stdout);

  g_signal_connect(service.get(), "run", G_CALLBACK(on_run), nullptr);
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_unix_signal_add(SIGTERM, on_stop_signal, loop);
  g_unix_signal_add(SIGINT, on_stop_signal, loop);
  g_timeout_add_seconds(guint(max_seconds), on_time_over, loop);
  g_socket_service_start(service.get());
  g_main_loop_run(loop);

  // Clients notice the stop within their one-second receive timeout.
  stopping = true;
  g_socket_service_stop(service.get());
  g_socket_listener_close(G_SOCKET_LISTENER(service.get()));
  for (int i = 0; active_clients.load() > 0 && i < 50; i++) g_usleep(100 * 1000);
  g_main_loop_unref(loop);
  return active_clients.load() > 0 ? 1 : 0;
}
