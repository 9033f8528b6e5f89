// The scanner's output directory as data: which files are snapshots ("G-P.png"), which of them
// were received as RTP (an empty "G-P.rtp" beside), and the playlist that shows them all.
// Pure: no media framework, so that tests and sarv-playlist call it directly.
#pragma once

#include <glib.h>

#include <optional>
#include <string>
#include <vector>

struct SarvSnapshot {
  std::string file;   // the file name inside the directory, e.g. "239.1.1.1-5000.png"
  std::string group;  // dotted quad, e.g. "239.1.1.1"
  guint32 addr = 0;   // the group in host order, for numeric sorting
  guint16 port = 0;
  bool rtp = false;   // the scanner saw MPEG-TS in RTP on this port
};

struct SarvSnapshotListing {
  std::vector<SarvSnapshot> snapshots;  // in address, then port order
  std::vector<std::string> skipped;     // names that are not the scanner's, in name order
  std::string error;                    // empty on success; otherwise why nothing can be listed
};

// The snapshot named exactly as the scanner names its files (a multicast group's dotted quad
// without leading zeros, "-", a decimal port without leading zeros, ".png"), or nothing.
std::optional<SarvSnapshot> sarv_snapshot_parse_name(const std::string& name);

// The RTP marker's path for a snapshot's path: ".png" replaced by ".rtp" (appended when the
// path has no ".png" ending).
std::string sarv_snapshot_marker_path(const std::string& png_path);

// Lists a scanner output directory. A missing or unreadable directory, or one without any
// snapshot, sets error. Markers beside snapshots are not reported as skipped.
SarvSnapshotListing sarv_snapshot_list(const std::string& dir);

// The M3U text for the wall: "#EXTM3U", then per snapshot "#EXTINF:-1,G:P" and
// "udp://@G:P" (or "rtp://@G:P" for RTP), each line ending in a line feed.
std::string sarv_snapshot_playlist(const std::vector<SarvSnapshot>& snapshots);
