#include "tilu_gst_plugin_rtpsrc.h"
