// What the tilurtpsrc tests share: the element's log lines as data, lifetimes as weak
// pointers, and a live MPEG-TS-in-RTP sender inside the test's own network namespace.
#pragma once

#include <gst/gst.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "channel_sender.h"
#include "test_env.h"

namespace rtpsrctest {

// Collects every message of the "tilurtpsrc" debug category (at debug level and above) while
// it lives. The framework's own printing to stderr is held back unless GST_DEBUG is set.
class LogCapture {
 public:
  struct Line {
    GstDebugLevel level;
    bool has_object;
    std::string text;
  };

  LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  ~LogCapture();

  std::vector<Line> lines() const;
  int count(const std::string& text) const;  // lines equal to text
  // Waits until at least n lines equal text; false after timeout_ms.
  bool wait_for(const std::string& text, int n = 1, int timeout_ms = 15000) const;
  void clear();

 private:
  static void on_log(GstDebugCategory* category, GstDebugLevel level, const gchar* file, const gchar* function,
                     gint line, GObject* object, GstDebugMessage* message, gpointer user_data);

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Line> lines_;
  bool removed_default_ = false;
};

// Captures GLib warnings of the default log domain while it lives.
class WarningCapture {
 public:
  WarningCapture();
  WarningCapture(const WarningCapture&) = delete;
  WarningCapture& operator=(const WarningCapture&) = delete;
  ~WarningCapture();
  const std::vector<std::string>& messages() const { return messages_; }

 private:
  static void on_warning(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer user_data);
  guint handler_ = 0;
  std::vector<std::string> messages_;
};

// Becomes null when the object is finalized.
class WeakObserver {
 public:
  explicit WeakObserver(gpointer object);
  WeakObserver(const WeakObserver&) = delete;
  WeakObserver& operator=(const WeakObserver&) = delete;
  ~WeakObserver();
  bool alive() const { return object_ != nullptr; }

 private:
  GObject* object_;
};

// A live channel: H.264 in MPEG-TS in RTP (payload type 33) with a fixed SSRC, sent to
// group:port by gst-launch-1.0 in this process's network namespace; ended with the object.
// The sender dies with the test process even when a failed assertion aborts it, and stops by
// itself after at most 90 s of video.
class RtpSender {
 public:
  RtpSender(const std::string& group, int port, guint32 ssrc);
  RtpSender(const RtpSender&) = delete;
  RtpSender& operator=(const RtpSender&) = delete;
  ~RtpSender() { stop(); }
  void stop();

 private:
  pid_t pid_ = -1;
};

// Options for count small, light test channels in MPEG-TS in RTP (krtp playlist URIs) that stop
// by themselves after duration_s.
tilutest::ChannelOptions rtp_channels(const std::string& group, int port, int count, int duration_s);

// Runs the default main context until done() is true or timeout_ms passes.
template <typename Done>
bool wait_until(Done done, int timeout_ms) {
  gint64 deadline = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
  while (!done()) {
    if (g_get_monotonic_time() > deadline) return false;
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(10000);
  }
  return true;
}

}  // namespace rtpsrctest
