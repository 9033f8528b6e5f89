// The option table as GLib's parser sees it, the refusal of values that cannot work, and the
// playlist fallbacks in a working directory of the test's own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "test_env.h"
#include "tilu_player.h"

namespace {

void reset_options() {
  g_free(tilu_options.proxy_uri);
  tilu_options = TiluOptions{};
}

// Parses args (without the program name) with the player's table alone.
bool parse(std::vector<std::string> args, std::string* error_message = nullptr) {
  args.insert(args.begin(), "tilu");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int argc = int(args.size());
  char** argvp = argv.data();
  GOptionContext* context = g_option_context_new("[videos m3u/csv file]");
  g_option_context_add_main_entries(context, tilu_option_entries(), nullptr);
  glibx::Error error;
  bool ok = g_option_context_parse(context, &argc, &argvp, error.out());
  g_option_context_free(context);
  if (error_message) *error_message = error.message();
  return ok;
}

class OptionsTest : public testing::Test {
 protected:
  void SetUp() override { reset_options(); }
  void TearDown() override { reset_options(); }
};

// Field by field, so that a failure names the setting.
void expect_options(const TiluOptions& expected) {
  EXPECT_STREQ(tilu_options.proxy_uri, expected.proxy_uri);
  EXPECT_EQ(tilu_options.ani_duration, expected.ani_duration);
  EXPECT_EQ(tilu_options.num_vid_per_row, expected.num_vid_per_row);
  EXPECT_EQ(tilu_options.scan_num_jobs, expected.scan_num_jobs);
  EXPECT_EQ(tilu_options.scan_timeout, expected.scan_timeout);
  EXPECT_EQ(tilu_options.text_info_timeout, expected.text_info_timeout);
  EXPECT_EQ(tilu_options.scan_width, expected.scan_width);
  EXPECT_EQ(tilu_options.scan_height, expected.scan_height);
  EXPECT_EQ(tilu_options.volume, expected.volume);
  EXPECT_EQ(tilu_options.mute, expected.mute);
  EXPECT_EQ(tilu_options.no_text, expected.no_text);
  EXPECT_EQ(tilu_options.show_debug, expected.show_debug);
  EXPECT_EQ(tilu_options.version, expected.version);
  EXPECT_EQ(tilu_options.help_keys, expected.help_keys);
}

TEST_F(OptionsTest, DefaultsOfAnEmptyCommandLine) {
  ASSERT_TRUE(parse({}));
  expect_options({.proxy_uri = nullptr,
                  .ani_duration = 300,
                  .num_vid_per_row = 0,
                  .scan_num_jobs = 1,
                  .scan_timeout = 10000,
                  .text_info_timeout = 3000,
                  .scan_width = 480,
                  .scan_height = 270,
                  .volume = 0.5,
                  .mute = FALSE,
                  .no_text = FALSE,
                  .show_debug = FALSE,
                  .version = FALSE,
                  .help_keys = FALSE});
  EXPECT_EQ(tilu_options_check(&tilu_options), nullptr);
}

// Every option, by its short and its long name, lands in its own setting with its own type.
char relay[] = "http://relay:8080";
const TiluOptions kAllSet = {.proxy_uri = relay,
                             .ani_duration = 11,
                             .num_vid_per_row = 12,
                             .scan_num_jobs = 13,
                             .scan_timeout = 14,
                             .text_info_timeout = 15,
                             .scan_width = 16,
                             .scan_height = 17,
                             .volume = 0.25,
                             .mute = TRUE,
                             .no_text = TRUE,
                             .show_debug = TRUE};

TEST_F(OptionsTest, ShortNames) {
  ASSERT_TRUE(parse({"-p", "http://relay:8080", "-a", "11", "-n", "12", "-j", "13", "-t", "14", "-i", "15", "-w",
                     "16", "-h", "17", "-v", "0.25", "-m", "-o", "-d"}));
  expect_options(kAllSet);
}

TEST_F(OptionsTest, LongNames) {
  ASSERT_TRUE(parse({"--proxy-uri=http://relay:8080", "--ani-duration=11", "--num-vid-per-row=12",
                     "--scan-num-jobs=13", "--scan-timeout=14", "--text-info-timeout=15", "--scan-width=16",
                     "--scan-height=17", "--volume=0.25", "--mute", "--no-text", "--show-debug", "--version",
                     "--help-keys"}));
  TiluOptions expected = kAllSet;
  expected.version = expected.help_keys = TRUE;
  expect_options(expected);
}

TEST_F(OptionsTest, MalformedValuesAreParseErrors) {
  for (std::vector<std::string> args : {std::vector<std::string>{"-j", "abc"}, {"--volume=loud"}, {"-n"},
                                        {"--scan-width=99999999999"}, {"--bogus"}}) {
    std::string message;
    EXPECT_FALSE(parse(args, &message)) << args[0];
    EXPECT_FALSE(message.empty()) << args[0];
    reset_options();
  }
}

struct CheckCase {
  const char* name;
  std::function<void(TiluOptions&)> set;
  const char* refused_option;  // nullptr: accepted
};

TEST_F(OptionsTest, CheckRefusesValuesThatCannotWork) {
  const std::vector<CheckCase> cases = {
      {"jobs 0", [](TiluOptions& o) { o.scan_num_jobs = 0; }, nullptr},
      {"jobs 500", [](TiluOptions& o) { o.scan_num_jobs = 500; }, nullptr},
      {"jobs -1", [](TiluOptions& o) { o.scan_num_jobs = -1; }, "--scan-num-jobs"},
      {"per row 1", [](TiluOptions& o) { o.num_vid_per_row = 1; }, nullptr},
      {"per row 10000", [](TiluOptions& o) { o.num_vid_per_row = 10000; }, nullptr},
      {"per row -1", [](TiluOptions& o) { o.num_vid_per_row = -1; }, "--num-vid-per-row"},
      {"per row 10001", [](TiluOptions& o) { o.num_vid_per_row = 10001; }, "--num-vid-per-row"},
      {"width 1", [](TiluOptions& o) { o.scan_width = 1; }, nullptr},
      {"width 0", [](TiluOptions& o) { o.scan_width = 0; }, "--scan-width"},
      {"width 8193", [](TiluOptions& o) { o.scan_width = 8193; }, "--scan-width"},
      {"height 8192", [](TiluOptions& o) { o.scan_height = 8192; }, nullptr},
      {"height -270", [](TiluOptions& o) { o.scan_height = -270; }, "--scan-height"},
      {"animation 0", [](TiluOptions& o) { o.ani_duration = 0; }, nullptr},
      {"animation -1", [](TiluOptions& o) { o.ani_duration = -1; }, "--ani-duration"},
      {"scan timeout 1", [](TiluOptions& o) { o.scan_timeout = 1; }, nullptr},
      {"scan timeout 0", [](TiluOptions& o) { o.scan_timeout = 0; }, "--scan-timeout"},
      {"text timeout 0", [](TiluOptions& o) { o.text_info_timeout = 0; }, nullptr},
      {"text timeout -5", [](TiluOptions& o) { o.text_info_timeout = -5; }, "--text-info-timeout"},
      {"volume 0", [](TiluOptions& o) { o.volume = 0.0; }, nullptr},
      {"volume 1", [](TiluOptions& o) { o.volume = 1.0; }, nullptr},
      {"volume -0.01", [](TiluOptions& o) { o.volume = -0.01; }, "--volume"},
      {"volume 1.5", [](TiluOptions& o) { o.volume = 1.5; }, "--volume"},
      {"volume nan", [](TiluOptions& o) { o.volume = std::nan(""); }, "--volume"},
  };
  for (const CheckCase& c : cases) {
    TiluOptions options;
    c.set(options);
    const char* message = tilu_options_check(&options);
    if (!c.refused_option) {
      EXPECT_EQ(message, nullptr) << c.name << ": " << message;
      continue;
    }
    ASSERT_NE(message, nullptr) << c.name;
    EXPECT_TRUE(g_str_has_prefix(message, (std::string("invalid value for ") + c.refused_option + ":").c_str()))
        << c.name << ": " << message;
  }
}

TEST(OptionTexts, KeyHelpColumns) {
  // Every line: the key name left-aligned in 19 characters, then ": ".
  g_auto(GStrv) lines = g_strsplit(tilu_help_keys_text(), "\n", -1);
  ASSERT_EQ(g_strv_length(lines), 9u);
  EXPECT_STREQ(lines[8], "");
  for (int i = 0; i < 8; i++) {
    std::string line = lines[i];
    ASSERT_GT(line.size(), 21u) << line;
    EXPECT_EQ(line.substr(19, 2), ": ") << line;
    EXPECT_NE(line[0], ' ') << line;
  }
}

TEST(OptionTexts, VersionFirstLine) {
  g_auto(GStrv) lines = g_strsplit(tilu_version_text(), "\n", -1);
  ASSERT_EQ(g_strv_length(lines), 4u);
  EXPECT_STREQ(lines[0], "Tiluplay 0.8");
  EXPECT_STREQ(lines[3], "");
}

// Fallbacks are relative to the working directory: each case runs in a fresh one.
class FallbackTest : public testing::Test {
 protected:
  void SetUp() override {
    old_cwd_ = g_get_current_dir();
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(old_cwd_), 0);
    g_free(old_cwd_);
  }
  void write(const char* name, const char* text) {
    FILE* f = std::fopen(name, "w");
    ASSERT_NE(f, nullptr);
    std::fputs(text, f);
    std::fclose(f);
  }
  // The uri of the first entry of what loads from path, or "" when nothing does.
  std::string loaded_from(const char* path) {
    TiluPlaylistPtr playlist(tilu_load_playlist_with_fallbacks(path));
    return playlist ? playlist->uri[0] : "";
  }

