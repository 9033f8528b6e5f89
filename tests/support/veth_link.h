// Two hosts on one Ethernet link: a sender namespace of its own with "va" 198.18.0.1, and the
// calling process's namespace with "vb" 198.18.0.2, multicast routed over the link on both
// sides. Call tilutest::enter_private_netns() first. Removed again when the object goes away.
#pragma once

#include <string>

#include "test_env.h"

namespace tilutest {

class VethLink {
 public:
  explicit VethLink(const std::string& sender_netns) : netns_(sender_netns) {
    run_command("ip netns del " + netns_ + " 2>/dev/null");
    ok_ = run("ip netns add " + netns_) && run("ip link add vb type veth peer name va netns " + netns_) &&
          run("ip -n " + netns_ + " link set lo up") &&
          run("ip -n " + netns_ + " addr add 198.18.0.1/30 dev va") &&
          run("ip -n " + netns_ + " link set va up") &&
          run("ip -n " + netns_ + " route add 224.0.0.0/4 dev va") &&
          run("ip addr add 198.18.0.2/30 dev vb") && run("ip link set vb up") &&
          run("ip route replace 224.0.0.0/4 dev vb");
  }
  VethLink(const VethLink&) = delete;
  VethLink& operator=(const VethLink&) = delete;
  ~VethLink() {
    // Deleting the namespace deletes va, and vb with it.
    run_command("ip netns del " + netns_ + " 2>/dev/null");
    run_command("ip link del vb 2>/dev/null");
    run_command("ip route replace 224.0.0.0/4 dev lo");
  }
  bool ok() const { return ok_; }
  // The command that failed, with its status, when !ok().
  const std::string& failure() const { return failure_; }
  const std::string& sender_netns() const { return netns_; }

 private:
  bool run(const std::string& command) {
    int rc = run_command(command);
    if (rc != 0) failure_ = command + " (" + std::to_string(rc) + ")";
    return rc == 0;
  }

  std::string netns_;
  bool ok_ = false;
  std::string failure_;
};

}  // namespace tilutest
