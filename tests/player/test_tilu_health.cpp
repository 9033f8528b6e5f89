// Health marks (--alarms): the picture digest and mean luma, the exact report lines, and on
// real channels the NO SIGNAL, FROZEN and BLACK marks coming and going with their lines, the
// main video's mark, and a wall without --alarms that has none of it.
#include <fcntl.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

#include "scan_video_support.h"
#include "tilu_picture_stats.h"

namespace {

using tilutest::Channel;
using tilutest::LiveChannels;
using tilutest::TestPlayer;

// ---- picture digest and mean luma ----

struct Picture {
  GstVideoFormat format;
  guint8 fill[3];  // Y, U, V or R, G, B
};

// A sample of the given format filled with one colour; mark, when set, paints the first sampled
// pixel (the first component) with another value.
GstSample* make_sample(const Picture& p, int width, int height, int mark = -1) {
  GstVideoInfo info;
  gst_video_info_set_format(&info, p.format, width, height);
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, info.size, nullptr);
  GstVideoFrame frame;
  gst_video_frame_map(&frame, &info, buffer, GST_MAP_WRITE);
  for (guint c = 0; c < GST_VIDEO_INFO_N_COMPONENTS(&info); c++) {
    auto* data = static_cast<guint8*>(GST_VIDEO_FRAME_COMP_DATA(&frame, c));
    int stride = GST_VIDEO_FRAME_COMP_STRIDE(&frame, c), pstride = GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, c);
    for (int y = 0; y < GST_VIDEO_FRAME_COMP_HEIGHT(&frame, c); y++)
      for (int x = 0; x < GST_VIDEO_FRAME_COMP_WIDTH(&frame, c); x++)
        data[y * stride + x * pstride] = c < 3 ? p.fill[c] : 255;
  }
  if (mark >= 0) {
    auto* y0 = static_cast<guint8*>(GST_VIDEO_FRAME_COMP_DATA(&frame, 0));
    int step_x = std::max(1, width / 240), step_y = std::max(1, height / 135);
    y0[(step_y / 2) * GST_VIDEO_FRAME_COMP_STRIDE(&frame, 0) + (step_x / 2) * GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, 0)] =
        guint8(mark);
  }
  gst_video_frame_unmap(&frame);
  GstCaps* caps = gst_video_info_to_caps(&info);
  GstSample* sample = gst_sample_new(buffer, caps, nullptr, nullptr);
  gst_caps_unref(caps);
  gst_buffer_unref(buffer);
  return sample;
}

TiluPictureStats stats_of(const Picture& p, int mark = -1) {
  GstSample* sample = make_sample(p, 480, 270, mark);
  TiluPictureStats stats;
  EXPECT_TRUE(tilu_picture_stats_of_sample(sample, &stats));
  gst_sample_unref(sample);
  return stats;
}

TEST(PictureStats, MeanLumaAndDigestInEveryFormat) {
  struct Case {
    const char* name;
    Picture picture;
    double luma;
  };
  const Case cases[] = {
      {"I420 black", {GST_VIDEO_FORMAT_I420, {16, 128, 128}}, 16},
      {"NV12 grey", {GST_VIDEO_FORMAT_NV12, {120, 128, 128}}, 120},
      {"RGBA black", {GST_VIDEO_FORMAT_RGBA, {0, 0, 0}}, 16},
      {"BGRx white", {GST_VIDEO_FORMAT_BGRx, {255, 255, 255}}, 235},
      {"RGB red", {GST_VIDEO_FORMAT_RGB, {255, 0, 0}}, 16 + (66 * 255 + 128) / 256},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TiluPictureStats a = stats_of(c.picture), again = stats_of(c.picture);
    EXPECT_NEAR(a.mean_luma, c.luma, 0.5);
    EXPECT_EQ(a.digest, again.digest) << "the same picture, the same digest";
    EXPECT_NE(stats_of(c.picture, 200).digest, a.digest) << "one sample changed, the digest with it";
  }
  // Black by the threshold; the darkest grey of a live picture is not.
  EXPECT_LT(stats_of({GST_VIDEO_FORMAT_I420, {17, 128, 128}}).mean_luma, kTiluBlackLuma);
  EXPECT_GT(stats_of({GST_VIDEO_FORMAT_I420, {28, 128, 128}}).mean_luma, kTiluBlackLuma);
}

