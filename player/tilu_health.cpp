#include "tilu_health.h"

#include <clutter-gst/clutter-gst.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tilu_picture_stats.h"
#include "tilu_player.h"

namespace {

// The main video is marked when it has shown nothing for this long, after its open or its
// last picture; the stall watch (tilu_video.cpp) reopens it sooner, so a mark means the reopen
// has not brought the stream back.
constexpr gint64 kMainNoSignalUs = 3 * G_USEC_PER_SEC;
// Scans in a row without a picture before a tile is NO SIGNAL: the first failure may come
// right after the last picture, the second is at least one scan round later.
constexpr gint32 kNoSignalScans = 2;

constexpr gfloat kCellSize = 500.0f;
constexpr ClutterColor kDimColor = {0, 0, 0, 170};
constexpr ClutterColor kMarkColor = {255, 64, 64, 255};

TiluHealth* health_of(TiluPlayer* player) { return player->health.get(); }

struct DateTimeUnref {
  void operator()(GDateTime* time) const { g_date_time_unref(time); }
};
using DateTimePtr = std::unique_ptr<GDateTime, DateTimeUnref>;

std::string local_time_iso8601() {
  DateTimePtr now(g_date_time_new_now_local());
  glibx::CharPtr text(g_date_time_format(now.get(), "%Y-%m-%dT%H:%M:%S%:z"));
  return text.get();
}

std::string clock_text(gint64 real_us) {
  if (real_us == 0) return "never";
  DateTimePtr time(g_date_time_new_from_unix_local(real_us / G_USEC_PER_SEC));
  glibx::CharPtr text(g_date_time_format(time.get(), "%H:%M:%S"));
  return text.get();
}

// Tabs and line ends would split the fields of the text line.
std::string one_field(const char* text) {
  std::string field = text ? text : "";
  for (char& c : field)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return field;
}

std::string json_string(const char* text) {
  std::string out = "\"";
  for (const char* p = text ? text : ""; *p; p++) {
    auto c = static_cast<unsigned char>(*p);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escape[8];
          g_snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += char(c);
        }
    }
  }
  return out + "\"";
}

// Dimmed layer over the picture with the state and the time of the last good picture.
ClutterActor* make_overlay(ClutterActor* picture) {
  ClutterActor* overlay = clutter_actor_new();
  clutter_actor_set_background_color(overlay, &kDimColor);
  clutter_actor_set_size(overlay, kCellSize, kCellSize);
  ClutterActor* text = clutter_text_new_full("Sans Bold 56", "", &kMarkColor);
  clutter_text_set_line_alignment(CLUTTER_TEXT(text), PANGO_ALIGN_CENTER);
  clutter_actor_add_child(overlay, text);
  clutter_actor_add_constraint(text, clutter_align_constraint_new(overlay, CLUTTER_ALIGN_BOTH, 0.5f));
  clutter_actor_add_child(picture, overlay);
  return overlay;
}

void show_mark(ClutterActor* picture, TiluHealthTile* tile) {
  if (tile->state == TILU_HEALTH_OK) {
    if (tile->overlay) clutter_actor_hide(tile->overlay);
    return;
  }
  if (!tile->overlay) tile->overlay = make_overlay(picture);
  std::string text = std::string(tilu_health_state_name(tile->state)) + "\n" + clock_text(tile->last_good_real);
  clutter_text_set_text(CLUTTER_TEXT(clutter_actor_get_first_child(tile->overlay)), text.c_str());
  clutter_actor_show(tile->overlay);
  // A tile that never showed a picture is still transparent: the mark must be seen.
  clutter_actor_set_opacity(picture, 255);
}

void report(TiluPlayer* player, gint32 index, TiluHealthState state) {
  const TiluPlaylist* playlist = player->playlist.get();
  std::string time = local_time_iso8601();
  std::string line = tilu_health_text_line(time.c_str(), index, playlist->caption1[index], playlist->caption2[index],
                                           playlist->uri[index], state);
  std::fprintf(stdout, "%s\n", line.c_str());
  std::fflush(stdout);
  if (FILE* log = health_of(player)->log.get()) {
    std::string json = tilu_health_json_line(time.c_str(), index, playlist->caption1[index],
                                             playlist->caption2[index], playlist->uri[index], state);
    std::fprintf(log, "%s\n", json.c_str());
    std::fflush(log);
  }
}

void set_tile_state(TiluPlayer* player, gint32 index, TiluHealthState state) {
  TiluHealthTile& tile = health_of(player)->tiles[index];
  if (tile.state == state) return;
  tile.state = state;
  show_mark(player->tile_actors[index], &tile);
  report(player, index, state);
}

