#include "sink_graph.h"

#include <chrono>
#include <cstdlib>
#include <vector>

namespace framesink {
namespace {

// How long the capture thread waits for one picture before it looks at its orders again.
constexpr uint32_t kFrameWaitMs = 100;

bool sameFormat(const FormatEntry& a, const FormatEntry& b) {
  return a.width == b.width && a.height == b.height && a.format == b.format;
}

}  // namespace

SinkGraph::SinkGraph(std::unique_ptr<CameraDevice> camera, uint32_t requested)
    : camera_(std::move(camera)), connected_(camera_ ? camera_->categories() & requested & 7u : 0) {
  if (!camera_) return;
  // Defaults: the first capture format, and the largest still picture.
  std::vector<FormatEntry> formats;
  if ((connected_ & kSinkCapture) && camera_->listFormats(kSinkCapture, formats) && !formats.empty())
    selected_[slotOf(kSinkCapture)] = formats.front();
  formats.clear();
  if ((connected_ & kSinkStill) && camera_->listFormats(kSinkStill, formats)) {
    for (const FormatEntry& f : formats) {
      const FormatEntry& best = selected_[slotOf(kSinkStill)];
      if (int64_t{f.width} * f.height > int64_t{best.width} * best.height) selected_[slotOf(kSinkStill)] = f;
    }
  }
}

SinkGraph::~SinkGraph() {
  std::unique_lock<std::mutex> api(api_);
  stopThreadLocked(api);
}

int SinkGraph::slotOf(uint32_t category) {
  switch (category) {
    case kSinkPreview: return 0;
    case kSinkCapture: return 1;
    case kSinkStill: return 2;
    default: return -1;
  }
}

bool SinkGraph::connectedCategory(uint32_t category) const {
  return slotOf(category) >= 0 && (connected_ & category) != 0;
}

uint32_t SinkGraph::state() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

bool SinkGraph::cameraFailed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failed_;
}

void SinkGraph::stopThreadLocked(std::unique_lock<std::mutex>&) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = false;
}

bool SinkGraph::setState(uint32_t state) {
  std::unique_lock<std::mutex> api(api_);
  if (!camera_ || state > kSinkRunning) return camera_ != nullptr;
  if (state == kSinkStopped) {
    stopThreadLocked(api);
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = kSinkStopped;
    stillPending_ = false;
    return true;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // A camera that failed stays failed until the graph is opened again.
    if (failed_) return true;
    if (thread_.joinable()) {
      state_ = state;
      wake_.notify_all();
      return true;
    }
  }
  uint32_t before;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    before = state_;
    state_ = state;  // before the thread's first picture
  }
  try {
    thread_ = std::thread([this] { captureLoop(); });
  } catch (...) {
    // The state stays as it was; the result only says that the graph exists.
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = before;
  }
  return true;
}

bool SinkGraph::setCallback(const SampleCallback* callback, uint32_t category) {
  std::lock_guard<std::mutex> api(api_);
  if (!connectedCategory(category)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  callbacks_[slotOf(category)] = callback ? *callback : SampleCallback{};
  wake_.notify_all();
  return true;
}

bool SinkGraph::getFormats(FormatEntry* table, uint32_t* count, uint32_t category) {
  std::lock_guard<std::mutex> api(api_);
  if (count == nullptr || !connectedCategory(category)) return false;
  if (table == nullptr && *count != 0) return false;
  std::vector<FormatEntry> formats;
  if (!camera_->listFormats(category, formats)) return false;
  uint32_t found = 0;
  for (const FormatEntry& f : formats) {
    if (found == *count || found == kMaxFormats) break;
    table[found++] = f;
  }
  *count = found;
  return true;
}

bool SinkGraph::setFormat(const FormatEntry* entry, uint32_t category) {
  std::lock_guard<std::mutex> api(api_);
  if (entry == nullptr || !connectedCategory(category)) return false;
  std::vector<FormatEntry> formats;
  if (!camera_->listFormats(category, formats)) return false;
  const FormatEntry wanted{std::abs(entry->width), std::abs(entry->height), entry->format};
  for (const FormatEntry& f : formats) {
    if (sameFormat(f, wanted)) {
      std::lock_guard<std::mutex> lock(mutex_);
      selected_[slotOf(category)] = f;  // the capture thread restarts its stream when needed
      wake_.notify_all();
      return true;
    }
  }
  return false;
}

bool SinkGraph::triggerStill(const SampleCallback* callback) {
  std::unique_lock<std::mutex> api(api_);
  if (!connectedCategory(kSinkStill)) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    callbacks_[slotOf(kSinkStill)] = callback ? *callback : SampleCallback{};
    if (selected_[slotOf(kSinkStill)].width == 0 || failed_) return false;
    stillPending_ = true;
  }
  wake_.notify_all();
  if (state() != kSinkRunning) {
    api.unlock();
    setState(kSinkRunning);
    return state() == kSinkRunning;
  }
  return true;
}

