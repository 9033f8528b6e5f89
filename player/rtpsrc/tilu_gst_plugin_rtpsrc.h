// The player's own RTP receiving element "tilurtpsrc" (krtp:// URIs).
#pragma once

#include <gst/gst.h>

// Registers the element as a static plug-in of this process. Returns the framework's result.
gboolean gst_tilu_rtpsrc_plugin_register(void);

// krtp://[user@]host[:port]; host is newly allocated on success. Outputs untouched on failure.
gboolean gst_tilu_rtpsrc_parse_uri(const gchar* uri, gchar** host, guint16* port);
