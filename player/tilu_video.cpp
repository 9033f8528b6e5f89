// PLACEHOLDER so the tree links while the main video is written; the owner replaces this file.
#include "tilu_player.h"
void _tilu_texture_on_callback(int, gpointer) {}
int _tilu_main_vid_open(TiluPlayer*) { return 0; }
int _tilu_refresh_text(TiluPlayer*) { return 0; }
gboolean _tilu_text_info_timeout_callback(gpointer) { return FALSE; }
void _tilu_restart_text_info_timeout(TiluPlayer*) {}
int _tilu_set_remove_on_complete(ClutterActor*, const char*) { return -1; }
