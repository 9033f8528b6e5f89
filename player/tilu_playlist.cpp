// Playlist reader: M3U with #EXTINF captions, or three-column CSV, read in two passes (count,
// rewind, fill) with the standard library's buffered input.
#include "tilu_playlist.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr int kBufferSize = 1024;  // one line piece, caption or field: at most 1023 characters
#define TILU_CSV_FORMAT "%1023[^,],%1023[^,],%1023s\n"
#define TILU_EXTINF_FORMAT "%1023[^,],%1023[^\n]"
constexpr char kExtinf[] = "#EXTINF:";

struct FileCloser {
  void operator()(FILE* f) const noexcept { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

bool is_m3u_path(const char* path) {
  const char* dot = std::strrchr(path, '.');
  return dot && dot[1] != '\0' && g_ascii_strcasecmp(dot + 1, "m3u") == 0;
}

// Reads the next piece of a line (at most 1023 characters) into buf. Glibc's text mode keeps
// the CR of a CR LF line end, so a CR right before the line feed (or at the end of the file) is
// read as the line feed itself: "udp://a\r\n" arrives as "udp://a\n", also when the CR and the
// LF fall into different pieces.
bool read_piece(FILE* file, char (&buf)[kBufferSize]) {
  if (!std::fgets(buf, kBufferSize, file)) return false;
  size_t len = std::strlen(buf);
  if (len >= 2 && buf[len - 2] == '\r' && buf[len - 1] == '\n') {
    buf[len - 2] = '\n';
    buf[len - 1] = '\0';
  } else if (len >= 1 && buf[len - 1] == '\r') {
    int next = std::getc(file);
    if (next == '\n' || next == EOF)
      buf[len - 1] = '\n';
    else
      std::ungetc(next, file);
  }
  return true;
}

bool is_m3u_entry(const char* piece) { return piece[0] != '#' && !g_ascii_isspace(piece[0]); }

// Counting stops at G_MAXINT32 so that count stays a valid gint32 however long the file is.
gint32 m3u_count(FILE* file) {
  char line[kBufferSize];
  gint32 count = 0;
  while (count < G_MAXINT32 && read_piece(file, line))
    if (is_m3u_entry(line)) count++;
  return count;
}

// Fills up to playlist->count entries; returns how many it stored.
gint32 m3u_fill(FILE* file, TiluPlaylist* playlist) {
  char line[kBufferSize];
  char caption1[kBufferSize] = "";
  char caption2[kBufferSize] = "";
  gint32 stored = 0;
  while (stored < playlist->count && read_piece(file, line)) {
    if (line[0] == '#') {
      if (std::strncmp(line, kExtinf, sizeof kExtinf - 1) == 0)
        std::sscanf(line + sizeof kExtinf - 1, TILU_EXTINF_FORMAT, caption1, caption2);
      continue;
    }
    if (g_ascii_isspace(line[0])) continue;
    size_t len = std::strlen(line);
    if (len > 0 && line[len - 1] == '\n') line[len - 1] = '\0';
    playlist->caption1[stored] = g_strdup(caption1);
    playlist->caption2[stored] = g_strdup(caption2);
    playlist->uri[stored] = g_strdup(line);
    stored++;
    caption1[0] = caption2[0] = '\0';
  }
  return stored;
}

// The three fields live on the heap: 3 KiB of scan buffers have no business on the stack of
// whoever loads a playlist.
struct CsvRecord {
  char field[3][kBufferSize];
  bool scan(FILE* file) { return std::fscanf(file, TILU_CSV_FORMAT, field[0], field[1], field[2]) == 3; }
};

gint32 csv_count(FILE* file) {
  auto record = std::make_unique<CsvRecord>();
  gint32 count = 0;
  while (count < G_MAXINT32 && record->scan(file)) count++;
  return count;
}

gint32 csv_fill(FILE* file, TiluPlaylist* playlist) {
  auto record = std::make_unique<CsvRecord>();
  gint32 stored = 0;
  while (stored < playlist->count && record->scan(file)) {
    playlist->caption1[stored] = g_strdup(record->field[0]);
    playlist->caption2[stored] = g_strdup(record->field[1]);
    playlist->uri[stored] = g_strdup(record->field[2]);
    stored++;
  }
  return stored;
}

}  // namespace

TiluPlaylist* tilu_playlist_load(const char* path) {
  FilePtr file(std::fopen(path, "r"));
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

  // The file may have changed since it was counted (or cannot be rewound at all, like a pipe):
  // the playlist then holds exactly the entries the second pass read, never an unfilled one.
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
