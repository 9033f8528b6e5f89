// tools/tilu-relay over real sockets in the test's own network namespace: requests it refuses,
// UDP payloads relayed as they are, RTP payloads with every kind of header stripped, and a
// clean stop on SIGTERM while a client is streaming.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <fstream>
#include <string>
#include <vector>

#include "glib_ptr.h"
#include "test_env.h"

namespace {

using Bytes = std::vector<guint8>;

class Relay {
 public:
  Relay() : process_({TILU_TOOLS_DIR "/tilu-relay", "--port", "0", "--max-seconds", "60"}, dir_.file("out"),
                     dir_.file("err")) {
    for (int i = 0; i < 500 && port_ == 0; i++) {
      std::ifstream in(dir_.file("out"));
      std::string line;
      if (std::getline(in, line) && !line.empty()) port_ = std::stoi(line);
      else g_usleep(10000);
    }
  }
  int port() const { return port_; }
  pid_t pid() const { return process_.pid(); }
  int stop() { return process_.stop(); }
  int wait(int timeout_ms) { return process_.wait(timeout_ms); }

 private:
  tilutest::TempDir dir_;
  tilutest::ChildProcess process_;
  int port_ = 0;
};

// A client connection with a 5 s read timeout.
class Client {
 public:
  Client(int port, const std::string& request) {
    auto client = glibx::Ref<GSocketClient>::adopt(g_socket_client_new());
    glibx::Error error;
    connection_ = glibx::Ref<GSocketConnection>::adopt(
        g_socket_client_connect_to_host(client.get(), "127.0.0.1", guint16(port), nullptr, error.out()));
    EXPECT_TRUE(connection_) << error.message();
    if (!connection_) return;
    g_socket_set_timeout(g_socket_connection_get_socket(connection_.get()), 5);
    GOutputStream* out = g_io_stream_get_output_stream(G_IO_STREAM(connection_.get()));
    EXPECT_TRUE(g_output_stream_write_all(out, request.data(), request.size(), nullptr, nullptr, error.out()))
        << error.message();
  }
  // Reads until the end of the response headers; returns them.
  std::string head() {
    std::string text;
    while (text.find("\r\n\r\n") == std::string::npos) {
      Bytes b = read(1);
      if (b.empty()) break;
      text += char(b[0]);
    }
    return text;
  }
  // Reads up to n bytes (fewer at the end of the stream or on time-out).
  Bytes read(size_t n) {
    Bytes out(n);
    if (!connection_) return {};
    GInputStream* in = g_io_stream_get_input_stream(G_IO_STREAM(connection_.get()));
    gsize got = 0;
    g_input_stream_read_all(in, out.data(), n, &got, nullptr, nullptr);
    out.resize(got);
    return out;
  }

 private:
  glibx::Ref<GSocketConnection> connection_;
};

class Sender {
 public:
  Sender(const char* group, int port) {
    socket_ = glibx::Ref<GSocket>::adopt(
        g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_DATAGRAM, G_SOCKET_PROTOCOL_UDP, nullptr));
    auto address = glibx::Ref<GInetAddress>::adopt(g_inet_address_new_from_string(group));
    destination_ = glibx::Ref<GSocketAddress>::adopt(g_inet_socket_address_new(address.get(), guint16(port)));
  }
  void send(const Bytes& datagram) {
    glibx::Error error;
    EXPECT_EQ(g_socket_send_to(socket_.get(), destination_.get(), reinterpret_cast<const gchar*>(datagram.data()),
                               datagram.size(), nullptr, error.out()),
              gssize(datagram.size()))
        << error.message();
  }

 private:
  glibx::Ref<GSocket> socket_;
  glibx::Ref<GSocketAddress> destination_;
};

Bytes payload(int seed, size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; i++) b[i] = guint8(seed * 31 + i);
  return b;
}

TEST(TiluRelay, RefusesWhatItCannotRelay) {
  Relay relay;
  ASSERT_GT(relay.port(), 0);
  struct Case {
    std::string request;
    const char* status;
  };
  const Case cases[] = {
      {"GET / HTTP/1.1\r\n\r\n", "404"},
      {"GET /udp/239.255.0.1 HTTP/1.1\r\n\r\n", "404"},         // no port
      {"GET /udp/@239.255.0.1:0 HTTP/1.1\r\n\r\n", "404"},
      {"GET /udp/@239.255.0.1:70000 HTTP/1.1\r\n\r\n", "404"},
      {"GET /udp/@239.255.0.1:50x0 HTTP/1.1\r\n\r\n", "404"},
      {"GET /udp/@10.0.0.1:5000 HTTP/1.1\r\n\r\n", "404"},      // not a multicast group
      {"GET /udp/@ff05::1:5000 HTTP/1.1\r\n\r\n", "404"},       // IPv4 only
      {"GET /tcp/@239.255.0.1:5000 HTTP/1.1\r\n\r\n", "404"},
      {"POST /udp/@239.255.0.1:5000 HTTP/1.1\r\n\r\n", "405"},
      {"\r\n", "400"},
  };
  for (const Case& c : cases) {
    Client client(relay.port(), c.request);
    std::string head = client.head();
    EXPECT_EQ(head.rfind(std::string("HTTP/1.0 ") + c.status, 0), 0u) << c.request << " -> " << head;
  }
}

