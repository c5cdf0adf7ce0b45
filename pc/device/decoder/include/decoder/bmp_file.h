#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace decoder {

// The 54 bytes that make a rendered picture (bottom-up, 24-bit BGR, rows padded to 4
// bytes: exactly what the renderer writes) into a BMP file that any image viewer opens:
// write these, then the imageSize(W, H) bytes of the picture.
inline constexpr size_t kBmpHeaderSize = 54;

// False when W or H is 0 or the picture would not fit a BMP file's 32-bit sizes.
bool bmpHeader(uint32_t W, uint32_t H, std::array<uint8_t, kBmpHeaderSize>* header);

}  // namespace decoder