TEST(PictureStats, NoPictureNoStats) {
  TiluPictureStats stats;
  EXPECT_FALSE(tilu_picture_stats_of_sample(nullptr, &stats));
  GstCaps* caps = gst_caps_new_empty_simple("audio/x-raw");
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, 64, nullptr);
  GstSample* audio = gst_sample_new(buffer, caps, nullptr, nullptr);
  EXPECT_FALSE(tilu_picture_stats_of_sample(audio, &stats));
  gst_sample_unref(audio);
  gst_buffer_unref(buffer);
  gst_caps_unref(caps);
}

// ---- the report lines ----

TEST(HealthLines, TextAndJsonAreExact) {
  const char* time = "2026-12-11T15:04:05+01:00";
  EXPECT_EQ(tilu_health_text_line(time, 3, "-1", "News", "udp://@239.255.1.4:5000", TILU_HEALTH_NO_SIGNAL),
            "2026-12-11T15:04:05+01:00\t3\t-1 News\tudp://@239.255.1.4:5000\tNO SIGNAL");
  EXPECT_EQ(tilu_health_json_line(time, 3, "-1", "News", "udp://@239.255.1.4:5000", TILU_HEALTH_NO_SIGNAL),
            "{\"time\":\"2026-12-11T15:04:05+01:00\",\"index\":3,\"caption1\":\"-1\",\"caption2\":\"News\","
            "\"uri\":\"udp://@239.255.1.4:5000\",\"state\":\"NO SIGNAL\"}");
  // Separators and quotes inside a caption cannot break either line.
  EXPECT_EQ(tilu_health_text_line(time, 0, "a\tb", "c\nd", "x", TILU_HEALTH_FROZEN),
            "2026-12-11T15:04:05+01:00\t0\ta b c d\tx\tFROZEN");
  EXPECT_EQ(tilu_health_json_line(time, 0, "say \"hi\"\\", "tab\there\x01", "é", TILU_HEALTH_BLACK),
            "{\"time\":\"2026-12-11T15:04:05+01:00\",\"index\":0,\"caption1\":\"say \\\"hi\\\"\\\\\","
            "\"caption2\":\"tab\\there\\u0001\",\"uri\":\"é\",\"state\":\"BLACK\"}");
  EXPECT_STREQ(tilu_health_state_name(TILU_HEALTH_OK), "OK");
}

// ---- on real channels ----

// Standard output of the process, redirected into a file while it lives.
class StdoutCapture {
 public:
  StdoutCapture() : path_(dir_.file("stdout")) {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, STDOUT_FILENO);
    close(fd);
  }
  // What the test framework printed meanwhile (its failures among it) goes on to the real
  // standard output.
  ~StdoutCapture() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    std::ifstream in(path_);
    std::fputs(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()).c_str(), stdout);
  }
  // The report lines so far (lines with the five tab-separated fields).
  std::vector<std::string> report_lines() const {
    std::fflush(stdout);
    std::ifstream in(path_);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);)
      if (std::count(line.begin(), line.end(), '\t') == 4) out.push_back(line);
    return out;
  }

 private:
  tilutest::TempDir dir_;
  std::string path_;
  int saved_ = -1;
};

std::vector<std::string> file_lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string expected_line_pattern(int index, const std::string& uri, const char* state) {
  return R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d\t)" + std::to_string(index) + "\t-1 Channel " +
         std::to_string(index) + "\t" + uri + "\t" + state;
}

// The JSON line that goes with a report line: same time, entry, caption, URI and state.
std::string json_for(const std::string& text_line, TiluPlayer* p) {
  std::vector<std::string> f;
  std::stringstream in(text_line);
  for (std::string field; std::getline(in, field, '\t');) f.push_back(field);
  int index = std::stoi(f[1]);
  TiluHealthState state = f[4] == "OK"          ? TILU_HEALTH_OK
                          : f[4] == "NO SIGNAL" ? TILU_HEALTH_NO_SIGNAL
                          : f[4] == "FROZEN"    ? TILU_HEALTH_FROZEN
                                                : TILU_HEALTH_BLACK;
  return tilu_health_json_line(f[0].c_str(), index, p->playlist->caption1[index], p->playlist->caption2[index],
                               p->playlist->uri[index], state);
}

