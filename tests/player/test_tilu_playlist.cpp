// The playlist reader against files as users write them, and as they sometimes arrive.
#include <fcntl.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "test_env.h"
#include "tilu_playlist.h"

namespace {

using namespace std::string_literals;

struct Entry {
  std::string caption1, caption2, uri;
  bool operator==(const Entry&) const = default;
};

void PrintTo(const Entry& e, std::ostream* os) {
  *os << "(" << testing::PrintToString(e.caption1) << ", " << testing::PrintToString(e.caption2) << ", "
      << testing::PrintToString(e.uri) << ")";
}

void write_file(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  std::fclose(f);
}

// Loads path; checks the record's invariants on the way (count >= 1, no null string).
std::vector<Entry> load(const std::string& path, bool* loaded) {
  TiluPlaylistPtr playlist(tilu_playlist_load(path.c_str()));
  *loaded = playlist != nullptr;
  std::vector<Entry> entries;
  if (!playlist) return entries;
  EXPECT_GE(playlist->count, 1);
  for (gint32 i = 0; i < playlist->count; i++) {
    EXPECT_TRUE(playlist->caption1[i] && playlist->caption2[i] && playlist->uri[i]) << "entry " << i;
    if (!playlist->caption1[i] || !playlist->caption2[i] || !playlist->uri[i]) break;
    entries.push_back({playlist->caption1[i], playlist->caption2[i], playlist->uri[i]});
  }
  return entries;
}

struct Case {
  const char* name;
  const char* file;  // name inside the test's directory; may contain a sub-directory
  std::string content;
  std::vector<Entry> expected;  // empty: loading yields nothing
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::string repeat(char c, size_t n) { return std::string(n, c); }

const std::vector<Case>& cases() {
  static const std::vector<Case> all = {
      // Choosing the format: "a,b,c" is one CSV record, or one M3U entry line without captions.
      {"extension M3U in capitals", "list.M3U", "a,b,c\n", {{"", "", "a,b,c"}}},
      {"extension m3u", "list.m3u", "a,b,c\n", {{"", "", "a,b,c"}}},
      {"extension m3u8", "list.m3u8", "a,b,c\n", {{"a", "b", "c"}}},
      {"extension txt", "list.txt", "a,b,c\n", {{"a", "b", "c"}}},
      {"no extension", "list", "a,b,c\n", {{"a", "b", "c"}}},
      {"m3u directory, no extension", "dir.m3u/list", "a,b,c\n", {{"a", "b", "c"}}},
      {"path ends in a dot", "list.", "a,b,c\n", {{"a", "b", "c"}}},

      // M3U.
      {"m3u two entries", "l.m3u", "#EXTM3U\n#EXTINF:-1,News\nudp://a\n#EXTINF:0,Sport\nudp://b\n",
       {{"-1", "News", "udp://a"}, {"0", "Sport", "udp://b"}}},
      {"m3u captions only for the next entry", "l.m3u", "#EXTINF:-1,News\nudp://a\nudp://b\n",
       {{"-1", "News", "udp://a"}, {"", "", "udp://b"}}},
      {"m3u nothing before the comma", "l.m3u", "#EXTINF:,Title\nudp://a\n", {{"", "", "udp://a"}}},
      {"m3u nothing after the comma", "l.m3u", "#EXTINF:5,\nudp://a\n", {{"5", "", "udp://a"}}},
      {"m3u no comma keeps the line feed", "l.m3u", "#EXTINF:-1 News\nudp://a\n", {{"-1 News\n", "", "udp://a"}}},
      {"m3u second caption keeps later commas", "l.m3u", "#EXTINF:-1,News, late\nudp://a\n",
       {{"-1", "News, late", "udp://a"}}},
      {"m3u comment keeps captions", "l.m3u", "#EXTINF:-1,News\n#comment\nudp://a\n", {{"-1", "News", "udp://a"}}},
      {"m3u later EXTINF wins", "l.m3u", "#EXTINF:1,A\n#EXTINF:2,B\nudp://a\n", {{"2", "B", "udp://a"}}},
      {"m3u EXTINF is case-sensitive", "l.m3u", "#extinf:1,A\nudp://a\n", {{"", "", "udp://a"}}},
      {"m3u leading white space is never an entry", "l.m3u", " udp://x\n#EXTINF:1,A\n\tudp://y\nudp://a\n",
       {{"1", "A", "udp://a"}}},
      {"m3u last line without line feed", "l.m3u", "#EXTINF:1,A\nudp://a", {{"1", "A", "udp://a"}}},
      {"m3u CR LF line ends", "l.m3u", "#EXTM3U\r\n#EXTINF:-1,News\r\nudp://a\r\n\r\nudp://b\r\n",
       {{"-1", "News", "udp://a"}, {"", "", "udp://b"}}},
      {"m3u CR LF on the last line without LF", "l.m3u", "udp://a\r", {{"", "", "udp://a"}}},
      {"m3u CR inside a line stays", "l.m3u", "udp://a\rb\n", {{"", "", "udp://a\rb"}}},
      {"m3u only comments and blank lines", "l.m3u", "#EXTM3U\n\n# nothing here\n   \n\t\n", {}},
      {"m3u empty file", "l.m3u", "", {}},
      {"m3u line of 1023 characters is one entry", "l.m3u", repeat('u', 1023) + "\nudp://b\n",
       {{"", "", repeat('u', 1023)}, {"", "", "udp://b"}}},
      // Tokenised URLs are that long: one line, one entry, whatever its length.
      {"m3u long line is one entry", "l.m3u", repeat('u', 10000) + "\nudp://b\n",
       {{"", "", repeat('u', 10000)}, {"", "", "udp://b"}}},
      {"m3u long line without line feed", "l.m3u", "#EXTINF:1,A\n" + repeat('u', 5000), {{"1", "A", repeat('u', 5000)}}},
      {"m3u CR LF after a long line", "l.m3u", repeat('u', 1022) + "\r\nudp://b\r\n",
       {{"", "", repeat('u', 1022)}, {"", "", "udp://b"}}},
      {"m3u long EXTINF caption is cut, never a line of its own", "l.m3u",
       "#EXTINF:-1," + repeat('T', 1100) + "\nudp://a\n", {{"-1", repeat('T', 1023), "udp://a"}}},
      {"m3u long first caption is cut", "l.m3u", "#EXTINF:" + repeat('D', 1100) + ",T\nudp://a\n",
       {{repeat('D', 1023), "T", "udp://a"}}},
      {"m3u EXTINF without text keeps its line feed", "l.m3u", "#EXTINF:\r\nudp://a\n", {{"\n", "", "udp://a"}}},
      {"m3u NUL ends a string, not the line", "l.m3u", "udp://a\0junk\nudp://b\n"s,
       {{"", "", "udp://a"}, {"", "", "udp://b"}}},

      // CSV.
      {"csv third field ends at white space", "l.csv", "A,B,C D,E,F\n", {{"A", "B", "C"}, {"D", "E", "F"}}},
      {"csv leftover without commas ends reading", "l.csv", "A,B,C D\n", {{"A", "B", "C"}}},
      {"csv blank line between records", "l.csv", "a,b,c\n\nd,e,f\n", {{"a", "b", "c"}, {"d", "e", "f"}}},
      {"csv empty second field first", "l.csv", "a,,c\n", {}},
      {"csv empty first field later ends reading", "l.csv", "a,b,c\n,e,f\ng,h,i\n", {{"a", "b", "c"}}},
      {"csv fourth field belongs to the uri", "l.csv", "a,b,c,d\n", {{"a", "b", "c,d"}}},
      {"csv header line is an entry", "l.csv", "name,group,uri\nNews,TV,udp://a\n",
       {{"name", "group", "uri"}, {"News", "TV", "udp://a"}}},
      {"csv spaces inside captions", "l.csv", "My News, HD ,udp://a\n", {{"My News", " HD ", "udp://a"}}},
      {"csv leading spaces of a record skipped", "l.csv", "a,b,c\n   d,e,f\n", {{"a", "b", "c"}, {"d", "e", "f"}}},
      {"csv first field across lines", "l.csv", "a\nb,c,d\n", {{"a\nb", "c", "d"}}},
      {"csv CR LF line ends", "l.csv", "a,b,c\r\nd,e,f\r\n", {{"a", "b", "c"}, {"d", "e", "f"}}},
      {"csv last line without line feed", "l.csv", "a,b,c", {{"a", "b", "c"}}},
      {"csv empty file", "l.csv", "", {}},
      {"csv only white space", "l.csv", "\n\n  \r\n", {}},
      {"csv one field only", "l.csv", "udp://a\n", {}},
      {"csv long first field is a cut caption", "l.csv", repeat('x', 1100) + ",b,c\n",
       {{repeat('x', 1023), "b", "c"}}},
      {"csv long second field is a cut caption", "l.csv", "a,b,c\nd," + repeat('x', 1024) + ",f\n",
       {{"a", "b", "c"}, {"d", repeat('x', 1023), "f"}}},
      {"csv fields at the limit", "l.csv", repeat('x', 1023) + "," + repeat('y', 1023) + "," + repeat('z', 1023) + "\n",
       {{repeat('x', 1023), repeat('y', 1023), repeat('z', 1023)}}},
      {"csv long uri is one entry", "l.csv", "a,b," + repeat('u', 10000) + "x,y,z\nd,e,f\n",
       {{"a", "b", repeat('u', 10000) + "x,y,z"}, {"d", "e", "f"}}},
      {"csv first field running to the end", "l.csv", "a,b,c\n" + repeat('x', 3000), {{"a", "b", "c"}}},
      {"csv third field missing at the end", "l.csv", "a,b,c\nd,e,  \n", {{"a", "b", "c"}}},
  };
  return all;
}

class PlaylistCase : public testing::TestWithParam<Case> {};

TEST_P(PlaylistCase, Loads) {
  const Case& c = GetParam();
  tilutest::TempDir dir;
  std::string path = dir.file(c.file);
  g_autofree gchar* parent = g_path_get_dirname(path.c_str());
  ASSERT_EQ(g_mkdir_with_parents(parent, 0755), 0);
  write_file(path, c.content);
  bool loaded = false;
  std::vector<Entry> entries = load(path, &loaded);
  EXPECT_EQ(loaded, !c.expected.empty());
  EXPECT_EQ(entries, c.expected);
}

std::string case_name(const testing::TestParamInfo<Case>& info) {
  std::string name;
  for (const char* p = info.param.name; *p; p++) name += g_ascii_isalnum(*p) ? *p : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Files, PlaylistCase, testing::ValuesIn(cases()), case_name);

TEST(PlaylistLoad, NothingFromWhatCannotBeRead) {
  tilutest::TempDir dir;
  bool loaded = true;
  load(dir.file("missing.m3u"), &loaded);
  EXPECT_FALSE(loaded) << "missing file";
  load(dir.file("missing.csv"), &loaded);
  EXPECT_FALSE(loaded) << "missing csv file";
  ASSERT_EQ(g_mkdir(dir.file("folder.m3u").c_str(), 0755), 0);
  load(dir.file("folder.m3u"), &loaded);
  EXPECT_FALSE(loaded) << "directory";
  load("", &loaded);
  EXPECT_FALSE(loaded) << "empty path";
}

TEST(PlaylistLoad, KeepsOrderOfManyEntries) {
  tilutest::TempDir dir;
  std::string m3u = "#EXTM3U\n", csv;
  const int n = 5000;
  for (int i = 0; i < n; i++) {
    m3u += "#EXTINF:-1,Channel " + std::to_string(i) + "\nudp://239.1." + std::to_string(i / 256) + "." +
           std::to_string(i % 256) + ":5000\n";
    csv += "Channel " + std::to_string(i) + ",HD,udp://h" + std::to_string(i) + "\n";
  }
  write_file(dir.file("big.m3u"), m3u);
  write_file(dir.file("big.csv"), csv);
  bool loaded = false;
  auto entries = load(dir.file("big.m3u"), &loaded);
  ASSERT_EQ(entries.size(), size_t(n));
  EXPECT_EQ(entries[4999], (Entry{"-1", "Channel 4999", "udp://239.1.19.135:5000"}));
  entries = load(dir.file("big.csv"), &loaded);
  ASSERT_EQ(entries.size(), size_t(n));
  EXPECT_EQ(entries[1234], (Entry{"Channel 1234", "HD", "udp://h1234"}));
}

// Only a regular file is a playlist. A FIFO without a writer used to block the open for ever,
// an endless device to be read for ever: each must be refused at once (the loop would hang).
TEST(PlaylistLoad, RefusesWhatIsNotARegularFile) {
  tilutest::TempDir dir;
  ASSERT_EQ(mkfifo(dir.file("fifo.m3u").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(dir.file("fifo.csv").c_str(), 0600), 0);
  ASSERT_EQ(symlink("/dev/zero", dir.file("zero.m3u").c_str()), 0);
  ASSERT_EQ(symlink("/dev/zero", dir.file("zero.csv").c_str()), 0);
  // A link to a regular file is read as the file.
  write_file(dir.file("real.m3u"), "udp://a\n");
  ASSERT_EQ(symlink("real.m3u", dir.file("link.m3u").c_str()), 0);
  struct Row {
    std::string path;
    bool loads;
  } rows[] = {{dir.file("fifo.m3u"), false}, {dir.file("fifo.csv"), false}, {dir.file("zero.m3u"), false},
              {dir.file("zero.csv"), false},  {"/dev/zero", false},            {"/dev/null", false},
              {dir.file("link.m3u"), true}};
  for (const Row& row : rows) {
    bool loaded = !row.loads;
    load(row.path, &loaded);
    EXPECT_EQ(loaded, row.loads) << row.path;
  }
  // A FIFO with a writer waiting is refused as well, and the writer is not left hanging.
  std::thread writer([&] {
    int fd = open(dir.file("fifo.m3u").c_str(), O_WRONLY);
    if (fd >= 0) close(fd);
  });
  bool loaded = true;
  load(dir.file("fifo.m3u"), &loaded);
  EXPECT_FALSE(loaded);
  // However late the writer came to its open, a reader held open lets it through.
  int reader = open(dir.file("fifo.m3u").c_str(), O_RDONLY | O_NONBLOCK);
  writer.join();
  if (reader >= 0) close(reader);
}

// Random bytes, biased towards the characters the formats care about.
TEST(PlaylistLoad, BinaryJunkGivesCompleteEntriesOrNothing) {
  std::mt19937 random(20261210);
  const char interesting[] = {'#', ',', '\n', '\r', ' ', '\t', '\0', 'a', '\xff', '\xc3'};
  tilutest::TempDir dir;
  for (int round = 0; round < 200; round++) {
    std::string junk(random() % 4096, '\0');
    for (char& c : junk)
      c = random() % 2 ? interesting[random() % sizeof interesting] : char(random() % 256);
    if (round % 3 == 0) junk = "#EXTINF:" + junk;
    for (const char* name : {"junk.m3u", "junk.csv"}) {
      write_file(dir.file(name), junk);
      bool loaded = false;
      auto entries = load(dir.file(name), &loaded);
      if (!std::string(name).ends_with(".m3u")) continue;
      for (const Entry& e : entries) EXPECT_EQ(e.uri.find('\n'), std::string::npos) << "round " << round;
    }
  }
}

}  // namespace
