// The test-channel sender, received for real in a private network namespace: its streams
// decode to the stated pictures and sound, its playlist names what it sends, its RTP form
// changes SSRC on request without a gap, and it ends cleanly, leaving no namespace behind.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "channel_sender.h"
#include "glib_ptr.h"
#include "gst_ptr.h"
#include "test_env.h"

namespace {

using tilutest::ChannelOptions;
using tilutest::ChannelSender;

// The smallest picture the encoders take, for tests that look at packets rather than pictures.
ChannelOptions tiny_channel(const char* group, int port, const char* format = "udp") {
  ChannelOptions o;
  o.format = format;
  o.group = group;
  o.port = port;
  o.width = 160;
  o.height = 96;
  return o;
}

const std::string kTool = TILU_TOOLS_DIR "/tilu-channels";

// The network namespace the test binary started in (kept open before it moved to its own).
int g_start_netns_fd = -1;
bool g_started_in_host_netns = false;

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// ---------------------------------------------------------------------------------------------
// A plain socket joined to one group: the packets exactly as they arrive.

class GroupSocket {
 public:
  GroupSocket(const std::string& group, int port) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    inet_pton(AF_INET, group.c_str(), &addr.sin_addr);
    ok_ = bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ip_mreq mreq{};
    mreq.imr_multiaddr = addr.sin_addr;
    mreq.imr_interface.s_addr = htonl(INADDR_ANY);
    ok_ = ok_ && setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) == 0;
  }
  GroupSocket(const GroupSocket&) = delete;
  GroupSocket& operator=(const GroupSocket&) = delete;
  ~GroupSocket() { close(fd_); }
  bool ok() const { return ok_; }

  // The next datagram, or nothing within timeout_ms.
  std::optional<std::vector<uint8_t>> receive(int timeout_ms) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return std::nullopt;
    std::vector<uint8_t> data(65536);
    ssize_t n = recv(fd_, data.data(), data.size(), 0);
    if (n < 0) return std::nullopt;
    data.resize(size_t(n));
    return data;
  }

 private:
  int fd_ = -1;
  bool ok_ = false;
};

struct RtpHeader {
  int version;
  int payload_type;
  uint16_t seq;
  uint32_t timestamp;
  uint32_t ssrc;
  size_t payload_offset;
};

std::optional<RtpHeader> parse_rtp(const std::vector<uint8_t>& p) {
  if (p.size() < 12) return std::nullopt;
  RtpHeader h{};
  h.version = p[0] >> 6;
  h.payload_type = p[1] & 0x7f;
  h.seq = uint16_t(p[2] << 8 | p[3]);
  h.timestamp = uint32_t(p[4]) << 24 | uint32_t(p[5]) << 16 | uint32_t(p[6]) << 8 | p[7];
  h.ssrc = uint32_t(p[8]) << 24 | uint32_t(p[9]) << 16 | uint32_t(p[10]) << 8 | p[11];
  h.payload_offset = 12 + 4 * size_t(p[0] & 0x0f);
  return h;
}

// ---------------------------------------------------------------------------------------------
// An in-process receiver of one channel: udpsrc (! rtpmp2tdepay) ! tsdemux, then per stream
// h264parse ! avdec_h264 ! RGB appsink and aacparse ! avdec_aac ! mono S16, keeping what the
// parsers saw, the last picture and the first second of sound.

