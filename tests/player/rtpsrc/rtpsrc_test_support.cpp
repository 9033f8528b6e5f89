#include "rtpsrc_test_support.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <cstring>

namespace rtpsrctest {

LogCapture::LogCapture() {
  if (!g_getenv("GST_DEBUG")) {
    gst_debug_remove_log_function(gst_debug_log_default);
    removed_default_ = true;
  }
  gst_debug_set_active(TRUE);
  gst_debug_set_threshold_for_name("tilurtpsrc", GST_LEVEL_LOG);
  gst_debug_add_log_function(on_log, this, nullptr);
}

LogCapture::~LogCapture() {
  gst_debug_remove_log_function_by_data(this);
  gst_debug_unset_threshold_for_name("tilurtpsrc");
  if (removed_default_) gst_debug_add_log_function(gst_debug_log_default, nullptr, nullptr);
}

void LogCapture::on_log(GstDebugCategory* category, GstDebugLevel level, const gchar*, const gchar*, gint,
                        GObject* object, GstDebugMessage* message, gpointer user_data) {
  if (std::strcmp(gst_debug_category_get_name(category), "tilurtpsrc") != 0) return;
  if (level > GST_LEVEL_DEBUG) return;
  auto* self = static_cast<LogCapture*>(user_data);
  const gchar* text = gst_debug_message_get(message);
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->lines_.push_back({level, object != nullptr, text ? text : ""});
  }
  self->changed_.notify_all();
}

std::vector<LogCapture::Line> LogCapture::lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

int LogCapture::count(const std::string& text) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return int(std::count_if(lines_.begin(), lines_.end(), [&](const Line& l) { return l.text == text; }));
}

bool LogCapture::wait_for(const std::string& text, int n, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    return std::count_if(lines_.begin(), lines_.end(), [&](const Line& l) { return l.text == text; }) >= n;
  });
}

void LogCapture::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

WarningCapture::WarningCapture() {
  handler_ = g_log_set_handler(nullptr, GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_FLAG_RECURSION), on_warning,
                               this);
}

WarningCapture::~WarningCapture() { g_log_remove_handler(nullptr, handler_); }

void WarningCapture::on_warning(const gchar*, GLogLevelFlags, const gchar* message, gpointer user_data) {
  static_cast<WarningCapture*>(user_data)->messages_.push_back(message ? message : "");
}

WeakObserver::WeakObserver(gpointer object) : object_(G_OBJECT(object)) {
  g_object_add_weak_pointer(object_, reinterpret_cast<gpointer*>(&object_));
}

WeakObserver::~WeakObserver() {
  if (object_) g_object_remove_weak_pointer(object_, reinterpret_cast<gpointer*>(&object_));
}

tilutest::ChannelOptions rtp_channels(const std::string& group, int port, int count, int duration_s) {
  tilutest::ChannelOptions options;
  options.count = count;
  options.format = "rtp";
  options.group = group;
  options.port = port;
  options.width = 320;
  options.height = 180;
  options.bitrate_kbps = 300;
  options.keyint = 10;
  options.duration_s = duration_s;
  return options;
}

RtpSender::RtpSender(const std::string& group, int port, guint32 ssrc) {
  std::vector<std::string> argv = {
      "gst-launch-1.0", "-q", "videotestsrc", "is-live=true", "pattern=ball", "num-buffers=2250", "!",
      "video/x-raw,width=320,height=180,framerate=25/1", "!", "videoconvert", "!", "video/x-raw,format=I420", "!",
      "x264enc", "tune=zerolatency", "speed-preset=ultrafast", "key-int-max=10", "bitrate=300", "!", "h264parse",
      "!", "mpegtsmux", "alignment=7", "!", "rtpmp2tpay", "ssrc=" + std::to_string(ssrc), "!", "udpsink",
      "host=" + group, "port=" + std::to_string(port), "sync=false"};
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0) dup2(null_fd, 1), close(null_fd);
    execvp(args[0], args.data());
    _exit(127);
  }
}

void RtpSender::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 300; i++) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    g_usleep(10000);
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace rtpsrctest