ClutterActor* overlay_of(ClutterActor* picture) { return clutter_actor_get_first_child(picture); }

bool marked(ClutterActor* picture) {
  ClutterActor* overlay = overlay_of(picture);
  return overlay && clutter_actor_is_visible(overlay);
}

std::string mark_text(ClutterActor* picture) {
  ClutterActor* overlay = overlay_of(picture);
  return overlay ? clutter_text_get_text(CLUTTER_TEXT(clutter_actor_get_first_child(overlay))) : "";
}

bool has_line(const StdoutCapture& out, const std::string& pattern) {
  std::regex re(pattern);
  for (const auto& l : out.report_lines())
    if (std::regex_match(l, re)) return true;
  return false;
}

// The record's state of entry i: cheap enough to poll after every main-loop iteration (reading
// and matching the output there starves the loop of a sanitizer build).
TiluHealthState state_of(TestPlayer& player, int i) { return player->health->tiles[size_t(i)].state; }

// Rounds begin when entry 0's scan starts: the rounds begun since since_ms.
int rounds_since(const tilutest::ScanRecorder& scans, gint64 since_ms, int index = 0) {
  auto times = scans.start_times(index);
  return int(std::count_if(times.begin(), times.end(), [&](gint64 t) { return t >= since_ms; }));
}

// A scan's first picture takes about a second here, several under the sanitizers on a loaded
// machine: two slow scans in a row must not read as NO SIGNAL.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kScanTimeoutMs = 12000;
#else
constexpr int kScanTimeoutMs = 4000;
#endif
// Longest wait for a change of state: a few scan rounds.
constexpr int kWaitMs = 12 * kScanTimeoutMs;

// The options keep a pointer to log_path's text: the string must outlive the player.
TiluOptions alarm_options(const std::string& log_path, int scan_timeout_ms) {
  TiluOptions o;
  o.alarms = TRUE;
  o.alarm_log = const_cast<gchar*>(log_path.c_str());
  o.scan_timeout = scan_timeout_ms;
  return o;
}

