#include "sarv_targets.h"

#include <gio/gio.h>

#include "glib_ptr.h"

namespace {

using MaskRef = glibx::Ref<GInetAddressMask>;

// A prefix length L covers 2^(32-L) addresses; only 3..32 pass the parser and the multicast test.
guint64 _sarv_mask_count(GInetAddressMask* mask) {
  guint length = g_inet_address_mask_get_length(mask);
  return length >= 32 ? 1 : guint64(1) << (32 - length);
}

guint32 _sarv_mask_first(GInetAddressMask* mask) {
  const guint8* o = g_inet_address_to_bytes(g_inet_address_mask_get_address(mask));
  return guint32(o[0]) << 24 | guint32(o[1]) << 16 | guint32(o[2]) << 8 | guint32(o[3]);
}

}  // namespace

SarvTargetCheck sarv_targets_check(int count, char** targets) {
  SarvTargetCheck result;
  gint64 total = 0;
  for (int i = 0; i < count; i++) {
    const char* target = targets[i];
    glibx::Error error;
    MaskRef mask = MaskRef::adopt(g_inet_address_mask_new_from_string(target, error.out()));
    if (!mask) {
      result.status = -3;
      result.message = std::string(target) + " parsing failed: " + error.message() + "\n";
      return result;
    }
    if (g_inet_address_mask_get_family(mask.get()) != G_SOCKET_FAMILY_IPV4) {
      result.status = -4;
      result.message = std::string(target) + " is not ipv4 ip address\n";
      return result;
    }
    if (!g_inet_address_get_is_multicast(g_inet_address_mask_get_address(mask.get()))) {
      result.status = -5;
      result.message = std::string(target) + " is not multicast ip address\n";
      return result;
    }
    total += gint64(_sarv_mask_count(mask.get()));
    if (total > G_MAXINT32) {
      result.status = -2;
      result.message = std::string(target) + " takes the number of addresses above " +
                       std::to_string(G_MAXINT32) + "\n";
      return result;
    }
  }
  result.total = gint32(total);
  return result;
}

void sarv_targets_expand(int count, char** targets, SarvGroup* groups, gint32 total) {
  gint32 next = 0;
  for (int i = 0; i < count; i++) {
    MaskRef mask = MaskRef::adopt(g_inet_address_mask_new_from_string(targets[i], nullptr));
    g_return_if_fail(mask);
    guint32 first = _sarv_mask_first(mask.get());
    guint64 n = _sarv_mask_count(mask.get());
    for (guint64 k = 0; k < n && next < total; k++) groups[next++].addr = guint32(first + k);
  }
}
