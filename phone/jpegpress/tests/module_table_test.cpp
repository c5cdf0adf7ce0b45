// The module as the device program sees it: loaded by name, reached only through the
// table that DllGetData fills.

#include <gtest/gtest.h>

#include <vector>

#include "jpeg_test_support.h"
#include "jpegpress/jpeg_encoder_table.h"
#include "platform/module.h"

namespace {

using namespace jpegpress::testing;

TEST(ModuleTable, LoadsByNameAndEncodesThroughTheTable) {
  auto module = platform::loadModule(kJpegpressModuleName);
  ASSERT_NE(module, nullptr) << "jpegpress.so not found beside the test program";
  auto getData = reinterpret_cast<DllGetDataFunction>(module->symbol("DllGetData"));
  ASSERT_NE(getData, nullptr);

  JpegEncoderTable table{};
  EXPECT_EQ(getData(&table), 1u);
  ASSERT_NE(table.CreateEncoder, nullptr);
  ASSERT_NE(table.DestroyEncoder, nullptr);
  ASSERT_NE(table.SetQuality, nullptr);
  ASSERT_NE(table.EncodeFrame, nullptr);
  ASSERT_NE(table.ConvertPreview, nullptr);
  // Nothing but DllGetData is exported.
  EXPECT_EQ(module->symbol("_ZN9jpegpress12createEncoderEPP11JpegEncoder"), nullptr);

  JpegEncoder* encoder = nullptr;
  EXPECT_EQ(table.CreateEncoder(&encoder), 1u);
  ASSERT_NE(encoder, nullptr);
  EXPECT_EQ(table.SetQuality(encoder, 80), 1u);

  const RgbPicture picture = naturalPicture(176, 144, 31);
  const auto rgb565 = toRgb565(picture);
  // As the pipeline calls it: {width, height, format, 0, rotation, 1}, flag 1, at offset 32
  // of a width x height x 2 buffer.
  std::vector<uint8_t> buffer(176 * 144 * 2);
  EncodeParams params{176, 144, kJpegFormatRgb565, 0, 1, kJpegSampling420};
  const uint32_t length = table.EncodeFrame(encoder, buffer.data() + 32, rgb565.data(), &params, 1);
  ASSERT_GT(length, 0u);
  ASSERT_LE(length + 32, buffer.size());
  const Decoded d = decodeJpeg(buffer.data() + 32, length);
  EXPECT_EQ(d.error, "");
  EXPECT_EQ(d.warnings, 0);
  EXPECT_EQ(d.width, 144);
  EXPECT_EQ(d.height, 176);

  EncodeParams planar422{32, 32, kJpegFormatPlanar, 0, 0, kJpegSampling422};
  EXPECT_EQ(table.EncodeFrame(encoder, buffer.data(), rgb565.data(), &planar422, 1), 0u);

  const auto uyvy = toUyvy(naturalPicture(320, 240, 32));
  std::vector<uint16_t> preview(160 * 120, 0);
  EXPECT_EQ(table.ConvertPreview(preview.data(), 160, 120, 320, uyvy.data(), 320, 240,
                                 kJpegFormatUyvy, 1, nullptr), 1u);
  size_t nonZero = 0;
  for (uint16_t v : preview) nonZero += v != 0;
  EXPECT_GT(nonZero, preview.size() / 2);
  EXPECT_EQ(table.ConvertPreview(preview.data(), 160, 120, 320, rgb565.data(), 176, 144,
                                 kJpegFormatRgb565, 1, nullptr), 0u);

  EXPECT_EQ(table.DestroyEncoder(encoder), 1u);
  EXPECT_EQ(table.DestroyEncoder(nullptr), 1u);
}

TEST(ModuleTable, EncodersAreIndependent) {
  auto module = platform::loadModule(kJpegpressModuleName);
  ASSERT_NE(module, nullptr);
  JpegEncoderTable table{};
  reinterpret_cast<DllGetDataFunction>(module->symbol("DllGetData"))(&table);
  JpegEncoder *a = nullptr, *b = nullptr;
  table.CreateEncoder(&a);
  table.CreateEncoder(&b);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  table.SetQuality(a, 30);
  table.SetQuality(b, 95);
  const auto bgr = toBgr24(naturalPicture(64, 64, 33));
  std::vector<uint8_t> outA(64 * 64 * 4), outB(64 * 64 * 4), again(64 * 64 * 4);
  EncodeParams p{64, 64, kJpegFormatBgr24, 0, 0, kJpegSampling420};
  const uint32_t la = table.EncodeFrame(a, outA.data(), bgr.data(), &p, 1);
  const uint32_t lb = table.EncodeFrame(b, outB.data(), bgr.data(), &p, 1);
  EXPECT_LT(la, lb);
  EXPECT_EQ(table.EncodeFrame(a, again.data(), bgr.data(), &p, 1), la);
  EXPECT_TRUE(std::equal(outA.begin(), outA.begin() + la, again.begin()));
  table.DestroyEncoder(a);
  table.DestroyEncoder(b);
}

}  // namespace
