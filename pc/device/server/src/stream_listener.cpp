#include "server/stream_listener.h"

#include <mutex>

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
  std::mutex bindMutex;
  std::string bindAddress;         // under bindMutex
  std::atomic<uint32_t> progress{0};  // messages completed, as the parser reports them
  platform::TcpSocket connection;  // listener thread only
  uint32_t lastProgressMs = 0;     // listener thread only: accept, message or keep-alive
  uint32_t seenProgress = 0;       // listener thread only

  void run();
  void receive(bool& gotData, bool& keepAlive);
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
    bool gotData = false, keepAlive = false;
    if (connection.valid()) receive(gotData, keepAlive);
    if (connection.valid()) sendPending();
    // The link is kept by what the phone says, not by bytes: a completed message or a
    // keep-alive. A peer that trickles bytes without either is dropped like a silent one.
    const uint32_t completed = progress.load();
    if (keepAlive || completed != seenProgress) {
      seenProgress = completed;
      lastProgressMs = clock.nowMs();
    }
    if (gotData) dataArrived->set();
    const bool silent = connection.valid() &&
                        platform::elapsedMs(lastProgressMs, clock.nowMs()) > kSilenceTimeoutMs;
    if (gotData && !silent) continue;
    if (!connection.valid() || silent) {
      if (!listening) {
        clock.sleepMs(kReceivePollMs);
      } else {
        accept();
        if (connection.valid()) {
          commands->dropPending();
          seenProgress = progress.load();
          lastProgressMs = clock.nowMs();
        }
      }
    }
  }
  drop();
}

namespace {

// A keep-alive: four zero bytes that arrived together in one receive.
bool holdsKeepAlive(const uint8_t* bytes, long n) {
  int zeros = 0;
  for (long i = 0; i < n; ++i) {
    zeros = bytes[i] == 0 ? zeros + 1 : 0;
    if (zeros == 4) return true;
  }
  return false;
}

}  // namespace

void StreamListener::State::receive(bool& gotData, bool& keepAlive) {
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
    // The peer ended the stream: everything it sent is in the ring, and nothing more can
    // come. Listen again at once so that the phone is not kept out by a closed link.
    drop();
    return;
  }
  written.store(w + static_cast<uint64_t>(n), std::memory_order_release);
  gotData = true;
  // Only short receives are looked at: a phone's keep-alive comes alone after 2048 ms
  // without a message, and zeros inside a large receive belong to a message anyway.
  keepAlive = n <= 64 && holdsKeepAlive(ring.get() + at, n);
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
  const uint16_t wanted = port;
  std::string address;
  {
    std::lock_guard lock(bindMutex);
    address = bindAddress;
  }
  platform::TcpSocket listener = platform::TcpSocket::listen(address, wanted, 0);
  if (!listener.valid()) {
    // Port in use or no network: the next pass tries again. Pace the retries.
    options.clock->sleepMs(kReceivePollMs);
    return;
  }
  boundPort = listener.localPort();
  while (!stop) {
    if (port != wanted || !listening) break;  // moved, or listening turned off
    {
      std::lock_guard lock(bindMutex);
      if (bindAddress != address) break;
    }
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
  state_->bindAddress = options.bindAddress;
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
    fresh->bindAddress = bindAddress();
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
void StreamListener::setBindAddress(const std::string& address) {
  std::lock_guard lock(state_->bindMutex);
  state_->bindAddress = address;
}
std::string StreamListener::bindAddress() const {
  std::lock_guard lock(state_->bindMutex);
  return state_->bindAddress;
}
void StreamListener::noteMessage() { ++state_->progress; }
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
