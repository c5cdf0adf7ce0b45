#pragma once

// Waking a thread that waits on descriptors: a wake-up any thread (or a signal handler)
// can give, the process's requests to end (interrupt, terminate, hang-up) as a readable
// descriptor, and the wait itself. Window loops that take descriptors (the toolkit's
// socket notifiers) use fd() directly.

#include <cstddef>

namespace platform {

class WakeUp {
 public:
  WakeUp();
  ~WakeUp();
  WakeUp(const WakeUp&) = delete;
  WakeUp& operator=(const WakeUp&) = delete;

  bool valid() const { return fds_[0] >= 0; }
  // Readable from notify() until drain().
  int fd() const { return fds_[0]; }
  // From any thread, also from a signal handler; never blocks.
  void notify();
  // Takes every pending wake-up; true when there was one.
  bool drain();

 private:
  int fds_[2] = {-1, -1};
};

// Once per process: interrupt, terminate and hang-up no longer end the process but make
// the returned descriptor readable, one pending request each; a broken pipe is ignored
// (writes report it). -1 when the system refuses.
int installEndRequests();
// Takes one pending request to end from that descriptor.
void takeEndRequest(int fd);

// Waits up to `timeoutMs` (negative: for ever) until one of `fds` is readable (or
// reports an error or hang-up). ready[i] tells which. The number ready, 0 on time-out or
// an interrupted wait, -1 on failure. A negative descriptor is never ready.
int waitReadable(const int* fds, bool* ready, size_t count, int timeoutMs);

}  // namespace platform
