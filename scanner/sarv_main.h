// The scanner's shared records and process-wide state: the option values, the capture-device
// table and the per-address records that the main thread hands to the scan workers.
#pragma once

#include <glib.h>

// One single group address to scan. The worker makes the record when it reaches the address;
// gsts, ports and num_ports are used only while it scans that address.
struct SarvGroup {
  guint32 addr;      // group address in host order (first octet most significant)
  GPtrArray* gsts;   // SarvGst* per port found; an entry is NULL once its snapshot is closed
  GArray* ports;     // guint16 destination ports, parallel to gsts
  gint32 num_ports;  // entries in ports and gsts
};

// One checked target: count consecutive group addresses from first (host order). offset is the
// index of its first address in the expansion of all targets, in command-line order.
struct SarvTargetRange {
  gint64 offset;
  guint32 first;
  guint32 count;
};

// A run of consecutive addresses of the expanded targets: the whole target list or one job's
// slice. The records are not made up front (224.0.0.0/4 alone would need 8 GiB of them): a
// worker makes each address's record when it reaches it, with sarv_group_list_addr.
struct SarvGroupList {
  const SarvTargetRange* ranges;  // every target, shared and read-only while workers run
  gint32 num_ranges;
  gint64 first;        // index of the run's first address in the expansion
  gint32 num_groups;   // addresses in the run
};

// The host-order address of the run's i-th address (0 <= i < num_groups).
guint32 sarv_group_list_addr(const SarvGroupList* list, gint32 i);

// Option values. The parser writes them; afterwards only the job split may lower jobs, before
// any worker starts. Workers read them without locks.
namespace sarv_opt {
extern gint interface;
extern gboolean list_inteface;
extern gint jobs;
extern gchar* output;
extern gint sleep;
extern gint timeout;
extern gboolean quiet;
}  // namespace sarv_opt

// Capture-device table, filled once by sarv_dev_init before the command line is parsed.
extern gint32 num_devs;
extern gchar** dev_names;
extern gchar** dev_descs;  // an entry is NULL where the device has no description

int sarv_dev_init();
void sarv_dev_print();
void sarv_dev_free();

// Splits the list among sarv_opt::jobs worker threads and returns when all have ended.
void sarv_scan(SarvGroupList* list);

// A worker thread's entry; data is its SarvGroupList slice.
gpointer sarv_scan_thread(gpointer data);
