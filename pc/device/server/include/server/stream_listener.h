#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "server/command_pool.h"

namespace server {

inline constexpr uint16_t kDefaultPort = 2047;
inline constexpr uint32_t kSilenceTimeoutMs = 5000;
inline constexpr uint32_t kReceivePollMs = 100;
inline constexpr uint32_t kAcceptPollMs = 500;
inline constexpr uint32_t kThreadStopWaitMs = 1000;

// The socket side of the frame server. One thread that, while listening is enabled,
// listens for one phone on the port, greets it with "high", receives everything it sends
// into the ring without framing it, signals data-arrived after each receive, sends the
// queued commands, and drops the phone when it completed no message and sent no
// keep-alive for 5000 ms (bytes alone do not keep the link), or at once when it ended
// the stream, to listen again.
//
// Threading: start/stop from the owner; setPort, setBindAddress, enableListening,
// noteMessage, commands() and the read-only queries from any thread.
class StreamListener {
 public:
  struct Options {
    // A numeric IPv4 or IPv6 address: "0.0.0.0" every IPv4 address, "::" every address,
    // "127.0.0.1" or "::1" this machine only. Anything else is never listened on.
    std::string bindAddress = "0.0.0.0";
    platform::Clock* clock = &platform::systemClock();
  };

  struct State;  // shared with the thread, so that an abandoned thread stays safe

  StreamListener(std::shared_ptr<uint8_t[]> ring, std::shared_ptr<platform::Event> dataArrived,
                 Options options);
  ~StreamListener();

  // Starts the thread unless it runs: write position 0, event reset, no connection.
  void start();
  // Stops the thread, waiting up to 1000 ms before abandoning it.
  void stop();

  void enableListening(bool on = true);
  void setPort(uint16_t port);
  uint16_t port() const;
  // Like the port: at once while listening, after the next disconnection while connected.
  void setBindAddress(const std::string& address);
  std::string bindAddress() const;
  // Told by the parser for every message it completed: the connection is alive.
  void noteMessage();

  CommandPool& commands();
  // Absolute count of bytes received into the ring since start.
  uint64_t writePosition() const;
  bool connected() const;
  // The port actually listened on at the moment, 0 when not listening.
  uint16_t listeningPort() const;
  // Completed connections since creation, for status displays and tests.
  uint32_t connectionCount() const;

 private:
  std::shared_ptr<State> state_;
  platform::Thread thread_;
  bool abandoned_ = false;
};

}  // namespace server
