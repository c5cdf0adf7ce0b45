#include "camera_outputs.h"

#include <cstdio>

#include "pipewire_camera.h"

namespace output {

CameraOutputs::CameraOutputs(FrameLink& link, PipeWireCamera* pipewire, V4l2Output* v4l2)
    : link_(link),
      pipewire_(pipewire),
      v4l2_(v4l2),
      takeStraight_([this](uint32_t w, uint32_t h) { return takeStraight(w, h); }) {}

const decoder::StraightTarget* CameraOutputs::takeStraight(uint32_t width, uint32_t height) {
  if (pipewire_ == nullptr || taken_) return nullptr;
  taken_ = pipewire_->takeBuffer(width, height);
  return taken_ ? &*taken_ : nullptr;
}

void CameraOutputs::release(Sample& sample) {
  if (taken_) pipewire_->sendTaken(sample.start, false);  // not written: sent empty
  taken_.reset();
}

bool CameraOutputs::getEmptySample(Sample* sample) {
  const uint32_t w = link_.outputWidth(), h = link_.outputHeight();
  if (w != width_ || h != height_) {
    picture_.assign(pictureSize(w, h), 0);
    width_ = w;
    height_ = h;
  }
  sample->data = picture_.data();
  sample->size = picture_.size();
  sample->takeStraight = pipewire_ != nullptr && v4l2_ == nullptr ? &takeStraight_ : nullptr;
  sample->content = Sample::Content::kPicture;
  return true;
}

HResult CameraOutputs::deliver(Sample& sample) {
  const bool straight = sample.content == Sample::Content::kStraight;
  if (taken_) {
    pipewire_->sendTaken(sample.start, straight);  // a buffer not written goes empty
    taken_.reset();
  }
  if (pipewire_ != nullptr && !straight) pipewire_->publish(sample.data, width_, height_, sample.start);
  if (v4l2_ != nullptr) {
    std::string error;
    if (!v4l2_->writePicture(sample.data, width_, height_, &error)) {
      if (error != lastV4l2Error_) std::fprintf(stderr, "vistrel-camera: %s\n", error.c_str());
      lastV4l2Error_ = error;
    } else {
      lastV4l2Error_.clear();
    }
  }
  ++delivered_;
  return kSOk;
}

void CameraOutputs::errorAbort(HResult code) {
  std::fprintf(stderr, "vistrel-camera: streaming stopped, error 0x%08x\n", static_cast<unsigned>(code));
}

ReferenceTime CameraOutputs::streamTime() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                              start_)
             .count() /
         100;
}

}  // namespace output
