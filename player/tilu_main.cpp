// tilu: the video-wall player. Start-up runs in the order of its steps; everything after
// clutter_main() starts happens in the handlers on the main loop.
#include <clutter-gst/clutter-gst.h>

#include <cstdio>

#include "lsan_early.h"
#include "rtpsrc/tilu_gst_plugin_rtpsrc.h"
#include "tilu_memory.h"
#include "tilu_player.h"

namespace {
constexpr guint kTrimIntervalMs = 2000;
}

int main(int argc, char** argv) {
  tilu_memory_init();
  glibx::Error error;
  // GLib reads the table and never writes it; the signature just predates const.
  auto* entries = const_cast<GOptionEntry*>(tilu_option_entries());
  if (clutter_gst_init_with_args(&argc, &argv, "[videos m3u/csv file]", entries, nullptr, error.out()) !=
      CLUTTER_INIT_SUCCESS) {
    std::printf("Failed to initialize: %s\n", error ? error.message() : "the scene graph could not start");
    return -1;
  }
  if (const char* problem = tilu_options_check(&tilu_options)) {
    std::printf("Failed to initialize: %s\n", problem);
    return -1;
  }

  if (tilu_options.version) {
    std::fputs(tilu_version_text(), stdout);
    return 0;
  }
  if (tilu_options.help_keys) {
    std::fputs(tilu_help_keys_text(), stdout);
    return 0;
  }

  // Without the element only krtp:// entries fail to play; the rest of the wall works.
  gst_tilu_rtpsrc_plugin_register();

  const char* path = argc > 1 ? argv[1] : "tilu.m3u";
  TiluPlayer player{};
  TiluPlaylistPtr playlist(tilu_load_playlist_with_fallbacks(path));
  if (!playlist) {
    std::printf("Failed to open %s\n", path);
    return -1;
  }

  tilu_player_init(&player, std::move(playlist));
  if (player.health && !player.health->log_error.empty()) {
    std::printf("Failed to initialize: %s\n", player.health->log_error.c_str());
    return -1;
  }
  tilu_scene_build(&player);
  tilu_player_start(&player);
  tilu_memory_start_trimming(kTrimIntervalMs);
  clutter_main();
  return 0;
}
