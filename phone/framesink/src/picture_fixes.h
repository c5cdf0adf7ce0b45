#pragma once

// Repairs applied to a camera's pictures before the pipeline sees them: packed YUYV is
// turned into UYVY in place, and a motion-JPEG picture becomes a complete JFIF file.

#include <cstddef>
#include <cstdint>

namespace framesink {

// Exchanges the bytes of every pair (Y0 U Y1 V -> U Y0 V Y1), in place.
void swapYuyvToUyvy(uint8_t* data, size_t sizeBytes);

// Room jfifFromCameraJpeg may need beyond the input length.
size_t jfifExtraBytes();

// Writes `in` as a complete JFIF file into `out` (room `outRoom`): SOI, then an APP0
// "JFIF" segment of length 16, then the picture's own segments (an APP0 "JFIF" of its own
// is dropped), with the standard Huffman tables inserted before the first scan when the
// picture defines none, and the file ends at its end-of-image marker. Returns the length
// written, or 0 when the picture is not a well-formed JPEG stream or does not fit.
size_t jfifFromCameraJpeg(const uint8_t* in, size_t inSize, uint8_t* out, size_t outRoom);

}  // namespace framesink
