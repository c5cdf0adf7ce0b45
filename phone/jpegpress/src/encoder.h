#pragma once

// The encoder object and the entries of the table, callable directly inside the module
// and by its tests.

#include <cstdint>

#include "jpegpress/jpeg_encoder_table.h"
#include "kernels.h"

struct JpegEncoder {
  uint32_t headerLength;  // bytes of the cached header; 0 = none cached
  uint32_t quality;       // last value given to SetQuality, all 32 bits
  // Blocks of one MCU (up to six) and the same area before its turn.
  alignas(32) int16_t blocks[6 * 64];
  alignas(32) int16_t unturned[6 * 64];
  uint8_t lumaQuant[64];    // natural order
  uint8_t chromaQuant[64];  // natural order
  alignas(32) uint16_t lumaReciprocal[64];    // column-major
  alignas(32) uint16_t chromaReciprocal[64];  // column-major
  // Huffman codes indexed by symbol (run << 4 | size): low 32 bits the code shifted left by
  // the size, high 32 bits the code's length plus the size.
  uint64_t dcLumaCodes[256];
  uint64_t acLumaCodes[256];
  uint64_t dcChromaCodes[256];
  uint64_t acChromaCodes[256];
  // Entropy-coded bytes of one MCU, held back while the output room is nearly used up.
  uint8_t staging[2560];
  // A halved packed area (16 rows of 16 pixels at most) for shift 1.
  alignas(32) uint8_t halved[16 * 32];
};

namespace jpegpress {

uint32_t createEncoder(JpegEncoder** encoder);
uint32_t destroyEncoder(JpegEncoder* encoder);
uint32_t setQuality(JpegEncoder* encoder, uint32_t quality);
// As EncodeFrame, with the kernels given (tests compare kernel tables with it).
uint32_t encodeFrameWith(const KernelTable& kernels, JpegEncoder* encoder, uint8_t* output,
                         const uint8_t* input, EncodeParams* params, uint32_t writeHeader);
uint32_t encodeFrame(JpegEncoder* encoder, uint8_t* output, const uint8_t* input,
                     EncodeParams* params, uint32_t writeHeader);
uint32_t convertPreview(uint16_t* destination, int32_t destinationWidth,
                        int32_t destinationHeight, int32_t destinationStrideBytes,
                        const uint8_t* source, int32_t sourceWidth, int32_t sourceHeight,
                        uint32_t format, uint32_t turn, uint8_t* work);

// Fills the table in slot order.
void fillTable(JpegEncoderTable* table);

}  // namespace jpegpress
