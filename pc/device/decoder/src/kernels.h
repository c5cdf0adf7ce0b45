#pragma once

#include <cstddef>
#include <cstdint>

// Per-pixel kernels with a portable version and, where the processor has them, faster
// ones. Chosen once, at first use; VISTREL_DECODER_PORTABLE=1 forces the portable ones.
namespace decoder {

struct RenderKernels {
  // Writes n RGB pixels from src as BGR to dst, both n x 3 bytes, ascending. dst may be
  // src itself (the row is turned around in place); otherwise they must not overlap.
  void (*rgbToBgr)(uint8_t* dst, const uint8_t* src, uint32_t n);
  // Halves two RGB rows a and b (each 6n bytes) on both axes into n RGB pixels:
  // dst[3j + c] = (a[6j + c] + a[6j + 3 + c] + b[6j + c] + b[6j + 3 + c]) >> 2, the exact
  // result of 2 x 2 groups with the weight 2048 on both axes.
  void (*halveRows)(uint8_t* dst, const uint8_t* a, const uint8_t* b, uint32_t n);
  // Writes n RGB pixels from src as BGR, each twice side by side, to dst (6n bytes); they
  // must not overlap.
  void (*doubleToBgr)(uint8_t* dst, const uint8_t* src, uint32_t n);
  // Weighs taps (1..kMaxTaps) rows of n bytes into one row of sums:
  // out[e] = sum over t of weights[t] x rows[t][e]. Each weight is at most kWeightOne, so
  // with weights adding up to at most kWeightOne a sum fits 20 bits.
  void (*weighRows)(uint32_t* out, const uint8_t* const* rows, const uint16_t* weights,
                    uint32_t taps, size_t n);
  // Resamples a row of sums (three per pixel) along it into n pixels of bytes: channel c of
  // pixel j is (sum over t of weights[j x taps + t] x in[(starts[j] + t) x 3 + c]) >> 24,
  // sums taken modulo 2^32, stored red, green, blue or, with bgr, blue, green, red. Reads
  // one value past the last pixel it uses (the caller leaves room); writes exactly 3n bytes.
  void (*weighPixels)(uint8_t* dst, const uint32_t* in, const uint32_t* starts,
                      const uint32_t* weights, uint32_t taps, uint32_t n, bool bgr);
};

// Most taps weighRows and weighPixels take.
inline constexpr uint32_t kMaxTaps = 8;

const RenderKernels& portableKernels();
// The processor's kernels, or nullptr when there are none for it.
const RenderKernels* simdKernels();
const RenderKernels& activeKernels();

}  // namespace decoder
