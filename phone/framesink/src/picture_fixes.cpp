#include "picture_fixes.h"

#include <cstring>

#include "jpegpress/standard_huffman.h"

namespace framesink {
namespace {

// The JFIF header every picture starts with: SOI, APP0 of length 16 "JFIF\0", version
// 1.01, no density unit, density 1 x 1, no thumbnail.
constexpr uint8_t kJfifHeader[20] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',
                                     0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};

// One DHT segment with the four standard tables (DC and AC, luminance and chrominance),
// as motion-JPEG cameras assume.
constexpr const auto& kStandardHuffmanTables = jpegpress::kStandardHuffmanSegment;
static_assert(kStandardHuffmanTables.size() == 2 + 0x1A2, "DHT length word");

class Writer {
 public:
  Writer(uint8_t* out, size_t room) : out_(out), room_(room) {}
  bool put(const uint8_t* p, size_t n) {
    if (n > room_ - used_) return false;
    std::memcpy(out_ + used_, p, n);
    used_ += n;
    return true;
  }
  size_t used() const { return used_; }

 private:
  uint8_t* out_;
  size_t room_;
  size_t used_ = 0;
};

}  // namespace

void swapYuyvToUyvy(uint8_t* data, size_t sizeBytes) {
  for (size_t i = 0; i + 1 < sizeBytes; i += 2) {
    const uint8_t t = data[i];
    data[i] = data[i + 1];
    data[i + 1] = t;
  }
}

size_t jfifExtraBytes() { return sizeof(kJfifHeader) + kStandardHuffmanTables.size() + 2; }

size_t jfifFromCameraJpeg(const uint8_t* in, size_t inSize, uint8_t* out, size_t outRoom) {
  if (in == nullptr || out == nullptr || inSize < 4 || in[0] != 0xFF || in[1] != 0xD8) return 0;
  Writer w(out, outRoom);
  if (!w.put(kJfifHeader, sizeof(kJfifHeader))) return 0;

  bool haveTables = false;
  size_t pos = 2;
  for (;;) {
    // Markers may be preceded by fill bytes 0xFF.
    if (pos >= inSize || in[pos] != 0xFF) return 0;
    while (pos < inSize && in[pos] == 0xFF) ++pos;
    if (pos >= inSize) return 0;
    const uint8_t marker = in[pos++];
    if (marker == 0xD9 || marker == 0xD8 || marker == 0x00 || (marker >= 0xD0 && marker <= 0xD7))
      return 0;  // no scan before the end, or a marker that has no place here
    if (pos + 2 > inSize) return 0;
    const size_t length = size_t{in[pos]} << 8 | in[pos + 1];
    if (length < 2 || pos + length > inSize) return 0;
    const uint8_t* segment = in + pos - 2;  // from its marker
    const size_t segmentBytes = length + 2;
    pos += length;

    if (marker == 0xC4) haveTables = true;
    if (marker == 0xE0 && length >= 7 && std::memcmp(segment + 4, "JFIF\0", 5) == 0) continue;
    if (marker == 0xDA) {
      if (!haveTables && !w.put(kStandardHuffmanTables.data(), kStandardHuffmanTables.size())) return 0;
      if (!w.put(segment, segmentBytes)) return 0;
      break;
    }
    if (!w.put(segment, segmentBytes)) return 0;
  }

  // Entropy-coded data (with any further scans and tables) up to the end-of-image marker;
  // 0xFF inside the data is always followed by 0x00, a restart marker or a real marker.
  const size_t dataStart = pos;
  size_t end = 0;
  for (size_t i = dataStart; i + 1 < inSize; ++i) {
    if (in[i] == 0xFF && in[i + 1] == 0xD9) {
      end = i + 2;
      break;
    }
  }
  if (end == 0) return 0;  // a cut picture
  if (!w.put(in + dataStart, end - dataStart)) return 0;
  return w.used();
}

}  // namespace framesink
