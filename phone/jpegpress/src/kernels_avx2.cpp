// AVX2 kernels. Routines without an AVX2 version come from the SSE2 table.

#include <immintrin.h>

#include "kernels_x86.h"

namespace jpegpress {
namespace {

KernelTable makeAvx2() {
  KernelTable t = sse2Kernels();
  t.name = "avx2";
  return t;
}

}  // namespace

const KernelTable& avx2Kernels() {
  static const KernelTable table = makeAvx2();
  return table;
}

}  // namespace jpegpress
