// The playlist reader on arbitrary file contents, read both as M3U and as CSV.
#include <glib/gstdio.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tilu_playlist.h"

namespace {

std::string directory;
std::string paths[2];

void remove_files() {
  for (const std::string& path : paths) g_unlink(path.c_str());
  g_rmdir(directory.c_str());
}

void check(const TiluPlaylist* playlist) {
  if (!playlist) return;
  if (playlist->count < 1) std::abort();
  for (gint32 i = 0; i < playlist->count; i++)
    if (!playlist->caption1[i] || !playlist->caption2[i] || !playlist->uri[i]) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/fuzz-tilu-playlist-XXXXXX";
  if (!g_mkdtemp(tmpl)) std::abort();
  directory = tmpl;
  paths[0] = directory + "/list.m3u";
  paths[1] = directory + "/list.csv";
  // One file under both names: written once per input, read once per format.
  if (symlink("list.m3u", paths[1].c_str()) != 0) std::abort();
  std::atexit(remove_files);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* f = std::fopen(paths[0].c_str(), "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  for (const std::string& path : paths) {
    TiluPlaylistPtr playlist(tilu_playlist_load(path.c_str()));
    check(playlist.get());
  }
  return 0;
}
