#include "synthetic_camera.h"

#include <gtest/gtest.h>

#include "platform/event.h"

namespace testing_sources {
namespace {

TEST(SyntheticCamera, NumberedPicturesOneAtATime) {
  std::vector<uint8_t> out(320 * 240 * 3), rgb;
  const size_t n = encodeTestPicture(42, 320, 240, out.data(), out.size(), rgb);
  ASSERT_GT(n, 100u);
  EXPECT_EQ(out[0], 0xFF);
  EXPECT_EQ(out[1], 0xD8);
  EXPECT_EQ(pictureNumber(out.data(), n), 42);
  EXPECT_EQ(encodeTestPicture(1, 320, 240, out.data(), 50, rgb), 0u);  // too small

  SyntheticCamera camera;
  camera.Init();
  camera.Settings()->next->current = 0;  // MAX
  platform::Event ready;
  sources::StartParams p;
  p.frameReady = &ready;
  p.mode = sources::kModeCapture;
  ASSERT_TRUE(camera.Start(p));
  long expect = 0;
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(ready.wait(3000));
    sources::FrameDescriptor d;
    const uint32_t stamp = camera.TakeFrame(nullptr);
    ASSERT_NE(stamp, 0u);
    EXPECT_EQ(camera.TakeFrame(&d), stamp);
    // Taking frees the producer, which may publish the next picture at once (rate MAX):
    // what waits now is never the picture just taken, as the numbers below show.
    EXPECT_EQ(d.format, sources::kFormatJpeg);
    EXPECT_EQ(pictureNumber(d.data, d.sizeBytes), expect++);
  }
  EXPECT_TRUE(camera.Stop());
  EXPECT_FALSE(camera.IsStarted());
}

}  // namespace
}  // namespace testing_sources
