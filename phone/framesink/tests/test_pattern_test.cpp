#include <gtest/gtest.h>

#include <thread>

#include "formats.h"
#include "framesink/test_pattern.h"
#include "sink_graph.h"
#include "test_pattern_camera.h"
#include "test_support.h"

namespace framesink::testing {
namespace {

size_t pictureBytes(uint32_t w, uint32_t h, uint32_t format) {
  return format == kFormatUyvy ? size_t{w} * h * 2 : size_t{w} * h * 3 / 2;
}

TEST(TestPattern, StampReadsBackAtEverySizeAndFormat) {
  for (const auto& size : kTestPatternSizes) {
    for (uint32_t format : {kFormatUyvy, kFormatYv12}) {
      const uint32_t w = size[0], h = size[1];
      std::vector<uint8_t> picture(pictureBytes(w, h, format));
      const TestPatternStamp stamp{0x8001F00Du, 0x7FFF0001u};
      for (int32_t brightness : {0, 4, 8}) {
        ASSERT_TRUE(renderTestPattern(picture.data(), w, h, format, stamp, brightness));
        TestPatternStamp got;
        ASSERT_TRUE(readTestPatternStamp(picture.data(), static_cast<uint32_t>(picture.size()), w, h, format, got))
            << w << "x" << h;
        EXPECT_EQ(got.frameNumber, stamp.frameNumber);
        EXPECT_EQ(got.timestampMs, stamp.timestampMs);
      }
    }
  }
}

TEST(TestPattern, PlainPicturesAndShortBuffersHaveNoStamp) {
  std::vector<uint8_t> grey(320 * 240 * 2, 128);
  TestPatternStamp got;
  EXPECT_FALSE(readTestPatternStamp(grey.data(), static_cast<uint32_t>(grey.size()), 320, 240, kFormatUyvy, got));
  std::vector<uint8_t> picture(320 * 240 * 2);
  ASSERT_TRUE(renderTestPattern(picture.data(), 320, 240, kFormatUyvy, {5, 6}, 4));
  EXPECT_FALSE(readTestPatternStamp(picture.data(), 1000, 320, 240, kFormatUyvy, got));
  // One flipped cell in the frame number rows is caught by the check row.
  const uint32_t cellW = 320 / 16, cellH = 240 / 24;
  const uint32_t x = 15 * cellW + cellW / 2, y = cellH + cellH / 2;
  for (uint32_t dy = 0; dy < cellH; ++dy)
    for (uint32_t dx = 0; dx < cellW; ++dx)
      picture[((y - cellH / 2 + dy) * 320 + (x - cellW / 2 + dx)) * 2 + 1] ^= 0xFF;
  EXPECT_FALSE(readTestPatternStamp(picture.data(), static_cast<uint32_t>(picture.size()), 320, 240, kFormatUyvy, got));
  EXPECT_FALSE(renderTestPattern(picture.data(), 321, 240, kFormatUyvy, {}, 4));
  EXPECT_FALSE(renderTestPattern(picture.data(), 320, 240, kFormatJpeg, {}, 4));
}

TEST(TestPatternCamera, FramesCarryIncreasingNumbersAtTheChosenSizeAndFormat) {
  for (const FormatEntry format : {FormatEntry{176, 144, kFormatYv12}, FormatEntry{640, 480, kFormatUyvy}}) {
    SinkGraph graph(openTestPatternCamera(), kSinkPreview | kSinkCapture | kSinkStill);
    EXPECT_EQ(graph.connected(), kSinkCapture | kSinkStill);
    ASSERT_TRUE(graph.setFormat(&format, kSinkCapture));
    PictureSink sink;
    const SampleCallback cb = sink.callback();
    ASSERT_TRUE(graph.setCallback(&cb, kSinkCapture));
    ASSERT_TRUE(graph.setState(kSinkRunning));
    ASSERT_TRUE(sink.waitFor(4));
    ASSERT_TRUE(graph.setState(kSinkStopped));
    const size_t count = sink.count();
    uint32_t last = 0;
    for (const auto& p : sink.pictures()) {
      ASSERT_EQ(p.size(), pictureBytes(format.width, format.height, format.format));
      TestPatternStamp stamp;
      ASSERT_TRUE(readTestPatternStamp(p.data(), static_cast<uint32_t>(p.size()), format.width, format.height,
                                       format.format, stamp));
      EXPECT_GT(stamp.frameNumber, last);
      EXPECT_NE(stamp.timestampMs, 0u);
      last = stamp.frameNumber;
    }
    EXPECT_EQ(last, count);  // numbered from 1, none skipped while the callback keeps up
    // Stopped means stopped: no callback after setState(0) returned.
    std::this_thread::sleep_for(std::chrono::milliseconds(2 * kTestPatternPeriodMs));
    EXPECT_EQ(sink.count(), count);
  }
}

TEST(TestPatternCamera, BrightnessControlChangesThePicture) {
  SinkGraph graph(openTestPatternCamera(), kSinkCapture);
  RangeEntry range{};
  range.property = kPictureBrightness;
  ASSERT_TRUE(graph.getRanges(&range, 1, kSinkPictureControls));
  EXPECT_EQ(range.minimum, kTestPatternBrightnessMin);
  EXPECT_EQ(range.maximum, kTestPatternBrightnessMax);
  EXPECT_EQ(range.defaultValue, kTestPatternBrightnessDefault);
  RangeEntry zoom{};
  zoom.property = kCameraZoom;
  EXPECT_FALSE(graph.getRanges(&zoom, 1, kSinkCameraControls));
  EXPECT_EQ(zoom.result, kSinkPropUnsupported);

  const FormatEntry format{160, 120, kFormatUyvy};
  ASSERT_TRUE(graph.setFormat(&format, kSinkCapture));
  auto meanLuma = [&](int32_t brightness) {
    ValueEntry v{kPictureBrightness, brightness, kControlManual, 0xFF};
    EXPECT_TRUE(graph.getSetValues(&v, 1, kSinkPictureControls, 1));
    ValueEntry back{kPictureBrightness, -1, 0, 0xFF};
    EXPECT_TRUE(graph.getSetValues(&back, 1, kSinkPictureControls, 0));
    EXPECT_EQ(back.value, brightness);
    PictureSink sink;
    const SampleCallback cb = sink.callback();
    graph.setCallback(&cb, kSinkCapture);
    graph.setState(kSinkRunning);
    EXPECT_TRUE(sink.waitFor(1));
    graph.setState(kSinkStopped);
    const auto p = sink.pictures().front();
    uint64_t sum = 0;
    for (size_t i = 1; i < p.size(); i += 2) sum += p[i];
    return sum / (p.size() / 2);
  };
  EXPECT_LT(meanLuma(1), meanLuma(7));
  ValueEntry tooBright{kPictureBrightness, 9, kControlManual, 0};
  EXPECT_FALSE(graph.getSetValues(&tooBright, 1, kSinkPictureControls, 1));
  EXPECT_EQ(tooBright.result, kSinkInvalidArg);
}

TEST(TestPatternCamera, StillsAtTheStillSize) {
  SinkGraph graph(openTestPatternCamera(), kSinkCapture | kSinkStill);
  const FormatEntry still{1280, 960, kFormatYv12};
  ASSERT_TRUE(graph.setFormat(&still, kSinkStill));
  PictureSink sink;
  const SampleCallback cb = sink.callback();
  ASSERT_TRUE(graph.triggerStill(&cb));
  ASSERT_TRUE(sink.waitFor(1));
  ASSERT_TRUE(graph.triggerStill(&cb));
  ASSERT_TRUE(sink.waitFor(2));
  graph.setState(kSinkStopped);
  TestPatternStamp a, b;
  const auto p = sink.pictures();
  ASSERT_TRUE(readTestPatternStamp(p[0].data(), static_cast<uint32_t>(p[0].size()), 1280, 960, kFormatYv12, a));
  ASSERT_TRUE(readTestPatternStamp(p[1].data(), static_cast<uint32_t>(p[1].size()), 1280, 960, kFormatYv12, b));
  EXPECT_LT(a.frameNumber, b.frameNumber);
}

}  // namespace
}  // namespace framesink::testing
