#pragma once

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
};

const RenderKernels& PortableKernels();
// The processor's kernels, or nullptr when there are none for it.
const RenderKernels* SimdKernels();
const RenderKernels& ActiveKernels();

}  // namespace decoder
