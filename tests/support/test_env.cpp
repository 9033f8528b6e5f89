#include "test_env.h"

// Every test binary that links this file: no leak reports from library constructors.
#include "lsan_early.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

namespace tilutest {

namespace {

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "test environment: %s: %s\n", what.c_str(), std::strerror(errno));
  std::fflush(stderr);
  std::abort();
}

std::vector<char*> to_argv(const std::vector<std::string>& argv) {
  std::vector<char*> out;
  for (const auto& a : argv) out.push_back(const_cast<char*>(a.c_str()));
  out.push_back(nullptr);
  return out;
}

// Polls waitpid until the child exits or timeout_ms passes; returns true when reaped.
bool wait_for(pid_t pid, int timeout_ms, int* status) {
  for (int waited = 0;; waited += 10) {
    pid_t r = waitpid(pid, status, WNOHANG);
    if (r == pid) return true;
    if (r < 0 && errno != EINTR) return true;  // already reaped elsewhere
    if (waited >= timeout_ms) return false;
    usleep(10000);
  }
}

}  // namespace

void enter_private_netns() {
  if (unshare(CLONE_NEWNET) != 0) die("unshare(CLONE_NEWNET) (tests that send multicast need root)");
  const char* setup =
      "ip link set lo up && ip link set lo multicast on && ip route add 224.0.0.0/4 dev lo";
  if (std::system(setup) != 0) die("setting up loopback multicast in the private namespace");
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& stdout_path,
                           const std::string& stderr_path) {
  auto args = to_argv(argv);
  pid_ = fork();
  if (pid_ < 0) die("fork");
  if (pid_ == 0) {
    // Own process group, so that stop() also ends what the child starts.
    setpgid(0, 0);
    // A test that aborts must not leave its Xvfb or sender running.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (!stdout_path.empty()) {
      int fd = open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) dup2(fd, 1), close(fd);
    }
    if (!stderr_path.empty()) {
      int fd = open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) dup2(fd, 2), close(fd);
    }
    execvp(args[0], args.data());
    std::fprintf(stderr, "exec %s: %s\n", args[0], std::strerror(errno));
    _exit(127);
  }
  setpgid(pid_, pid_);
}

ChildProcess::ChildProcess(ChildProcess&& o) noexcept
    : pid_(std::exchange(o.pid_, -1)), status_(o.status_) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& o) noexcept {
  if (this != &o) {
    stop();
    pid_ = std::exchange(o.pid_, -1);
    status_ = o.status_;
  }
  return *this;
}

ChildProcess::~ChildProcess() { stop(); }

bool ChildProcess::running() const {
  // waitpid() refuses WNOWAIT (EINVAL); waitid() peeks without reaping.
  if (pid_ <= 0) return false;
  siginfo_t info{};
  return waitid(P_PID, id_t(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

int ChildProcess::wait(int timeout_ms) {
  if (pid_ <= 0) return status_;
  int status = 0;
  if (!wait_for(pid_, timeout_ms, &status)) return -1;
  pid_ = -1;
  status_ = status;
  return status_;
}

int ChildProcess::stop(int sig, int timeout_ms) {
  if (pid_ <= 0) return status_;
  int status = 0;
  // One signal: the child leads its own process group, so the group signal reaches it too. A
  // second copy could arrive after a handler has run and find the default action restored.
  if (kill(-pid_, sig) != 0) kill(pid_, sig);
  if (!wait_for(pid_, timeout_ms, &status)) {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  // Anything the child left in its group goes too.
  kill(-pid_, SIGKILL);
  pid_ = -1;
  status_ = status;
  return status_;
}

XvfbDisplay::XvfbDisplay(int width, int height) {
  int fds[2];
  if (pipe(fds) != 0) die("pipe");
  std::string geometry = std::to_string(width) + "x" + std::to_string(height) + "x24";
  server_ = ChildProcess({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", geometry,
                          "-nolisten", "tcp", "-noreset"});
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  while (poll(&p, 1, 15000) > 0) {
    char c;
    ssize_t n = read(fds[0], &c, 1);
    if (n <= 0 || c == '\n') break;
    number += c;
  }
  close(fds[0]);
  if (number.empty()) die("Xvfb did not report a display");
  name_ = ":" + number;
  setenv("DISPLAY", name_.c_str(), 1);
}

XvfbDisplay::~XvfbDisplay() {
  server_.stop();
  unsetenv("DISPLAY");
}

std::string read_text_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

namespace {

int thread_count() {
  int n = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') n++;
    closedir(dir);
  }
  return n;
}

}  // namespace

void wait_for_threads_to_settle(int quiet_ms, int max_ms) {
  int count = thread_count(), quiet = 0;
  for (int waited = 0; quiet < quiet_ms && waited < max_ms; waited += 50) {
    usleep(50000);
    int now = thread_count();
    quiet = now == count ? quiet + 50 : 0;
    count = now;
  }
}

int run_command(const std::string& command) {
  int status = std::system(command.c_str());
  if (status < 0 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

RunResult run_capture(const std::vector<std::string>& argv, int timeout_ms) {
  RunResult result;
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) die("pipe");
  auto args = to_argv(argv);
  pid_t pid = fork();
  if (pid < 0) die("fork");
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]), close(out[1]), close(err[0]), close(err[1]);
    execvp(args[0], args.data());
    std::fprintf(stderr, "exec %s: %s\n", args[0], std::strerror(errno));
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  gint64 deadline = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
  int open_fds = 2;
  while (open_fds > 0) {
    int left = int((deadline - g_get_monotonic_time()) / 1000);
    if (left <= 0) break;
    if (poll(fds, 2, left) <= 0) continue;
    for (int i = 0; i < 2; i++) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        open_fds--;
      } else {
        (i == 0 ? result.out : result.err).append(buf, size_t(n));
        if (i == 0) {
          const gint64 now = g_get_monotonic_time();
          result.out_line_times.insert(result.out_line_times.end(),
                                       size_t(std::count(buf, buf + n, '\n')), now);
        }
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) close(f.fd);
  int status = 0;
  if (!wait_for(pid, std::max(0, int((deadline - g_get_monotonic_time()) / 1000)), &status)) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    result.err += "\n[killed after time-out]\n";
    return result;
  }
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

TempDir::TempDir() {
  char tmpl[] = "/tmp/tilu-test-XXXXXX";
  if (!mkdtemp(tmpl)) die("mkdtemp");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::string cmd = "rm -rf '" + path_ + "'";
  run_command(cmd);
}

}  // namespace tilutest
