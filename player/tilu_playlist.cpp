// Playlist reader: M3U with #EXTINF captions, or three-column CSV, read in two passes (count,
// rewind, fill) with the standard library's buffered input.
#include "tilu_playlist.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

// Captions keep at most this many characters; a URI and a line are read whole.
constexpr size_t kCaptionMax = 1023;
constexpr char kExtinf[] = "#EXTINF:";

struct FileCloser {
  void operator()(FILE* f) const noexcept { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

bool is_m3u_path(const char* path) {
  const char* dot = std::strrchr(path, '.');
  return dot && dot[1] != '\0' && g_ascii_strcasecmp(dot + 1, "m3u") == 0;
}

// Opens a regular file only. A FIFO without a writer would block the open (and so the program)
// for ever, and an endless device such as /dev/zero would be read for ever: neither is a
// playlist. The open itself does not block, whatever the path names.
FilePtr open_regular(const char* path) {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, 0) != 0) {
    close(fd);
    return nullptr;
  }
  FilePtr file(fdopen(fd, "r"));
  if (!file) close(fd);
  return file;
}

// One whole line of any length, without its line end; a CR before the line feed (or at the end
// of the file) belongs to the line end, as text mode would have it on systems with CR LF lines.
class LineReader {
 public:
  explicit LineReader(FILE* file) : file_(file) {}
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  ~LineReader() { std::free(buffer_); }

  // The next line, or nullptr at the end of the file. A NUL byte ends the string, not the line.
  const char* next() {
    ssize_t len = getline(&buffer_, &capacity_, file_);
    if (len < 0) return nullptr;
    line_end_ = len > 0 && buffer_[len - 1] == '\n';
    if (line_end_) buffer_[--len] = '\0';
    if (len > 0 && buffer_[len - 1] == '\r') {
      buffer_[--len] = '\0';
      line_end_ = true;
    }
    length_ = size_t(len);
    return buffer_;
  }
  // Whether the last line read began with white space: its line end, when it had nothing else.
  bool begins_with_space() const { return length_ == 0 || g_ascii_isspace(buffer_[0]); }
  // Whether the last line read had a line end (the last line of a file may have none).
  bool had_line_end() const { return line_end_; }

 private:
  FILE* file_;
  char* buffer_ = nullptr;
  size_t capacity_ = 0;
  bool line_end_ = false;
  size_t length_ = 0;
};


// Counting stops at G_MAXINT32 so that count stays a valid gint32 however long the file is.
gint32 m3u_count(FILE* file) {
  LineReader lines(file);
  gint32 count = 0;
  while (count < G_MAXINT32) {
    const char* line = lines.next();
    if (!line) break;
    if (line[0] != '#' && !lines.begins_with_space()) count++;
  }
  return count;
}

// The captions of an "#EXTINF:" line: the first up to the first comma, the second the rest of
// the line; each cut after kCaptionMax characters. Like the scan format "%1023[^,],%1023[^\n]"
// it changes nothing when the first is empty, and only the first when the second is; without a
// comma the first takes the rest of the line with its line feed.
void m3u_extinf_captions(const char* rest, bool line_end, std::string* caption1, std::string* caption2) {
  size_t first = std::strcspn(rest, ",");
  if (first == 0 && !(rest[0] == '\0' && line_end)) return;
  caption1->assign(rest, std::min(first, kCaptionMax));
  if (rest[first] != ',') {
    if (line_end && caption1->size() < kCaptionMax) *caption1 += '\n';
    return;
  }
  if (rest[first + 1] == '\0') return;
  const char* second = rest + first + 1;
  caption2->assign(second, std::min(std::strlen(second), kCaptionMax));
}

