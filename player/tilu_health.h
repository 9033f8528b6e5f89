// Health marks of the wall (--alarms): every tile and the main video know when they last showed
// a good picture; a tile whose scans find no picture, the same picture again, or a black one is
// marked NO SIGNAL, FROZEN or BLACK with an overlay over its dimmed picture, and every change of
// an entry's state is reported as one line on standard output (and as a JSON line in the alarm
// log). Without --alarms none of this exists.
//
// Everything runs on the main loop, once per scan or once per main-video watch tick: never per
// frame.
#pragma once

#include <clutter/clutter.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "media/tilu_gst_frame_clock.h"

struct TiluPlayer;

enum TiluHealthState {
  TILU_HEALTH_OK = 0,
  TILU_HEALTH_NO_SIGNAL = 1,
  TILU_HEALTH_FROZEN = 2,
  TILU_HEALTH_BLACK = 3,
};

const char* tilu_health_state_name(TiluHealthState state);

// Mean luma (studio range, black 16) below which a picture counts as black: black frames of an
// H.264 channel decode to 16 and a black picture with a small logo or clock stays below 18,
// while a small bright object moving on black (a test pattern's ball) swings between 17 and 21
// and would make the mark come and go.
constexpr double kTiluBlackLuma = 18.0;

// One entry's (or the main video's) record.
struct TiluHealthTile {
  TiluHealthState state = TILU_HEALTH_OK;
  gint64 last_good = 0;       // monotonic µs of the last good picture, 0 = never
  gint64 last_good_real = 0;  // the same moment on the wall clock, for the overlay
  guint64 digest = 0;         // of the previous scan's picture
  bool has_digest = false;
  gint32 failed_scans = 0;    // scans in a row that ended without a picture
  bool scan_had_frame = false;
  ClutterActor* overlay = nullptr;  // made at the first mark; a child of the picture actor
};

struct TiluHealth {
  std::vector<TiluHealthTile> tiles;
  TiluHealthTile main;
  gint64 main_opened = 0;  // monotonic µs of the main pipeline's open
  std::unique_ptr<FILE, int (*)(FILE*)> log{nullptr, fclose};
  std::string log_error;  // why the alarm log could not be opened; empty when it is open or unused
};

struct TiluHealthDeleter {
  void operator()(TiluHealth* health) const;
};
using TiluHealthPtr = std::unique_ptr<TiluHealth, TiluHealthDeleter>;

// With --alarms (or --alarm-log): the records of every entry, and the alarm log opened for
// appending. Returns nullptr without.
TiluHealthPtr tilu_health_new(gint32 count, const char* alarm_log);

// Hooks of the scan scheduler: a scan starts, its first picture arrives, it ends. No-ops
// without --alarms.
void tilu_health_scan_started(TiluPlayer* player, gint32 index);
void tilu_health_scan_frame(TiluPlayer* player, gint32 index);
void tilu_health_scan_ended(TiluPlayer* player, gint32 index);

// Hooks of the main video: a pipeline opens; the watch looks at its frame times.
void tilu_health_main_opened(TiluPlayer* player);
void tilu_health_main_check(TiluPlayer* player, const TiluGstFrameTimes& times);

// The line written for a state change, without its line end: ISO-8601 local time, entry
// index, caption, URI and state, separated by tabs. And the same as one JSON object.
std::string tilu_health_text_line(const char* time, gint32 index, const char* caption1, const char* caption2,
                                  const char* uri, TiluHealthState state);
std::string tilu_health_json_line(const char* time, gint32 index, const char* caption1, const char* caption2,
                                  const char* uri, TiluHealthState state);
