// Environments that tests create for themselves: a private network namespace, an X display,
// child processes that are always ended.
#pragma once

#include <glib.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace tilutest {

// Moves this process into a fresh, unnamed network namespace with loopback up, multicast on
// and 224.0.0.0/4 routed to lo, so that nothing sent or joined reaches the host's network.
// The namespace disappears with the last process in it. Call it first in main(), before any
// thread exists (a namespace change applies to the calling thread and threads it creates later).
// Aborts with a message when it cannot (the tests need root).
void enter_private_netns();

// A child process, ended (SIGTERM, then SIGKILL) and reaped when the object goes away.
class ChildProcess {
 public:
  ChildProcess() = default;
  // Starts argv[0] (searched in PATH). Standard output goes to stdout_path when given.
  explicit ChildProcess(const std::vector<std::string>& argv, const std::string& stdout_path = {},
                        const std::string& stderr_path = {});
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ChildProcess(ChildProcess&& o) noexcept;
  ChildProcess& operator=(ChildProcess&& o) noexcept;
  ~ChildProcess();

  pid_t pid() const { return pid_; }
  bool running() const;
  // Sends sig (default SIGTERM), waits up to timeout_ms, then SIGKILL. Returns the wait status.
  int stop(int sig = 15, int timeout_ms = 5000);
  // Waits for a normal exit up to timeout_ms; returns the wait status or -1 on time-out.
  int wait(int timeout_ms);

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// An Xvfb server on a free display number; DISPLAY is set while it lives.
class XvfbDisplay {
 public:
  explicit XvfbDisplay(int width = 1600, int height = 900);
  XvfbDisplay(const XvfbDisplay&) = delete;
  XvfbDisplay& operator=(const XvfbDisplay&) = delete;
  ~XvfbDisplay();
  const std::string& name() const { return name_; }  // ":N"

 private:
  ChildProcess server_;
  std::string name_;
};

// The whole content of a text file; empty when it cannot be read.
std::string read_text_file(const std::string& path);

// Waits for done() to hold, asking every step_ms; false when timeout_ms passed first.
template <typename Pred>
bool wait_until(Pred done, int timeout_ms, int step_ms = 50) {
  const gint64 end = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
  while (!done()) {
    if (g_get_monotonic_time() > end) return false;
    g_usleep(gulong(step_ms) * 1000);
  }
  return true;
}

// Waits until this process's thread count has not changed for quiet_ms (at most max_ms): the
// streaming threads of closed pipelines wind down on their own, and LeakSanitizer's exit-time
// scan, which stops every thread, now and then crashes on one that is half gone.
void wait_for_threads_to_settle(int quiet_ms = 500, int max_ms = 5000);

// Runs a shell command and returns its exit status (-1 when it could not run).
int run_command(const std::string& command);

// Runs argv and captures its standard output, standard error and exit code.
struct RunResult {
  int exit_code = -1;  // WEXITSTATUS, or -1 when killed or not started
  std::string out;
  std::string err;
  // When each line of `out` was read, from the monotonic clock in microseconds.
  std::vector<gint64> out_line_times;
};
RunResult run_capture(const std::vector<std::string>& argv, int timeout_ms = 60000);

// A fresh temporary directory, removed with its contents when the object goes away.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace tilutest