bool SinkGraph::getRanges(RangeEntry* table, uint32_t count, int32_t which) {
  std::lock_guard<std::mutex> api(api_);
  if (!camera_ || (table == nullptr && count != 0)) return false;
  bool ok = true;
  for (uint32_t i = 0; i < count; ++i) {
    camera_->getRange(which, table[i]);
    ok = ok && table[i].result == kSinkOk;
  }
  return ok;
}

bool SinkGraph::getSetValues(ValueEntry* table, uint32_t count, int32_t which, uint32_t set) {
  std::lock_guard<std::mutex> api(api_);
  if (!camera_ || (table == nullptr && count != 0)) return false;
  bool ok = true;
  for (uint32_t i = 0; i < count; ++i) {
    if (set != 0)
      camera_->setValue(which, table[i]);
    else
      camera_->getValue(which, table[i]);
    ok = ok && table[i].result == kSinkOk;
  }
  return ok;
}

void SinkGraph::captureLoop() {
  const int captureSlot = slotOf(kSinkCapture);
  const int stillSlot = slotOf(kSinkStill);
  int streamingSlot = -1;
  FormatEntry streaming{};
  bool failed = false;

  for (;;) {
    int wantSlot = -1;
    FormatEntry want{};
    {
      std::unique_lock<std::mutex> lock(mutex_);
      for (;;) {
        if (stopping_) break;
        // A pending still takes the stream; otherwise the capture stream runs while it
        // has a callback, and whatever streams already keeps streaming.
        if (stillPending_)
          wantSlot = stillSlot;
        else if ((connected_ & kSinkCapture) && (callbacks_[captureSlot].function || streamingSlot < 0))
          wantSlot = captureSlot;
        else
          wantSlot = streamingSlot;
        if (wantSlot >= 0 && selected_[wantSlot].width != 0) break;
        wake_.wait_for(lock, std::chrono::milliseconds(kFrameWaitMs));
      }
      if (stopping_) break;
      want = selected_[wantSlot];
    }

    if (wantSlot != streamingSlot || !sameFormat(want, streaming)) {
      if (streamingSlot >= 0) camera_->stopStream();
      streamingSlot = -1;
      if (!camera_->startStream(want)) {
        failed = true;
        break;
      }
      streamingSlot = wantSlot;
      streaming = want;
    }

    CapturedFrame frame;
    const FrameResult result = camera_->nextFrame(kFrameWaitMs, frame);
    if (result == FrameResult::kFailed) {
      failed = true;
      break;
    }
    if (result == FrameResult::kNone) continue;

    SampleCallback callback{};
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (state_ == kSinkRunning && !stopping_) {
        if (streamingSlot == stillSlot) {
          // The still goes out once, in the size it was asked for.
          if (stillPending_ && sameFormat(selected_[stillSlot], streaming)) {
            callback = callbacks_[stillSlot];
            stillPending_ = false;
          }
        } else {
          callback = callbacks_[streamingSlot];
        }
      }
    }
    if (callback.function) callback.function(frame.data, frame.sizeBytes, callback.user);
    camera_->releaseFrame(frame);
  }

  if (streamingSlot >= 0) camera_->stopStream();
  std::lock_guard<std::mutex> lock(mutex_);
  if (failed) failed_ = true;
}

}  // namespace framesink
