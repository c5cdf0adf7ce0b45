#include "decoder/bmp_file.h"

#include "decoder/render_geometry.h"

namespace decoder {

namespace {

void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* p, uint32_t v) {
  put16(p, v & 0xFFFFu);
  put16(p + 2, v >> 16);
}

}  // namespace

bool BmpHeader(uint32_t W, uint32_t H, std::array<uint8_t, kBmpHeaderSize>* header) {
  if (W == 0 || H == 0 || W > 0x7FFFFFFFu || H > 0x7FFFFFFFu) return false;
  const uint64_t image = uint64_t{ImageStride(W)} * H;
  if (image + kBmpHeaderSize > 0xFFFFFFFFu) return false;
  uint8_t* p = header->data();
  header->fill(0);
  // File header.
  p[0] = 'B';
  p[1] = 'M';
  put32(p + 2, static_cast<uint32_t>(image + kBmpHeaderSize));
  put32(p + 10, kBmpHeaderSize);  // where the pixels start
  // Information header: positive height means the first row stored is the bottom one.
  put32(p + 14, 40);
  put32(p + 18, W);
  put32(p + 22, H);
  put16(p + 26, 1);   // planes
  put16(p + 28, 24);  // bits per pixel
  put32(p + 30, 0);   // no compression
  put32(p + 34, static_cast<uint32_t>(image));
  put32(p + 38, 2835);  // 72 dots per inch, in dots per metre
  put32(p + 42, 2835);
  return true;
}

}  // namespace decoder
