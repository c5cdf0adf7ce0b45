#pragma once

#include <cstdint>

namespace framesink {

constexpr uint32_t Fourcc(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

// The picture formats as the device program knows them.
inline constexpr uint32_t kFormatUyvy = Fourcc('U', 'Y', 'V', 'Y');
inline constexpr uint32_t kFormatYv12 = Fourcc('Y', 'V', '1', '2');
inline constexpr uint32_t kFormatIyuv = Fourcc('I', 'Y', 'U', 'V');
inline constexpr uint32_t kFormatNv12 = Fourcc('N', 'V', '1', '2');
inline constexpr uint32_t kFormatJpeg = Fourcc('I', 'J', 'P', 'G');
inline constexpr uint32_t kFormatRgb565 = 0xE436EB7Bu;
inline constexpr uint32_t kFormatRgb24 = 0xE436EB7Du;

}  // namespace framesink