void mark_good(TiluHealthTile* tile, gint64 now) {
  tile->last_good = now;
  tile->last_good_real = g_get_real_time();
}

}  // namespace

const char* tilu_health_state_name(TiluHealthState state) {
  switch (state) {
    case TILU_HEALTH_OK: return "OK";
    case TILU_HEALTH_NO_SIGNAL: return "NO SIGNAL";
    case TILU_HEALTH_FROZEN: return "FROZEN";
    case TILU_HEALTH_BLACK: return "BLACK";
  }
  return "?";
}

void TiluHealthDeleter::operator()(TiluHealth* health) const { delete health; }

TiluHealthPtr tilu_health_new(gint32 count, const char* alarm_log) {
  TiluHealthPtr health(new TiluHealth);
  health->tiles.resize(size_t(count));
  if (alarm_log) {
    health->log.reset(std::fopen(alarm_log, "a"));
    if (!health->log) health->log_error = std::string("cannot open alarm log ") + alarm_log + ": " + std::strerror(errno);
  }
  return health;
}

void tilu_health_scan_started(TiluPlayer* player, gint32 index) {
  if (TiluHealth* health = health_of(player)) health->tiles[index].scan_had_frame = false;
}

void tilu_health_scan_frame(TiluPlayer* player, gint32 index) {
  TiluHealth* health = health_of(player);
  if (!health) return;
  TiluHealthTile& tile = health->tiles[index];
  // In live mode a scan reports every frame; its first one is judged.
  if (tile.scan_had_frame) return;
  tile.scan_had_frame = true;
  tile.failed_scans = 0;

  TiluPictureStats stats;
  GstSample* sample = nullptr;
  if (ClutterContent* content = clutter_actor_get_content(player->tile_actors[index]))
    g_object_get(clutter_gst_content_get_sink(CLUTTER_GST_CONTENT(content)), "last-sample", &sample, nullptr);
  bool known = tilu_picture_stats_of_sample(sample, &stats);
  if (sample) gst_sample_unref(sample);

  TiluHealthState state = TILU_HEALTH_OK;
  if (known && stats.mean_luma < kTiluBlackLuma)
    state = TILU_HEALTH_BLACK;
  else if (known && tile.has_digest && stats.digest == tile.digest)
    state = TILU_HEALTH_FROZEN;
  // A frozen picture was good when it was new; its time stays that of the first one.
  if (state == TILU_HEALTH_OK) mark_good(&tile, g_get_monotonic_time());
  tile.digest = stats.digest;
  tile.has_digest = known;
  set_tile_state(player, index, state);
}

void tilu_health_scan_ended(TiluPlayer* player, gint32 index) {
  TiluHealth* health = health_of(player);
  if (!health) return;
  TiluHealthTile& tile = health->tiles[index];
  if (tile.scan_had_frame) return;
  if (++tile.failed_scans >= kNoSignalScans) set_tile_state(player, index, TILU_HEALTH_NO_SIGNAL);
}

void tilu_health_main_opened(TiluPlayer* player) {
  if (TiluHealth* health = health_of(player)) health->main_opened = g_get_monotonic_time();
}

void tilu_health_main_check(TiluPlayer* player, const TiluGstFrameTimes& times) {
  TiluHealth* health = health_of(player);
  if (!health) return;
  TiluHealthTile& main = health->main;
  gint64 now = g_get_monotonic_time();
  if (times.last_frame > main.last_good) {
    main.last_good = times.last_frame;
    main.last_good_real = g_get_real_time() - (now - times.last_frame);
  }
  gint64 since = std::max(main.last_good, health->main_opened);
  TiluHealthState state = now - since > kMainNoSignalUs ? TILU_HEALTH_NO_SIGNAL : TILU_HEALTH_OK;
  if (state == main.state) return;
  main.state = state;
  show_mark(player->main_actor, &main);
}

std::string tilu_health_text_line(const char* time, gint32 index, const char* caption1, const char* caption2,
                                  const char* uri, TiluHealthState state) {
  return one_field(time) + "\t" + std::to_string(index) + "\t" + one_field(caption1) + " " + one_field(caption2) +
         "\t" + one_field(uri) + "\t" + tilu_health_state_name(state);
}

std::string tilu_health_json_line(const char* time, gint32 index, const char* caption1, const char* caption2,
                                  const char* uri, TiluHealthState state) {
  return "{\"time\":" + json_string(time) + ",\"index\":" + std::to_string(index) +
         ",\"caption1\":" + json_string(caption1) + ",\"caption2\":" + json_string(caption2) +
         ",\"uri\":" + json_string(uri) + ",\"state\":" + json_string(tilu_health_state_name(state)) + "}";
}
