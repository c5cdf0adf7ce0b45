// The MCU walk and entropy coder compiled for AVX2-class processors: the coder's bit
// counting and variable shifts become single instructions (lzcnt, tzcnt, blsr, shlx,
// shrx), and the coder reads the coefficients where the DCT left them, with the mask of
// zigzagMask (inlined here).

#include "kernels_x86.h"
#include "scan_body.h"
#include "zigzag_avx2.h"

namespace jpegpress {

uint32_t encodeScanAvx2(const KernelTable& kernels, JpegEncoder& encoder, const Shape& shape,
                        const Source& source, uint8_t* out, size_t room) {
  return encodeScanBody<zigzagMaskAvx2>(kernels, encoder, shape, source, out, room);
}

}  // namespace jpegpress
