#include "kernels.h"

namespace decoder {

const RenderKernels* Ssse3Kernels();

const RenderKernels* SimdKernels() {
  __builtin_cpu_init();  // also safe when first called from a static initializer
  return __builtin_cpu_supports("ssse3") ? Ssse3Kernels() : nullptr;
}

}  // namespace decoder
