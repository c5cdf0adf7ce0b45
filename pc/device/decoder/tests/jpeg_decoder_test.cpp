#include "decoder/jpeg_decoder.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "decoder/frame_renderer.h"
#include "decoder/render_geometry.h"
#include "test_jpeg.h"

namespace decoder {
namespace {

using decoder_testing::encodeCmyk;
using decoder_testing::encodeGray;
using decoder_testing::encodeRgb;
using decoder_testing::JpegOptions;
using decoder_testing::referenceDecode;
using decoder_testing::Sampling;
using decoder_testing::testPicture;

constexpr uint8_t kSentinel = 0x5A;

// Bytes placed so that they end exactly where an unreadable page begins: any read past
// the end of the JPEG ends the test with a fault.
class GuardedBytes {
 public:
  explicit GuardedBytes(const std::vector<uint8_t>& bytes) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    dataPages_ = (bytes.size() + page - 1) / page;
    if (dataPages_ == 0) dataPages_ = 1;
    mapBytes_ = (dataPages_ + 1) * page;
    void* m = mmap(nullptr, mapBytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) return;
    base_ = static_cast<uint8_t*>(m);
    mprotect(base_ + dataPages_ * page, page, PROT_NONE);
    data_ = base_ + dataPages_ * page - bytes.size();
    if (!bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
    size_ = bytes.size();
  }
  ~GuardedBytes() {
    if (base_) munmap(base_, mapBytes_);
  }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  uint8_t* base_ = nullptr;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t dataPages_ = 0;
  size_t mapBytes_ = 0;
};

// The reference output: the library's own decode, turned, mirrored, fitted and resampled
// by a renderer fed from that decode.
std::vector<uint8_t> referenceRender(const std::vector<uint8_t>& jpeg, uint32_t W, uint32_t H,
                                     uint32_t r, bool mirror) {
  uint32_t w = 0, h = 0;
  const std::vector<uint8_t> rgb = referenceDecode(jpeg, &w, &h);
  struct Rows : RowSource {
    const std::vector<uint8_t>& rgb;
    uint32_t w, next = 0;
    Rows(const std::vector<uint8_t>& p, uint32_t width) : rgb(p), w(width) {}
    bool readRow(uint8_t* out) override {
      std::copy_n(rgb.begin() + size_t{next++} * w * 3, w * 3, out);
      return true;
    }
  } rows(rgb, w);
  std::vector<uint8_t> out(imageSize(W, H), kSentinel);
  FrameRenderer renderer;
  if (rgb.empty() || !renderer.prepare(w, h, out.data(), out.size(), W, H, r, mirror) ||
      !renderer.run(rows))
    return {};
  return out;
}

TEST(JpegDecoder, SameSizeRenderIsTheLibrarysDecodeBottomUpInBgr) {
  const std::vector<uint8_t> rgb = testPicture(320, 240);
  JpegOptions o;
  o.quality = 75;
  const std::vector<uint8_t> jpeg = encodeRgb(rgb.data(), 320, 240, o);
  uint32_t rw = 0, rh = 0;
  const std::vector<uint8_t> ref = referenceDecode(jpeg, &rw, &rh);
  ASSERT_EQ(rw, 320u);
  ASSERT_EQ(rh, 240u);

  JpegDecoder decoder;
  ASSERT_TRUE(decoder.valid());
  uint32_t w = 0, h = 0;
  ASSERT_TRUE(decoder.decodeHeader(jpeg.data(), jpeg.size(), &w, &h));
  EXPECT_EQ(w, 320u);
  EXPECT_EQ(h, 240u);
  std::vector<uint8_t> out(imageSize(320, 240), kSentinel);
  ASSERT_TRUE(decoder.render(false, out.data(), out.size(), 320, 240, 0));
  for (uint32_t y = 0; y < 240; ++y) {
    for (uint32_t x = 0; x < 320; ++x) {
      const uint8_t* d = &out[(239 - y) * 960 + x * 3];
      const uint8_t* s = &ref[(y * 320 + x) * 3];
      ASSERT_EQ(d[0], s[2]) << x << "," << y;
      ASSERT_EQ(d[1], s[1]) << x << "," << y;
      ASSERT_EQ(d[2], s[0]) << x << "," << y;
    }
  }
}

// Same-size rows go straight into the destination or through a row buffer, depending on
// where each line lies in memory; the bytes must not depend on it.
TEST(JpegDecoder, OutputDoesNotDependOnWhereTheDestinationLies) {
  const std::vector<uint8_t> rgb = testPicture(320, 240);
  const std::vector<uint8_t> jpeg = encodeRgb(rgb.data(), 320, 240);
  const std::vector<uint8_t> ref = referenceRender(jpeg, 320, 240, 0, false);
  ASSERT_FALSE(ref.empty());
  JpegDecoder decoder;
  for (size_t offset : {0, 1, 3, 4, 8, 12, 16, 24, 31}) {
    SCOPED_TRACE(offset);
    std::vector<uint8_t> storage(ref.size() + 64, kSentinel);
    uint8_t* dst = storage.data() + offset;
    ASSERT_TRUE(decoder.decode(jpeg.data(), jpeg.size(), dst, ref.size(), 320, 240, 0, false));
    EXPECT_TRUE(std::equal(ref.begin(), ref.end(), dst));
    EXPECT_TRUE(std::all_of(storage.begin(), storage.begin() + offset,
                            [](uint8_t b) { return b == kSentinel; }));
    EXPECT_TRUE(std::all_of(storage.begin() + offset + ref.size(), storage.end(),
                            [](uint8_t b) { return b == kSentinel; }));
  }
}

TEST(JpegDecoder, RendersLikeTheReferenceForEveryFitTurnAndMirror) {
  struct Case {
    uint32_t w, h;
    JpegOptions options;
    bool grey;
    uint32_t W, H;
    const char* what;
  };
  const JpegOptions q75{75, Sampling::k420, false};
  const JpegOptions prog{80, Sampling::k420, true};
  const JpegOptions full{95, Sampling::k444, false};
  const JpegOptions restarts{75, Sampling::k420, false, 3};
  const Case cases[] = {
      {320, 240, q75, false, 320, 240, "same size"},
      {320, 240, q75, false, 640, 480, "doubled, stretched"},
      {320, 240, q75, false, 160, 120, "halved"},
      {320, 240, q75, false, 320, 256, "letterboxed, bars above and below"},
      {320, 240, q75, false, 322, 240, "stretched by 0.6%"},
      {240, 320, full, false, 320, 240, "upright picture, turned to fill"},
      {96, 64, prog, false, 100, 70, "progressive"},
      {160, 96, restarts, false, 160, 96, "restart markers"},
      {64, 48, q75, true, 80, 60, "grey"},
  };
  JpegDecoder decoder;
  for (const Case& c : cases) {
    const std::vector<uint8_t> pixels = testPicture(c.w, c.h);
    std::vector<uint8_t> grey;
    for (size_t i = 0; c.grey && i < pixels.size(); i += 3) grey.push_back(pixels[i]);
    const std::vector<uint8_t> jpeg =
        c.grey ? encodeGray(grey.data(), c.w, c.h) : encodeRgb(pixels.data(), c.w, c.h, c.options);
    ASSERT_FALSE(jpeg.empty());
    for (uint32_t r = 0; r < 4; ++r) {
      for (bool mirror : {false, true}) {
        SCOPED_TRACE(testing::Message() << c.what << " r" << r << (mirror ? " mirror" : ""));
        std::vector<uint8_t> out(imageSize(c.W, c.H), kSentinel);
        ASSERT_TRUE(
            decoder.decode(jpeg.data(), jpeg.size(), out.data(), out.size(), c.W, c.H, r, mirror));
        const std::vector<uint8_t> ref = referenceRender(jpeg, c.W, c.H, r, mirror);
        ASSERT_FALSE(ref.empty());
        EXPECT_TRUE(out == ref);
      }
    }
  }
}

TEST(JpegDecoder, LetterboxBarsAreBlack) {
  const std::vector<uint8_t> rgb = testPicture(320, 240);
  const std::vector<uint8_t> jpeg = encodeRgb(rgb.data(), 320, 240);
  JpegDecoder decoder;
  std::vector<uint8_t> out(imageSize(320, 256), kSentinel);
  ASSERT_TRUE(decoder.decode(jpeg.data(), jpeg.size(), out.data(), out.size(), 320, 256, 0, false));
  const size_t S = imageStride(320);
  auto rowIsBlack = [&](uint32_t row) {
    for (size_t i = 0; i < 960; ++i)
      if (out[row * S + i] != 0) return false;
    return true;
  };
  for (uint32_t row = 0; row < 256; ++row) {
    EXPECT_EQ(rowIsBlack(row), row < 8 || row >= 248) << "row " << row;
  }
}

// Offset of the frame header's height field (SOF0: FF C0, length, precision, height, width).
size_t frameHeaderHeight(const std::vector<uint8_t>& jpeg) {
  for (size_t i = 2; i + 8 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) return i + 5;
  return 0;
}

std::vector<uint8_t> withSize(std::vector<uint8_t> jpeg, uint32_t w, uint32_t h) {
  const size_t at = frameHeaderHeight(jpeg);
  jpeg[at] = static_cast<uint8_t>(h >> 8);
  jpeg[at + 1] = static_cast<uint8_t>(h);
  jpeg[at + 2] = static_cast<uint8_t>(w >> 8);
  jpeg[at + 3] = static_cast<uint8_t>(w);
  return jpeg;
}

TEST(JpegDecoder, BadInputFailsWithoutReadingPastTheBytes) {
  const std::vector<uint8_t> rgb = testPicture(320, 240);
  const std::vector<uint8_t> good = encodeRgb(rgb.data(), 320, 240);
  ASSERT_GT(frameHeaderHeight(good), 0u);
  const std::vector<uint8_t> cmykPixels(64 * 32 * 4, 0x40);
  const std::vector<uint8_t> wide = encodeRgb(testPicture(3073, 8).data(), 3073, 8);
  auto cut = [&](size_t n) { return std::vector<uint8_t>(good.begin(), good.begin() + n); };

  enum Fails { kHeader, kRender };
  struct Case {
    std::string what;
    std::vector<uint8_t> bytes;
    Fails fails;
    bool untouched;  // destination keeps its bytes
  };
  std::vector<Case> cases = {
      {"nothing", {}, kHeader, true},
      {"two bytes", {0xFF, 0xD8}, kHeader, true},
      {"garbage", std::vector<uint8_t>(5000, 0x37), kHeader, true},
      {"cut inside the header", cut(100), kHeader, true},
      {"cut after the frame header", cut(frameHeaderHeight(good) + 12), kHeader, true},
      {"cut in the first rows", cut(good.size() / 8), kRender, false},
      {"cut half way", cut(good.size() / 2), kRender, false},
      {"cut before the end marker", cut(good.size() - 2), kRender, false},
      {"header claims more rows than coded", withSize(good, 320, 480), kRender, false},
      {"header claims a wider picture", withSize(good, 640, 240), kRender, false},
      {"header claims zero rows", withSize(good, 320, 0), kHeader, true},
      {"header claims a picture beyond the limits", withSize(good, 5000, 240), kRender, true},
      {"row longer than the resampler holds", wide, kRender, true},
      {"four-component picture", encodeCmyk(cmykPixels.data(), 64, 32), kRender, true},
  };
  // Garbage after a start-of-image marker.
  std::vector<uint8_t> soiGarbage = {0xFF, 0xD8};
  soiGarbage.insert(soiGarbage.end(), 3000, 0xC3);
  cases.push_back({"start marker then garbage", soiGarbage, kHeader, true});

  JpegDecoder decoder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const GuardedBytes bytes(c.bytes);
    std::vector<uint8_t> out(imageSize(320, 240), kSentinel);
    uint32_t w = 0, h = 0;
    const bool header = decoder.decodeHeader(bytes.data(), bytes.size(), &w, &h);
    if (c.fails == kHeader) {
      EXPECT_FALSE(header);
      EXPECT_EQ(decoder.width(), 0u);
      EXPECT_FALSE(decoder.render(false, out.data(), out.size(), 320, 240, 0));
    } else {
      ASSERT_TRUE(header);
      EXPECT_FALSE(decoder.render(false, out.data(), out.size(), 320, 240, 0));
    }
    if (c.untouched) {
      EXPECT_EQ(out, std::vector<uint8_t>(out.size(), kSentinel));
    }

    // The decoder is fine afterwards.
    std::vector<uint8_t> after(imageSize(320, 240));
    ASSERT_TRUE(
        decoder.decode(good.data(), good.size(), after.data(), after.size(), 320, 240, 0, false));
    EXPECT_TRUE(after == referenceRender(good, 320, 240, 0, false));
  }
}

// A damaged restart marker is the library's to resynchronise on (through
// jpeg_resync_to_restart): the frame is still shown, and nothing is read past its bytes.
TEST(JpegDecoder, DamagedRestartMarkersStayInsideTheBytes) {
  const std::vector<uint8_t> rgb = testPicture(160, 96);
  JpegOptions o;
  o.restartInterval = 2;
  const std::vector<uint8_t> jpeg = encodeRgb(rgb.data(), 160, 96, o);
  size_t damaged = 0, rendered = 0;
  JpegDecoder decoder;
  for (size_t i = frameHeaderHeight(jpeg); i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] != 0xFF || jpeg[i + 1] < 0xD0 || jpeg[i + 1] > 0xD7) continue;
    std::vector<uint8_t> bad = jpeg;
    bad[i + 1] = static_cast<uint8_t>(0xD0 + ((bad[i + 1] - 0xD0 + 3) & 7));  // wrong number
    const GuardedBytes bytes(bad);
    std::vector<uint8_t> out(imageSize(160, 96));
    ASSERT_TRUE(decoder.decodeHeader(bytes.data(), bytes.size(), nullptr, nullptr));
    if (decoder.render(false, out.data(), out.size(), 160, 96, 0)) ++rendered;
    ++damaged;
  }
  EXPECT_GT(damaged, 5u);
  EXPECT_EQ(rendered, damaged);
  // And the decoder is still fine.
  std::vector<uint8_t> out(imageSize(160, 96));
  EXPECT_TRUE(decoder.decode(jpeg.data(), jpeg.size(), out.data(), out.size(), 160, 96, 0, false));
  EXPECT_TRUE(out == referenceRender(jpeg, 160, 96, 0, false));
}

