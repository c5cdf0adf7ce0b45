#pragma once

// What the sink graph needs from a camera: its format lists per category, one stream at
// a time in a chosen format, pictures handed out one by one, and its controls. The V4L2
// camera and the built-in test-pattern camera implement it.
//
// Threading: startStream, stopStream, nextFrame and releaseFrame are called by the
// graph's capture thread only. categories, listFormats and the control calls come from
// the caller's thread, also while the capture thread streams; implementations keep them
// safe alongside the stream (the format lists are fixed when the camera is opened).

#include <cstdint>
#include <vector>

#include "framesink/framesink_table.h"

namespace framesink {

// At most this many formats are taken from a camera per category.
inline constexpr uint32_t kMaxFormats = 16;

// One picture lent by the camera until releaseFrame.
struct CapturedFrame {
  uint8_t* data = nullptr;
  uint32_t sizeBytes = 0;
  uint32_t slot = 0;  // the camera's own buffer index
};

enum class FrameResult { kFrame, kNone, kFailed };

class CameraDevice {
 public:
  virtual ~CameraDevice() = default;
  // The categories the camera offers (kSinkCapture | kSinkStill; kSinkPreview only with a
  // second stream).
  virtual uint32_t categories() const = 0;
  // The formats of `category`, in the camera's order, at most kMaxFormats.
  virtual bool listFormats(uint32_t category, std::vector<FormatEntry>& out) = 0;
  // Starts streaming pictures of `format` (one of the listed entries).
  virtual bool startStream(const FormatEntry& format) = 0;
  virtual void stopStream() = 0;
  // Waits up to `timeoutMs` for the next picture. kFailed: the camera is gone or broken.
  virtual FrameResult nextFrame(uint32_t timeoutMs, CapturedFrame& frame) = 0;
  virtual void releaseFrame(const CapturedFrame& frame) = 0;
  // One control each; `which` 0 = camera controls, else picture controls. The result
  // codes go into the entries.
  virtual void getRange(int32_t which, RangeEntry& entry) = 0;
  virtual void getValue(int32_t which, ValueEntry& entry) = 0;
  virtual void setValue(int32_t which, ValueEntry& entry) = 0;
};

}  // namespace framesink
