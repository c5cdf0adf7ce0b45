#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "output/camera_controls.h"
#include "output/com_types.h"
#include "output/pixel_convert.h"

struct pw_thread_loop;
struct pw_stream;
struct pw_buffer;
struct spa_pod;

namespace output {

// The camera as a PipeWire node: a Video/Source stream that drives its own timing and
// sends one buffer per picture the capture pin delivers. It offers every picture format
// of PixelFormat at any size from 80 x 60 up to the stream caps' size (the settings'
// "Width" x "Height"), that size first; a consumer asking for anything else fails its
// negotiation. The size a consumer settles on is handed to the pin (takeNegotiatedSize),
// which renders at it.
class PipeWireCamera {
 public:
  struct Options {
    std::string nodeName = "Vistrel";
    std::string description = "Vistrel";
    uint32_t maxWidth = 320;  // the stream caps
    uint32_t maxHeight = 240;
  };
  struct Stats {
    uint64_t sent = 0;          // pictures handed to consumers
    uint64_t noBuffer = 0;      // no free buffer: the consumer is behind, picture dropped
    uint64_t otherSize = 0;     // picture of another size than negotiated (a change under way)
  };

  PipeWireCamera();
  ~PipeWireCamera();
  PipeWireCamera(const PipeWireCamera&) = delete;
  PipeWireCamera& operator=(const PipeWireCamera&) = delete;

  bool start(const Options& options, std::string* error);
  void stop();

  // A consumer is connected and streaming.
  bool streaming() const { return streaming_; }
  // The stream failed (the daemon went away): stop() and start() again.
  bool failed() const { return failed_; }
  // The size and format negotiated since the last call, if any.
  std::optional<std::pair<uint32_t, uint32_t>> takeNegotiatedSize();
  std::optional<PixelFormat> format() const;

  // Converts a rendered picture (bottom-up BGR) into a free buffer and sends it. False
  // when nobody streams, no buffer is free or the size is not the negotiated one.
  bool publish(const uint8_t* bottomUpBgr, uint32_t width, uint32_t height, ReferenceTime time);

  // The take-render-return step for a picture that needs no conversion: a free buffer in
  // the negotiated layout, when that layout is one the decoder writes (straightOrder) and
  // width x height the negotiated size; none otherwise. The loop stays locked from here to
  // sendTaken (a renegotiation on the loop's thread frees the buffers), so the picture is
  // written at once, on this thread, and sendTaken follows in every case.
  std::optional<decoder::StraightTarget> takeBuffer(uint32_t width, uint32_t height);
  // Sends the taken buffer, holding a whole picture when `written`, else empty; unlocks.
  void sendTaken(ReferenceTime time, bool written);

  Stats stats() const;

  // The node's controls: one PropInfo param each (a "params" property named after the
  // control: an enum of its indices with their texts as labels, or a range of indices;
  // the current one as default) and the Props param with every control's current index.
  // Any thread; kept across a restart.
  void setControls(std::vector<CameraControl> controls);
  // The (key, index) pairs programs chose through Props since the last call, in order:
  // each names a control and one of its indices.
  std::vector<std::pair<uint32_t, uint32_t>> takeChosenValues();

 private:
  static void onStateChanged(void* data, int old, int state, const char* error);
  static void onParamChanged(void* data, uint32_t id, const spa_pod* param);
  void paramChanged(uint32_t id, const spa_pod* param);
  // With the loop locked.
  void publishControls();
  void propsChanged(const spa_pod* param);
  // Stamps the buffer (a whole picture when `written`, else empty), queues it and wakes the
  // graph.
  void queueBuffer(pw_buffer* buffer, ReferenceTime time, bool written);

  Options options_;
  pw_thread_loop* loop_ = nullptr;
  pw_stream* stream_ = nullptr;
  std::atomic<bool> streaming_{false};
  std::atomic<bool> failed_{false};
  // Guarded by the loop's lock.
  bool negotiated_ = false;
  uint32_t width_ = 0, height_ = 0;
  PixelFormat format_ = PixelFormat::kBgr;
  PictureLayout layout_;
  pw_buffer* taken_ = nullptr;  // between takeBuffer and sendTaken
  uint64_t sequence_ = 0;
  Stats stats_;
  mutable std::mutex pendingMutex_;
  std::optional<std::pair<uint32_t, uint32_t>> pending_;
  std::vector<CameraControl> controls_;  // guarded by the loop's lock while it runs
  bool infoShown_ = false;               // PropInfo params were published (loop's lock)
  std::vector<std::pair<uint32_t, uint32_t>> chosen_;  // guarded by pendingMutex_
};

}  // namespace output
