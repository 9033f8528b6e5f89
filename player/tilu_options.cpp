// The player's command line: option table, checks of the values, version and key help texts,
// and the playlist fallbacks.
#include <cstring>
#include <string>

#include "tilu_player.h"

TiluOptions tilu_options;

namespace {

// Column counts above this make grid coordinates (500 units per cell) leave the range where
// float and 32-bit integer arithmetic on them stays exact.
constexpr gint kMaxVideosPerRow = 10000;
// A scan picture is a thumbnail; larger than 8K cannot be what was meant.
constexpr gint kMaxScanSize = 8192;

const GOptionEntry kEntries[] = {
    {"proxy-uri", 'p', 0, G_OPTION_ARG_STRING, &tilu_options.proxy_uri, "Proxy server uri", "uri"},
    {"ani-duration", 'a', 0, G_OPTION_ARG_INT, &tilu_options.ani_duration, "Animation duration in milliseconds",
     "ms"},
    {"num-vid-per-row", 'n', 0, G_OPTION_ARG_INT, &tilu_options.num_vid_per_row, "Number of videos per row",
     "videos"},
    {"scan-num-jobs", 'j', 0, G_OPTION_ARG_INT, &tilu_options.scan_num_jobs, "Number of scanning jobs", "jobs"},
    {"scan-timeout", 't', 0, G_OPTION_ARG_INT, &tilu_options.scan_timeout, "Scan timeout in milliseconds", "ms"},
    {"text-info-timeout", 'i', 0, G_OPTION_ARG_INT, &tilu_options.text_info_timeout,
     "Text info timeout in milliseconds", "ms"},
    {"scan-width", 'w', 0, G_OPTION_ARG_INT, &tilu_options.scan_width, "Scan video horizontal resolution", "width"},
    {"scan-height", 'h', 0, G_OPTION_ARG_INT, &tilu_options.scan_height, "Scan video vertical resolution",
     "height"},
    {"volume", 'v', 0, G_OPTION_ARG_DOUBLE, &tilu_options.volume, "Volume from 0.0(0%) to 1.0(100%)", "volume"},
    {"mute", 'm', 0, G_OPTION_ARG_NONE, &tilu_options.mute, "Mute", nullptr},
    {"no-text", 'o', 0, G_OPTION_ARG_NONE, &tilu_options.no_text, "Do not show text", nullptr},
    {"show-debug", 'd', 0, G_OPTION_ARG_NONE, &tilu_options.show_debug, "Show debug text", nullptr},
    {"version", 0, 0, G_OPTION_ARG_NONE, &tilu_options.version, "Show version information", nullptr},
    {"help-keys", 0, 0, G_OPTION_ARG_NONE, &tilu_options.help_keys, "Help for shortcut keys", nullptr},
    {"alarms", 0, 0, G_OPTION_ARG_NONE, &tilu_options.alarms,
     "Mark tiles whose stream is gone, frozen or black, and print each change", nullptr},
    {"alarm-log", 0, 0, G_OPTION_ARG_FILENAME, &tilu_options.alarm_log,
     "Append each change of a tile's state to FILE as a JSON line (implies --alarms)", "FILE"},
    {},
};

struct IntRange {
  const char* name;
  gint TiluOptions::*field;
  gint min;
  gint max;
};

// Values outside these ranges cannot work: a negative job count never lets the first scans
// finish starting, a negative column count or scan size makes no grid or picture, a negative
// duration is a near-endless animation or timeout once the scene graph reads it as unsigned,
// and a scan that times out at once never shows a frame.
const IntRange kIntRanges[] = {
    {"ani-duration", &TiluOptions::ani_duration, 0, G_MAXINT},
    {"num-vid-per-row", &TiluOptions::num_vid_per_row, 0, kMaxVideosPerRow},
    {"scan-num-jobs", &TiluOptions::scan_num_jobs, 0, G_MAXINT},
    {"scan-timeout", &TiluOptions::scan_timeout, 1, G_MAXINT},
    {"text-info-timeout", &TiluOptions::text_info_timeout, 0, G_MAXINT},
    {"scan-width", &TiluOptions::scan_width, 1, kMaxScanSize},
    {"scan-height", &TiluOptions::scan_height, 1, kMaxScanSize},
};

}  // namespace

const GOptionEntry* tilu_option_entries(void) { return kEntries; }

const char* tilu_options_check(const TiluOptions* options) {
  static std::string message;
  for (const IntRange& range : kIntRanges) {
    gint value = options->*range.field;
    if (value < range.min || value > range.max) {
      message = std::string("invalid value for --") + range.name + ": " + std::to_string(value) + " (must be ";
      if (range.max == G_MAXINT)
        message += std::to_string(range.min) + " or more)";
      else
        message += "from " + std::to_string(range.min) + " to " + std::to_string(range.max) + ")";
      return message.c_str();
    }
  }
  if (!(options->volume >= 0.0 && options->volume <= 1.0)) {
    char value[G_ASCII_DTOSTR_BUF_SIZE];
    g_ascii_dtostr(value, sizeof value, options->volume);
    message = std::string("invalid value for --volume: ") + value + " (must be from 0.0 to 1.0)";
    return message.c_str();
  }
  return nullptr;
}

const char* tilu_version_text(void) {
  return TILU_VERSION_LINE
      "\n"
      "Written by the Tiluplay developers\n"
      "Project page: see README.md in the source tree\n";
}

const char* tilu_help_keys_text(void) {
  return "Left/Right/Up/Down : Move focus left/right/up/down\n"
         "+/-                : Zoom in/out\n"
         "Enter              : Zoom in fully\n"
         "F11                : Fullscreen/Unfullscreen\n"
         "PgUp/PgDn          : Volume up/down\n"
         "Home               : Change audio\n"
         "End                : Mute/Unmute\n"
         "Insert             : Change text mode(none/main_only/main_debug)\n";
}

TiluPlaylist* tilu_load_playlist_with_fallbacks(const char* path) {
  TiluPlaylist* playlist = tilu_playlist_load(path);
  if (!playlist && std::strcmp(path, "tilu.m3u") != 0) playlist = tilu_playlist_load("tilu.m3u");
  if (!playlist) playlist = tilu_playlist_load("tilu.csv");
  return playlist;
}
