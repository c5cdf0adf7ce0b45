#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "decoder/render_geometry.h"

namespace decoder {

// Decodes the phone's JPEG frames and renders them, turned, mirrored and fitted, into
// bottom-up 24-bit BGR pictures of any size (see FrameRenderer). One per engine.
//
// Untrusted input: a JPEG that is truncated, corrupt, lies about its size or cannot be
// converted to RGB makes the call fail; nothing is read outside the given bytes. Failures
// found before the first row is written (header, limits, colour conversion) leave the
// destination untouched; a failure in the middle of the picture leaves the rows written
// up to that point (and a letterboxed output cleared).
//
// All buffers are made by the constructor; no allocation of ours per frame.
// Threading: one thread at a time.
class JpegDecoder {
 public:
  JpegDecoder();
  ~JpegDecoder();
  JpegDecoder(const JpegDecoder&) = delete;
  JpegDecoder& operator=(const JpegDecoder&) = delete;

  // False when the JPEG library could not be set up; every call then fails.
  bool valid() const;

  // Reads the header of the JPEG in data[0..size) and reports the picture's size. The bytes
  // must stay valid and unchanged until the following render(). A picture whose header was
  // read but not rendered is abandoned by the next decodeHeader().
  bool decodeHeader(const uint8_t* data, size_t size, uint32_t* width, uint32_t* height);

  // Decompresses the picture whose header was read last into dst, a W x H output picture of
  // dstSize bytes, turned by rotation (0..3) x 90 degrees counter-clockwise and, with
  // mirror, flipped left to right. Each header allows one render.
  bool render(bool mirror, uint8_t* dst, size_t dstSize, uint32_t W, uint32_t H, uint32_t rotation);

  // Decompresses the picture whose header was read last straight into target, at its own
  // size (no fit, turn or mirror), the library writing the rows in target's order. False
  // when target cannot hold the picture (nothing written) or the picture fails (the rows
  // before the failure are written). Each header allows one render or renderStraight.
  bool renderStraight(const StraightTarget& target);

  // decodeHeader() followed by render().
  bool decode(const uint8_t* data, size_t size, uint8_t* dst, size_t dstSize, uint32_t W,
              uint32_t H, uint32_t rotation, bool mirror);

  // Size of the picture whose header was read last (0 x 0 after a failed header).
  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
};

}  // namespace decoder
