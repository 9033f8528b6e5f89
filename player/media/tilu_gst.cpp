// PLACEHOLDER so the tree links while the pipeline module is written; the owner replaces this file.
#include "tilu_gst.h"
TiluGst* tilu_gst_open(const char*, const char*, ClutterActor*, int, int, int, TiluGstCallback, gpointer) { return nullptr; }
int tilu_gst_close(TiluGst*) { return 0; }
int tilu_gst_cancel_new_frame_callback(TiluGst*) { return 0; }
int tilu_gst_set_mute(TiluGst*, int) { return 0; }
int tilu_gst_get_mute(TiluGst*) { return 1; }
int tilu_gst_set_volume(TiluGst*, double) { return 0; }
double tilu_gst_get_volume(TiluGst*) { return 0; }
int tilu_gst_get_num_audio(TiluGst*) { return 0; }
int tilu_gst_set_current_audio(TiluGst*, int) { return 0; }
int tilu_gst_get_current_audio(TiluGst*) { return 0; }
const char* tilu_gst_get_audio_caps_str(TiluGst*) { return nullptr; }
const char* tilu_gst_get_video_caps_str(TiluGst*) { return nullptr; }
const char* tilu_gst_get_audio_tags_str(TiluGst*) { return nullptr; }
const char* tilu_gst_get_video_tags_str(TiluGst*) { return nullptr; }