// Sends each datagram and reads what the relay made of it (empty: nothing). The relay joins the
// group before it answers, so nothing sent after the response head is lost on loopback.
void expect_relayed(Client& client, Sender& sender, const std::vector<Bytes>& datagrams,
                    const std::vector<Bytes>& expected) {
  for (size_t i = 0; i < datagrams.size(); i++) {
    sender.send(datagrams[i]);
    if (expected[i].empty()) continue;
    Bytes got = client.read(expected[i].size());
    EXPECT_EQ(got, expected[i]) << "datagram " << i;
  }
}

TEST(TiluRelay, RelaysUdpDatagramsAsTheyAre) {
  Relay relay;
  ASSERT_GT(relay.port(), 0);
  for (const char* path : {"/udp/@239.255.5.1:6000", "/udp/239.255.5.1:6000", "/udp/10.1.1.1@239.255.5.1:6000"}) {
    SCOPED_TRACE(path);
    Client client(relay.port(), std::string("GET ") + path + " HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_EQ(client.head().rfind("HTTP/1.0 200", 0), 0u);
    Sender sender("239.255.5.1", 6000);
    std::vector<Bytes> datagrams;
    for (int i = 0; i < 20; i++) datagrams.push_back(payload(i, 1316));
    expect_relayed(client, sender, datagrams, datagrams);
  }
}

Bytes rtp_packet(int csrc_count, int extension_words, int padding, const Bytes& body) {
  Bytes p = {guint8(0x80 | (padding ? 0x20 : 0) | (extension_words >= 0 ? 0x10 : 0) | csrc_count), 33, 0, 1,
             0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78};
  for (int i = 0; i < csrc_count * 4; i++) p.push_back(0xcc);
  if (extension_words >= 0) {
    p.insert(p.end(), {0xbe, 0xde, 0, guint8(extension_words)});
    for (int i = 0; i < extension_words * 4; i++) p.push_back(0xee);
  }
  p.insert(p.end(), body.begin(), body.end());
  for (int i = 0; i < padding; i++) p.push_back(i + 1 == padding ? guint8(padding) : 0);
  return p;
}

TEST(TiluRelay, StripsEveryKindOfRtpHeader) {
  Relay relay;
  ASSERT_GT(relay.port(), 0);
  Client client(relay.port(), "GET /rtp/@239.255.5.2:6002 HTTP/1.1\r\n\r\n");
  ASSERT_EQ(client.head().rfind("HTTP/1.0 200", 0), 0u);
  Sender sender("239.255.5.2", 6002);
  std::vector<Bytes> datagrams, expected;
  auto add = [&](const Bytes& datagram, const Bytes& body) {
    datagrams.push_back(datagram);
    expected.push_back(body);
  };
  add(rtp_packet(0, -1, 0, payload(1, 1316)), payload(1, 1316));
  add(rtp_packet(2, -1, 0, payload(2, 188)), payload(2, 188));     // CSRC list
  add(rtp_packet(0, 3, 0, payload(3, 376)), payload(3, 376));      // header extension
  add(rtp_packet(1, 1, 4, payload(4, 188)), payload(4, 188));      // all of them, and padding
  add(Bytes{0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {});    // not RTP version 2: skipped
  add(Bytes{0x80, 33, 0}, {});                                      // shorter than a header
  add(rtp_packet(0, -1, 0, payload(5, 1316)), payload(5, 1316));
  expect_relayed(client, sender, datagrams, expected);
}

TEST(TiluRelay, StopsCleanlyOnSigtermWhileStreaming) {
  Relay relay;
  ASSERT_GT(relay.port(), 0);
  Client client(relay.port(), "GET /udp/@239.255.5.3:6004 HTTP/1.1\r\n\r\n");
  ASSERT_EQ(client.head().rfind("HTTP/1.0 200", 0), 0u);
  gint64 t0 = g_get_monotonic_time();
  int status = relay.stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
  EXPECT_LT(g_get_monotonic_time() - t0, 4 * G_USEC_PER_SEC);
  EXPECT_TRUE(client.read(1).empty()) << "the connection stayed open";
}

// A supervisor that repeats its SIGTERM while the relay is still closing its clients must get
// the same clean exit, not a kill by the default action.
TEST(TiluRelay, RepeatedSigtermsDuringTheStopAreHandledToo) {
  Relay relay;
  ASSERT_GT(relay.port(), 0);
  Client client(relay.port(), "GET /udp/@239.255.5.3:6004 HTTP/1.1\r\n\r\n");
  ASSERT_EQ(client.head().rfind("HTTP/1.0 200", 0), 0u);
  int status = -1;
  for (int i = 0; i < 500 && status == -1; i++) {
    kill(relay.pid(), SIGTERM);
    status = relay.wait(10);
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
}

TEST(TiluRelay, RejectsBadOptions) {
  for (std::vector<std::string> args : {std::vector<std::string>{"--port", "-1"}, {"--port", "70000"},
                                        {"--max-seconds", "0"}, {"--bogus"}}) {
    args.insert(args.begin(), TILU_TOOLS_DIR "/tilu-relay");
    auto result = tilutest::run_capture(args, 10000);
    EXPECT_EQ(result.exit_code, 2) << args[1] << ": " << result.err;
    EXPECT_NE(result.err.find("tilu-relay"), std::string::npos) << result.err;
  }
}

}  // namespace

int main(int argc, char** argv) {
  tilutest::enter_private_netns();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
