#include "decoder/bmp_file.h"

#include "decoder/render_geometry.h"
#include "platform/byte_order.h"

namespace decoder {

namespace {

using platform::store16;
using platform::store32;

}  // namespace

bool bmpHeader(uint32_t W, uint32_t H, std::array<uint8_t, kBmpHeaderSize>* header) {
  if (W == 0 || H == 0 || W > 0x7FFFFFFFu || H > 0x7FFFFFFFu) return false;
  const uint64_t image = uint64_t{imageStride(W)} * H;
  if (image + kBmpHeaderSize > 0xFFFFFFFFu) return false;
  uint8_t* p = header->data();
  header->fill(0);
  // File header.
  p[0] = 'B';
  p[1] = 'M';
  store32(p + 2, static_cast<uint32_t>(image + kBmpHeaderSize));
  store32(p + 10, kBmpHeaderSize);  // where the pixels start
  // Information header: positive height means the first row stored is the bottom one.
  store32(p + 14, 40);
  store32(p + 18, W);
  store32(p + 22, H);
  store16(p + 26, 1);   // planes
  store16(p + 28, 24);  // bits per pixel
  store32(p + 30, 0);   // no compression
  store32(p + 34, static_cast<uint32_t>(image));
  store32(p + 38, 2835);  // 72 dots per inch, in dots per metre
  store32(p + 42, 2835);
  return true;
}

}  // namespace decoder
