#pragma once

#include <cstdint>

// Per-pixel kernels with a portable version and, where the processor has them, faster
// ones. Chosen once, at first use; VISTREL_DECODER_PORTABLE=1 forces the portable ones.
namespace decoder {

struct RenderKernels {
  // Writes n RGB pixels from src as BGR to dst, both n x 3 bytes, ascending. dst may be
  // src itself (the row is turned around in place); otherwise they must not overlap.
  void (*rgbToBgr)(uint8_t* dst, const uint8_t* src, uint32_t n);
  // Halves a pair of rows along x: for n output pixels, dst[3j + c] = (s[6j + c] +
  // s[6j + 3 + c]) >> 2, where s holds the two rows' byte sums (each at most 510). The
  // exact result of 2 x 2 groups with the weight 2048 on both axes. s must be readable for
  // kHalveReadPad values beyond its 6n.
  void (*halvePairs)(uint8_t* dst, const uint16_t* s, uint32_t n);
};

inline constexpr uint32_t kHalveReadPad = 16;

const RenderKernels& PortableKernels();
// The processor's kernels, or nullptr when there are none for it.
const RenderKernels* SimdKernels();
const RenderKernels& ActiveKernels();

}  // namespace decoder
