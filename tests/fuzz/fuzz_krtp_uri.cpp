// libFuzzer target for the krtp URI parser: any text either parses into a host and a port or
// is refused with both outputs untouched; nothing it reads is out of bounds.
#include <gst/gst.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tilu_gst_plugin_rtpsrc.h"

// GLib keeps the first block of its quark table unreferenced once the media framework's
// registry makes the table grow (on purpose, for lock-free readers); it was allocated by GLib's
// constructor. GLib has no frame pointers, so only the slow unwinder sees the loader frame that
// names it.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:_dl_init\n"; }

// Formats every message (the framework formats lazily) and prints none.
static void format_only(GstDebugCategory*, GstDebugLevel, const gchar*, const gchar*, gint, GObject*,
                        GstDebugMessage* message, gpointer) {
  if (!gst_debug_message_get(message)) std::abort();
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  gst_init(argc, argv);
  // The parser's log lines print the input: they are formatted on every run.
  gst_debug_remove_log_function(gst_debug_log_default);
  gst_debug_add_log_function(format_only, nullptr, nullptr);
  gst_debug_set_active(TRUE);
  gst_debug_set_threshold_for_name("tilurtpsrc", GST_LEVEL_DEBUG);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The parser takes a NUL-terminated string; the bytes after a NUL are never seen.
  std::string text(reinterpret_cast<const char*>(data), size);
  for (const std::string& uri : {text, "krtp://" + text}) {
    gchar sentinel[] = "untouched";
    gchar* host = sentinel;
    guint16 port = 4242;
    if (gst_tilu_rtpsrc_parse_uri(uri.c_str(), &host, &port)) {
      if (host == sentinel || !host) std::abort();
      // The host is a substring of the unescaped location, so never longer than the input.
      if (std::strlen(host) > uri.size()) std::abort();
      g_free(host);
    } else if (host != sentinel || port != 4242) {
      std::abort();
    }
  }
  return 0;
}