TEST(JpegDecoder, EachHeaderAllowsOneRenderIntoALargeEnoughDestination) {
  const std::vector<uint8_t> rgb = testPicture(64, 48);
  const std::vector<uint8_t> jpeg = encodeRgb(rgb.data(), 64, 48);
  JpegDecoder decoder;
  std::vector<uint8_t> out(imageSize(64, 48), kSentinel);
  EXPECT_FALSE(decoder.render(false, out.data(), out.size(), 64, 48, 0)) << "no header yet";

  ASSERT_TRUE(decoder.decodeHeader(jpeg.data(), jpeg.size(), nullptr, nullptr));
  EXPECT_FALSE(decoder.render(false, out.data(), out.size() - 1, 64, 48, 0)) << "too small";
  EXPECT_EQ(out, std::vector<uint8_t>(out.size(), kSentinel));
  EXPECT_FALSE(decoder.render(false, out.data(), out.size(), 64, 48, 0))
      << "the refused render used up the header";

  ASSERT_TRUE(decoder.decodeHeader(jpeg.data(), jpeg.size(), nullptr, nullptr));
  // A second header abandons the first picture cleanly.
  ASSERT_TRUE(decoder.decodeHeader(jpeg.data(), jpeg.size(), nullptr, nullptr));
  EXPECT_TRUE(decoder.render(false, out.data(), out.size(), 64, 48, 0));
  EXPECT_FALSE(decoder.render(false, out.data(), out.size(), 64, 48, 0));
  EXPECT_TRUE(out == referenceRender(jpeg, 64, 48, 0, false));
}

