// The job split: one contiguous slice of the target list per worker thread.
#pragma once

#include <glib.h>

#include <vector>

#include "sarv_main.h"

// Slices of all for *jobs workers (jobs >= 1): total / jobs addresses each, the last one also
// the remainder. With fewer addresses than jobs, *jobs is lowered to the number of addresses.
std::vector<SarvGroupList> sarv_split(const SarvGroupList& all, gint* jobs);
