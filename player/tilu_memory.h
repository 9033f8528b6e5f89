// The player's heap over days of opening and closing pipelines.
//
// Every pipeline's streaming threads allocate video frames and stream buffers from glibc's
// per-thread arenas. Once a large buffer has been freed, glibc raises its mmap threshold to
// that size, and from then on frames come from the arenas too; pipelines that come and go
// leave those arenas fragmented, and freed memory stays resident. The player therefore fixes
// the threshold and the number of arenas at start-up, and hands free pages back to the system
// from the main loop while it runs.
#pragma once

#include <glib.h>

// Allocator settings; call first in main(), before any thread exists.
void tilu_memory_init();

// Adds a low-priority main-loop source that returns the heap's free pages to the system every
// interval_ms when enough has been freed since. Returns its source id.
guint tilu_memory_start_trimming(guint interval_ms);

// Returns the free pages of every arena to the system now; true when any were returned.
bool tilu_memory_trim();
