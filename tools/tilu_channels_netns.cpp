#include "tilu_channels_netns.h"

#include <fcntl.h>
#include <glib.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "glib_ptr.h"

namespace channels {

namespace {

// Runs argv (searched in PATH) and waits; true on exit status 0. Its standard output is
// dropped: ours carries "ready".
bool run(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  gint status = 0;
  glibx::Error error;
  if (!g_spawn_sync(nullptr, args.data(), nullptr,
                    GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL), nullptr,
                    nullptr, nullptr, nullptr, &status, error.out())) {
    std::fprintf(stderr, "tilu-channels: %s: %s\n", args[0], error.message());
    return false;
  }
  return g_spawn_check_wait_status(status, nullptr);
}

enum class Netns { kHost, kPrivate, kUnknown };

Netns current_netns(int* error) {
  struct stat self{}, host{};
  *error = 0;
  if (stat("/proc/self/ns/net", &self) != 0) {
    *error = errno;
    return Netns::kUnknown;
  }
  if (stat("/proc/1/ns/net", &host) == 0)
    return self.st_ino == host.st_ino && self.st_dev == host.st_dev ? Netns::kHost
                                                                    : Netns::kPrivate;
  *error = errno;
  // Where /proc/1 is closed to us (a hardened init), the kernel still tells: the net.core
  // tuning sysctls are registered in the initial namespace only, and /proc/sys/net shows the
  // namespace of the reader.
  if (*error != EACCES && *error != EPERM) return Netns::kUnknown;
  return access("/proc/sys/net/core/netdev_max_backlog", F_OK) == 0 ? Netns::kHost
                                                                    : Netns::kPrivate;
}

}  // namespace

bool OwnNetns::create_and_enter(const std::string& name) {
  std::string path = "/run/netns/" + name;
  if (access(path.c_str(), F_OK) == 0) {
    std::fprintf(stderr,
                 "tilu-channels: network namespace %s exists already; choose another --netns, "
                 "or run inside it with \"ip netns exec %s tilu-channels ...\"\n",
                 name.c_str(), name.c_str());
    return false;
  }
  // `ip netns add` itself refuses a name taken meanwhile; only then is the namespace ours.
  if (!run({"ip", "netns", "add", name})) {
    std::fprintf(stderr, "tilu-channels: could not create network namespace %s (needs root)\n",
                 name.c_str());
    return false;
  }
  name_ = name;
  if (!run({"ip", "-n", name, "link", "set", "lo", "up"}) ||
      !run({"ip", "-n", name, "link", "set", "lo", "multicast", "on"}) ||
      !run({"ip", "-n", name, "route", "add", "224.0.0.0/4", "dev", "lo"})) {
    std::fprintf(stderr, "tilu-channels: could not set up loopback multicast in %s\n",
                 name.c_str());
    return false;
  }
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
    std::fprintf(stderr, "tilu-channels: could not enter network namespace %s: %s\n",
                 name.c_str(), std::strerror(errno));
    if (fd >= 0) close(fd);
    return false;
  }
  close(fd);
  return true;
}

void OwnNetns::remove() {
  if (!name_.empty() && !run({"ip", "netns", "delete", name_}))
    std::fprintf(stderr, "tilu-channels: could not delete network namespace %s\n",
                 name_.c_str());
  name_.clear();
}

bool leave_host_network(const std::string& name, bool name_given, OwnNetns& own) {
  int error = 0;
  switch (current_netns(&error)) {
    case Netns::kPrivate:
      if (name_given)
        std::fprintf(stderr,
                     "tilu-channels: already outside the host's network namespace; sending "
                     "here, --netns %s is not created\n",
                     name.c_str());
      return true;
    case Netns::kUnknown:
      std::fprintf(stderr,
                   "tilu-channels: cannot compare /proc/self/ns/net with /proc/1/ns/net (%s); "
                   "refusing to send where it might reach the host's network\n",
                   std::strerror(error));
      return false;
    case Netns::kHost:
      break;
  }
  if (!own.create_and_enter(name)) return false;
  if (current_netns(&error) != Netns::kPrivate) {
    std::fprintf(stderr, "tilu-channels: still in the host's network namespace; refusing to send\n");
    return false;
  }
  std::fprintf(stderr, "tilu-channels: sending in network namespace %s\n", name.c_str());
  return true;
}

}  // namespace channels
