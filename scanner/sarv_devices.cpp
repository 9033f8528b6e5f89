// The capture-device table: what libpcap lists at start-up, by position (dev_idx).
#include <pcap/pcap.h>

#include "sarv_main.h"

gint32 num_devs = 0;
gchar** dev_names = nullptr;
gchar** dev_descs = nullptr;

int sarv_dev_init() {
  char errbuf[PCAP_ERRBUF_SIZE] = "";
  pcap_if_t* all = nullptr;
  if (pcap_findalldevs(&all, errbuf) != 0) {
    g_print("pcap_findalldevs() fail: %s", errbuf);
    return -1;
  }
  gint32 count = 0;
  for (pcap_if_t* d = all; d; d = d->next) count++;
  num_devs = count;
  // One extra NULL slot, so that g_strfreev releases the names.
  dev_names = g_new0(gchar*, count + 1);
  dev_descs = g_new0(gchar*, count + 1);
  gint32 i = 0;
  for (pcap_if_t* d = all; d; d = d->next, i++) {
    dev_names[i] = g_strdup(d->name);
    dev_descs[i] = g_strdup(d->description);
  }
  pcap_freealldevs(all);
  return 0;
}

void sarv_dev_print() {
  // A device without a description shows empty parentheses rather than printf's "(null)".
  for (gint32 i = 0; i < num_devs; i++)
    g_print("dev_idx(%d) dev_name(%s) dev_desc(%s)\n", i, dev_names[i],
            dev_descs[i] ? dev_descs[i] : "");
}

void sarv_dev_free() {
  // dev_descs may hold NULL entries in the middle, so it is freed entry by entry.
  for (gint32 i = 0; i < num_devs; i++) g_free(dev_descs ? dev_descs[i] : nullptr);
  g_free(dev_descs);
  g_strfreev(dev_names);
  dev_names = nullptr;
  dev_descs = nullptr;
  num_devs = 0;
}
