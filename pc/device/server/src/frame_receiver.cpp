#include "server/frame_receiver.h"

#include <chrono>
#include <cstring>

#include "orvaneaudio/feed_control.h"
#include "protocol/stream_header.h"
#include "server/ring.h"

namespace server {

struct FrameReceiver::Core {
  std::shared_ptr<uint8_t[]> ring;
  std::shared_ptr<platform::Event> dataArrived;
  platform::Event frameReady{platform::Event::Reset::kAuto};
  std::shared_ptr<StreamListener> listener;  // shared with an abandoned parser
  std::string audioDevicePath;
  std::unique_ptr<platform::DeviceHandle> audio;  // parser thread while running
  std::atomic<bool> audioOpen{false};
  std::chrono::steady_clock::time_point audioAttempt;  // parser thread while running
  MessageScanner scanner;                         // parser thread only
  std::atomic<bool> stop{true};
  std::atomic<bool> wakeRequested{false};
  MessageCallback callback = nullptr;
  void* callbackContext = nullptr;
  SharedFrameBlock* sharedBlock = nullptr;

  mutable std::mutex latestMutex;
  RingMessage latest;  // written by the parser under latestMutex

  void run(FrameReceiver& owner);
  void forwardAudio(const RingMessage& m);
  void publish(const RingMessage& m);
  RingMessage latestCopy() const {
    std::lock_guard lock(latestMutex);
    return latest;
  }
};

void FrameReceiver::Core::run(FrameReceiver& owner) {
  scanner = MessageScanner{};
  for (;;) {
    dataArrived->wait();
    if (stop) break;
    const uint64_t written = listener->writePosition();
    const bool completed = scanner.scan(ring.get(), written);
    const RingMessage m = scanner.latest();
    if (completed) {
      std::lock_guard lock(latestMutex);
      latest = m;
    }
    if (completed && m.isAudio()) forwardAudio(m);
    if (!completed && !wakeRequested) continue;
    wakeRequested = false;
    frameReady.set();
    if (sharedBlock != nullptr && m.hasType(protocol::MSG_VIDEO_JPEG) &&
        m.length <= protocol::kMaxVideoPayload) {
      publish(m);
    }
    if (callback != nullptr) callback(callbackContext, owner);
  }
}

void FrameReceiver::Core::forwardAudio(const RingMessage& m) {
  if (!audio) {
    // The microphone may start after the frame server: look for it again, at most once a
    // second, when sound arrives.
    const auto now = std::chrono::steady_clock::now();
    if (now - audioAttempt < std::chrono::seconds(1)) return;
    audioAttempt = now;
    audio = platform::openDevice(audioDevicePath);
    audioOpen = audio != nullptr;
    if (!audio) return;
  }
  if (m.length <= protocol::kHeaderSize) return;
  const uint64_t start = m.start + protocol::kHeaderSize;
  const uint32_t n = m.length - static_cast<uint32_t>(protocol::kHeaderSize);
  const uint32_t at = static_cast<uint32_t>(start & kRingMask);
  const uint32_t first = n < kRingSize - at ? n : kRingSize - at;
  // The result is of no consequence: a microphone nobody records drops the sound.
  audio->control(orvaneaudio::IOCTL_AUDIO_FEED_WRITE, ring.get() + at, first, nullptr, 0,
                 nullptr);
  if (first < n) {
    audio->control(orvaneaudio::IOCTL_AUDIO_FEED_WRITE, ring.get(), n - first, nullptr, 0,
                   nullptr);
  }
}

void FrameReceiver::Core::publish(const RingMessage& m) {
  size_t viewSize = 0;
  uint8_t* view = sharedBlock->lockView(viewSize);
  if (view == nullptr) return;
  if (m.length <= viewSize) copyFromRing(ring.get(), m.start, m.length, view);
  sharedBlock->unlockAndPulse();
}

FrameReceiver::FrameReceiver() : FrameReceiver(Options{}) {}

FrameReceiver::FrameReceiver(Options options) : core_(std::make_shared<Core>()) {
  core_->ring = std::shared_ptr<uint8_t[]>(new uint8_t[kRingSize]());
  core_->dataArrived = std::make_shared<platform::Event>(platform::Event::Reset::kAuto);
  core_->listener =
      std::make_shared<StreamListener>(core_->ring, core_->dataArrived, options.listener);
  core_->audioDevicePath =
      options.audioDevicePath.empty() ? orvaneaudio::kDevicePath : options.audioDevicePath;
}

FrameReceiver::~FrameReceiver() { stop(); }

bool FrameReceiver::start() {
  if (parser_.running()) return true;
  if (abandoned_) {
    // The parser of an earlier stop still runs on the old core; this run gets its own.
    auto fresh = std::make_shared<Core>();
    fresh->ring = core_->ring;
    fresh->dataArrived = core_->dataArrived;
    fresh->listener = core_->listener;
    fresh->audioDevicePath = core_->audioDevicePath;
    fresh->callback = core_->callback;
    fresh->callbackContext = core_->callbackContext;
    fresh->sharedBlock = core_->sharedBlock;
    core_ = std::move(fresh);
    abandoned_ = false;
  }
  core_->stop = false;
  core_->frameReady.reset();
  core_->dataArrived->reset();
  core_->audio = platform::openDevice(core_->audioDevicePath);
  core_->audioOpen = core_->audio != nullptr;
  core_->audioAttempt = std::chrono::steady_clock::now();
  {
    std::lock_guard lock(core_->latestMutex);
    core_->latest = RingMessage{};
  }
  parser_.start([core = core_, this] { core->run(*this); });
  core_->listener->start();
  return true;
}

void FrameReceiver::stop() {
  if (!core_->listener) return;
  core_->listener->stop();
  if (!parser_.running()) return;
  core_->stop = true;
  core_->dataArrived->set();
  if (parser_.joinFor(kThreadStopWaitMs)) {
    core_->audio.reset();
  } else {
    abandoned_ = true;  // the abandoned parser keeps the core, audio device included
  }
  core_->audioOpen = false;
}

void FrameReceiver::enableListening() { core_->listener->enableListening(true); }
void FrameReceiver::setPort(uint16_t port) { core_->listener->setPort(port); }
uint16_t FrameReceiver::port() const { return core_->listener->port(); }

void FrameReceiver::setMessageCallback(MessageCallback callback, void* context) {
  core_->callback = callback;
  core_->callbackContext = context;
}

void FrameReceiver::attachSharedFrameBlock(SharedFrameBlock* block) { core_->sharedBlock = block; }

uint32_t FrameReceiver::latestJpeg(uint8_t* destination) {
  const RingMessage m = core_->latestCopy();
  if (m.length <= protocol::kHeaderSize || !m.hasType(protocol::MSG_VIDEO_JPEG)) return 0;
  uint32_t n = m.length - static_cast<uint32_t>(protocol::kHeaderSize);
  if (n > protocol::kMaxVideoPayload) n = protocol::kMaxVideoPayload;
  if (n < 10) return 0;  // too short to hold a marker in its last 10 bytes
  const uint64_t payload = m.start + protocol::kHeaderSize;
  const uint8_t* ring = core_->ring.get();
  uint8_t tail[10];
  copyFromRing(ring, payload + n - 10, 10, tail);
  if (!protocol::endOfImageInTail(tail)) return 0;
  if (destination == nullptr) {
    return ringBytesIntact(payload, n, core_->listener->writePosition()) ? n : 0;
  }
  copyFromRing(ring, payload, n, destination);
  // Refuse a frame the listener may have overwritten while it was copied.
  if (!ringBytesIntact(payload, n, core_->listener->writePosition())) return 0;
  if (!protocol::endOfImageInTail(destination + n - 10)) return 0;
  std::memcpy(destination, protocol::kJfifPrefix, sizeof protocol::kJfifPrefix);
  return n;
}

int FrameReceiver::waitForFrame(uint32_t timeoutMs) {
  if (!core_->frameReady.wait(timeoutMs)) return kWaitTimeout;
  return latestJpeg(nullptr) > 0 ? kWaitFrameReady : kWaitNotAFrame;
}

void FrameReceiver::wake() {
  core_->wakeRequested = true;
  core_->dataArrived->set();
}

bool FrameReceiver::sendCommand(uint32_t code, uint32_t argument) {
  return core_->listener->commands().push(code, argument);
}

RingMessage FrameReceiver::latestMessage() const { return core_->latestCopy(); }

uint32_t FrameReceiver::copyLatestPayload(uint8_t* destination, uint32_t max) const {
  const RingMessage m = core_->latestCopy();
  if (m.length <= protocol::kHeaderSize) return 0;
  uint32_t n = m.length - static_cast<uint32_t>(protocol::kHeaderSize);
  if (n > max) n = max;
  copyFromRing(core_->ring.get(), m.start + protocol::kHeaderSize, n, destination);
  return n;
}

void FrameReceiver::dropPendingCommands() { core_->listener->commands().dropPending(); }
bool FrameReceiver::connected() const { return core_->listener->connected(); }
uint16_t FrameReceiver::listeningPort() const { return core_->listener->listeningPort(); }
bool FrameReceiver::audioDeviceOpen() const { return core_->audioOpen; }
StreamListener& FrameReceiver::listener() { return *core_->listener; }

}  // namespace server
