#include "kernels.h"

namespace jpegpress {

// Processors without SIMD kernels use the portable ones.
const KernelTable* simdKernels() { return nullptr; }

}  // namespace jpegpress
