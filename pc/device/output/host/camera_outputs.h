#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "output/capture_pin.h"
#include "output/v4l2_output.h"

namespace output {

class PipeWireCamera;

// The Linux side of the capture pin's sample traffic: one sample buffer (bottom-up BGR at
// the output size, made again only when the size changes, so a picture that fails to
// render keeps the previous one) and the camera outputs each delivered picture goes to.
// With the PipeWire output alone, a phone picture of the output size that is neither
// turned nor mirrored goes straight into the PipeWire buffer instead, when its layout is
// one the decoder writes; colour bars, the no-signal picture and everything else go
// through the sample buffer and one conversion.
class CameraOutputs : public SampleSink {
 public:
  CameraOutputs(FrameLink& link, PipeWireCamera* pipewire, V4l2Output* v4l2);

  bool getEmptySample(Sample* sample) override;
  HResult deliver(Sample& sample) override;
  void release(Sample& sample) override;
  void endOfStream() override {}
  void errorAbort(HResult code) override;
  ReferenceTime streamTime() override;

  // Streaming restarts: the stream time counts from here.
  void restartClock() { start_ = std::chrono::steady_clock::now(); }
  uint64_t delivered() const { return delivered_; }

 private:
  FrameLink& link_;
  PipeWireCamera* pipewire_;
  V4l2Output* v4l2_;
  // With only the PipeWire output, a phone picture that needs no fit, turn or mirror is
  // decoded straight into the buffer PipeWire sends, in its layout (no conversion).
  const decoder::StraightTarget* takeStraight(uint32_t width, uint32_t height);
  TakeStraight takeStraight_;
  std::optional<decoder::StraightTarget> taken_;  // a PipeWire buffer held for the sample

  std::vector<uint8_t> picture_;
  uint32_t width_ = 0, height_ = 0;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  uint64_t delivered_ = 0;
  std::string lastV4l2Error_;
};

}  // namespace output
