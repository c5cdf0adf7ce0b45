#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// Datagrams between processes of this machine, addressed by name (an abstract local
// socket, so nothing is left behind when the receiver dies). Any local process may send;
// the receiver drops, unread, every datagram whose sender fails the local peer rule
// (platform/local_peer.h).
//
// Threading: a receiver is used by one thread; sendLocalDatagram from any thread.
class LocalDatagramReceiver {
 public:
  virtual ~LocalDatagramReceiver() = default;
  // Binds `name`; null when the name is taken or the system refuses.
  static std::unique_ptr<LocalDatagramReceiver> bind(std::string_view name);
  // Waits up to timeoutMs for one datagram: its size (cut to `capacity`), 0 on time-out or
  // when the datagram came from a sender that is not trusted, -1 on error.
  virtual long receive(void* buffer, size_t capacity, uint32_t timeoutMs) = 0;
};

// Sends one datagram to the receiver bound to `name`; false when none is bound.
bool sendLocalDatagram(std::string_view name, const void* data, size_t size);

}  // namespace platform