class StreamProbe {
 public:
  StreamProbe(const std::string& group, int port, bool rtp) {
    std::string caps = rtp ? " caps=\"application/x-rtp,media=video,clock-rate=90000,"
                             "encoding-name=MP2T,payload=33\" ! rtpjitterbuffer latency=200 ! "
                             "rtpmp2tdepay"
                           : " caps=\"video/mpegts,systemstream=true\"";
    std::string description = "udpsrc address=" + group + " port=" + std::to_string(port) +
                              " auto-multicast=true buffer-size=4194304" + caps +
                              // Drain the socket at once, however slow the decoding.
                              " ! queue max-size-time=0 max-size-bytes=0 max-size-buffers=0"
                              " ! tsdemux name=demux";
    glibx::Error error;
    GstElement* p = gst_parse_launch(description.c_str(), error.out());
    EXPECT_FALSE(error) << error.message();
    pipeline_ = g_object_is_floating(p) ? glibx::Ref<GstElement>::wrap(p)
                                        : glibx::Ref<GstElement>::adopt(p);
    glibx::Ref<GstElement> demux = glibx::Ref<GstElement>::adopt(
        gst_bin_get_by_name(GST_BIN(pipeline_.get()), "demux"));
    g_signal_connect(demux.get(), "pad-added", G_CALLBACK(on_pad_added), this);
    EXPECT_NE(gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING),
              GST_STATE_CHANGE_FAILURE);
  }
  StreamProbe(const StreamProbe&) = delete;
  StreamProbe& operator=(const StreamProbe&) = delete;
  ~StreamProbe() { gst_element_set_state(pipeline_.get(), GST_STATE_NULL); }

  // Waits until `frames` pictures came out of the decoder (and, with audio, a second of sound).
  bool wait(int frames, bool audio, int timeout_ms) {
    gint64 deadline = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
    while (g_get_monotonic_time() < deadline) {
      pull_frames();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        bool sound = seen_.sample_rate > 0 && seen_.samples.size() >= size_t(seen_.sample_rate);
        if (decoded_ >= frames && (!audio || sound)) return true;
      }
      g_usleep(10000);
    }
    return false;
  }

  // What arrived so far, for failure messages.
  std::string describe() {
    Seen s = seen();
    std::ostringstream text;
    text << "probe: " << s.video_pads << " video and " << s.audio_pads << " audio streams, "
         << s.decoded << " pictures, " << s.samples.size() << " samples; h264 caps \""
         << s.h264_caps << "\"";
    return text.str();
  }

  struct Seen {
    std::string h264_caps, aac_caps, frame_caps;
    int decoded = 0, audio_buffers = 0, video_pads = 0, audio_pads = 0;
    bool reordered = false;         // a picture shown before one decoded earlier: B-frames
    std::vector<int> keyframe_gaps;  // frames between keyframes, where nothing was lost
    std::vector<uint8_t> frame;      // the last decoded picture, RGB
    int width = 0, height = 0;
    std::vector<int16_t> samples;  // the first second of sound, mono
    int sample_rate = 0;
  };
  Seen seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    Seen s = seen_;
    s.decoded = decoded_;
    s.audio_buffers = audio_buffers_;
    return s;
  }

 private:
  static void on_pad_added(GstElement*, GstPad* pad, gpointer data) {
    static_cast<StreamProbe*>(data)->add_branch(pad);
  }

  // Streaming thread of tsdemux.
  void add_branch(GstPad* pad) {
    glibx::CapsRef caps = glibx::CapsRef::adopt(gst_pad_get_current_caps(pad));
    if (!caps) caps = glibx::CapsRef::adopt(gst_pad_query_caps(pad, nullptr));
    std::string media = gst_structure_get_name(gst_caps_get_structure(caps.get(), 0));
    const char* branch;
    const char* parser;
    // Sinks added to a playing live pipeline must not wait for a preroll (async=false): the
    // first one waiting would stall the demuxer, and with it the other stream.
    if (media == "video/x-h264") {
      branch = "queue ! h264parse name=parser ! avdec_h264 ! videoconvert ! "
               "video/x-raw,format=RGB ! appsink name=frames sync=false async=false max-buffers=4 drop=true";
      parser = "parser";
    } else if (media == "audio/mpeg") {
      branch = "queue ! aacparse name=parser ! avdec_aac ! audioconvert ! "
               "audio/x-raw,format=S16LE,channels=1 ! fakesink name=sound sync=false async=false";
      parser = "parser";
    } else {
      return;
    }
    glibx::Error error;
    GstElement* bin = gst_parse_bin_from_description(branch, TRUE, error.out());
    if (!bin) return;
    glibx::Ref<GstElement> parse_element =
        glibx::Ref<GstElement>::adopt(gst_bin_get_by_name(GST_BIN(bin), parser));
    glibx::Ref<GstPad> parsed =
        glibx::Ref<GstPad>::adopt(gst_element_get_static_pad(parse_element.get(), "src"));
    bool video = media == "video/x-h264";
    gst_pad_add_probe(parsed.get(), GST_PAD_PROBE_TYPE_BUFFER,
                      video ? on_video_buffer : on_audio_buffer, this, nullptr);
    if (!video) {
      glibx::Ref<GstElement> sound =
          glibx::Ref<GstElement>::adopt(gst_bin_get_by_name(GST_BIN(bin), "sound"));
      glibx::Ref<GstPad> samples =
          glibx::Ref<GstPad>::adopt(gst_element_get_static_pad(sound.get(), "sink"));
      gst_pad_add_probe(samples.get(), GST_PAD_PROBE_TYPE_BUFFER, on_samples, this, nullptr);
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      (video ? seen_.video_pads : seen_.audio_pads)++;
      if (video)
        appsink_ = glibx::Ref<GstElement>::adopt(gst_bin_get_by_name(GST_BIN(bin), "frames"));
    }
    gst_bin_add(GST_BIN(pipeline_.get()), bin);
    gst_element_sync_state_with_parent(bin);
    glibx::Ref<GstPad> sink = glibx::Ref<GstPad>::adopt(gst_element_get_static_pad(bin, "sink"));
    gst_pad_link(pad, sink.get());
  }

  static std::string current_caps(GstPad* pad) {
    glibx::CapsRef caps = glibx::CapsRef::adopt(gst_pad_get_current_caps(pad));
    if (!caps) return {};
    glibx::CharPtr text(gst_caps_to_string(caps.get()));
    return text.get();
  }

  static GstPadProbeReturn on_video_buffer(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* self = static_cast<StreamProbe*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    std::lock_guard<std::mutex> lock(self->mutex_);
    if (self->seen_.h264_caps.empty()) self->seen_.h264_caps = current_caps(pad);
    // Decode and presentation times differ only where pictures are reordered. (Comparing
    // successive presentation times would also fire on a lost packet.)
    GstClockTime pts = GST_BUFFER_PTS(buffer), dts = GST_BUFFER_DTS(buffer);
    if (GST_CLOCK_TIME_IS_VALID(pts) && GST_CLOCK_TIME_IS_VALID(dts) && pts != dts)
      self->seen_.reordered = true;
    // Frames from one keyframe to the next, counted only over runs without a hole: in decode
    // order each frame is one frame duration after the one before.
    GstClockTime decode_time = GST_CLOCK_TIME_IS_VALID(dts) ? dts : pts;
    GstClockTime frame = GST_BUFFER_DURATION(buffer);
    bool hole = GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DISCONT) ||
                !GST_CLOCK_TIME_IS_VALID(decode_time) || !GST_CLOCK_TIME_IS_VALID(frame) ||
                !GST_CLOCK_TIME_IS_VALID(self->last_decode_time_) ||
                decode_time <= self->last_decode_time_ ||
                decode_time - self->last_decode_time_ > frame + frame / 2;
    self->last_decode_time_ = decode_time;
    if (hole) self->frames_since_key_ = -1;
    if (!GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT)) {
      if (self->frames_since_key_ > 0) self->seen_.keyframe_gaps.push_back(self->frames_since_key_);
      self->frames_since_key_ = 0;
    }
    if (self->frames_since_key_ >= 0) self->frames_since_key_++;
    return GST_PAD_PROBE_OK;
  }

  static GstPadProbeReturn on_audio_buffer(GstPad* pad, GstPadProbeInfo*, gpointer data) {
    auto* self = static_cast<StreamProbe*>(data);
    std::lock_guard<std::mutex> lock(self->mutex_);
    if (self->seen_.aac_caps.empty()) self->seen_.aac_caps = current_caps(pad);
    self->audio_buffers_++;
    return GST_PAD_PROBE_OK;
  }

  // Keeps the first second of decoded sound (mono S16).
  static GstPadProbeReturn on_samples(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* self = static_cast<StreamProbe*>(data);
    glibx::BufferMap map(GST_PAD_PROBE_INFO_BUFFER(info));
    std::lock_guard<std::mutex> lock(self->mutex_);
    if (self->seen_.sample_rate == 0) {
      glibx::CapsRef caps = glibx::CapsRef::adopt(gst_pad_get_current_caps(pad));
      if (caps) gst_structure_get_int(gst_caps_get_structure(caps.get(), 0), "rate",
                                      &self->seen_.sample_rate);
    }
    auto& samples = self->seen_.samples;
    if (!map || self->seen_.sample_rate == 0 ||
        samples.size() >= size_t(self->seen_.sample_rate))
      return GST_PAD_PROBE_OK;
    const auto* s16 = reinterpret_cast<const int16_t*>(map.data());
    samples.insert(samples.end(), s16, s16 + map.size() / 2);
    return GST_PAD_PROBE_OK;
  }

  void pull_frames() {
    glibx::Ref<GstElement> sink;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sink = appsink_;
    }
    if (!sink) return;
    for (;;) {
      GstSample* raw = nullptr;
      g_signal_emit_by_name(sink.get(), "try-pull-sample", GstClockTime(0), &raw);
      if (!raw) return;
      glibx::SampleRef sample = glibx::SampleRef::adopt(raw);
      GstCaps* caps = gst_sample_get_caps(sample.get());
      glibx::BufferMap map(gst_sample_get_buffer(sample.get()));
      std::lock_guard<std::mutex> lock(mutex_);
      decoded_++;
      if (caps) {
        glibx::CharPtr text(gst_caps_to_string(caps));
        seen_.frame_caps = text.get();
        GstStructure* s = gst_caps_get_structure(caps, 0);
        gst_structure_get_int(s, "width", &seen_.width);
        gst_structure_get_int(s, "height", &seen_.height);
      }
      if (map) seen_.frame.assign(map.data(), map.data() + map.size());
    }
  }

  glibx::Ref<GstElement> pipeline_;
  std::mutex mutex_;
  glibx::Ref<GstElement> appsink_;
  Seen seen_;
  int decoded_ = 0;
  int audio_buffers_ = 0;
  GstClockTime last_decode_time_ = GST_CLOCK_TIME_NONE;
  int frames_since_key_ = -1;
};

