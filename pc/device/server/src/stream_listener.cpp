#include "server/stream_listener.h"

#include "platform/socket.h"
#include "protocol/stream_header.h"
#include "server/ring.h"

namespace server {

struct StreamListener::State {
  std::shared_ptr<uint8_t[]> ring;
  std::shared_ptr<platform::Event> dataArrived;
  Options options;
  std::shared_ptr<CommandPool> commands = std::make_shared<CommandPool>();
  std::atomic<uint64_t> written{0};
  std::atomic<bool> listening{false};
  std::atomic<bool> stop{true};
  std::atomic<uint16_t> port{kDefaultPort};
  std::atomic<uint16_t> boundPort{0};
  std::atomic<bool> isConnected{false};
  std::atomic<uint32_t> connections{0};
  platform::TcpSocket connection;  // listener thread only
  uint32_t lastDataMs = 0;         // listener thread only
  bool peerClosed = false;         // listener thread only

  void run();
  void receive(bool& gotData);
  void sendPending();
  void accept();
  void drop() {
    connection.close();
    isConnected = false;
  }
};

void StreamListener::State::run() {
  platform::Clock& clock = *options.clock;
  while (!stop) {
    bool gotData = false;
    if (connection.valid()) receive(gotData);
    if (connection.valid()) sendPending();
    if (gotData) {
      lastDataMs = clock.nowMs();
      dataArrived->set();
      continue;
    }
    const bool silent = connection.valid() &&
                        platform::elapsedMs(lastDataMs, clock.nowMs()) > kSilenceTimeoutMs;
    if (!connection.valid() || silent) {
      if (!listening) {
        clock.sleepMs(kReceivePollMs);
      } else {
        accept();
        if (connection.valid()) {
          commands->dropPending();
          lastDataMs = clock.nowMs();
        }
      }
    } else if (peerClosed) {
      // The peer ended the stream: nothing will arrive until the silence limit drops the
      // connection. Wait the poll interval instead of spinning on the readable socket.
      clock.sleepMs(kReceivePollMs);
    }
  }
  drop();
}

void StreamListener::State::receive(bool& gotData) {
  if (peerClosed) return;
  const platform::TcpSocket::WaitResult r = connection.waitReadable(kReceivePollMs);
  if (r == platform::TcpSocket::kTimeout) return;
  if (r == platform::TcpSocket::kError) {
    drop();
    return;
  }
  const uint64_t w = written.load(std::memory_order_relaxed);
  const uint32_t at = static_cast<uint32_t>(w & kRingMask);
  uint32_t room = kRingSize - at;  // one receive never wraps
  if (room > kMaxReceiveChunk) room = kMaxReceiveChunk;
  const long n = connection.receive(ring.get() + at, room);
  if (n < 0) {
    drop();
    return;
  }
  if (n == 0) {
    peerClosed = true;
    return;
  }
  written.store(w + static_cast<uint64_t>(n), std::memory_order_release);
  gotData = true;
}

void StreamListener::State::sendPending() {
  uint8_t command[protocol::kHeaderSize];
  while (commands->popOldest(command)) {
    if (!connection.sendAll(command, sizeof command, kThreadStopWaitMs)) {
      drop();
      return;
    }
  }
}

void StreamListener::State::accept() {
  drop();
  peerClosed = false;
  const uint16_t wanted = port;
  platform::TcpSocket listener = platform::TcpSocket::listen(options.bindAddress, wanted, 0);
  if (!listener.valid()) {
    // Port in use or no network: the next pass tries again. Pace the retries.
    options.clock->sleepMs(kReceivePollMs);
    return;
  }
  boundPort = listener.localPort();
  while (!stop) {
    if (port != wanted || !listening) break;  // moved, or listening turned off
    const platform::TcpSocket::WaitResult r = listener.waitAcceptable(kAcceptPollMs);
    if (r == platform::TcpSocket::kError) break;
    if (r == platform::TcpSocket::kReady) {
      connection = listener.accept();
      break;
    }
  }
  listener.close();
  boundPort = 0;
  if (!connection.valid()) return;
  connection.setNoDelay(true);
  if (!connection.sendAll(protocol::kGreeting, sizeof protocol::kGreeting, kThreadStopWaitMs)) {
    drop();
    return;
  }
  isConnected = true;
  ++connections;
}

StreamListener::StreamListener(std::shared_ptr<uint8_t[]> ring,
                               std::shared_ptr<platform::Event> dataArrived, Options options)
    : state_(std::make_shared<State>()) {
  state_->ring = std::move(ring);
  state_->dataArrived = std::move(dataArrived);
  state_->options = std::move(options);
}

StreamListener::~StreamListener() { stop(); }

void StreamListener::start() {
  if (thread_.running()) return;
  if (abandoned_) {
    // The thread of an earlier stop may still run on the old state; give this one its own.
    auto fresh = std::make_shared<State>();
    fresh->ring = state_->ring;
    fresh->dataArrived = state_->dataArrived;
    fresh->options = state_->options;
    fresh->commands = state_->commands;
    fresh->port = state_->port.load();
    fresh->listening = state_->listening.load();
    fresh->connections = state_->connections.load();
    state_ = std::move(fresh);
    abandoned_ = false;
  }
  state_->stop = false;
  state_->written = 0;
  state_->dataArrived->reset();
  thread_.start([state = state_] { state->run(); });
}

void StreamListener::stop() {
  state_->stop = true;
  if (!thread_.joinFor(kThreadStopWaitMs)) abandoned_ = true;
  state_->isConnected = false;
}

void StreamListener::enableListening(bool on) { state_->listening = on; }
void StreamListener::setPort(uint16_t port) { state_->port = port; }
uint16_t StreamListener::port() const { return state_->port; }
CommandPool& StreamListener::commands() { return *state_->commands; }
uint64_t StreamListener::writePosition() const {
  return state_->written.load(std::memory_order_acquire);
}
bool StreamListener::connected() const { return state_->isConnected; }
uint16_t StreamListener::listeningPort() const { return state_->boundPort; }
uint32_t StreamListener::connectionCount() const { return state_->connections; }

}  // namespace server
