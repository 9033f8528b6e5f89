// PLACEHOLDER so the tree links while the scan scheduler is written; the owner replaces this file.
#include "tilu_player.h"
void _tilu_scan_vid_start(TiluPlayer*, int) {}
void _tilu_scan_vid_stop(TiluPlayer*, int) {}
gboolean _tilu_scan_timeout_callback(gpointer) { return FALSE; }
void _tilu_scan_texture_on_callback(int, gpointer) {}
void tilu_scan_start_all(TiluPlayer*) {}
void tilu_scan_stop_all(TiluPlayer*) {}
