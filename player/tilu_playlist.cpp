#include "tilu_playlist.h"
TiluPlaylist* tilu_playlist_load(const char*) { return nullptr; }
void tilu_playlist_free(TiluPlaylist*) {}