  tilutest::TempDir dir_;
  gchar* old_cwd_ = nullptr;
};

constexpr char kM3u[] = "#EXTINF:-1,M\nudp://from-tilu-m3u\n";
constexpr char kCsv[] = "c,c,udp://from-tilu-csv\n";

TEST_F(FallbackTest, CsvWhenNoM3u) {
  write("tilu.csv", kCsv);
  EXPECT_EQ(loaded_from("tilu.m3u"), "udp://from-tilu-csv");
}

TEST_F(FallbackTest, M3uForAMissingArgument) {
  write("tilu.m3u", kM3u);
  write("tilu.csv", kCsv);
  EXPECT_EQ(loaded_from("missing.m3u"), "udp://from-tilu-m3u");
}

TEST_F(FallbackTest, CsvForAMissingArgumentWithoutM3u) {
  write("tilu.csv", kCsv);
  EXPECT_EQ(loaded_from("/nonexistent/dir/list.m3u"), "udp://from-tilu-csv");
}

TEST_F(FallbackTest, ArgumentWinsOverFallbacks) {
  write("tilu.m3u", kM3u);
  write("mine.csv", "a,b,udp://mine\n");
  EXPECT_EQ(loaded_from("mine.csv"), "udp://mine");
}

TEST_F(FallbackTest, ArgumentWithoutEntriesFallsBack) {
  write("empty.m3u", "#EXTM3U\n");
  write("tilu.m3u", "#EXTM3U\n# nothing\n");
  write("tilu.csv", kCsv);
  EXPECT_EQ(loaded_from("empty.m3u"), "udp://from-tilu-csv");
}

TEST_F(FallbackTest, NothingWhenNoneLoads) {
  EXPECT_EQ(loaded_from("missing.m3u"), "");
  EXPECT_EQ(loaded_from("tilu.m3u"), "");
  write("tilu.csv", "no commas at all\n");
  EXPECT_EQ(loaded_from("tilu.csv"), "");
}

}  // namespace
