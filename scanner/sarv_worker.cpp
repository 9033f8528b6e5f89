// A scan worker: joins each group of its slice in turn on the chosen device, watches a live
// capture for UDP datagrams to the group and starts one snapshot per new destination port.
#include <gio/gio.h>
#include <pcap/pcap.h>
#include <poll.h>

#include <algorithm>
#include <cstdarg>
#include <memory>
#include <string>
#include <vector>

#include "glib_ptr.h"
#include "sarv_filter.h"
#include "sarv_gst.h"
#include "sarv_main.h"

namespace {

constexpr int kSnapLen = 14 + 20 + 8;  // Ethernet, IPv4 without options, UDP: headers only
constexpr int kReadTimeoutMs = 500;
constexpr guint16 kMembershipPort = 65535;

struct PcapClose {
  void operator()(pcap_t* p) const noexcept { pcap_close(p); }
};
using PcapPtr = std::unique_ptr<pcap_t, PcapClose>;

// A live capture that hands over every packet as it arrives and never blocks in its read, so
// that the loop tests its time limit even on a link without any traffic. Null with the
// library's message in `errbuf` when it cannot be opened.
PcapPtr _sarv_open_capture(const char* device, char* errbuf) {
  PcapPtr pcap(pcap_create(device, errbuf));
  if (!pcap) return nullptr;
  int status = pcap_set_snaplen(pcap.get(), kSnapLen);
  if (status == 0) status = pcap_set_promisc(pcap.get(), 1);
  if (status == 0) status = pcap_set_timeout(pcap.get(), kReadTimeoutMs);
  if (status == 0) status = pcap_set_immediate_mode(pcap.get(), 1);
  if (status == 0) status = pcap_activate(pcap.get());
  // Warnings (positive) leave a working capture; errors are worded as the one-call open words them.
  if (status < 0) {
    const char* detail = pcap_geterr(pcap.get());
    if (status == PCAP_ERROR)
      g_snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: %s", device, detail);
    else if (status == PCAP_ERROR_NO_SUCH_DEVICE || status == PCAP_ERROR_PERM_DENIED ||
             status == PCAP_ERROR_PROMISC_PERM_DENIED)
      g_snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: %s (%s)", device, pcap_statustostr(status),
                 detail);
    else
      g_snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: %s", device, pcap_statustostr(status));
    return nullptr;
  }
  if (pcap_setnonblock(pcap.get(), 1, errbuf) < 0) return nullptr;
  if (pcap_get_selectable_fd(pcap.get()) < 0) {
    g_snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: no selectable descriptor", device);
    return nullptr;
  }
  return pcap;
}

// Waits until the capture has something to read or `wait_us` has passed (at most the read
// timeout, so the limit is tested at least that often).
void _sarv_wait_readable(pcap_t* pcap, gint64 wait_us) {
  const gint64 capped = std::clamp<gint64>(wait_us, 0, gint64(kReadTimeoutMs) * 1000);
  pollfd fd = {pcap_get_selectable_fd(pcap), POLLIN, 0};
  // Round up: waking before the limit would only come back here.
  poll(&fd, 1, int((capped + 999) / 1000));
}

// One print call per line, so that the lines of several workers interleave whole.
void _sarv_say(bool failure, const char* format, ...) G_GNUC_PRINTF(2, 3);
void _sarv_say(bool failure, const char* format, ...) {
  if (!failure && sarv_opt::quiet) return;
  va_list args;
  va_start(args, format);
  glibx::CharPtr text(g_strdup_vprintf(format, args));
  va_end(args);
  if (failure)
    g_printerr("[%p] %s", (void*)g_thread_self(), text.get());
  else
    g_print("[%p] %s", (void*)g_thread_self(), text.get());
}

// What a record holds while its address is scanned; released whatever ends the scan.
class GroupScan {
 public:
  explicit GroupScan(SarvGroup* group) : group_(group) {
    group_->gsts = g_ptr_array_new();
    group_->ports = g_array_new(FALSE, FALSE, sizeof(guint16));
    group_->num_ports = 0;
  }
  GroupScan(const GroupScan&) = delete;
  GroupScan& operator=(const GroupScan&) = delete;
  ~GroupScan() {
    for (guint k = 0; k < group_->gsts->len; k++) {
      auto* gst = static_cast<SarvGst*>(g_ptr_array_index(group_->gsts, k));
      if (gst) report_write_error(k, gst);
      sarv_gst_close(gst);
    }
    g_ptr_array_unref(group_->gsts);
    g_array_unref(group_->ports);
    group_->gsts = nullptr;
    group_->ports = nullptr;
    group_->num_ports = 0;
  }

  bool has_port(guint16 port) const {
    for (gint32 k = 0; k < group_->num_ports; k++)
      if (g_array_index(group_->ports, guint16, k) == port) return true;
    return false;
  }

  void add(guint16 port, SarvGst* gst, const gchar* file) {
    files_.emplace_back(file);
    g_ptr_array_add(group_->gsts, gst);
    g_array_append_val(group_->ports, port);
    group_->num_ports++;
  }

