// Playlist reader: M3U with #EXTINF captions, or three-column CSV.
#pragma once

#include <glib.h>

#include <memory>

struct TiluPlaylist {
  gint32 count;      // number of entries, at least 1
  gchar** caption1;  // first caption line of each entry
  gchar** caption2;  // second caption line of each entry
  gchar** uri;       // stream URI of each entry, as written in the file
};

// Returns nullptr when the file cannot be opened, is not a regular file (a FIFO, a device, a
// directory) or holds no entry. Prints nothing. Lines and URIs are read whole; captions keep at
// most 1023 characters.
TiluPlaylist* tilu_playlist_load(const char* path);
void tilu_playlist_free(TiluPlaylist* playlist);

struct TiluPlaylistDeleter {
  void operator()(TiluPlaylist* p) const noexcept { tilu_playlist_free(p); }
};
using TiluPlaylistPtr = std::unique_ptr<TiluPlaylist, TiluPlaylistDeleter>;
