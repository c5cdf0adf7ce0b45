#pragma once

#include "kernels.h"

namespace jpegpress {

// SSE2 (every x86-64 processor) and AVX2 tables; routines without a wider version share
// the narrower one.
const KernelTable& sse2Kernels();
// Only for processors that also have BMI1, BMI2 and LZCNT (every AVX2 processor made).
const KernelTable& avx2Kernels();
// The MCU walk of the AVX2 table, compiled with those bit-manipulation instructions.
uint32_t encodeScanAvx2(const KernelTable& kernels, JpegEncoder& encoder, const Shape& shape,
                        const Source& source, uint8_t* out, size_t room);

}  // namespace jpegpress
