// sarv-playlist: turns a scanner output directory into an M3U playlist for tilu, one entry per
// snapshot in address, then port order; streams the scanner saw as RTP get rtp://@G:P, the
// others udp://@G:P.
#include <glib.h>

#include <cstdio>
#include <memory>
#include <string>

#include "glib_ptr.h"
#include "sarv_snapshot_dir.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr const char* kDefaultDir = "sarv_out";

struct OptionContextDeleter {
  void operator()(GOptionContext* c) const noexcept { g_option_context_free(c); }
};

}  // namespace

int main(int argc, char** argv) {
  gchar* output = nullptr;
  const GOptionEntry entries[] = {
      {"output", 'o', 0, G_OPTION_ARG_FILENAME, &output,
       "Write the playlist to this file instead of standard output", "file"},
      {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr}};
  std::unique_ptr<GOptionContext, OptionContextDeleter> context(
      g_option_context_new("[sarv output directory, default sarv_out]"));
  g_option_context_set_summary(context.get(),
                               "sarv-playlist writes an M3U playlist for tilu of every stream "
                               "that sarv saved a snapshot of.");
  g_option_context_add_main_entries(context.get(), entries, nullptr);
  glibx::Error error;
  if (!g_option_context_parse(context.get(), &argc, &argv, error.out())) {
    g_printerr("sarv-playlist: %s\n", error.message());
    return kExitUsage;
  }
  glibx::CharPtr output_owner(output);
  if (argc > 2) {
    g_printerr("sarv-playlist: one directory only\n");
    return kExitUsage;
  }
  std::string dir = argc == 2 ? argv[1] : kDefaultDir;

  SarvSnapshotListing listing = sarv_snapshot_list(dir);
  for (const std::string& name : listing.skipped)
    g_printerr("sarv-playlist: skipping %s: not a snapshot of sarv\n", name.c_str());
  if (!listing.error.empty()) {
    g_printerr("sarv-playlist: %s\n", listing.error.c_str());
    return kExitFailure;
  }
  std::string text = sarv_snapshot_playlist(listing.snapshots);
  if (output) {
    if (!g_file_set_contents(output, text.data(), gssize(text.size()), error.out())) {
      g_printerr("sarv-playlist: %s\n", error.message());
      return kExitFailure;
    }
  } else if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
             std::fflush(stdout) != 0) {
    g_printerr("sarv-playlist: can't write the playlist to standard output\n");
    return kExitFailure;
  }
  return kExitOk;
}
