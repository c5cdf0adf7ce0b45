#pragma once

// Local stream connections under an abstract name (the single-instance hand-over of the
// device program). A listener owns the name while it lives; the name vanishes with the
// process, so a crashed owner never blocks the next one. Both ends apply the local peer
// rule (local_peer.h): a peer that fails it is never talked to.
//
// Threading: one object, one thread.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace platform {

class LocalStream {
 public:
  using Deadline = std::chrono::steady_clock::time_point;

  // Connects to the listener that owns `name`; null when nobody listens there or the
  // listener fails the peer rule.
  static std::unique_ptr<LocalStream> connect(std::string_view name);
  ~LocalStream();
  LocalStream(const LocalStream&) = delete;
  LocalStream& operator=(const LocalStream&) = delete;

  // Moves exactly `size` bytes before `deadline`; false on time-out, end of stream or error.
  bool readExactly(void* buffer, size_t size, Deadline deadline);
  bool writeExactly(const void* data, size_t size, Deadline deadline);

 private:
  friend class LocalStreamListener;
  explicit LocalStream(int fd) : fd_(fd) {}
  int fd_;
};

class LocalStreamListener {
 public:
  // Owns `name`; null when another process owns it (or the system refuses).
  static std::unique_ptr<LocalStreamListener> listen(std::string_view name);
  ~LocalStreamListener();
  LocalStreamListener(const LocalStreamListener&) = delete;
  LocalStreamListener& operator=(const LocalStreamListener&) = delete;

  // Readable (for waitReadable, wake.h) when a peer waits to be accepted.
  int fd() const { return fd_; }
  // One waiting peer that passes the peer rule, without waiting; null when none waits or
  // the peer is someone else's (that connection is closed unheard).
  std::unique_ptr<LocalStream> accept();

 private:
  explicit LocalStreamListener(int fd) : fd_(fd) {}
  int fd_;
};

// The user this process runs as (names of per-user objects).
uint32_t currentUserId();

}  // namespace platform
