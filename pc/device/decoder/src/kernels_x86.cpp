#include "kernels.h"

namespace decoder {

// Each replaces the kernels of the table that it has faster versions of.
void useSsse3Kernels(RenderKernels& kernels);
void useSse41Kernels(RenderKernels& kernels);

const RenderKernels* simdKernels() {
  __builtin_cpu_init();  // also safe when first called from a static initializer
  if (!__builtin_cpu_supports("ssse3")) return nullptr;
  static const RenderKernels kernels = [] {
    RenderKernels k = portableKernels();
    useSsse3Kernels(k);
    if (__builtin_cpu_supports("sse4.1")) useSse41Kernels(k);
    return k;
  }();
  return &kernels;
}

}  // namespace decoder
