#include "sarv_split.h"

#include "glib_ptr.h"

std::vector<SarvGroupList> sarv_split(const SarvGroupList& all, gint* jobs) {
  std::vector<SarvGroupList> slices;
  if (all.num_groups <= 0 || *jobs < 1) return slices;
  gint32 chunk = all.num_groups / *jobs;
  if (chunk == 0) {
    chunk = 1;
    *jobs = all.num_groups;
  }
  for (gint i = 0; i < *jobs; i++) {
    gint32 count = chunk;
    if (i == *jobs - 1) count += all.num_groups % *jobs;
    slices.push_back({all.ranges, all.num_ranges, all.first + gint64(i) * chunk, count});
  }
  return slices;
}

void sarv_scan(SarvGroupList* list) {
  std::vector<SarvGroupList> slices = sarv_split(*list, &sarv_opt::jobs);
  std::vector<GThread*> threads;
  threads.reserve(slices.size());
  for (SarvGroupList& slice : slices) {
    glibx::Error error;
    GThread* thread = g_thread_try_new(nullptr, sarv_scan_thread, &slice, error.out());
    if (!thread) {
      // The other workers still run; only this slice's addresses are not scanned.
      g_print("can't start a worker for %d addresses: %s\n", slice.num_groups, error.message());
      continue;
    }
    threads.push_back(thread);
  }
  // Joined in slice order; the slices outlive every thread.
  for (GThread* thread : threads) g_thread_join(thread);
}
