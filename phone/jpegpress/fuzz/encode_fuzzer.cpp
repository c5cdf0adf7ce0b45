// Drives EncodeFrame with arbitrary pictures and parameters inside the documented
// preconditions (sizes in whole MCUs, 32-pixel multiples when halving) and checks that
// libjpeg decodes every result cleanly, at the declared size, within the pipeline's buffer,
// and that the portable and active kernels agree.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "encoder.h"
#include "jpeg_test_support.h"
#include "kernels.h"

namespace {

struct Reader {
  const uint8_t* data;
  size_t size;
  uint8_t next() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace jpegpress;
  Reader r{data, size};
  const uint32_t quality = r.next() | (r.next() << 8);  // includes values of 150 and more
  const uint32_t format = r.next() % 7;                 // 6 is refused
  const uint32_t sampling = r.next() % 5;               // 0 and 3 behave as 4:2:2
  const uint32_t rotation = r.next() % 4;
  const uint32_t shift = r.next() % 2;
  const uint32_t unit = 16u << shift;
  const uint32_t width = unit * (1 + r.next() % 6);
  const uint32_t height = unit * (1 + r.next() % 6);

  // The picture: the remaining bytes repeated, so that short inputs still fill it.
  const size_t pictureBytes = size_t{width} * height * 3;
  std::vector<uint8_t> picture(pictureBytes);
  if (r.size == 0) {
    std::memset(picture.data(), 0x80, pictureBytes);
  } else {
    for (size_t i = 0; i < pictureBytes; ++i) picture[i] = r.data[i % r.size];
  }

  JpegEncoder* encoder = nullptr;
  createEncoder(&encoder);
  if (encoder == nullptr) return 0;
  setQuality(encoder, quality);
  // Room for the pipeline's buffer (2 bytes per pixel) and a guard zone behind it.
  const size_t room = size_t{width} * height * 2;
  std::vector<uint8_t> out(room + 4096, 0xA5), again(room + 4096, 0xA5);
  EncodeParams params{width, height, format, shift, rotation, sampling};
  EncodeParams same = params;
  const uint32_t length = encodeFrameWith(activeKernels(), encoder, out.data() + 32, picture.data(), &params, 1);
  const uint32_t portable = encodeFrameWith(portableKernels(), encoder, again.data() + 32, picture.data(), &same, 1);
  if (length != portable || std::memcmp(out.data(), again.data(), out.size()) != 0) std::abort();

  const uint32_t effectiveFormat = quality >= 150 ? 4 : format;
  const bool planar = effectiveFormat >= 4;
  const bool is422 = sampling != 1 && sampling != 4;
  const bool supported =
      effectiveFormat <= 5 && !(planar && is422) && !(shift == 1 && effectiveFormat != 0) &&
      !(format == 4 && sampling == 2);
  if (supported != (length != 0)) std::abort();
  if (length != 0) {
    // Every frame but the smallest colour one (whose header alone is larger) fits the
    // pipeline's buffer.
    const bool tiny = width * height == 256 && sampling != 4;
    if (!tiny) {
      if (length + 32 > room) std::abort();
      for (size_t i = room; i < out.size(); ++i)
        if (out[i] != 0xA5) std::abort();
    }
    const testing::Decoded d = testing::decodeJpeg(out.data() + 32, length);
    const uint32_t w = (rotation & 1) ? height : width, h = (rotation & 1) ? width : height;
    if (!d.error.empty() || d.warnings != 0) std::abort();
    if (d.width != static_cast<int>(w >> shift) || d.height != static_cast<int>(h >> shift)) std::abort();
  }
  destroyEncoder(encoder);
  return 0;
}