// Fills up to playlist->count entries; returns how many it stored.
gint32 m3u_fill(FILE* file, TiluPlaylist* playlist) {
  LineReader lines(file);
  std::string caption1, caption2;
  gint32 stored = 0;
  while (stored < playlist->count) {
    const char* line = lines.next();
    if (!line) break;
    if (line[0] == '#') {
      if (std::strncmp(line, kExtinf, sizeof kExtinf - 1) == 0)
        m3u_extinf_captions(line + sizeof kExtinf - 1, lines.had_line_end(), &caption1, &caption2);
      continue;
    }
    if (lines.begins_with_space()) continue;
    playlist->caption1[stored] = g_strdup(caption1.c_str());
    playlist->caption2[stored] = g_strdup(caption2.c_str());
    playlist->uri[stored] = g_strdup(line);
    stored++;
    caption1.clear();
    caption2.clear();
  }
  return stored;
}

// The C locale's white space, as the scan format's %s and its trailing "\n" see it.
bool is_c_space(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// One CSV record as the scan format "%[^,],%[^,],%s\n" reads it, with fields of any length: a
// first and a second field of at least one character other than a comma, each followed by a
// comma; white space; a third field of non-white-space characters; then any white space.
struct CsvRecord {
  std::string field[3];

  bool scan(FILE* file) {
    for (std::string& f : field) f.clear();
    for (int i = 0; i < 2; i++) {
      int c;
      while ((c = std::getc(file)) != EOF && c != ',') field[i] += char(c);
      if (c == EOF || field[i].empty()) return false;
    }
    int c;
    while ((c = std::getc(file)) != EOF && is_c_space(c)) {
    }
    while (c != EOF && !is_c_space(c)) {
      field[2] += char(c);
      c = std::getc(file);
    }
    while (c != EOF && is_c_space(c)) c = std::getc(file);
    if (c != EOF) std::ungetc(c, file);
    return !field[2].empty();
  }
};

gint32 csv_count(FILE* file) {
  CsvRecord record;
  gint32 count = 0;
  while (count < G_MAXINT32 && record.scan(file)) count++;
  return count;
}

// A caption's copy, cut after kCaptionMax characters (a NUL byte ends it earlier).
gchar* caption_copy(const std::string& text) { return g_strndup(text.c_str(), kCaptionMax); }

gint32 csv_fill(FILE* file, TiluPlaylist* playlist) {
  CsvRecord record;
  gint32 stored = 0;
  while (stored < playlist->count && record.scan(file)) {
    playlist->caption1[stored] = caption_copy(record.field[0]);
    playlist->caption2[stored] = caption_copy(record.field[1]);
    playlist->uri[stored] = g_strdup(record.field[2].c_str());
    stored++;
  }
  return stored;
}

}  // namespace

TiluPlaylist* tilu_playlist_load(const char* path) {
  FilePtr file = open_regular(path);
  if (!file) return nullptr;
  const bool m3u = is_m3u_path(path);

  gint32 count = m3u ? m3u_count(file.get()) : csv_count(file.get());
  if (count <= 0) return nullptr;
  std::rewind(file.get());

  TiluPlaylistPtr playlist(g_new0(TiluPlaylist, 1));
  playlist->count = count;
  playlist->caption1 = g_new0(gchar*, count);
  playlist->caption2 = g_new0(gchar*, count);
  playlist->uri = g_new0(gchar*, count);

  // The file may have changed since it was counted: the playlist then holds exactly the entries
  // the second pass read, never an unfilled one.
  playlist->count = m3u ? m3u_fill(file.get(), playlist.get()) : csv_fill(file.get(), playlist.get());
  if (playlist->count == 0) return nullptr;
  return playlist.release();
}

void tilu_playlist_free(TiluPlaylist* playlist) {
  if (!playlist) return;
  for (gint32 i = 0; i < playlist->count; i++) {
    g_free(playlist->caption1[i]);
    g_free(playlist->caption2[i]);
    g_free(playlist->uri[i]);
  }
  g_free(playlist->caption1);
  g_free(playlist->caption2);
  g_free(playlist->uri);
  g_free(playlist);
}
