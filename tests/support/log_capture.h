// Captures the debug lines that the code under test writes through GLib in the default domain,
// for the lifetime of the object (in-process tests only).
#pragma once

#include <glib.h>

#include <string>
#include <vector>

namespace tilutest {

class LogCapture {
 public:
  LogCapture() {
    handler_ = g_log_set_handler(nullptr, static_cast<GLogLevelFlags>(G_LOG_LEVEL_DEBUG | G_LOG_FLAG_FATAL |
                                                                      G_LOG_FLAG_RECURSION),
                                 &LogCapture::on_log, this);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  ~LogCapture() { g_log_remove_handler(nullptr, handler_); }

  const std::vector<std::string>& lines() const { return lines_; }
  void clear() { lines_.clear(); }

  int count(const std::string& line) const {
    int n = 0;
    for (const auto& l : lines_) n += l == line ? 1 : 0;
    return n;
  }
  // Lines that begin with prefix, in order.
  std::vector<std::string> starting_with(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& l : lines_) {
      if (l.rfind(prefix, 0) == 0) out.push_back(l);
    }
    return out;
  }

 private:
  static void on_log(const gchar*, GLogLevelFlags, const gchar* message, gpointer self) {
    static_cast<LogCapture*>(self)->lines_.emplace_back(message ? message : "");
  }

  guint handler_ = 0;
  std::vector<std::string> lines_;
};

}  // namespace tilutest