// Nine channels, two of them stop: exactly those two tiles are marked NO SIGNAL within two
// scan rounds, with one line each; back, they are cleared within one round.
TEST(HealthOnChannels, TwoOfNineStopAndReturn) {
  // Live pictures, most of them a still pattern with only the burnt-in clock moving.
  const int patterns[9] = {0, 18, 13, 14, 16, 21, 22, 23, 24};
  std::vector<Channel> specs;
  for (int pattern : patterns) specs.push_back({false, pattern, true});
  LiveChannels channels(specs);
  std::vector<std::string> uris;
  for (size_t i = 0; i < 9; i++) uris.push_back(channels.uri(i));
  tilutest::TempDir dir;
  const std::string log_path = dir.file("alarms.jsonl");
  StdoutCapture out;
  TestPlayer player(uris, alarm_options(log_path, kScanTimeoutMs));
  tilutest::ScanRecorder scans(player.get());
  gint64 t0 = tilutest::now_ms();
  auto since = [&] { return tilutest::now_ms() - t0; };
  auto poll = [&] { scans.poll(); };
  tilu_player_start(player.get());

  // Every tile has shown a picture in a full round: all OK, nothing reported.
  ASSERT_TRUE(tilutest::run_loop_until([&] {
    for (int i = 0; i < 9; i++)
      if (clutter_actor_get_opacity(player->tile_actors[size_t(i)]) != 255) return false;
    return rounds_since(scans, 0) >= 2;
  }, kWaitMs, poll));
  EXPECT_TRUE(out.report_lines().empty()) << out.report_lines()[0];

  channels.stop(3);
  channels.stop(7);
  gint64 stopped = since();
  const std::string no3 = expected_line_pattern(3, uris[3], "NO SIGNAL");
  const std::string no7 = expected_line_pattern(7, uris[7], "NO SIGNAL");
  ASSERT_TRUE(tilutest::run_loop_until(
      [&] { return state_of(player, 3) == TILU_HEALTH_NO_SIGNAL && state_of(player, 7) == TILU_HEALTH_NO_SIGNAL; },
      kWaitMs, poll))
      << "not marked";
  EXPECT_TRUE(has_line(out, no3));
  EXPECT_TRUE(has_line(out, no7));
  int rounds = rounds_since(scans, stopped);
  std::printf("[ alarms ] two tiles NO SIGNAL %" G_GINT64_FORMAT " ms after the stop, in round %d\n",
              since() - stopped, rounds);
  EXPECT_LE(rounds, 2) << "marked later than two scan rounds";
  EXPECT_EQ(out.report_lines().size(), 2u);
  for (int i = 0; i < 9; i++) EXPECT_EQ(marked(player->tile_actors[size_t(i)]), i == 3 || i == 7) << "tile " << i;
  EXPECT_EQ(mark_text(player->tile_actors[3]).rfind("NO SIGNAL\n", 0), 0u) << mark_text(player->tile_actors[3]);
  EXPECT_TRUE(std::regex_match(mark_text(player->tile_actors[3]), std::regex("NO SIGNAL\n\\d\\d:\\d\\d:\\d\\d")));

  // Back with another pattern: a restarted sender's clock starts again from zero, and a picture
  // equal to one from before the outage would rightly read as FROZEN.
  channels.restart(3, {false, 1, true});
  channels.restart(7, {false, 1, true});
  gint64 back = since();
  const std::string ok3 = expected_line_pattern(3, uris[3], "OK");
  const std::string ok7 = expected_line_pattern(7, uris[7], "OK");
  ASSERT_TRUE(tilutest::run_loop_until(
      [&] { return state_of(player, 3) == TILU_HEALTH_OK && state_of(player, 7) == TILU_HEALTH_OK; }, kWaitMs, poll))
      << "not cleared";
  EXPECT_TRUE(has_line(out, ok3));
  EXPECT_TRUE(has_line(out, ok7));
  std::printf("[ alarms ] cleared %" G_GINT64_FORMAT " ms after the return\n", since() - back);
  // The restarted sender needs up to a second for its first keyframe: a scan that starts right
  // after the restart may still find nothing, and the next one, a round later, clears the tile.
  EXPECT_LE(rounds_since(scans, back, 3), 2) << "tile 3 cleared later than a round after its return";
  EXPECT_LE(rounds_since(scans, back, 7), 2) << "tile 7 cleared later than a round after its return";
  EXPECT_FALSE(marked(player->tile_actors[3]));
  EXPECT_FALSE(marked(player->tile_actors[7]));

  // The alarm log holds the same changes as JSON lines, in the same order.
  std::vector<std::string> text = out.report_lines();
  ASSERT_EQ(text.size(), 4u);
  std::vector<std::string> json = file_lines(log_path);
  ASSERT_EQ(json.size(), text.size());
  for (size_t i = 0; i < text.size(); i++) EXPECT_EQ(json[i], json_for(text[i], player.get()));
}