// Straight into another layout: the same pixels as the bottom-up BGR render, in each byte
// order, for odd sizes, both samplings, grey, and rows with padding (left untouched).
TEST(JpegDecoder, StraightRenderHasTheRenderedPixelsInEachOrderAndStride) {
  struct Case {
    uint32_t w, h;
    Sampling sampling;
    bool grey;
  };
  const Case cases[] = {{33, 17, Sampling::k420, false}, {64, 48, Sampling::k444, false},
                        {7, 5, Sampling::k420, false},   {21, 9, Sampling::k420, true}};
  struct Order {
    PixelOrder order;
    int bytes;
    int blue, green, red;  // where each channel goes; a fourth byte is 255
  };
  const Order orders[] = {{PixelOrder::kBgr, 3, 0, 1, 2},
                          {PixelOrder::kRgb, 3, 2, 1, 0},
                          {PixelOrder::kBgrx, 4, 0, 1, 2},
                          {PixelOrder::kRgbx, 4, 2, 1, 0}};
  JpegDecoder decoder;
  for (const Case& c : cases) {
    std::vector<uint8_t> jpeg;
    if (c.grey) {
      std::vector<uint8_t> grey(size_t{c.w} * c.h);
      for (size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<uint8_t>(i * 37);
      jpeg = encodeGray(grey.data(), c.w, c.h);
    } else {
      JpegOptions o;
      o.sampling = c.sampling;
      jpeg = encodeRgb(testPicture(c.w, c.h).data(), c.w, c.h, o);
    }
    const std::vector<uint8_t> bgr = referenceRender(jpeg, c.w, c.h, 0, false);
    ASSERT_FALSE(bgr.empty());
    for (const Order& o : orders) {
      for (size_t pad : {0, 1, 6}) {
        SCOPED_TRACE(::testing::Message() << c.w << "x" << c.h << " order " << o.bytes << "/"
                                          << o.red << " pad " << pad);
        const size_t stride = size_t{c.w} * o.bytes + pad;
        std::vector<uint8_t> out(stride * c.h, kSentinel);
        ASSERT_TRUE(decoder.decodeHeader(jpeg.data(), jpeg.size(), nullptr, nullptr));
        ASSERT_TRUE(decoder.renderStraight({out.data(), out.size(), stride, o.order}));
        for (uint32_t y = 0; y < c.h; ++y) {
          const uint8_t* from = &bgr[imageStride(c.w) * (c.h - 1 - y)];
          const uint8_t* row = &out[stride * y];
          for (uint32_t x = 0; x < c.w; ++x) {
            const uint8_t* p = row + size_t{x} * o.bytes;
            ASSERT_EQ(p[o.blue], from[x * 3]) << x << "," << y;
            ASSERT_EQ(p[o.green], from[x * 3 + 1]) << x << "," << y;
            ASSERT_EQ(p[o.red], from[x * 3 + 2]) << x << "," << y;
            if (o.bytes == 4) {
              ASSERT_EQ(p[3], 255) << x << "," << y;
            }
          }
          for (size_t i = size_t{c.w} * o.bytes; i < stride; ++i) {
            ASSERT_EQ(row[i], kSentinel);
          }
        }
      }
    }
  }
}

TEST(JpegDecoder, StraightRenderRefusesATargetThatCannotHoldThePicture) {
  const std::vector<uint8_t> jpeg = encodeRgb(testPicture(16, 8).data(), 16, 8);
  JpegDecoder decoder;
  // 16 pixels of 4 bytes in rows 80 bytes apart: the last row needs 64 bytes.
  std::vector<uint8_t> out(80 * 8, kSentinel);
  const StraightTarget refused[] = {
      {out.data(), 80 * 7 + 63, 80, PixelOrder::kBgrx},  // one byte short of the last row
      {out.data(), out.size(), 63, PixelOrder::kBgrx},   // rows narrower than the picture
      {nullptr, out.size(), 80, PixelOrder::kBgrx},
      {out.data(), 0, 80, PixelOrder::kBgr},
  };
  EXPECT_FALSE(decoder.renderStraight({out.data(), out.size(), 80, PixelOrder::kBgrx}))
      << "no header yet";
  for (const StraightTarget& t : refused) {
    ASSERT_TRUE(decoder.decodeHeader(jpeg.data(), jpeg.size(), nullptr, nullptr));
    EXPECT_FALSE(decoder.renderStraight(t));
    EXPECT_FALSE(decoder.renderStraight({out.data(), out.size(), 80, PixelOrder::kBgrx}))
        << "the refused render used up the header";
  }
  EXPECT_EQ(out, std::vector<uint8_t>(out.size(), kSentinel));
  // The smallest target that holds it, then an ordinary render from the same decoder.
  ASSERT_TRUE(decoder.decodeHeader(jpeg.data(), jpeg.size(), nullptr, nullptr));
  EXPECT_TRUE(decoder.renderStraight({out.data(), 80 * 7 + 64, 80, PixelOrder::kBgrx}));
  std::vector<uint8_t> bgr(imageSize(16, 8));
  EXPECT_TRUE(decoder.decode(jpeg.data(), jpeg.size(), bgr.data(), bgr.size(), 16, 8, 0, false));
  EXPECT_TRUE(bgr == referenceRender(jpeg, 16, 8, 0, false));
}

}  // namespace
}  // namespace decoder
