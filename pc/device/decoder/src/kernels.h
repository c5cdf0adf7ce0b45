#pragma once

#include <cstdint>

// Per-pixel kernels with a portable version and, where the processor has them, faster
// ones. Chosen once, at first use; VISTREL_DECODER_PORTABLE=1 forces the portable ones.
namespace decoder {

struct RenderKernels {
  // Writes n RGB pixels from src as BGR to dst, both n x 3 bytes, ascending. dst may be
  // src itself (the row is turned around in place); otherwise they must not overlap.
  void (*rgbToBgr)(uint8_t* dst, const uint8_t* src, uint32_t n);
};

const RenderKernels& PortableKernels();
// The processor's kernels, or nullptr when there are none for it.
const RenderKernels* SimdKernels();
const RenderKernels& ActiveKernels();

}  // namespace decoder