  // Closes every finished snapshot; true when this closed one and none is left open.
  bool poll() {
    bool closed = false, open = false;
    for (guint k = 0; k < group_->gsts->len; k++) {
      gpointer& slot = g_ptr_array_index(group_->gsts, k);
      if (!slot) continue;
      // A snapshot that cannot be written never finishes: it is reported and ended at once.
      if (report_write_error(k, static_cast<SarvGst*>(slot)) ||
          sarv_gst_is_finished(static_cast<SarvGst*>(slot))) {
        sarv_gst_close(static_cast<SarvGst*>(slot));
        slot = nullptr;
        closed = true;
      } else {
        open = true;
      }
    }
    return closed && !open;
  }

 private:
  bool report_write_error(guint k, SarvGst* gst) {
    glibx::CharPtr error = sarv_gst_write_error(gst);
    if (error) _sarv_say(true, "can't save %s: %s\n", files_[k].c_str(), error.get());
    return error != nullptr;
  }

  SarvGroup* group_;
  std::vector<std::string> files_;  // the snapshot file of each entry of gsts
};

void _sarv_scan_group(SarvGroup* group, GSocket* socket, pcap_t* pcap, const gchar* device) {
  glibx::CharPtr text(g_strdup_printf("%d.%d.%d.%d", int(group->addr >> 24 & 0xff),
                                      int(group->addr >> 16 & 0xff), int(group->addr >> 8 & 0xff),
                                      int(group->addr & 0xff)));
  _sarv_say(false, "start scanning %s\n", text.get());
  auto address = glibx::Ref<GInetAddress>::adopt(g_inet_address_new_from_string(text.get()));
  glibx::Error error;
  if (!g_socket_join_multicast_group(socket, address.get(), FALSE, device, error.out()))
    _sarv_say(true, "can't join %s: %s\n", text.get(), error.message());
  error.clear();

  {
    GroupScan scan(group);
    const gint64 start = g_get_monotonic_time();
    const gint64 limit = gint64(sarv_opt::timeout) * 1000;
    for (;;) {
      pcap_pkthdr* header = nullptr;
      const u_char* data = nullptr;
      int got = pcap_next_ex(pcap, &header, &data);
      if (got < 0) break;
      const gint64 elapsed = g_get_monotonic_time() - start;
      if (elapsed > limit) break;
      if (got == 0) {
        // Nothing queued: sleep until a packet comes or just past the limit.
        _sarv_wait_readable(pcap, limit - elapsed + 1);
        continue;
      }
      guint16 port = 0;
      if (!sarv_filter_port(data, header->caplen, group->addr, &port)) continue;
      if (!scan.has_port(port)) {
        glibx::CharPtr uri(g_strdup_printf("udp://%s:%d", text.get(), port));
        glibx::CharPtr file(g_strdup_printf("%s/%s-%d.png", sarv_opt::output, text.get(), port));
        _sarv_say(false, "trying to save %s to %s\n", uri.get(), file.get());
        scan.add(port, sarv_gst_open(uri.get(), file.get()), file.get());
      }
      if (scan.poll()) break;
    }
  }
  _sarv_say(false, "finish scanning %s\n", text.get());

  if (!g_socket_leave_multicast_group(socket, address.get(), FALSE, device, error.out()))
    _sarv_say(true, "can't leave %s: %s\n", text.get(), error.message());
  error.clear();
}

}  // namespace

gpointer sarv_scan_thread(gpointer data) {
  auto* slice = static_cast<SarvGroupList*>(data);
  const gchar* device = dev_names[sarv_opt::interface];
  glibx::Error error;

  auto socket = glibx::Ref<GSocket>::adopt(g_socket_new(
      G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_DATAGRAM, G_SOCKET_PROTOCOL_DEFAULT, error.out()));
  if (!socket) {
    _sarv_say(true, "can't create socket: %s\n", error.message());
    return nullptr;
  }
  error.clear();
  auto any = glibx::Ref<GInetAddress>::adopt(g_inet_address_new_any(G_SOCKET_FAMILY_IPV4));
  auto bind_address =
      glibx::Ref<GSocketAddress>::adopt(g_inet_socket_address_new(any.get(), kMembershipPort));
  any.reset();
  // Every worker binds the same port; the socket only carries memberships.
  if (!g_socket_bind(socket.get(), bind_address.get(), TRUE, error.out())) {
    _sarv_say(true, "can't bind socket: %s\n", error.message());
    return nullptr;
  }
  error.clear();

  char errbuf[PCAP_ERRBUF_SIZE] = "";
  PcapPtr pcap = _sarv_open_capture(device, errbuf);
  if (!pcap) {
    _sarv_say(true, "can't open pcap: %s\n", errbuf);
    return nullptr;
  }
  if (pcap_datalink(pcap.get()) != DLT_EN10MB) {
    _sarv_say(true, "%s is not ethernet\n", device);
    return nullptr;
  }

  for (gint32 i = 0; i < slice->num_groups; i++) {
    SarvGroup group{sarv_group_list_addr(slice, i), nullptr, nullptr, 0};
    _sarv_scan_group(&group, socket.get(), pcap.get(), device);
    g_usleep(gulong(guint32(sarv_opt::sleep) * 1000u));
  }
  return nullptr;
}
