// The scanner's output directory as a playlist: names, numeric order, RTP markers, strangers,
// and sarv-playlist itself, whose output the wall's own playlist reader must take back.
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sarv_snapshot_dir.h"
#include "sarv_test_net.h"
#include "test_env.h"
#include "tilu_playlist.h"

namespace {

void touch(const std::string& path) { ASSERT_TRUE(g_file_set_contents(path.c_str(), "x", 1, nullptr)); }

TEST(SarvSnapshotName, ParsesOnlyTheScannersNames) {
  struct Case {
    const char* name;
    bool ok;
    const char* group = "";
    guint32 addr = 0;
    guint16 port = 0;
  } cases[] = {
      {"239.1.1.1-5000.png", true, "239.1.1.1", 0xef010101, 5000},
      {"224.0.0.0-0.png", true, "224.0.0.0", 0xe0000000, 0},
      {"239.255.255.255-65535.png", true, "239.255.255.255", 0xefffffff, 65535},
      {"239.1.1.01-5000.png", false},   // leading zero: never written by the scanner
      {"239.1.1.1-05000.png", false},
      {"239.1.1.1-65536.png", false},
      {"239.1.1.256-5000.png", false},
      {"10.0.0.1-5000.png", false},     // not a multicast group
      {"240.0.0.1-5000.png", false},
      {"239.1.1-5000.png", false},
      {"239.1.1.1.1-5000.png", false},
      {"239.1.1.1-5000.PNG", false},
      {"239.1.1.1-.png", false},
      {"-5000.png", false},
      {"239.1.1.1-+500.png", false},
      {"239.1.1.1- 500.png", false},
      {" 239.1.1.1-5000.png", false},
      {"239.1.1.1-5000.png.tmp", false},
      {"239.1.1.1-5000.rtp", false},
      {"shot.png", false},
      {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<SarvSnapshot> s = sarv_snapshot_parse_name(c.name);
    ASSERT_EQ(s.has_value(), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(s->file, c.name);
    EXPECT_EQ(s->group, c.group);
    EXPECT_EQ(s->addr, c.addr);
    EXPECT_EQ(s->port, c.port);
    EXPECT_FALSE(s->rtp);
  }
}

TEST(SarvSnapshotName, MarkerPath) {
  EXPECT_EQ(sarv_snapshot_marker_path("out/239.1.1.1-5000.png"), "out/239.1.1.1-5000.rtp");
  EXPECT_EQ(sarv_snapshot_marker_path("out%d/x-1.png"), "out%d/x-1.rtp");
  EXPECT_EQ(sarv_snapshot_marker_path("out/shot"), "out/shot.rtp");
}

// The scanner's output of one run plus what else people leave in a directory.
class SarvSnapshotDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"239.1.1.10-5000.png", "239.1.1.9-5002.png", "239.1.1.9-5000.png",
                             "239.1.1.9-5000.rtp", "224.0.0.1-10.png", "239.1.1.2-400.png",
                             "notes.txt", "shot.png", "239.9.9.9-1.rtp"})
      touch(dir_.file(name));
    ASSERT_EQ(g_mkdir(dir_.file("239.1.1.3-5000.png").c_str(), 0755), 0);
  }
  tilutest::TempDir dir_;
};

const char* const kExpectedPlaylist =
    "#EXTM3U\n"
    "#EXTINF:-1,224.0.0.1:10\nudp://@224.0.0.1:10\n"
    "#EXTINF:-1,239.1.1.2:400\nudp://@239.1.1.2:400\n"
    "#EXTINF:-1,239.1.1.9:5000\nrtp://@239.1.1.9:5000\n"
    "#EXTINF:-1,239.1.1.9:5002\nudp://@239.1.1.9:5002\n"
    "#EXTINF:-1,239.1.1.10:5000\nudp://@239.1.1.10:5000\n";

