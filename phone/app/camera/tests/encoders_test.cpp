// The pipeline's two encoders: which one a mode gets, what the system encoder is given,
// and that jpegpress and the system encoder fallback give the same picture at every turn.

#include <gtest/gtest.h>

#include <future>
#include <vector>

#include "camera/camera_source.h"
#include "camera/picture_repack.h"
#include "camera/system_encoder.h"
#include "fake_camera.h"
#include "fake_system_encoder.h"
#include "jpeg_test_support.h"
#include "platform/event.h"
#include "platform/module.h"
#include "sources/module_loader.h"

namespace camera {
namespace {

using namespace sources;
using testing::FakeCamera;
using testing::FakeSystemEncoder;
using testing::mode;
namespace jt = jpegpress::testing;

// The real jpegpress module, bound the way the program binds it.
struct Jpegpress {
  Jpegpress() {
    module = platform::loadModuleFrom(VISTREL_MODULE_DIR, kJpegpressModuleName);
    if (!module) return;
    auto get = reinterpret_cast<DllGetDataFunction>(module->symbol("DllGetData"));
    if (get && get(&table)) bound = true;
  }
  std::unique_ptr<platform::Module> module;
  JpegEncoderTable table{};
  bool bound = false;
};

// Starts `camera` in capture mode, delivers `picture` and returns the frame taken.
std::vector<uint8_t> captureOne(FakeCamera& camera, std::vector<uint8_t> picture,
                                FrameDescriptor* taken = nullptr) {
  platform::Event ready;
  StartParams p;
  p.mode = kModeCapture;
  p.frameReady = &ready;
  if (!camera.Start(p)) return {};
  auto producer = std::async(std::launch::async, [&] {
    return camera.DeliverFrame(nullptr, picture.data(), static_cast<uint32_t>(picture.size()));
  });
  std::vector<uint8_t> out;
  if (ready.wait(10000)) {
    FrameDescriptor frame;
    if (camera.TakeFrame(&frame)) {
      out.assign(frame.data, frame.data + frame.sizeBytes);
      if (taken) *taken = frame;
    }
  }
  camera.Halt();
  producer.get();
  return out;
}

class EncoderChoiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeSystemEncoder::reset();
    ASSERT_TRUE(jpegpress_.bound) << "jpegpress.so in " << VISTREL_MODULE_DIR;
  }
  std::unique_ptr<FakeCamera> make(PictureMode m, bool withJpegpress = true,
                                   SystemEncoderFactory factory = FakeSystemEncoder::factory) {
    CameraEnvironment env;
    env.jpegpress = withJpegpress ? &jpegpress_.table : nullptr;
    env.systemEncoder = factory;
    auto camera = std::make_unique<FakeCamera>(env, std::vector<PictureMode>{m});
    camera->Init();
    camera->common(kSettingFrameRate).current = 10;
    return camera;
  }
  Jpegpress jpegpress_;
};

