#include "tilu_memory.h"

#include <malloc.h>

namespace {

// Buffers from this size up (a 480x270 I420 frame is 190 KiB, a 720p one 1.3 MiB) are mapped
// on their own and unmapped when freed. Setting it also stops glibc from raising it.
constexpr int kMmapThreshold = 128 * 1024;
// Arenas for the streaming threads: a handful keeps lock contention low on a few cores, and
// the memory that pipelines leave behind in them bounded.
constexpr int kArenaMax = 4;
// Free memory in the arenas below this is not worth a trim.
constexpr size_t kTrimSlack = 4 * 1024 * 1024;

gboolean _tilu_memory_trim_tick(gpointer) {
  struct mallinfo2 info = mallinfo2();
  if (info.fordblks > kTrimSlack) tilu_memory_trim();
  return G_SOURCE_CONTINUE;
}

}  // namespace

void tilu_memory_init() {
  mallopt(M_MMAP_THRESHOLD, kMmapThreshold);
  mallopt(M_ARENA_MAX, kArenaMax);
}

guint tilu_memory_start_trimming(guint interval_ms) {
  return g_timeout_add_full(G_PRIORITY_LOW, interval_ms, _tilu_memory_trim_tick, nullptr, nullptr);
}

bool tilu_memory_trim() { return malloc_trim(0) != 0; }
