// Scan scheduler: keeps scan_jobs silent thumbnail pipelines running and walks the playlist in
// round robin. A scan ends at its first frame, at an error or at its timeout; the tile's
// content then keeps the last frame. When every entry has a scan of its own (live mode) only
// the timeout ends a scan, and reopens it at once.
//
// Everything here runs on the Clutter main loop: the timeouts are main-loop sources and tilu_gst
// delivers the texture events there.
#include <algorithm>
#include <utility>

#include "tilu_player.h"

namespace {

// A stream that cannot open (a bad URI, a port in use) posts its error before tilu_gst_open
// returns, so the next scan's bus watch is ready again on the very next iteration. Restarting
// from the error callback itself would keep a default-priority source ready all the time and
// starve Clutter's frame clock, which paints and delivers the key events. An erroring scan is
// therefore ended from a zero-delay timeout below the frame clock's priority.
constexpr gint kErrorEndPriority = G_PRIORITY_LOW;
// After a whole round of errors without a single frame (a dead relay, a lost network) every
// further failed scan waits this long before the next one starts: one attempt a second instead
// of a busy loop through the playlist.
constexpr guint kDeadRoundDelayMs = 1000;

gint32 entry_count(const TiluPlayer* player) { return player->playlist->count; }

bool live_mode(const TiluPlayer* player) { return player->scan_jobs == entry_count(player); }

bool is_scanning(const TiluPlayer* player, gint32 index) { return player->scan_gsts[index] != nullptr; }

void advance_round_robin(TiluPlayer* player) {
  player->next_scan_idx++;
  if (player->next_scan_idx >= entry_count(player)) player->next_scan_idx -= entry_count(player);
}

// Starts the scan of the next entry in round robin that has no scan running. Outside live mode
// scans end in any order, so next_scan_idx may name an entry that is still being scanned: that
// entry is passed over and has its turn in the next round. A start is due only when fewer than
// scan_jobs <= count scans run, so the search ends within one round; the bound only keeps a
// broken record from looping.
void start_next_scan(TiluPlayer* player) {
  if (player->num_scanning >= player->scan_jobs) return;
  for (gint32 tried = 0; tried < entry_count(player); tried++) {
    gint32 index = player->next_scan_idx;
    advance_round_robin(player);
    if (!is_scanning(player, index)) {
      _tilu_scan_vid_start(player, index);
      return;
    }
  }
}

void end_scan(TiluPlayer* player, gint32 index) {
  tilu_health_scan_ended(player, index);
  _tilu_scan_vid_stop(player, index);
  start_next_scan(player);
}

// A failing pipeline posts several errors (the element's, then the state change's); the first
// one has already replaced the scan's timeout by the short, low-priority one.
bool scan_ending(const TiluPlayer* player, gint32 index) {
  GSource* timeout = g_main_context_find_source_by_id(nullptr, player->scan_timeout_ids[index]);
  return timeout && g_source_get_priority(timeout) == kErrorEndPriority;
}

// Replaces the scan's timeout by a short one at low priority; when it fires, the scan ends like
// any timed-out scan. The scan keeps its slot (pipeline and timeout both set) until then.
void end_scan_soon(TiluPlayer* player, TiluTile* tile) {
  if (scan_ending(player, tile->vid_idx)) return;
  player->scan_failures++;
  guint& timeout_id = player->scan_timeout_ids[tile->vid_idx];
  if (timeout_id != 0) g_source_remove(timeout_id);
  guint delay = player->scan_failures >= entry_count(player)
                    ? std::min(kDeadRoundDelayMs, guint(tilu_options.scan_timeout))
                    : 0;
  timeout_id = clutter_threads_add_timeout_full(kErrorEndPriority, delay, _tilu_scan_timeout_callback, tile,
                                                nullptr);
}

}  // namespace

void _tilu_scan_vid_start(TiluPlayer* player, int scan_vid_idx) {
  TILU_MAIN_ASSERT(scan_vid_idx >= 0 && scan_vid_idx < entry_count(player),
                   "scan_vid_idx >= 0 && scan_vid_idx < player->playlist->count");
  TILU_MAIN_ASSERT(player->scan_gsts[scan_vid_idx] == nullptr, "player->scan_gsts[scan_vid_idx] == NULL");

  TiluTile* tile = &player->tiles[scan_vid_idx];
  player->scan_gsts[scan_vid_idx].reset(tilu_gst_open(
      tilu_options.proxy_uri, player->playlist->uri[scan_vid_idx], player->tile_actors[scan_vid_idx], TRUE,
      tilu_options.scan_width, tilu_options.scan_height, _tilu_scan_texture_on_callback, tile));
  tilu_tile_store_content(tile);
  tilu_health_scan_started(player, scan_vid_idx);
  player->scan_timeout_ids[scan_vid_idx] =
      clutter_threads_add_timeout(guint(tilu_options.scan_timeout), _tilu_scan_timeout_callback, tile);
  player->num_scanning++;
}

void _tilu_scan_vid_stop(TiluPlayer* player, int index) {
  TILU_MAIN_ASSERT(index >= 0 && index < entry_count(player), "index >= 0 && index < player->playlist->count");
  if (guint id = std::exchange(player->scan_timeout_ids[index], 0u)) g_source_remove(id);
  if (player->scan_gsts[index]) {
    player->scan_gsts[index].reset();
    player->num_scanning--;
  }
}

gboolean _tilu_scan_timeout_callback(gpointer data) {
  auto* tile = static_cast<TiluTile*>(data);
  TiluPlayer* player = tile->player;
  // The source ends by returning FALSE; forget its id so that the stop does not remove it.
  player->scan_timeout_ids[tile->vid_idx] = 0;
  end_scan(player, tile->vid_idx);
  return FALSE;
}

void _tilu_scan_texture_on_callback(int event, gpointer data) {
  auto* tile = static_cast<TiluTile*>(data);
  TiluPlayer* player = tile->player;
  switch (event) {
    case TILU_GST_TEXTURE_ON:
      clutter_actor_set_opacity(tile->actor.get(), 255);
      player->scan_failures = 0;
      tilu_health_scan_frame(player, tile->vid_idx);
      break;
    case TILU_GST_ERROR:
    case TILU_GST_EOS:  // a stream that ends has no more pictures for this scan
      break;
    default:
      TILU_MAIN_ASSERT(FALSE, "FALSE");
      return;
  }
  // In live mode the scan runs on until its timeout; every further frame only repeats the above.
  if (live_mode(player) || !is_scanning(player, tile->vid_idx)) return;
  if (event == TILU_GST_TEXTURE_ON) {
    end_scan(player, tile->vid_idx);
  } else {
    end_scan_soon(player, tile);
  }
}

void tilu_scan_start_all(TiluPlayer* player) {
  gint32 jobs = std::clamp(player->scan_jobs, 0, entry_count(player));
  while (player->num_scanning < jobs) {
    gint32 before = player->num_scanning;
    start_next_scan(player);
    if (player->num_scanning == before) break;
  }
}

void tilu_scan_stop_all(TiluPlayer* player) {
  if (!player->playlist) return;
  for (gint32 i = 0; i < entry_count(player); i++) _tilu_scan_vid_stop(player, i);
  player->scan_failures = 0;
}
