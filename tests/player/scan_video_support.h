// Shared by the scan scheduler and main video tests: live test channels in the test's own
// network namespace, a real player record and scene built by start-up's own functions, and a
// main-loop driver that looks at the record after every iteration (so after every event).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "test_env.h"
#include "tilu_player.h"

namespace tilutest {

// Enters a private network namespace, starts an Xvfb, initialises clutter-gst and runs the tests.
int scan_video_test_main(int argc, char** argv);

struct Channel {
  bool audio = true;
  int pattern = 0;     // videotestsrc pattern, so that every channel looks different
  bool clock = true;   // false: no running clock burnt in, so a still pattern is a still picture
};

// Live MPEG-TS channels (H.264 + AAC), one gst-launch-1.0 each, on 239.255.1.(i+1):5000, with a
// keyframe every 10 frames so that a scan finds a picture quickly.
class LiveChannels {
 public:
  explicit LiveChannels(const std::vector<Channel>& channels);
  std::string uri(size_t i) const;
  // Stops channel i's sender (the channel goes silent), and starts it again.
  void stop(size_t i);
  void restart(size_t i);
  void restart(size_t i, const Channel& channel);

 private:
  ChildProcess start(size_t i) const;

  std::vector<Channel> channels_;
  std::vector<ChildProcess> senders_;
};

// A group nobody sends to (its scans never get a frame), and a URI whose pipeline fails while it
// opens.
std::string silent_uri();
std::string broken_uri();

// Milliseconds on the monotonic clock.
gint64 now_ms();

// Runs the default main context until done() holds or timeout_ms pass; after_iteration runs
// after every iteration. Returns whether done() held.
bool run_loop_until(const std::function<bool()>& done, int timeout_ms,
                    const std::function<void()>& after_iteration = {});
void run_loop_for(int ms, const std::function<void()>& after_iteration = {});

// A player record on a playlist of the given URIs, filled and built by tilu_player_init and
// tilu_scene_build with the given settings, its stage shown. Released (scans, main pipeline,
// stage) when it goes away; the settings go back to their defaults.
class TestPlayer {
 public:
  TestPlayer(const std::vector<std::string>& uris, const TiluOptions& options);
  TestPlayer(const TestPlayer&) = delete;
  TestPlayer& operator=(const TestPlayer&) = delete;
  ~TestPlayer();

  TiluPlayer* get() { return player_.get(); }
  TiluPlayer* operator->() { return player_.get(); }
  ClutterActor* stage() const { return stage_; }

 private:
  TempDir dir_;
  std::unique_ptr<TiluPlayer> player_;
  ClutterActor* stage_ = nullptr;
};

// Follows the scans of a player: every pipeline that appears in a scan slot is a start, every
// one that leaves it a stop (pipelines are told apart by a mark on their playbin, not by
// address, which the allocator reuses). Checks the record's invariants on every poll.
class ScanRecorder {
 public:
  struct Event {
    enum Kind { kStart, kStop } kind;
    int index;
    gint64 ms;  // since the recorder was made
    int serial;  // which pipeline: 1, 2, ... in order of appearance
  };

  explicit ScanRecorder(TiluPlayer* player);
  // Call after every main-loop iteration (outside any callback).
  void poll();

  const std::vector<Event>& events() const { return events_; }
  std::vector<int> starts() const;
  std::vector<gint64> start_times(int index) const;
  // Serial of the pipeline in slot i now, 0 when none.
  int serial(int i) const { return serials_[i]; }
  // Time at which tile i first showed as opaque, -1 while it has not.
  gint64 opaque_at(int i) const { return opaque_at_[i]; }
  // The first broken invariant seen, empty while none.
  const std::string& violation() const { return violation_; }

 private:
  TiluPlayer* player_;
  gint64 t0_;
  int next_serial_ = 1;
  std::vector<int> serials_;
  std::vector<gint64> opaque_at_;
  std::vector<Event> events_;
  std::string violation_;
};

}  // namespace tilutest
