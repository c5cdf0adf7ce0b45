#pragma once

// Little-endian fields and four-character codes: the one definition for every module.
// Bytes that cross a machine boundary (the stream protocol, shared blocks, control
// requests, BMP and wave headers) are read and written through these, never by casting
// a buffer to a struct. Header only and free of OS calls, so any module, the platform's
// own sources included, may use it; each call compiles to a single load or store on a
// little-endian machine.

#include <bit>
#include <cstdint>
#include <cstring>

namespace platform {

constexpr uint16_t byteSwap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
constexpr uint32_t byteSwap32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

inline uint16_t load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  if constexpr (std::endian::native == std::endian::big) v = byteSwap16(v);
  return v;
}
inline uint32_t load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  if constexpr (std::endian::native == std::endian::big) v = byteSwap32(v);
  return v;
}
inline void store16(uint8_t* p, uint16_t v) {
  if constexpr (std::endian::native == std::endian::big) v = byteSwap16(v);
  std::memcpy(p, &v, 2);
}
inline void store32(uint8_t* p, uint32_t v) {
  if constexpr (std::endian::native == std::endian::big) v = byteSwap32(v);
  std::memcpy(p, &v, 4);
}

// A four-character code (picture formats, message magics): the four letters in memory
// order, read as a little-endian 32-bit value.
constexpr uint32_t fourcc(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

}  // namespace platform
