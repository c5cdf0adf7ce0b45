#include "kernels.h"
#include "kernels_x86.h"

namespace jpegpress {

const KernelTable* simdKernels() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return &avx2Kernels();
  return &sse2Kernels();
}

}  // namespace jpegpress
