#include "sarv_targets.h"

#include <gio/gio.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "glib_ptr.h"

namespace {

using MaskRef = glibx::Ref<GInetAddressMask>;

constexpr guint kMulticastPrefix = 4;  // 224.0.0.0/4

// A prefix length L covers 2^(32-L) addresses; only 4..32 pass the checks.
guint64 _sarv_mask_count(GInetAddressMask* mask) {
  guint length = g_inet_address_mask_get_length(mask);
  return length >= 32 ? 1 : guint64(1) << (32 - length);
}

guint32 _sarv_mask_first(GInetAddressMask* mask) {
  const guint8* o = g_inet_address_to_bytes(g_inet_address_mask_get_address(mask));
  return guint32(o[0]) << 24 | guint32(o[1]) << 16 | guint32(o[2]) << 8 | guint32(o[3]);
}

// GIO reads the prefix length with strtoul and hands whatever comes out to the mask's "length"
// property: "-1" or "999" make GObject print a warning about a value out of range before the
// parse fails. A prefix length that is not a plain decimal number within any address's width is
// refused here, as a parse error of the same kind.
bool _sarv_prefix_is_plain(const char* target) {
  const char* slash = std::strrchr(target, '/');
  if (!slash) return true;
  const char* digits = slash + 1;
  size_t n = std::strlen(digits);
  if (n == 0) return true;  // GIO refuses an empty length itself, without a warning
  if (n > 3 || std::strspn(digits, "0123456789") != n) return false;
  return std::atoi(digits) <= 128;
}

MaskRef _sarv_mask_parse(const char* target, GError** error) {
  if (!_sarv_prefix_is_plain(target)) {
    g_set_error(error, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT,
                "the prefix length %s is not a number from 0 to 32", std::strrchr(target, '/') + 1);
    return nullptr;
  }
  return MaskRef::adopt(g_inet_address_mask_new_from_string(target, error));
}

SarvTargetCheck _sarv_refuse(int status, std::string message) {
  SarvTargetCheck result;
  result.status = status;
  result.message = std::move(message);
  return result;
}

}  // namespace

SarvTargetCheck sarv_targets_check(int count, char** targets) {
  SarvTargetCheck result;
  gint64 total = 0;
  for (int i = 0; i < count; i++) {
    const std::string target = targets[i];
    glibx::Error error;
    MaskRef mask = _sarv_mask_parse(targets[i], error.out());
    if (!mask) return _sarv_refuse(-3, target + " parsing failed: " + error.message() + "\n");
    if (g_inet_address_mask_get_family(mask.get()) != G_SOCKET_FAMILY_IPV4)
      return _sarv_refuse(-4, target + " is not ipv4 ip address\n");
    if (!g_inet_address_get_is_multicast(g_inet_address_mask_get_address(mask.get())))
      return _sarv_refuse(-5, target + " is not multicast ip address\n");
    // 224.0.0.0/3 starts with a multicast address but also covers 240.0.0.0/4.
    if (g_inet_address_mask_get_length(mask.get()) < kMulticastPrefix)
      return _sarv_refuse(-5, target + " reaches outside the multicast range 224.0.0.0/4\n");
    const guint64 n = _sarv_mask_count(mask.get());
    result.ranges.push_back({total, _sarv_mask_first(mask.get()), guint32(n)});
    total += gint64(n);
    if (total > G_MAXINT32)
      return _sarv_refuse(-2, target + " takes the number of addresses above " +
                                  std::to_string(G_MAXINT32) + "\n");
  }
  result.total = gint32(total);
  return result;
}

guint32 sarv_group_list_addr(const SarvGroupList* list, gint32 i) {
  const gint64 index = list->first + i;
  const SarvTargetRange* end = list->ranges + list->num_ranges;
  // The last range whose offset is not past the index holds it.
  const SarvTargetRange* range =
      std::upper_bound(list->ranges, end, index,
                       [](gint64 value, const SarvTargetRange& r) { return value < r.offset; }) -
      1;
  g_assert(range >= list->ranges && index - range->offset < gint64(range->count));
  return range->first + guint32(index - range->offset);
}
