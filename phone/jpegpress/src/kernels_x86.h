#pragma once

#include "kernels.h"

namespace jpegpress {

// SSE2 (every x86-64 processor) and AVX2 tables; routines without a wider version share
// the narrower one.
const KernelTable& sse2Kernels();
const KernelTable& avx2Kernels();

}  // namespace jpegpress
