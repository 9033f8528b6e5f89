#include "sarv_snapshot_dir.h"

#include <glib/gstdio.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <set>
#include <tuple>

#include "glib_ptr.h"

namespace {

constexpr const char* kPictureSuffix = ".png";
constexpr const char* kMarkerSuffix = ".rtp";

// A decimal number as printf's "%d" writes it: digits only, no sign, no leading zero.
std::optional<unsigned> _sarv_snapshot_decimal(std::string_view text, unsigned max) {
  if (text.empty() || text.size() > 5 || (text.size() > 1 && text[0] == '0')) return {};
  unsigned value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value > max) return {};
  return value;
}

}  // namespace

std::optional<SarvSnapshot> sarv_snapshot_parse_name(const std::string& name) {
  std::string_view text(name);
  if (!g_str_has_suffix(name.c_str(), kPictureSuffix)) return {};
  text.remove_suffix(std::strlen(kPictureSuffix));
  size_t dash = text.rfind('-');
  if (dash == std::string_view::npos) return {};
  std::string_view quad = text.substr(0, dash);
  std::optional<unsigned> port = _sarv_snapshot_decimal(text.substr(dash + 1), 65535);
  if (!port) return {};
  guint32 addr = 0;
  int octets = 0;
  while (octets < 4) {
    size_t dot = quad.find('.');
    std::optional<unsigned> octet =
        _sarv_snapshot_decimal(octets < 3 ? quad.substr(0, dot) : quad, 255);
    if (!octet || (octets < 3 && dot == std::string_view::npos)) return {};
    addr = addr << 8 | *octet;
    octets++;
    if (octets < 4) quad.remove_prefix(dot + 1);
  }
  // The scanner only ever joins multicast groups: 224.0.0.0/4.
  if ((addr >> 28) != 0xe) return {};
  SarvSnapshot snapshot;
  snapshot.file = name;
  snapshot.group = std::string(text.substr(0, dash));
  snapshot.addr = addr;
  snapshot.port = guint16(*port);
  return snapshot;
}

std::string sarv_snapshot_marker_path(const std::string& png_path) {
  std::string path = png_path;
  if (g_str_has_suffix(path.c_str(), kPictureSuffix))
    path.resize(path.size() - std::strlen(kPictureSuffix));
  return path + kMarkerSuffix;
}

SarvSnapshotListing sarv_snapshot_list(const std::string& dir) {
  SarvSnapshotListing listing;
  glibx::Error error;
  GDir* handle = g_dir_open(dir.c_str(), 0, error.out());
  if (!handle) {
    listing.error = error.message();
    return listing;
  }
  std::set<std::string> names;
  while (const gchar* name = g_dir_read_name(handle)) names.insert(name);
  g_dir_close(handle);

  for (const std::string& name : names) {
    std::string path = dir + G_DIR_SEPARATOR_S + name;
    std::optional<SarvSnapshot> snapshot = sarv_snapshot_parse_name(name);
    if (snapshot && g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR)) {
      snapshot->rtp = names.count(sarv_snapshot_marker_path(name)) > 0;
      listing.snapshots.push_back(*snapshot);
      continue;
    }
    // A marker is part of its snapshot, not a stranger.
    if (g_str_has_suffix(name.c_str(), kMarkerSuffix)) {
      std::string picture = name.substr(0, name.size() - std::strlen(kMarkerSuffix)) +
                            kPictureSuffix;
      if (names.count(picture) && sarv_snapshot_parse_name(picture)) continue;
    }
    listing.skipped.push_back(name);
  }
  std::sort(listing.snapshots.begin(), listing.snapshots.end(),
            [](const SarvSnapshot& a, const SarvSnapshot& b) {
              return std::tie(a.addr, a.port) < std::tie(b.addr, b.port);
            });
  if (listing.snapshots.empty()) listing.error = "no snapshots of sarv in " + dir;
  return listing;
}

std::string sarv_snapshot_playlist(const std::vector<SarvSnapshot>& snapshots) {
  std::string text = "#EXTM3U\n";
  for (const SarvSnapshot& s : snapshots) {
    std::string address = s.group + ":" + std::to_string(s.port);
    text += "#EXTINF:-1," + address + "\n";
    text += (s.rtp ? "rtp://@" : "udp://@") + address + "\n";
  }
  return text;
}
