// PLACEHOLDER so the tree links while the element is written; the owner replaces this file.
#include "tilu_gst_plugin_rtpsrc.h"
gboolean gst_tilu_rtpsrc_plugin_register(void) { return FALSE; }
gboolean gst_tilu_rtpsrc_parse_uri(const gchar*, gchar**, guint16*) { return FALSE; }
