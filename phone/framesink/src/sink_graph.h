#pragma once

// The camera graph of one process: a camera, the connected categories, one callback per
// category, the chosen format per category and the capture thread that hands pictures to
// the callbacks. The nine entries of the module are thin calls onto one SinkGraph.
//
// Threading: the public calls may come from any thread; they are serialised among
// themselves. Callbacks run on the capture thread without any lock held; setState(0) and
// the destructor wait for the capture thread, so a callback must not call back into the
// graph's setState or destroy it.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "camera_device.h"

namespace framesink {

class SinkGraph {
 public:
  // `requested` is the category mask asked for; connected() is what the camera offers of it.
  SinkGraph(std::unique_ptr<CameraDevice> camera, uint32_t requested);
  ~SinkGraph();
  SinkGraph(const SinkGraph&) = delete;
  SinkGraph& operator=(const SinkGraph&) = delete;

  uint32_t connected() const { return connected_; }
  bool setState(uint32_t state);
  bool setCallback(const SampleCallback* callback, uint32_t category);
  bool getFormats(FormatEntry* table, uint32_t* count, uint32_t category);
  bool setFormat(const FormatEntry* entry, uint32_t category);
  bool triggerStill(const SampleCallback* callback);
  bool getRanges(RangeEntry* table, uint32_t count, int32_t which);
  bool getSetValues(ValueEntry* table, uint32_t count, int32_t which, uint32_t set);

  // The state last set successfully (0 stopped, 1 paused, 2 running).
  uint32_t state() const;
  // True once the capture thread ended because the camera failed (it went away or broke).
  bool cameraFailed() const;

 private:
  static int slotOf(uint32_t category);  // 0, 1, 2 for categories 1, 2, 4; -1 otherwise
  bool connectedCategory(uint32_t category) const;
  void stopThreadLocked(std::unique_lock<std::mutex>& api);
  void captureLoop();

  std::unique_ptr<CameraDevice> camera_;
  const uint32_t connected_;

  std::mutex api_;  // serialises the public calls

  mutable std::mutex mutex_;  // guards everything below, shared with the capture thread
  std::condition_variable wake_;
  uint32_t state_ = kSinkStopped;
  SampleCallback callbacks_[3] = {};
  FormatEntry selected_[3] = {};
  bool stillPending_ = false;
  bool stopping_ = false;
  bool failed_ = false;
  std::thread thread_;
};

}  // namespace framesink
