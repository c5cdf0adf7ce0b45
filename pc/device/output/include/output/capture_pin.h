#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "decoder/render_geometry.h"
#include "output/com_types.h"
#include "output/media_type.h"

namespace output {

// Gives a destination in an output's own layout for a width x height picture (its buffer,
// top-down rows), or null when there is none (no free buffer, another size or layout).
using TakeStraight = std::function<const decoder::StraightTarget*(uint32_t width, uint32_t height)>;

// The engine as the capture source sees it: where frames come from, how to wait for one
// and how to turn the newest into a picture. The real one (EngineLink) sits on the
// process's CameraEngine; tests give a scripted one.
class FrameLink {
 public:
  enum class Source { kNone, kFrameServer, kSharedBlock };
  enum class Wait { kFrame, kTimeout, kOther };

  virtual ~FrameLink() = default;
  // Streaming-thread start: open the engine (client when a server runs, else stand-alone
  // and listening) and mark this process as receiving.
  virtual void open() = 0;
  // Streaming-thread end.
  virtual void close() = 0;
  virtual Source source() = 0;
  virtual Wait waitFrame(uint32_t timeoutMs) = 0;
  // Length of the newest valid JPEG (0: none).
  virtual uint32_t latestLength() = 0;
  // Fetches the newest JPEG, decodes it and renders it at the output size into dst.
  virtual bool renderNewest(uint8_t* dst, size_t size) = 0;
  // How renderNewestStraight went: `straight` when the picture went into the destination
  // `take` gave (dst untouched), `ok` when the picture is complete.
  struct Rendered {
    bool ok = false;
    bool straight = false;
  };
  // As renderNewest, except that a frame needing no fit, turn or mirror goes straight into
  // the destination `take` gives, when it gives one. `take` is asked at most once, only
  // for such a frame, and what it gives is then written. This one never asks.
  virtual Rendered renderNewestStraight(uint8_t* dst, size_t size, const TakeStraight& take) {
    (void)take;
    return {renderNewest(dst, size), false};
  }
  virtual uint32_t outputWidth() = 0;
  virtual uint32_t outputHeight() = 0;
  virtual void setOutputSize(uint32_t width, uint32_t height) = 0;
  // The settings' "Width" and "Height".
  virtual uint32_t settingsWidth() = 0;
  virtual uint32_t settingsHeight() = 0;
};

// A picture buffer on its way downstream.
struct Sample {
  uint8_t* data = nullptr;
  size_t size = 0;
  ReferenceTime start = 0;
  ReferenceTime end = 0;
  bool syncPoint = false;
  void* cookie = nullptr;  // the sink's own handle
  // Set by a sink whose output can take a phone picture straight into its own buffer in
  // its own layout (see FrameLink::renderNewestStraight); a buffer it gives is held until
  // the sample is delivered or released.
  const TakeStraight* takeStraight = nullptr;
  // What fill left: the picture in data; the picture already in the output's buffer; or
  // nothing new (a frame that failed while pictures may go straight: data may hold an
  // older picture than the program has, so nothing is sent and the program keeps its own).
  enum class Content { kPicture, kStraight, kNothing };
  Content content = Content::kPicture;
};

// Where pictures go: the allocator, the downstream pin and the graph's clock. On Windows
// the source-stream base class provides all of it; on Linux the camera outputs do.
class SampleSink {
 public:
  virtual ~SampleSink() = default;
  virtual bool getEmptySample(Sample* sample) = 0;
  // Delivers and releases. Anything but S_OK ends the streaming loop.
  virtual HResult deliver(Sample& sample) = 0;
  virtual void release(Sample& sample) = 0;
  virtual void endOfStream() = 0;
  // EC_ERRORABORT with the code.
  virtual void errorAbort(HResult code) = 0;
  virtual ReferenceTime streamTime() = 0;
  // The connected input pin, if any.
  virtual bool connected() { return false; }
  virtual bool peerAccepts(const MediaType&) { return true; }
  virtual void reconnect() {}
  // The streaming thread's start (after the engine is open) and end (before listening
  // stops), under the pin's lock. The Windows filter hooks the video renderer's window
  // there and gives it back; outputs without such a window do nothing.
  virtual void streamingStarted() {}
  virtual void streamingEnded() {}
};

enum class FilterState { kStopped, kPaused, kRunning };
enum class ThreadCommand { kRun, kPause, kStop, kOther };

// The streaming thread's mailbox: the filter posts a command and waits for the thread's
// answer.
class CommandQueue {
 public:
  // Posts and waits for the reply.
  HResult call(ThreadCommand command);
  // Posts without waiting (the reply is dropped).
  void post(ThreadCommand command);
  // The thread's side: takes a pending command, if any.
  bool check(ThreadCommand* command);
  void reply(HResult result);

