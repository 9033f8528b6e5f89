// Helpers of the media pipeline tests: running the main loop until something happened, one
// journal of the module's log lines and the events it delivered, registry features hidden for a
// scope, and the process's file descriptors and threads.
#pragma once

#include <dirent.h>
#include <glib.h>
#include <gst/gst.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace mediatest {

// Iterates the default main context until done() holds or timeout_ms passed; returns done().
inline bool run_until(const std::function<bool()>& done, int timeout_ms) {
  gint64 deadline = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
  guint tick = g_timeout_add(10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  while (!done() && g_get_monotonic_time() < deadline) g_main_context_iteration(nullptr, TRUE);
  g_source_remove(tick);
  return done();
}

inline void run_for(int ms) {
  gint64 deadline = g_get_monotonic_time() + gint64(ms) * 1000;
  run_until([&] { return g_get_monotonic_time() >= deadline; }, ms + 1000);
}

// The debug lines of the default log domain and the events of every callback that records
// into it, in the order they happened.
class Journal {
 public:
  Journal() {
    handler_ = g_log_set_handler(nullptr, GLogLevelFlags(G_LOG_LEVEL_DEBUG), &Journal::on_log, this);
  }
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;
  ~Journal() { g_log_remove_handler(nullptr, handler_); }

  void add(const std::string& entry) { entries_.push_back(entry); }
  const std::vector<std::string>& entries() const { return entries_; }

  int count_prefix(const std::string& prefix) const {
    int n = 0;
    for (const auto& e : entries_) n += e.rfind(prefix, 0) == 0;
    return n;
  }
  bool contains(const std::string& text) const {
    for (const auto& e : entries_)
      if (e.find(text) != std::string::npos) return true;
    return false;
  }
  // The entries, a run of equal ones written once with its count.
  std::string dump() const {
    std::string out;
    for (size_t i = 0; i < entries_.size();) {
      size_t j = i;
      while (j < entries_.size() && entries_[j] == entries_[i]) j++;
      out += "  " + entries_[i] + (j - i > 1 ? "  (x" + std::to_string(j - i) + ")" : "") + "\n";
      i = j;
    }
    return out;
  }

 private:
  static void on_log(const gchar*, GLogLevelFlags, const gchar* message, gpointer self) {
    static_cast<Journal*>(self)->entries_.emplace_back(message ? message : "");
  }
  guint handler_ = 0;
  std::vector<std::string> entries_;
};

inline std::string address(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", p);
  return text;
}

// Takes a plug-in feature out of the default registry for the scope, as if its plug-in were not
// installed, and puts it back afterwards.
class HiddenFeature {
 public:
  explicit HiddenFeature(const char* name) : feature_(gst_registry_lookup_feature(gst_registry_get(), name)) {
    if (feature_) gst_registry_remove_feature(gst_registry_get(), feature_);
  }
  HiddenFeature(const HiddenFeature&) = delete;
  HiddenFeature& operator=(const HiddenFeature&) = delete;
  ~HiddenFeature() {
    if (!feature_) return;
    gst_registry_add_feature(gst_registry_get(), feature_);
    gst_object_unref(feature_);
  }
  bool hidden() const { return feature_ != nullptr; }

 private:
  GstPluginFeature* feature_;
};

inline int count_entries(const char* dir) {
  int n = 0;
  if (DIR* d = opendir(dir)) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}
inline int open_fds() { return count_entries("/proc/self/fd"); }
inline int threads() { return count_entries("/proc/self/task"); }

}  // namespace mediatest
