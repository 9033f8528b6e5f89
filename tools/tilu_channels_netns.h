// Keeps tilu-channels off the host's network: in the host's network namespace it creates a
// namespace of its own and moves into it; anywhere else it stays where it is.
#pragma once

#include <string>

namespace channels {

// A named network namespace that this process created and entered; removed by remove() or on
// destruction. The namespace itself lasts until its last process leaves it, so a receiver
// started in it with `ip netns exec` keeps working until it ends.
class OwnNetns {
 public:
  OwnNetns() = default;
  OwnNetns(const OwnNetns&) = delete;
  OwnNetns& operator=(const OwnNetns&) = delete;
  ~OwnNetns() { remove(); }

  // Creates `name` with loopback up, multicast on and 224.0.0.0/4 routed to lo, and enters it.
  // Refuses a name that exists already: that namespace is someone else's.
  bool create_and_enter(const std::string& name);
  void remove();
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

// Makes sure that this process sends in a namespace other than the host's, creating
// `name` in `own` when it starts in the host's. `name_given` says whether the user chose the
// name (a chosen name that goes unused is worth a note). Must run before gst_init and before
// any thread exists: a namespace change applies to the calling thread and to the threads it
// creates later.
bool leave_host_network(const std::string& name, bool name_given, OwnNetns& own);

}  // namespace channels