 private:
  struct Entry {
    ThreadCommand command;
    uint64_t ticket;  // 0: nobody waits for the reply
  };
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Entry> pending_;
  uint64_t nextTicket_ = 1;
  uint64_t taken_ = 0;     // ticket of the command the thread took last
  uint64_t answered_ = 0;  // ticket of the last reply
  HResult reply_ = kSOk;
};

// The logic of the camera's one output pin, "Capture", and the filter answers that depend
// on it. Thread-safe: the pin's lock guards the media type, the fill step and the
// streaming-thread start.
class CapturePin {
 public:
  CapturePin(FrameLink& link, SampleSink& sink);

  // Filter state, as the graph sets it.
  void setState(FilterState state);
  FilterState state() const { return state_; }
  HResult getState() const;  // VFW_S_CANT_CUE while paused

  // The media type.
  MediaType currentType() const;
  HResult checkMediaType(const MediaType& type) const { return output::checkMediaType(type); }
  HResult setMediaType(const MediaType& type);

  // IAMStreamConfig.
  HResult setFormat(const MediaType& type);
  HResult getFormat(MediaType* type) const;
  HResult getNumberOfCapabilities(int32_t* count, int32_t* size) const;
  HResult getStreamCaps(int32_t index, MediaType* type, VideoStreamConfigCaps* caps) const;

  // IKsPropertySet.
  HResult setProperty() const { return kENotImpl; }
  HResult getProperty(const Guid& set, uint32_t id, void* data, uint32_t dataSize,
                      uint32_t* returned) const;
  HResult querySupported(const Guid& set, uint32_t id, uint32_t* support) const;

  // IAMDroppedFrames.
  HResult getNumDropped(int32_t* count) const;
  HResult getNumNotDropped(int32_t* count) const;
  HResult getDroppedInfo() const { return kSOk; }
  HResult getAverageFrameSize(int32_t* size) const;

  // IQualityControl.
  HResult notify() const { return kSOk; }

  // The streaming thread: start, loop, end. run() does all three.
  void threadStart();
  HResult loop(CommandQueue& commands);
  void threadEnd();
  HResult run(CommandQueue& commands);

  // Fills a sample: the newest phone picture once a frame was seen, colour bars before.
  HResult fill(Sample& sample);

  uint32_t frameCounter() const { return frameCounter_; }

  // The loop's pauses (10 ms while not running, 1 ms without a sample); tests replace it.
  std::function<void(uint32_t)> sleep;
  // Milliseconds of a monotonic clock, wrapping at 32 bits; tests replace it.
  std::function<uint32_t()> nowMs;

  // When the phone has sent nothing for this long after its first frame, each frame wait
  // that times out delivers the last picture marked as having no signal (dimmed, "NO
  // SIGNAL"), so programs reading the camera see a live source at a steady rate until
  // the phone is back. 0 delivers nothing in that time (downstream keeps the last picture).
  static constexpr uint32_t kNoSignalAfterMs = 2000;
  void setNoSignalAfterMs(uint32_t ms) { noSignalAfterMs_ = ms; }
  // True while pictures are marked as having no signal.
  bool signalLost() const { return signalLost_; }

 private:
  FrameLink& link_;
  SampleSink& sink_;
  mutable std::mutex lock_;
  MediaType type_;
  std::atomic<FilterState> state_{FilterState::kStopped};
  std::atomic<uint32_t> frameCounter_{0};
  std::atomic<uint32_t> noSignalAfterMs_{kNoSignalAfterMs};
  uint32_t lastFrameMs_ = 0;  // streaming thread only
  std::atomic<bool> signalLost_{false};
};

}  // namespace output
