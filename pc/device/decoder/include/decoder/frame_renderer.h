#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "decoder/render_geometry.h"

namespace decoder {

// Supplies the rows of the picture to render, top to bottom.
class RowSource {
 public:
  virtual ~RowSource() = default;
  // Fills rgb with the next row: width x 3 bytes, red, green, blue. False stops the render.
  virtual bool readRow(uint8_t* rgb) = 0;
};

// Turns, mirrors, fits and resamples a picture that arrives one row at a time into a
// bottom-up 24-bit BGR output picture. Integer arithmetic only; the whole input picture is
// never held. All buffers are made by the constructor, none per picture.
//
// Resampling is separable with exact intermediate sums: every output channel is the top
// byte of the sum of (wx x wy x value) over the input samples that feed it, the weights
// coming from buildReducingWeights / buildEnlargingWeights for each axis.
//
// Threading: one thread at a time.
class FrameRenderer {
 public:
  FrameRenderer();
  ~FrameRenderer();
  FrameRenderer(const FrameRenderer&) = delete;
  FrameRenderer& operator=(const FrameRenderer&) = delete;

  // Plans the render of a w x h picture into dst (W x H, dstSize bytes), turned by
  // rotation x 90 degrees counter-clockwise and, with mirror, flipped left to right.
  // Fails, touching nothing, when a side exceeds the limits (kMaxResampleSide on the input
  // and on the fitted output area), a size is 0, rotation is above 3, or dst is smaller
  // than imageSize(W, H).
  bool prepare(uint32_t w, uint32_t h, uint8_t* dst, size_t dstSize, uint32_t W, uint32_t H,
               uint32_t rotation, bool mirror);

  // Runs the planned render: clears a letterboxed output to black, then reads all h rows
  // from source. False when the source fails (rows written so far stay written).
  bool run(RowSource& source);

  const FitGeometry& geometry() const { return fit_; }

 private:
  struct Buffers;

  // How one axis is resampled. All four give exactly the sums of the weight tables; the
  // last two are shortcuts for whole-number ratios, where every weight of the table is
  // the same (k input samples per output sample, or k copies of each input sample).
  enum class Axis { kReduce, kEnlarge, kGroup, kRepeat };

  template <typename Sample>
  void horizontalPass(const Sample* in, uint32_t* out) const;
  void writeRow(uint32_t line, const uint8_t* rgb) const;
  void writeValues(uint32_t line, const uint32_t* values) const;
  bool runIdentity(RowSource& source);
  bool runTurnedBlocks(RowSource& source);
  static constexpr uint32_t kTurnBlock = 16;  // JPEG rows written together at quarter turns
  bool runRepeating(RowSource& source);
  bool runGroupedRows(RowSource& source);
  bool runReducingRows(RowSource& source);
  bool runEnlargingRows(RowSource& source);
  bool runTaps(RowSource& source);

  std::unique_ptr<Buffers> buf_;
  FitGeometry fit_;
  bool prepared_ = false;
  uint32_t inWidth_ = 0;
  uint32_t inHeight_ = 0;
  Axis axisX_ = Axis::kReduce;
  Axis axisY_ = Axis::kReduce;
  uint32_t ratioX_ = 1;  // k of kGroup / kRepeat
  uint32_t ratioY_ = 1;
  // Input samples per output sample in the tap tables of each axis (runTaps); 0 when an
  // axis needs more than the kernels take.
  uint32_t tapsX_ = 0;
  uint32_t tapsY_ = 0;
  uint8_t* dst_ = nullptr;
  size_t dstBytes_ = 0;
  // Byte position of the JPEG-orientation pixel (j, k): base_ + k * lineStep_ + j * pixelStep_.
  ptrdiff_t base_ = 0;
  ptrdiff_t pixelStep_ = 0;
  ptrdiff_t lineStep_ = 0;
};

}  // namespace decoder
