#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// The pure arithmetic of rendering a phone picture into a requested output picture:
// fitting, resampling weights, colour bars and mapping a click back to the phone picture.
// No state except the process-wide colour-bar phase; every function may be called from
// any thread.

namespace decoder {

// The resampler's tables and buffers hold this many pixels per row and this many rows,
// on the input and on the output side.
inline constexpr uint32_t kMaxResampleSide = 3072;
// Longest JPEG row the decoder reads.
inline constexpr uint32_t kMaxJpegRowPixels = 4096;
// Weight of a whole sample in the weight tables (12 fractional bits).
inline constexpr int32_t kWeightOne = 4096;

// Output pictures are bottom-up, 3 bytes per pixel (blue, green, red), with rows padded
// to a multiple of 4 bytes.
constexpr size_t imageStride(uint32_t width) { return (size_t{width} * 3 + 3) & ~size_t{3}; }
constexpr size_t imageSize(uint32_t width, uint32_t height) { return imageStride(width) * height; }

// Byte orders a picture can be decoded straight into (top-down rows). The 4-byte ones
// carry 255 in the fourth byte.
enum class PixelOrder { kBgr, kRgb, kBgrx, kRgbx };

// A destination in another program's layout: top-down rows of `stride` bytes from `data`
// (`size` bytes in all), pixels in `order`.
struct StraightTarget {
  uint8_t* data = nullptr;
  size_t size = 0;
  size_t stride = 0;
  PixelOrder order = PixelOrder::kBgr;
};

// Where a picture of w x h, turned by rotation x 90 degrees counter-clockwise, lands in an
// output of W x H.
struct FitGeometry {
  uint32_t rotatedWidth = 0;  // the picture's size after turning
  uint32_t rotatedHeight = 0;
  bool stretched = false;    // width-to-height ratios within 2%: fills the output
  uint32_t fittedWidth = 0;  // the area the picture fills, in output pixels
  uint32_t fittedHeight = 0;
  uint32_t offsetX = 0;  // pixels from the left of the output
  uint32_t offsetY = 0;  // rows from the top of the output
  uint32_t targetX = 0;  // the fitted area measured along the JPEG's own rows
  uint32_t targetY = 0;  // ... and along its columns
};

// rotation is taken modulo 4. w, h, W and H must not be 0.
FitGeometry computeFit(uint32_t w, uint32_t h, uint32_t rotation, uint32_t W, uint32_t H);

// One entry of a resampling weight table. w1 > 0: the sample also feeds the next one with
// that weight; w1 == -1: the run ends exactly here; after any entry whose w1 is not 0 the
// position on the other side moves one on.
struct ResampleWeight {
  int32_t w0;
  int32_t w1;
  friend bool operator==(const ResampleWeight&, const ResampleWeight&) = default;
};

// n input samples into fewer (or equally many) output samples: one entry per input
// sample, nIn entries written. Needs 0 < nOut <= nIn.
void buildReducingWeights(uint32_t nIn, uint32_t nOut, ResampleWeight* table);
// n input samples into more (or equally many) output samples: one entry per output sample,
// nOut entries written. Needs 0 < nIn <= nOut.
void buildEnlargingWeights(uint32_t nIn, uint32_t nOut, ResampleWeight* table);

// Moving colour bars for the time before the first phone picture: eight bars blending
// into one another. Fails (writing nothing) when W or H is 0 or dstSize is below
// imageSize(W, H).
bool drawColourBars(uint8_t* dst, size_t dstSize, uint32_t W, uint32_t H, uint32_t phase);
// The same with the phase shared by the whole process, which moves one pixel on with each
// call, so that successive pictures scroll.
bool drawColourBars(uint8_t* dst, size_t dstSize, uint32_t W, uint32_t H);
// Marks a bottom-up 24-bit picture (W x H, rows padded to 4 bytes) as having no signal:
// every pixel at half brightness and the words "NO SIGNAL" in white across its middle.
// False, and nothing drawn, when the buffer is smaller than imageSize(W, H).
bool drawNoSignal(uint8_t* dst, size_t dstSize, uint32_t W, uint32_t H);
// Takes the next phase for a picture W wide from the process-wide counter.
uint32_t nextColourBarPhase(uint32_t W);

// A point in the phone picture, each coordinate 0..65535 across it.
struct PhonePoint {
  uint32_t x;
  uint32_t y;
};

// Maps a click at (x, y), each 0..65536 across the shown area of W x H, back to the phone
// picture of w x h that was shown turned by rotation (0..3) and, if mirror is set,
// flipped left to right. Assumes the letterboxed fit even where the picture was stretched
// (the difference is under 2%). Nothing when the click lies on a black bar or a size is 0.
std::optional<PhonePoint> mapClick(uint32_t x, uint32_t y, uint32_t W, uint32_t H, uint32_t w,
                                   uint32_t h, uint32_t rotation, bool mirror);

}  // namespace decoder