std::vector<uint8_t> pattern(size_t bytes) {
  std::vector<uint8_t> p(bytes);
  for (size_t i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(i * 13 + i / 97);
  return p;
}

TEST_F(EncoderChoiceTest, SizesNotMultiplesOf16UseTheSystemEncoderOnTheTurnedPlanarPicture) {
  const uint32_t w = 160, h = 120;  // 120 is not a multiple of 16
  auto camera = make(mode(w, h, kFormatUyvy));
  camera->common(kSettingRotation).current = 1;
  const std::vector<uint8_t> picture = pattern(w * h * 2);
  FrameDescriptor frame;
  const std::vector<uint8_t> jpeg = captureOne(*camera, picture, &frame);

  ASSERT_EQ(FakeSystemEncoder::created.size(), 1u);
  const SystemEncoderCreation& record = FakeSystemEncoder::created[0];
  EXPECT_EQ(record.width, h);  // created for the turned size
  EXPECT_EQ(record.height, w);
  EXPECT_EQ(record.quality, 60u);
  EXPECT_EQ(record.thumbnailWidth, 160u);
  EXPECT_EQ(record.thumbnailHeight, 120u);
  EXPECT_EQ(record.format, kFormatYv12);
  EXPECT_EQ(FakeSystemEncoder::options, std::vector<uint32_t>{kSystemEncoderOptionThumbnail << 16});

  std::vector<uint8_t> turned(w * h * 3 / 2);
  ASSERT_TRUE(UyvyToPlanar(turned.data(), picture.data(), w, h, 1));
  EXPECT_EQ(FakeSystemEncoder::lastSource, turned);
  ASSERT_EQ(jpeg.size(), 12u);
  EXPECT_EQ(jpeg[0], 0xFF);
  EXPECT_TRUE(std::equal(turned.begin(), turned.begin() + 8, jpeg.begin() + 2));
  EXPECT_EQ(frame.format, kFormatJpeg);
  EXPECT_EQ(frame.width, w);

  // A restart with the same values keeps the encoder object.
  captureOne(*camera, picture);
  EXPECT_EQ(FakeSystemEncoder::created.size(), 1u);
}

TEST_F(EncoderChoiceTest, PlanarAtNoTurnIsEncodedStraightAndRgbGoesThroughUyvy) {
  const uint32_t w = 160, h = 120;
  PictureMode planar = mode(w, h, kFormatYv12);
  planar.nativeSwap = 1;  // the planes already in the program's order
  auto camera = make(planar);
  const std::vector<uint8_t> picture = pattern(w * h * 3 / 2);
  captureOne(*camera, picture);
  EXPECT_EQ(FakeSystemEncoder::lastSource, picture);

  FakeSystemEncoder::reset();
  auto rgb = make(mode(w, h, kFormatRgb565));
  std::vector<uint8_t> pixels = pattern(w * h * 2);
  captureOne(*rgb, pixels);
  std::vector<uint8_t> expected(w * h * 3 / 2);
  ASSERT_TRUE(RgbToUyvy(pixels.data(), pixels.size(), 16));
  ASSERT_TRUE(UyvyToPlanar(expected.data(), pixels.data(), w, h, 0));
  EXPECT_EQ(FakeSystemEncoder::lastSource, expected);
}

TEST_F(EncoderChoiceTest, MultiplesOf16UseJpegpressWhenBound) {
  auto camera = make(mode(320, 240, kFormatUyvy));
  const std::vector<uint8_t> jpeg = captureOne(*camera, pattern(320 * 240 * 2));
  EXPECT_TRUE(FakeSystemEncoder::created.empty());
  const jt::Decoded decoded = jt::decodeJpeg(jpeg.data(), jpeg.size());
  EXPECT_TRUE(decoded.error.empty()) << decoded.error;
  EXPECT_EQ(decoded.width, 320);
  EXPECT_EQ(decoded.height, 240);

  // Without jpegpress the same mode needs the system encoder.
  auto plain = make(mode(320, 240, kFormatUyvy), false);
  captureOne(*plain, pattern(320 * 240 * 2));
  EXPECT_EQ(FakeSystemEncoder::created.size(), 1u);
}

TEST_F(EncoderChoiceTest, CaptureFailsToStartWithoutAUsableEncoder) {
  StartParams p;
  p.mode = kModeCapture;
  platform::Event ready;
  p.frameReady = &ready;
  auto none = make(mode(160, 120), true, nullptr);
  EXPECT_FALSE(none->Start(p));
  FakeSystemEncoder::factoryResult = 5;
  auto refusing = make(mode(160, 120));
  EXPECT_FALSE(refusing->Start(p));
  EXPECT_EQ(refusing->opens, 0);
  // Preview needs no encoder.
  p.mode = kModePreview;
  EXPECT_TRUE(none->Start(p));
}

// ---- jpegpress and the fallback module give the same picture ----

TEST(EncoderAgreement, JpegpressAndTheFallbackModuleGiveTheSameOrientationAtEveryTurn) {
  Jpegpress jpegpress;
  ASSERT_TRUE(jpegpress.bound);
  sources::FolderModuleLoader loader({VISTREL_MODULE_DIR});
  const SystemEncoderBinding fallback = SystemEncoderBinding::bind(loader);
  ASSERT_TRUE(fallback) << "blenhart.so in " << VISTREL_MODULE_DIR;

  const int w = 64, h = 48;
  const jt::RgbPicture rgb = jt::naturalPicture(w, h, 11);
  struct Layout {
    const char* name;
    uint32_t format;
    std::vector<uint8_t> bytes;
  };
  const Layout layouts[] = {{"UYVY", kFormatUyvy, jt::toUyvy(rgb)},
                            {"YV12", kFormatYv12, jt::toPlanar(rgb)}};
  for (const Layout& layout : layouts) {
    for (uint32_t r = 0; r < 4; ++r) {
      const std::vector<uint8_t> expected = jt::turnPacked(rgb.rgb, w, h, 3, static_cast<int>(r));
      std::vector<uint8_t> decodedBy[2];
      for (int which = 0; which < 2; ++which) {
        CameraEnvironment env;
        if (which == 0)
          env.jpegpress = &jpegpress.table;
        else
          env.systemEncoder = fallback.factory();
        PictureMode m = mode(w, h, layout.format);
        m.nativeSwap = layout.format == kFormatYv12;  // planes already U then V
        FakeCamera camera(env, {m});
        camera.Init();
        camera.common(kSettingRotation).current = static_cast<int32_t>(r);
        camera.common(kSettingQuality).current = 6;  // 90
        const std::vector<uint8_t> jpeg = captureOne(camera, layout.bytes);
        ASSERT_FALSE(jpeg.empty()) << layout.name << " r=" << r << " encoder " << which;
        const jt::Decoded decoded = jt::decodeJpeg(jpeg.data(), jpeg.size());
        ASSERT_TRUE(decoded.error.empty()) << decoded.error;
        ASSERT_EQ(decoded.width, (r & 1) ? h : w) << layout.name << " r=" << r;
        ASSERT_EQ(decoded.height, (r & 1) ? w : h);
        const double quality = jt::psnr(decoded.pixels.data(), expected.data(), expected.size());
        // About 26 dB (4:2:0 chroma of a finely textured picture); a wrong turn gives far less.
        EXPECT_GT(quality, 22.0) << layout.name << " r=" << r << " encoder " << which;
        const std::vector<uint8_t> wrong = jt::turnPacked(rgb.rgb, w, h, 3, static_cast<int>(r ^ 2));
        EXPECT_LT(jt::psnr(decoded.pixels.data(), wrong.data(), wrong.size()), 16.0)
            << layout.name << " r=" << r << " encoder " << which;
        decodedBy[which] = decoded.pixels;
      }
      EXPECT_GT(jt::psnr(decodedBy[0].data(), decodedBy[1].data(), decodedBy[0].size()), 28.0)
          << layout.name << " r=" << r;
    }
  }
}

TEST(FallbackModule, RefusesBadRecordsAndPicturesThatDoNotFit) {
  sources::FolderModuleLoader loader({VISTREL_MODULE_DIR});
  const SystemEncoderBinding fallback = SystemEncoderBinding::bind(loader);
  ASSERT_TRUE(fallback);
  SystemEncoder* object = reinterpret_cast<SystemEncoder*>(1);
  SystemEncoderCreation record;
  record.width = 31;
  record.height = 16;
  record.quality = 75;
  record.format = kFormatYv12;
  EXPECT_NE(fallback.factory()(&object, &record), 0);
  EXPECT_EQ(object, nullptr);
  record.width = 32;
  record.format = kFormatUyvy;
  EXPECT_NE(fallback.factory()(&object, &record), 0);
  record.format = kFormatYv12;
  ASSERT_EQ(fallback.factory()(&object, &record), 0);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->operations->SetOption(object, kSystemEncoderOptionThumbnail, 0), 0);
  std::vector<uint8_t> picture = pattern(32 * 16 * 3 / 2), out(4096);
  uint32_t size = 40;  // far too small
  EXPECT_NE(object->operations->Encode(object, picture.data(), out.data(), &size), 0);
  size = static_cast<uint32_t>(out.size());  // the object is usable after a failure
  ASSERT_EQ(object->operations->Encode(object, picture.data(), out.data(), &size), 0);
  const jt::Decoded decoded = jt::decodeJpeg(out.data(), size);
  EXPECT_TRUE(decoded.error.empty()) << decoded.error;
  EXPECT_EQ(decoded.width, 32);
  object->operations->Release(object);
}

}  // namespace
}  // namespace camera
