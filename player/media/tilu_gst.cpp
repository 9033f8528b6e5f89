#include "tilu_gst.h"
