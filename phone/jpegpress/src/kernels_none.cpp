#include "kernels.h"

namespace jpegpress {

// Processors without SIMD kernels use the portable ones.
const KernelTable* simdKernels() { return nullptr; }
std::vector<const KernelTable*> supportedSimdKernels() { return {}; }

}  // namespace jpegpress
