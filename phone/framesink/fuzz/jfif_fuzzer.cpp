// Feeds arbitrary camera pictures to the motion-JPEG repair: it must never read or
// write outside its buffers, and what it returns must be a JFIF file that ends at its
// end-of-image marker.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "picture_fixes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte chooses how much room the output gets (sometimes too little).
  const size_t slack = size == 0 ? 0 : data[0] * 4;
  std::vector<uint8_t> in(data, data + size);
  std::vector<uint8_t> out(size / 2 + slack);
  const size_t n = framesink::jfifFromCameraJpeg(in.data(), in.size(), out.data(), out.size());
  if (n == 0) return 0;
  static const uint8_t kHead[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0};
  if (n > out.size() || n < sizeof kHead + 2 || std::memcmp(out.data(), kHead, sizeof kHead) != 0 ||
      out[n - 2] != 0xFF || out[n - 1] != 0xD9)
    std::abort();
  return 0;
}