// A still picture is FROZEN, a black one BLACK, a channel never heard NO SIGNAL with "never";
// a live channel beside them is never reported. The still channel turning live and the black
// one showing a picture clear their marks.
TEST(HealthOnChannels, StillBlackAndSilentChannels) {
  LiveChannels channels({{false, 18, true}, {false, 19, false}, {false, 2, false}});
  std::vector<std::string> uris = {channels.uri(0), channels.uri(1), channels.uri(2), tilutest::silent_uri()};
  tilutest::TempDir dir;
  const std::string log_path = dir.file("alarms.jsonl");
  StdoutCapture out;
  TestPlayer player(uris, alarm_options(log_path, kScanTimeoutMs));
  tilu_player_start(player.get());

  const std::string frozen = expected_line_pattern(1, uris[1], "FROZEN");
  const std::string black = expected_line_pattern(2, uris[2], "BLACK");
  const std::string silent = expected_line_pattern(3, uris[3], "NO SIGNAL");
  ASSERT_TRUE(tilutest::run_loop_until([&] {
    return state_of(player, 1) == TILU_HEALTH_FROZEN && state_of(player, 2) == TILU_HEALTH_BLACK &&
           state_of(player, 3) == TILU_HEALTH_NO_SIGNAL;
  }, kWaitMs));
  EXPECT_TRUE(has_line(out, frozen));
  EXPECT_TRUE(has_line(out, black));
  EXPECT_TRUE(has_line(out, silent));
  EXPECT_EQ(out.report_lines().size(), 3u) << "the live channel is never reported";
  EXPECT_EQ(mark_text(player->tile_actors[3]), "NO SIGNAL\nnever");
  EXPECT_EQ(clutter_actor_get_opacity(player->tile_actors[3]), 255) << "a never-seen tile shows its mark";
  EXPECT_EQ(mark_text(player->tile_actors[1]).rfind("FROZEN\n", 0), 0u);
  EXPECT_EQ(mark_text(player->tile_actors[2]), "BLACK\nnever");
  EXPECT_FALSE(marked(player->tile_actors[0]));

  channels.restart(1, {false, 19, true});
  channels.restart(2, {false, 0, true});
  ASSERT_TRUE(tilutest::run_loop_until(
      [&] { return state_of(player, 1) == TILU_HEALTH_OK && state_of(player, 2) == TILU_HEALTH_OK; }, kWaitMs));
  EXPECT_TRUE(has_line(out, expected_line_pattern(1, uris[1], "OK")));
  EXPECT_TRUE(has_line(out, expected_line_pattern(2, uris[2], "OK")));
  EXPECT_FALSE(marked(player->tile_actors[1]));
  EXPECT_FALSE(marked(player->tile_actors[2]));
  EXPECT_EQ(out.report_lines().size(), 5u);
}

// The main video that shows nothing for a few seconds is marked too, and cleared by its next
// picture.
TEST(HealthOnChannels, MainVideoMarkedWhileItsStreamIsGone) {
  LiveChannels channels({{false, 0, true}});
  tilutest::TempDir dir;
  const std::string log_path = dir.file("alarms.jsonl");
  TiluOptions o = alarm_options(log_path, 2000);
  o.scan_num_jobs = 0;
  TestPlayer player({channels.uri(0)}, o);
  tilu_player_start(player.get());
  ASSERT_TRUE(tilutest::run_loop_until([&] { return player->main_shown != FALSE; }, 30000));
  EXPECT_FALSE(marked(player->main_actor));

  channels.stop(0);
  ASSERT_TRUE(tilutest::run_loop_until([&] { return marked(player->main_actor); }, 10000));
  EXPECT_TRUE(std::regex_match(mark_text(player->main_actor), std::regex("NO SIGNAL\n\\d\\d:\\d\\d:\\d\\d")));
  EXPECT_EQ(clutter_actor_get_opacity(player->main_actor), 255) << "the dimmed last picture shows";

  channels.restart(0);
  EXPECT_TRUE(tilutest::run_loop_until([&] { return !marked(player->main_actor); }, 10000));
}

// Without --alarms a dead channel changes nothing: no records, no overlay, no line.
TEST(HealthOnChannels, NothingWithoutAlarms) {
  StdoutCapture out;
  TiluOptions o;
  o.scan_timeout = 300;
  TestPlayer player({tilutest::silent_uri(), tilutest::silent_uri()}, o);
  tilutest::ScanRecorder scans(player.get());
  tilu_player_start(player.get());
  tilutest::run_loop_until([&] { return rounds_since(scans, 0) >= 4; }, 10000, [&] { scans.poll(); });
  EXPECT_EQ(player->health, nullptr);
  for (ClutterActor* tile : player->tile_actors) {
    EXPECT_EQ(clutter_actor_get_n_children(tile), 0);
    EXPECT_EQ(clutter_actor_get_opacity(tile), 0);
  }
  EXPECT_EQ(clutter_actor_get_n_children(player->main_actor), 0);
  EXPECT_TRUE(out.report_lines().empty());
}

}  // namespace

int main(int argc, char** argv) { return tilutest::scan_video_test_main(argc, argv); }
