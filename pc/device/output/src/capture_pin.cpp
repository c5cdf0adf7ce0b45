#include "output/capture_pin.h"

#include <chrono>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

#include "decoder/render_geometry.h"
#include "platform/clock.h"

namespace output {

HResult CommandQueue::call(ThreadCommand command) {
  std::unique_lock lock(mutex_);
  const uint64_t ticket = nextTicket_++;
  pending_.push_back({command, ticket});
  cv_.wait(lock, [&] { return answered_ == ticket; });
  return reply_;
}

void CommandQueue::post(ThreadCommand command) {
  std::lock_guard lock(mutex_);
  pending_.push_back({command, 0});
}

bool CommandQueue::check(ThreadCommand* command) {
  std::lock_guard lock(mutex_);
  if (pending_.empty()) return false;
  *command = pending_.front().command;
  taken_ = pending_.front().ticket;
  pending_.pop_front();
  return true;
}

void CommandQueue::reply(HResult result) {
  {
    std::lock_guard lock(mutex_);
    if (taken_ == 0) return;
    reply_ = result;
    answered_ = taken_;
  }
  cv_.notify_all();
}

CapturePin::CapturePin(FrameLink& link, SampleSink& sink)
    : sleep([](uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }),
      nowMs([] { return platform::systemClock().nowMs(); }),
      link_(link),
      sink_(sink),
      type_(buildMediaType(link.settingsWidth(), link.settingsHeight())) {}

void CapturePin::setState(FilterState state) { state_ = state; }

HResult CapturePin::getState() const {
  return state_ == FilterState::kPaused ? kVfwSCantCue : kSOk;
}

namespace {

// The picture size a video type names, when the output can make it (1 to 4096 each way).
std::optional<std::pair<uint32_t, uint32_t>> outputSizeOf(const VideoInfoHeader& info) {
  const int32_t w = info.bmiHeader.biWidth, h = info.bmiHeader.biHeight;
  if (w < 1 || w > 4096 || h < 1 || h > 4096) return std::nullopt;
  return std::pair{static_cast<uint32_t>(w), static_cast<uint32_t>(h)};
}

}  // namespace

MediaType CapturePin::currentType() const {
  std::lock_guard lock(lock_);
  return type_;
}

HResult CapturePin::setMediaType(const MediaType& type) {
  const HResult hr = checkMediaType(type);
  if (failed(hr)) return hr;
  MediaType stored = type;
  auto info = readVideoInfo(stored);
  if (const auto size = outputSizeOf(*info)) {
    const uint32_t image = pictureSize(size->first, size->second);
    info->bmiHeader.biSizeImage = image;
    stored.sampleSize = image;
    writeVideoInfo(*info, &stored);
    link_.setOutputSize(size->first, size->second);
  }
  type_ = std::move(stored);
  return kSOk;
}

HResult CapturePin::setFormat(const MediaType& type) {
  std::lock_guard lock(lock_);
  if (type == type_) return kSOk;
  if (state_ != FilterState::kStopped) return kVfwENotStopped;
  HResult hr = checkMediaType(type);
  if (failed(hr)) return hr;
  if (sink_.connected() && !sink_.peerAccepts(type)) return kVfwEInvalidMediaType;
  hr = setMediaType(type);
  if (failed(hr)) return hr;
  if (sink_.connected()) sink_.reconnect();
  return kSOk;
}

HResult CapturePin::getFormat(MediaType* type) const {
  if (type == nullptr) return kEPointer;
  std::lock_guard lock(lock_);
  *type = type_;
  return kSOk;
}

HResult CapturePin::getNumberOfCapabilities(int32_t* count, int32_t* size) const {
  if (count == nullptr || size == nullptr) return kEPointer;
  *count = 1;
  *size = sizeof(VideoStreamConfigCaps);
  return kSOk;
}

HResult CapturePin::getStreamCaps(int32_t index, MediaType* type,
                                  VideoStreamConfigCaps* caps) const {
  if (index < 0) return kEInvalidArg;
  if (index > 0) return kSFalse;
  if (type == nullptr || caps == nullptr) return kEPointer;
  const uint32_t w = link_.settingsWidth(), h = link_.settingsHeight();
  *type = buildMediaType(w, h);
  *caps = buildStreamCaps(w, h);
  return kSOk;
}

HResult CapturePin::getProperty(const Guid& set, uint32_t id, void* data, uint32_t dataSize,
                                uint32_t* returned) const {
  if (set != kPropSetIdPin) return kEPropSetUnsupported;
  if (id != kPropertyPinCategory) return kEPropIdUnsupported;
  if (returned != nullptr) *returned = sizeof(Guid);
  if (data == nullptr) return kSOk;
  if (dataSize < sizeof(Guid)) return kEUnexpected;
  std::memcpy(data, &kPinCategoryCapture, sizeof(Guid));
  return kSOk;
}

HResult CapturePin::querySupported(const Guid& set, uint32_t id, uint32_t* support) const {
  if (set != kPropSetIdPin) return kEPropSetUnsupported;
  if (id != kPropertyPinCategory) return kEPropIdUnsupported;
  if (support != nullptr) *support = kPropertySupportGet;
  return kSOk;
}

HResult CapturePin::getNumDropped(int32_t* count) const {
  if (count == nullptr) return kEPointer;
  *count = 0;
  return kSOk;
}

HResult CapturePin::getNumNotDropped(int32_t* count) const {
  if (count == nullptr) return kEPointer;
  *count = static_cast<int32_t>(frameCounter_.load());
  return kSOk;
}

HResult CapturePin::getAverageFrameSize(int32_t* size) const {
  if (size == nullptr) return kEPointer;
  *size = static_cast<int32_t>(pictureSize(link_.outputWidth(), link_.outputHeight()));
  return kSOk;
}

void CapturePin::threadStart() {
  std::lock_guard lock(lock_);
  // One engine serves every pin of the process, and another pin may have left it at
  // another size: the stream starts at this pin's.
  if (const auto info = readVideoInfo(type_)) {
    if (const auto size = outputSizeOf(*info)) link_.setOutputSize(size->first, size->second);
  }
  link_.open();
  frameCounter_ = 0;
  signalLost_ = false;
  sink_.streamingStarted();
}

void CapturePin::threadEnd() {
  {
    std::lock_guard lock(lock_);
    sink_.streamingEnded();
  }
  link_.close();
}

HResult CapturePin::fill(Sample& sample) {
  std::lock_guard lock(lock_);
  const uint32_t W = link_.outputWidth(), H = link_.outputHeight();
  const size_t image = pictureSize(W, H);
  if (sample.size >= image) {
    if (frameCounter_ > 0 && sample.takeStraight != nullptr && !signalLost_) {
      const FrameLink::Rendered r =
          link_.renderNewestStraight(sample.data, sample.size, *sample.takeStraight);
      sample.content = r.straight ? Sample::Content::kStraight
                       : r.ok     ? Sample::Content::kPicture
                                  : Sample::Content::kNothing;
    } else if (frameCounter_ > 0) {
      link_.renderNewest(sample.data, sample.size);  // on failure the previous picture stays
      if (signalLost_) decoder::drawNoSignal(sample.data, sample.size, W, H);
    } else {
      decoder::drawColourBars(sample.data, sample.size, W, H);
    }
  }
  const auto info = readVideoInfo(type_);
  sample.start = sink_.streamTime();
  sample.end = sample.start + (info ? info->AvgTimePerFrame : kFrameInterval);
  sample.syncPoint = true;
  return kSOk;
}

HResult CapturePin::loop(CommandQueue& commands) {
  bool pictureDue = false;  // a picture waits for a sample: do not wait for a frame again
  for (;;) {
    ThreadCommand command;
    if (commands.check(&command)) {
      if (command == ThreadCommand::kStop) {
        commands.reply(kSOk);
        return kSOk;
      }
      commands.reply(command == ThreadCommand::kOther ? kEUnexpected : kSOk);
      continue;
    }
    if (state_ != FilterState::kRunning) {
      sleep(10);
      continue;
    }
    if (!pictureDue) {
      const FrameLink::Source source = link_.source();
      if (source == FrameLink::Source::kNone) {
        // Nothing to wait on (the engine could not open): do not spin.
        sleep(10);
        continue;
      }
      const FrameLink::Wait result = link_.waitFrame(40);
      if (result == FrameLink::Wait::kFrame) {
        if (source == FrameLink::Source::kFrameServer && link_.latestLength() < 1) continue;
        ++frameCounter_;
        lastFrameMs_ = nowMs();
        signalLost_ = false;
      } else if (result == FrameLink::Wait::kTimeout) {
        if (frameCounter_ != 0) {
          // A silent phone: nothing, or after a while the no-signal picture.
          const uint32_t after = noSignalAfterMs_;
          if (after == 0 || platform::elapsedMs(lastFrameMs_, nowMs()) < after) continue;
          signalLost_ = true;
        }
      } else {
        continue;
      }
    }
    Sample sample;
    if (!sink_.getEmptySample(&sample)) {
      pictureDue = true;
      sleep(1);
      continue;
    }
    pictureDue = false;
    const HResult hr = fill(sample);
    if (hr == kSOk && sample.content == Sample::Content::kNothing) {
      sink_.release(sample);  // the program keeps the picture it has
      continue;
    }
    if (hr != kSOk) {
      sink_.release(sample);
      sink_.endOfStream();
      if (failed(hr)) {
        sink_.errorAbort(hr);
        return hr;
      }
      continue;
    }
    const HResult delivered = sink_.deliver(sample);
    if (delivered != kSOk) return delivered;
  }
}

HResult CapturePin::run(CommandQueue& commands) {
  threadStart();
  const HResult hr = loop(commands);
  threadEnd();
  return hr;
}

}  // namespace output
