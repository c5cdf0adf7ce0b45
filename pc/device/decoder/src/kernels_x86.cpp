#include "kernels.h"

namespace decoder {

const RenderKernels* Ssse3Kernels();

const RenderKernels* SimdKernels() {
  return __builtin_cpu_supports("ssse3") ? Ssse3Kernels() : nullptr;
}

}  // namespace decoder
