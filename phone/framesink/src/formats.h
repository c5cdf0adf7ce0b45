#pragma once

#include <cstdint>

#include "platform/byte_order.h"

namespace framesink {

using platform::fourcc;

// The picture formats as the device program knows them.
inline constexpr uint32_t kFormatUyvy = fourcc('U', 'Y', 'V', 'Y');
inline constexpr uint32_t kFormatYv12 = fourcc('Y', 'V', '1', '2');
inline constexpr uint32_t kFormatIyuv = fourcc('I', 'Y', 'U', 'V');
inline constexpr uint32_t kFormatNv12 = fourcc('N', 'V', '1', '2');
inline constexpr uint32_t kFormatJpeg = fourcc('I', 'J', 'P', 'G');
inline constexpr uint32_t kFormatRgb565 = 0xE436EB7Bu;
inline constexpr uint32_t kFormatRgb24 = 0xE436EB7Du;

}  // namespace framesink
