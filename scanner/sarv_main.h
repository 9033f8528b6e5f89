// The scanner's shared records and process-wide state: the option values, the capture-device
// table and the per-address records that the main thread hands to the scan workers.
#pragma once

#include <glib.h>

// One single group address to scan. The main thread sets addr only; gsts, ports and num_ports
// belong to the worker whose slice holds the record, and only while it scans that address.
struct SarvGroup {
  guint32 addr;      // group address in host order (first octet most significant)
  GPtrArray* gsts;   // SarvGst* per port found; an entry is NULL once its snapshot is closed
  GArray* ports;     // guint16 destination ports, parallel to gsts
  gint32 num_ports;  // entries in ports and gsts
};

// A run of consecutive records: the whole target list (owning the block) or one job's slice
// (a view into it).
struct SarvGroupList {
  SarvGroup* groups;
  gint32 num_groups;
};

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
