#include "server/frame_receiver.h"

#include <chrono>
#include <cstring>
#include <optional>

#include "orvaneaudio/feed_control.h"
#include "protocol/stream_header.h"
#include "server/receive_parser.h"
#include "server/ring.h"

namespace server {

struct FrameReceiver::Core : ReceiveParser::Sink {
  std::shared_ptr<uint8_t[]> ring;
  std::shared_ptr<platform::Event> dataArrived;
  platform::Event frameReady{platform::Event::Reset::kAuto};
  std::shared_ptr<StreamListener> listener;  // shared with an abandoned parser
  std::optional<RingView> view;              // set once at creation, read by any thread
  std::string audioDevicePath;
  std::unique_ptr<platform::DeviceHandle> audio;  // parser thread while running
  std::atomic<bool> audioOpen{false};
  std::chrono::steady_clock::time_point audioAttempt;  // parser thread while running
  std::atomic<bool> stop{true};
  std::atomic<bool> wakeRequested{false};
  MessageCallback callback = nullptr;
  void* callbackContext = nullptr;
  SharedFrameBlock* sharedBlock = nullptr;
  FrameReceiver* owner = nullptr;

  mutable std::mutex latestMutex;
  RingMessage latest;       // the message handed over last; parser writes under latestMutex
  RingMessage latestVideo;  // the newest frame handed over, kept apart from sound and reports
  std::atomic<uint64_t> videoHandOvers{0};  // frames handed over (wake counts again)
  std::atomic<uint64_t> videoWaited{0};     // videoHandOvers when a frame wait last looked

  void attachView() {
    view.emplace(ring.get(), [l = listener.get()] { return l->writePosition(); });
  }
  void run();
  platform::DeviceHandle* audioDevice() override;
  void handOver(const RingMessage& m, const RingMessage* newVideo) override;
  RingMessage latestCopy() const {
    std::lock_guard lock(latestMutex);
    return latest;
  }
  RingMessage latestVideoCopy() const {
    std::lock_guard lock(latestMutex);
    return latestVideo;
  }
};

void FrameReceiver::Core::run() {
  ReceiveParser parser(*view);
  for (;;) {
    dataArrived->wait();
    if (stop) break;
    const bool wake = wakeRequested.exchange(false);
    const uint64_t framesBefore = videoHandOvers;
    parser.drain(*this, [this] { return stop.load(); });
    if (wake && videoHandOvers == framesBefore) {
      // Hand the latest message and the newest frame over once more.
      const RingMessage video = latestVideoCopy();
      handOver(latestCopy(), video.present() ? &video : nullptr);
    }
  }
}

platform::DeviceHandle* FrameReceiver::Core::audioDevice() {
  if (!audio) {
    // The microphone may start after the frame server: look for it again, at most once a
    // second, when sound arrives.
    const auto now = std::chrono::steady_clock::now();
    if (now - audioAttempt < std::chrono::seconds(1)) return nullptr;
    audioAttempt = now;
    audio = platform::openDevice(audioDevicePath);
    audioOpen = audio != nullptr;
  }
  return audio.get();
}

void FrameReceiver::Core::handOver(const RingMessage& m, const RingMessage* newVideo) {
  {
    std::lock_guard lock(latestMutex);
    latest = m;
    if (newVideo != nullptr) latestVideo = *newVideo;
  }
  if (newVideo != nullptr) ++videoHandOvers;
  listener->noteMessage();
  frameReady.set();
  if (sharedBlock != nullptr && newVideo != nullptr) view->publish(*newVideo, *sharedBlock);
  if (callback != nullptr) callback(callbackContext, *owner);
}

FrameReceiver::FrameReceiver() : FrameReceiver(Options{}) {}

FrameReceiver::FrameReceiver(Options options) : core_(std::make_shared<Core>()) {
  core_->ring = std::shared_ptr<uint8_t[]>(new uint8_t[kRingSize]());
  core_->dataArrived = std::make_shared<platform::Event>(platform::Event::Reset::kAuto);
  core_->listener =
      std::make_shared<StreamListener>(core_->ring, core_->dataArrived, options.listener);
  core_->attachView();
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
    fresh->attachView();
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
    core_->latestVideo = RingMessage{};
  }
  core_->videoWaited = core_->videoHandOvers.load();
  core_->owner = this;
  parser_.start([core = core_] { core->run(); });
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
void FrameReceiver::setBindAddress(const std::string& address) {
  core_->listener->setBindAddress(address);
}

void FrameReceiver::setMessageCallback(MessageCallback callback, void* context) {
  core_->callback = callback;
  core_->callbackContext = context;
}

void FrameReceiver::attachSharedFrameBlock(SharedFrameBlock* block) { core_->sharedBlock = block; }

uint32_t FrameReceiver::latestJpeg(uint8_t* destination) {
  return core_->view->copyJpeg(core_->latestVideoCopy(), destination);
}

int FrameReceiver::waitForFrame(uint32_t timeoutMs) {
  if (!core_->frameReady.wait(timeoutMs)) return kWaitTimeout;
  // A frame counts once: the signal may have come from sound or a report handed over
  // after it, but a frame not yet reported is still the newest one.
  const uint64_t handedOver = core_->videoHandOvers.load();
  if (core_->videoWaited.exchange(handedOver) == handedOver) return kWaitNotAFrame;
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
  return core_->view->copyPayload(core_->latestCopy(), destination, max);
}

void FrameReceiver::dropPendingCommands() { core_->listener->commands().dropPending(); }
bool FrameReceiver::connected() const { return core_->listener->connected(); }
uint16_t FrameReceiver::listeningPort() const { return core_->listener->listeningPort(); }
bool FrameReceiver::audioDeviceOpen() const { return core_->audioOpen; }
StreamListener& FrameReceiver::listener() { return *core_->listener; }

}  // namespace server