double mean_abs_difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return -1;
  double sum = 0;
  for (size_t i = 0; i < a.size(); i++) sum += std::abs(int(a[i]) - int(b[i]));
  return sum / double(a.size());
}

// The frequency of a pure tone from its rising zero crossings.
double tone_hz(const std::vector<int16_t>& samples, int rate) {
  if (samples.size() < 2 || rate <= 0) return 0;
  int crossings = 0;
  for (size_t i = 1; i < samples.size(); i++) crossings += samples[i - 1] < 0 && samples[i] >= 0;
  return crossings * double(rate) / double(samples.size());
}

std::string caps_field(const std::string& caps, const std::string& field) {
  auto at = caps.find(field + "=(");
  if (at == std::string::npos) return {};
  at = caps.find(')', at) + 1;
  auto end = caps.find_first_of(",", at);
  return caps.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// ---------------------------------------------------------------------------------------------
// Pictures and sound

struct EncodingCase {
  const char* name;
  bool broadcast;
  const char* profile;  // as h264parse reports it
  bool b_frames;
};

class ChannelEncoding : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(ChannelEncoding, DecodesToTheStatedPicturesAndSound) {
  const EncodingCase& c = GetParam();
  ChannelOptions o;
  o.count = 2;
  o.group = "239.255.10.1";
  o.port = 5100;
  o.width = 320;
  o.height = 180;  // not a multiple of 16: the encoder crops, the decoder must not show it
  o.keyint = 10;
  o.bitrate_kbps = 600;
  o.broadcast = c.broadcast;
  ChannelSender sender(o);
  ASSERT_TRUE(sender.ready());

  StreamProbe first(sender.group(0), sender.port(0), false);
  StreamProbe second(sender.group(1), sender.port(1), false);
  ASSERT_TRUE(first.wait(40, true, 15000)) << first.describe() << "\n" << sender.log();
  ASSERT_TRUE(second.wait(5, true, 15000)) << second.describe() << "\n" << sender.log();
  auto a = first.seen();
  auto b = second.seen();

  EXPECT_EQ(a.video_pads, 1);
  EXPECT_EQ(a.audio_pads, 1);
  EXPECT_EQ(caps_field(a.h264_caps, "profile"), c.profile) << a.h264_caps;
  EXPECT_EQ(caps_field(a.h264_caps, "chroma-format"), "4:2:0") << a.h264_caps;
  EXPECT_EQ(caps_field(a.h264_caps, "bit-depth-luma"), "8") << a.h264_caps;
  EXPECT_EQ(caps_field(a.h264_caps, "bit-depth-chroma"), "8") << a.h264_caps;
  EXPECT_EQ(a.reordered, c.b_frames) << "B-frames show as pictures presented out of decode order";
  // A keyframe every keyint frames (gaps that lost a packet on a busy machine are not counted).
  ASSERT_FALSE(a.keyframe_gaps.empty()) << first.describe();
  for (int gap : a.keyframe_gaps) EXPECT_EQ(gap, o.keyint);

  EXPECT_EQ(caps_field(a.aac_caps, "mpegversion"), "4") << a.aac_caps;
  EXPECT_EQ(a.width, 320);
  EXPECT_EQ(a.height, 180);
  EXPECT_EQ(b.width, 320);
  EXPECT_EQ(b.height, 180);
  // Different patterns: the pictures differ by far more than coding noise.
  EXPECT_GT(mean_abs_difference(a.frame, b.frame), 20.0);
  // A tone of its own, each clearly audible and apart from the other.
  double tone_a = tone_hz(a.samples, a.sample_rate), tone_b = tone_hz(b.samples, b.sample_rate);
  EXPECT_GT(tone_a, 100);
  EXPECT_LT(tone_a, 5000);
  EXPECT_GT(std::abs(tone_a - tone_b), 0.05 * tone_a) << tone_a << " Hz and " << tone_b << " Hz";
}

INSTANTIATE_TEST_SUITE_P(Sender, ChannelEncoding,
                         ::testing::Values(EncodingCase{"broadcast", true, "high", true},
                                           EncodingCase{"light", false, "constrained-baseline",
                                                        false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ChannelSender, PicturesMoveAndAudioOnlyChannelsCarryNoVideo) {
  ChannelOptions o = tiny_channel("239.255.11.1", 5200);
  {
    ChannelSender sender(o);
    ASSERT_TRUE(sender.ready());
    StreamProbe probe(sender.group(0), sender.port(0), false);
    ASSERT_TRUE(probe.wait(2, false, 15000)) << probe.describe() << "\n" << sender.log();
    auto early = probe.seen().frame;
    ASSERT_TRUE(probe.wait(30, false, 15000)) << probe.describe() << "\n" << sender.log();
    EXPECT_GT(mean_abs_difference(early, probe.seen().frame), 1.0) << "the picture stands still";
  }
  o.video = false;
  ChannelSender sender(o);
  ASSERT_TRUE(sender.ready());
  StreamProbe probe(sender.group(0), sender.port(0), false);
  ASSERT_TRUE(probe.wait(0, true, 15000)) << probe.describe() << "\n" << sender.log();
  g_usleep(500000);
  auto s = probe.seen();
  EXPECT_EQ(s.audio_pads, 1);
  EXPECT_EQ(s.video_pads, 0);
}

// The video bit rate follows --bitrate (MPEG-TS adds its few per cent).
TEST(ChannelSender, SendsAtTheBitRateAsked) {
  for (int kbps : {300, 1500}) {
    ChannelOptions o;
    o.group = "239.255.12.1";
    o.port = 5250;
    o.width = 320;
    o.height = 180;
    o.audio = false;
    o.bitrate_kbps = kbps;
    ChannelSender sender(o);
    ASSERT_TRUE(sender.ready());
    GroupSocket socket(sender.group(0), sender.port(0));
    ASSERT_TRUE(socket.ok());
    // Past the encoder's start, then two seconds.
    gint64 start = g_get_monotonic_time() + 1000000, end = start + 2000000;
    size_t bytes = 0;
    for (gint64 now; (now = g_get_monotonic_time()) < end;) {
      auto packet = socket.receive(1000);
      ASSERT_TRUE(packet) << sender.log();
      if (now >= start) bytes += packet->size();
    }
    double measured = double(bytes) * 8 / 2 / 1000;
    EXPECT_GT(measured, 0.6 * kbps) << kbps << " kb/s asked";
    EXPECT_LT(measured, 1.6 * kbps) << kbps << " kb/s asked";
  }
}

// ---------------------------------------------------------------------------------------------
// Playlist and addressing

struct PlaylistCase {
  const char* name;
  ChannelOptions options;
  std::vector<std::string> uris;
};

class ChannelPlaylist : public ::testing::TestWithParam<PlaylistCase> {};

ChannelOptions audio_only(int count, const char* group, int port, int step, const char* format,
                          const char* scheme = "") {
  ChannelOptions o;
  o.count = count;
  o.group = group;
  o.port = port;
  o.port_step = step;
  o.format = format;
  o.uri_scheme = scheme;
  o.video = false;
  return o;
}

TEST_P(ChannelPlaylist, NamesEveryChannelWhereItIsSent) {
  const PlaylistCase& c = GetParam();
  tilutest::TempDir dir;
  std::string path = dir.file("channels.m3u");
  int last = c.options.count - 1;
  ChannelSender sender(c.options, path);
  ASSERT_TRUE(sender.ready());

  std::string want = "#EXTM3U\n";
  for (size_t i = 0; i < c.uris.size(); i++)
    want += "#EXTINF:-1,Channel " + std::to_string(i + 1) + "\n" + c.uris[i] + "\n";
  EXPECT_EQ(read_text(path), want);

  std::string scheme = c.options.uri_scheme.empty()
                           ? (c.options.format == std::string("rtp") ? "krtp" : "udp")
                           : c.options.uri_scheme;
  for (int i = 0; i < c.options.count; i++) EXPECT_EQ(sender.uri(i, scheme), c.uris[size_t(i)]);

  GroupSocket last_channel(sender.group(last), sender.port(last));
  ASSERT_TRUE(last_channel.ok());
  EXPECT_TRUE(last_channel.receive(5000).has_value())
      << "nothing arrives at " << c.uris[size_t(last)] << "\n"
      << sender.log();
}

INSTANTIATE_TEST_SUITE_P(
    Sender, ChannelPlaylist,
    ::testing::Values(
        PlaylistCase{"udp_groups",
                     audio_only(3, "239.255.20.1", 5300, 0, "udp"),
                     {"udp://@239.255.20.1:5300", "udp://@239.255.20.2:5300",
                      "udp://@239.255.20.3:5300"}},
        PlaylistCase{"carry_and_port_step",
                     audio_only(3, "239.255.20.254", 6000, 2, "udp"),
                     {"udp://@239.255.20.254:6000", "udp://@239.255.20.255:6002",
                      "udp://@239.255.21.0:6004"}},
        PlaylistCase{"rtp_krtp_default",
                     audio_only(2, "239.255.22.1", 5400, 10, "rtp"),
                     {"krtp://239.255.22.1:5400", "krtp://239.255.22.2:5410"}},
        PlaylistCase{"rtp_scheme",
                     audio_only(1, "239.255.23.9", 5500, 0, "rtp", "rtp"),
                     {"rtp://239.255.23.9:5500"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// RTP

TEST(ChannelSender, RtpCarriesMpegTsWithPayloadType33At90kHz) {
  ChannelSender sender(tiny_channel("239.255.30.1", 5600, "rtp"));
  ASSERT_TRUE(sender.ready());
  GroupSocket socket(sender.group(0), sender.port(0));
  ASSERT_TRUE(socket.ok());

  struct Arrival {
    gint64 at_us;
    uint32_t timestamp;
  };
  std::vector<Arrival> arrivals;
  gint64 until = g_get_monotonic_time() + 2500000;
  while (g_get_monotonic_time() < until) {
    auto packet = socket.receive(1000);
    ASSERT_TRUE(packet) << sender.log();
    auto h = parse_rtp(*packet);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->version, 2);
    ASSERT_EQ(h->payload_type, 33);
    size_t payload = packet->size() - h->payload_offset;
    ASSERT_EQ(payload % 188, 0u) << "RTP payload of whole TS packets";
    for (size_t at = h->payload_offset; at < packet->size(); at += 188)
      ASSERT_EQ((*packet)[at], 0x47) << "TS sync byte";
    arrivals.push_back({g_get_monotonic_time(), h->timestamp});
  }
  ASSERT_GT(arrivals.size(), 20u);
  // The RTP clock against the wall clock. On a busy machine packets arrive late and in bursts,
  // never early: in each end of the run take the packet that came earliest for its timestamp.
  auto earliest = [&](size_t from, size_t to) {
    size_t best = from;
    auto lateness = [&](size_t i) {
      return double(arrivals[i].at_us - arrivals[0].at_us) / 1e6 -
             double(uint32_t(arrivals[i].timestamp - arrivals[0].timestamp)) / 90000.0;
    };
    for (size_t i = from; i < to; i++)
      if (lateness(i) < lateness(best)) best = i;
    return best;
  };
  size_t third = arrivals.size() / 3;
  size_t a = earliest(0, third), b = earliest(arrivals.size() - third, arrivals.size());
  double rate = double(uint32_t(arrivals[b].timestamp - arrivals[a].timestamp)) /
                (double(arrivals[b].at_us - arrivals[a].at_us) / 1e6);
  EXPECT_NEAR(rate, 90000, 9000);

  StreamProbe probe(sender.group(0), sender.port(0), true);
  ASSERT_TRUE(probe.wait(3, true, 15000))
      << "the RTP stream does not decode; " << probe.describe() << "\n" << sender.log();
  EXPECT_EQ(probe.seen().width, 160);
}

TEST(ChannelSender, RestartSsrcChangesTheSourceWithoutAGap) {
  ChannelSender sender(tiny_channel("239.255.31.1", 5700, "rtp"));
  ASSERT_TRUE(sender.ready());
  GroupSocket socket(sender.group(0), sender.port(0));
  ASSERT_TRUE(socket.ok());

  auto packet = socket.receive(3000);
  ASSERT_TRUE(packet) << sender.log();
  uint32_t before = parse_rtp(*packet)->ssrc;

  std::vector<uint32_t> ssrcs{before};
  for (int restart = 0; restart < 2; restart++) {
    sender.restart_ssrc();
    gint64 deadline = g_get_monotonic_time() + 5000000;
    gint64 last_packet = g_get_monotonic_time();
    gint64 longest_gap = 0;
    int after = 0;
    while (g_get_monotonic_time() < deadline && after < 50) {
      auto p = socket.receive(2000);
      ASSERT_TRUE(p) << "the stream stopped after the restart\n" << sender.log();
      gint64 now = g_get_monotonic_time();
      longest_gap = std::max(longest_gap, now - last_packet);
      last_packet = now;
      uint32_t ssrc = parse_rtp(*p)->ssrc;
      if (ssrc != ssrcs.back()) {
        EXPECT_EQ(after, 0) << "packets of the old SSRC among the new";
        if (std::find(ssrcs.begin(), ssrcs.end(), ssrc) == ssrcs.end()) ssrcs.push_back(ssrc);
      }
      if (ssrcs.size() == size_t(restart + 2)) after++;
    }
    ASSERT_EQ(ssrcs.size(), size_t(restart + 2)) << "no new SSRC\n" << sender.log();
    EXPECT_EQ(after, 50);
    EXPECT_LT(longest_gap, 1000000) << "a gap of " << longest_gap << " us";
  }
}

// ---------------------------------------------------------------------------------------------
// Stopping, options, namespaces

class ChannelStop : public ::testing::TestWithParam<int> {};

TEST_P(ChannelStop, EndsCleanlyAndTheChannelsGoSilent) {
  ChannelOptions o = tiny_channel("239.255.40.1", 5800);
  o.count = 2;
  ChannelSender sender(o);
  ASSERT_TRUE(sender.ready());
  GroupSocket socket(sender.group(1), sender.port(1));
  ASSERT_TRUE(socket.receive(3000)) << sender.log();
  // A restart request means nothing to plain UDP channels, and must not end the sender.
  sender.restart_ssrc();
  g_usleep(200000);
  ASSERT_TRUE(socket.receive(3000)) << sender.log();

  gint64 start = g_get_monotonic_time();
  int status = sender.stop(GetParam());
  gint64 took = g_get_monotonic_time() - start;
  ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal, not by itself\n" << sender.log();
  EXPECT_EQ(WEXITSTATUS(status), 0) << sender.log();
  EXPECT_LT(took, 3000000);
  // Drain what was in flight, then nothing more comes.
  while (socket.receive(300)) {
  }
  EXPECT_FALSE(socket.receive(1000));
}

INSTANTIATE_TEST_SUITE_P(Sender, ChannelStop, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto& info) { return info.param == SIGTERM ? "SIGTERM" : "SIGINT"; });

TEST(ChannelSender, StopsByItselfAfterTheDuration) {
  ChannelOptions o;
  o.group = "239.255.41.1";
  o.video = false;
  o.duration_s = 1;
  ChannelSender sender(o);
  ASSERT_TRUE(sender.ready());
  g_usleep(2500000);
  int status = sender.stop();
  ASSERT_TRUE(WIFEXITED(status));  // exited before the SIGTERM could reach it
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_NE(sender.log().find("duration over"), std::string::npos) << sender.log();
}

struct BadOptions {
  std::vector<std::string> args;
  const char* message;
};

TEST(ChannelSender, RefusesOptionsThatCannotWork) {
  const BadOptions cases[] = {
      {{"--count", "0"}, "--count must be between 1 and 1024"},
      {{"--count", "many"}, "--count"},
      {{"--count", "99999999999"}, "--count"},
      {{"--group", "10.0.0.1"}, "--group must be an IPv4 multicast address"},
      {{"--group", "239.255.0.256"}, "--group must be an IPv4 multicast address"},
      {{"--group", "239.255.0.1x"}, "--group must be an IPv4 multicast address"},
      {{"--group", " 239.255.0.1"}, "--group must be an IPv4 multicast address"},
      {{"--group", "239.255.255.255", "--count", "2"}, "runs past 239.255.255.255"},
      {{"--port", "0"}, "--port must be between 1 and 65535"},
      {{"--port", "65536"}, "--port must be between 1 and 65535"},
      {{"--port", "65535", "--count", "2", "--port-step", "1"}, "runs past port 65535"},
      {{"--port-step", "-1"}, "--port-step must be between 0 and 65535"},
      {{"--format", "srt"}, "--format must be udp or rtp"},
      {{"--format", "rtp", "--uri-scheme", "udp"}, "does not fit --format rtp"},
      {{"--uri-scheme", "krtp"}, "does not fit --format udp"},
      {{"--size", "640"}, "--size must be WIDTHxHEIGHT"},
      {{"--size", "641x360"}, "--size must be even"},
      {{"--size", "8x8"}, "--size must be even"},
      {{"--size", "640x360junk"}, "--size must be WIDTHxHEIGHT"},
      {{"--fps", "0"}, "--fps must be between 1 and 120"},
      {{"--bitrate", "5"}, "--bitrate must be between"},
      {{"--keyint", "-3"}, "--keyint must be between"},
      {{"--no-audio", "--no-video"}, "leave nothing to send"},
      {{"--duration", "0"}, "--duration must be between"},
      {{"--netns", "../etc"}, "--netns must be a name"},
      {{"--frobnicate"}, "Unknown option --frobnicate"},
      {{"extra"}, "unexpected argument \"extra\""},
  };
  tilutest::TempDir dir;
  std::string playlist = dir.file("never.m3u");
  for (const auto& c : cases) {
    std::vector<std::string> argv{kTool, "--playlist", playlist, "--duration", "5"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    auto r = tilutest::run_capture(argv, 10000);
    std::string shown = ::testing::PrintToString(c.args);
    EXPECT_EQ(r.exit_code, 2) << shown << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << shown << "\n" << r.err;
    EXPECT_EQ(r.out, "") << shown;
    EXPECT_NE(access(playlist.c_str(), F_OK), 0) << shown << ": a playlist was written";
  }
}

TEST(ChannelSender, ReportsAPlaylistItCannotWrite) {
  auto r = tilutest::run_capture(
      {kTool, "--no-video", "--duration", "5", "--playlist", "/nonexistent-dir/channels.m3u"},
      10000);
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_NE(r.err.find("cannot write the playlist"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("ready"), std::string::npos);
}

TEST(ChannelSender, ReportsANetworkItCannotSendOn) {
  // A fresh namespace of its own with loopback down: no route to any group.
  auto r = tilutest::run_capture({"unshare", "--net", kTool, "--no-video", "--duration", "5"},
                                 15000);
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_NE(r.err.find("Channel 1 does not start: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("multicast"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST(ChannelSender, HelpListsTheOptions) {
  auto r = tilutest::run_capture({kTool, "--help"}, 10000);
  EXPECT_EQ(r.exit_code, 0);
  for (const char* option : {"--count", "--group", "--port", "--port-step", "--format",
                             "--bitrate", "--keyint", "--size", "--fps", "--light", "--no-audio",
                             "--no-video", "--playlist", "--uri-scheme", "--netns", "--duration"})
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

std::string netns_list() { return tilutest::run_capture({"ip", "netns", "list"}).out; }

bool netns_listed(const std::string& name) {
  std::istringstream lines(netns_list());
  for (std::string line; std::getline(lines, line);)
    if (line.substr(0, line.find(' ')) == name) return true;
  return false;
}

// Runs the sender in the namespace the test binary started in (the host's).
std::vector<std::string> from_start_netns(std::vector<std::string> args) {
  std::vector<std::string> argv{"nsenter", "--net=/proc/" + std::to_string(getpid()) + "/fd/" +
                                               std::to_string(g_start_netns_fd),
                                kTool};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

ino_t netns_inode_of(pid_t pid) {
  struct stat st{};
  std::string path = "/proc/" + std::to_string(pid) + "/ns/net";
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST(ChannelSender, FromTheHostNamespaceCreatesAndRemovesItsOwn) {
  ASSERT_TRUE(g_started_in_host_netns)
      << "run this test from the host's network namespace (it checks that the sender leaves it)";
  std::string name = "tools-test-" + std::to_string(getpid());
  ASSERT_FALSE(netns_listed(name));
  struct stat host{};
  ASSERT_EQ(fstat(g_start_netns_fd, &host), 0);

  tilutest::TempDir dir;
  std::string out = dir.file("out"), err = dir.file("err");
  tilutest::ChildProcess sender(
      from_start_netns({"--count", "1", "--no-video", "--netns", name, "--duration", "60",
                        "--group", "239.255.50.1", "--playlist", dir.file("p.m3u")}),
      out, err);
  gint64 deadline = g_get_monotonic_time() + 20000000;
  while (read_text(out) != "ready\n" && sender.running() && g_get_monotonic_time() < deadline)
    g_usleep(20000);
  ASSERT_EQ(read_text(out), "ready\n") << read_text(err);

  EXPECT_TRUE(netns_listed(name)) << netns_list();
  ino_t own = netns_inode_of(sender.pid());
  EXPECT_NE(own, 0u);
  EXPECT_NE(own, host.st_ino) << "the sender sends in the host's namespace";
  EXPECT_NE(own, netns_inode_of(getpid())) << "the sender joined the test's namespace";
  EXPECT_NE(read_text(err).find("sending in network namespace " + name), std::string::npos);

  int status = sender.stop(SIGTERM);
  ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status) << "\n" << read_text(err);
  EXPECT_EQ(WEXITSTATUS(status), 0) << read_text(err);
  EXPECT_FALSE(netns_listed(name)) << "left behind: " << netns_list();
}

TEST(ChannelSender, LeavesAnExistingNamespaceOfThatNameAlone) {
  ASSERT_TRUE(g_started_in_host_netns);
  std::string name = "tools-test-taken-" + std::to_string(getpid());
  ASSERT_EQ(tilutest::run_command("ip netns add " + name), 0);
  struct Remove {
    std::string name;
    ~Remove() { tilutest::run_command("ip netns delete " + name + " 2>/dev/null"); }
  } remove{name};

  auto r = tilutest::run_capture(
      from_start_netns({"--no-video", "--netns", name, "--duration", "5"}), 15000);
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_NE(r.err.find("exists already"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(netns_listed(name)) << "the sender deleted a namespace it did not create";
}

}  // namespace

int main(int argc, char** argv) {
  // Keep a handle on the starting namespace before leaving it, for the tests that check what
  // the sender does there; nothing in this binary sends or joins outside its own namespace.
  g_start_netns_fd = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
  struct stat self{}, init{};
  g_started_in_host_netns =
      stat("/proc/1/ns/net", &init) == 0
          ? (fstat(g_start_netns_fd, &self) == 0 && self.st_ino == init.st_ino)
          : access("/proc/sys/net/core/netdev_max_backlog", F_OK) == 0;
  tilutest::enter_private_netns();
  gst_init(&argc, &argv);
  ::testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  gst_deinit();
  return result;
}
