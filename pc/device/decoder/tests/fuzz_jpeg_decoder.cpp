// Feeds untrusted bytes through the decoder: header, then a render into a small and a large
// output picture with a turn and mirror taken from the input. Half of the inputs are used
// as they are; the other half are edits of a valid frame (bytes overwritten, cut short), so
// that the search starts deep inside real JPEG data.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "decoder/jpeg_decoder.h"
#include "decoder/render_geometry.h"
#include "test_jpeg.h"

namespace {

const std::vector<uint8_t>& validFrame() {
  static const std::vector<uint8_t> frame = [] {
    const std::vector<uint8_t> rgb = decoder_testing::testPicture(48, 32);
    return decoder_testing::encodeRgb(rgb.data(), 48, 32);
  }();
  return frame;
}

void renderBoth(decoder::JpegDecoder& d, const uint8_t* data, size_t size, uint32_t settings) {
  static std::vector<uint8_t> small(decoder::imageSize(40, 30));
  static std::vector<uint8_t> large(decoder::imageSize(640, 480));
  const uint32_t rotation = settings & 3;
  const bool mirror = (settings & 4) != 0;
  if (d.decodeHeader(data, size, nullptr, nullptr))
    d.render(mirror, small.data(), small.size(), 40, 30, rotation);
  if (d.decodeHeader(data, size, nullptr, nullptr))
    d.render(mirror, large.data(), large.size(), 640, 480, rotation ^ 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static decoder::JpegDecoder decoder;
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  if ((mode & 0x80) == 0) {
    // Exactly the given bytes, in a buffer of exactly their size.
    std::vector<uint8_t> bytes(data + 1, data + size);
    renderBoth(decoder, bytes.data(), bytes.size(), mode);
    return 0;
  }
  // An edited valid frame: after the mode byte, a 16-bit length to cut to, then pairs of
  // (16-bit position, new byte).
  std::vector<uint8_t> bytes = validFrame();
  size_t i = 1;
  if (i + 2 <= size) {
    const size_t keep = (size_t{data[i]} << 8 | data[i + 1]) % (bytes.size() + 1);
    bytes.resize(keep);
    i += 2;
  }
  for (; i + 3 <= size && !bytes.empty(); i += 3) {
    const size_t at = (size_t{data[i]} << 8 | data[i + 1]) % bytes.size();
    bytes[at] = data[i + 2];
  }
  renderBoth(decoder, bytes.data(), bytes.size(), mode);
  return 0;
}