TEST_F(SarvSnapshotDirTest, ListsInAddressThenPortOrder) {
  SarvSnapshotListing listing = sarv_snapshot_list(dir_.path());
  EXPECT_EQ(listing.error, "");
  std::vector<std::string> files;
  for (const SarvSnapshot& s : listing.snapshots) files.push_back(s.file + (s.rtp ? " rtp" : ""));
  EXPECT_EQ(files, (std::vector<std::string>{"224.0.0.1-10.png", "239.1.1.2-400.png",
                                             "239.1.1.9-5000.png rtp", "239.1.1.9-5002.png",
                                             "239.1.1.10-5000.png"}));
  // A marker without its picture and a directory with a snapshot's name are strangers too.
  EXPECT_EQ(listing.skipped,
            (std::vector<std::string>{"239.1.1.3-5000.png", "239.9.9.9-1.rtp", "notes.txt",
                                      "shot.png"}));
  EXPECT_EQ(sarv_snapshot_playlist(listing.snapshots), kExpectedPlaylist);
}

TEST(SarvSnapshotDir, NothingToListIsAnError) {
  tilutest::TempDir empty, strangers;
  touch(strangers.file("notes.txt"));
  struct Case {
    std::string dir;
    size_t skipped;
  } cases[] = {{empty.path(), 0}, {strangers.path(), 1}, {empty.file("missing"), 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dir);
    SarvSnapshotListing listing = sarv_snapshot_list(c.dir);
    EXPECT_NE(listing.error, "");
    EXPECT_TRUE(listing.snapshots.empty());
    EXPECT_EQ(listing.skipped.size(), c.skipped);
  }
}

TEST_F(SarvSnapshotDirTest, ProgramWritesAPlaylistTheWallReads) {
  tilutest::RunResult r = tilutest::run_capture({SARV_PLAYLIST_BIN, dir_.path()});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, kExpectedPlaylist);
  for (const char* name : {"notes.txt", "shot.png", "239.9.9.9-1.rtp", "239.1.1.3-5000.png"})
    EXPECT_NE(r.err.find(std::string("skipping ") + name), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("239.1.1.9-5000.rtp"), std::string::npos) << "a marker is no stranger";

  tilutest::TempDir out;
  std::string m3u = out.file("wall.m3u");
  r = tilutest::run_capture({SARV_PLAYLIST_BIN, "-o", m3u, dir_.path()});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  TiluPlaylistPtr playlist(tilu_playlist_load(m3u.c_str()));
  ASSERT_TRUE(playlist);
  ASSERT_EQ(playlist->count, 5);
  EXPECT_STREQ(playlist->caption1[2], "-1");
  EXPECT_STREQ(playlist->caption2[2], "239.1.1.9:5000");
  EXPECT_STREQ(playlist->uri[2], "rtp://@239.1.1.9:5000");
  EXPECT_STREQ(playlist->uri[4], "udp://@239.1.1.10:5000");
}

TEST(SarvPlaylistProgram, FailsClearly) {
  tilutest::TempDir empty;
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string message;
  } cases[] = {
      {{empty.path()}, 1, "no snapshots of sarv in " + empty.path()},
      {{empty.file("missing")}, 1, "missing"},
      {{"--bogus"}, 2, "bogus"},
      {{"a", "b"}, 2, "one directory only"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv = {SARV_PLAYLIST_BIN};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(argv.back());
    tilutest::RunResult r = tilutest::run_capture(argv);
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("sarv-playlist: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  EXPECT_EQ(sarvtest::list_dir(empty.path()), std::vector<std::string>{});
}

// An output file that cannot be written is a failure, not a silent success.
TEST_F(SarvSnapshotDirTest, UnwritableOutputFails) {
  tilutest::TempDir out;
  tilutest::RunResult r = tilutest::run_capture(
      {SARV_PLAYLIST_BIN, "-o", out.file("no/such/dir/wall.m3u"), dir_.path()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("wall.m3u"), std::string::npos) << r.err;
}

}  // namespace
