// The host's delivery path without PipeWire: the pin's loop fills the host's sample and
// the loopback output (on the fake device) gets every picture whole, in order, converted,
// at the size SetFormat chose.
#include "camera_outputs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>

#include "fake_v4l2.h"
#include "output/capture_pin.h"
#include "platform/linux/v4l2_kernel.h"

namespace output {
namespace {

class CountingLink : public FrameLink {
 public:
  int frames = 0;  // frames to announce, then the loop is told to stop
  CommandQueue* commands = nullptr;
  uint8_t next = 1;
  uint32_t w = 320, h = 240;
  void open() override {}
  void close() override {}
  Source source() override { return Source::kSharedBlock; }
  Wait waitFrame(uint32_t) override {
    if (frames-- > 0) return Wait::kFrame;
    commands->post(ThreadCommand::kStop);
    return Wait::kOther;
  }
  uint32_t latestLength() override { return 100; }
  bool renderNewest(uint8_t* dst, size_t size) override {
    std::memset(dst, next++, size);  // each frame a flat grey of its own
    return true;
  }
  uint32_t outputWidth() override { return w; }
  uint32_t outputHeight() override { return h; }
  void setOutputSize(uint32_t width, uint32_t height) override {
    w = width;
    h = height;
  }
  uint32_t settingsWidth() override { return 320; }
  uint32_t settingsHeight() override { return 240; }
};

TEST(CameraOutputsTest, EveryPictureReachesTheLoopbackDeviceWholeAndInOrder) {
  platform::testing::FakeV4l2 dev;
  platform::testing::FakeVideoNode node;
  node.path = "/dev/video42";
  node.capabilities = V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_READWRITE;
  node.maxWrite = 50000;  // the device takes a picture in several writes
  dev.addNode(node);
  V4l2Output v4l2(dev, node.path, PixelFormat::kBgrx);
  std::string error;
  ASSERT_TRUE(v4l2.open(&error) && v4l2.configure(320, 240, &error)) << error;
  CountingLink link;
  CommandQueue commands;
  link.commands = &commands;
  CameraOutputs outputs(link, nullptr, &v4l2);
  CapturePin pin(link, outputs);
  pin.setState(FilterState::kRunning);

  link.frames = 3;
  pin.run(commands);
  // A program's new size goes through SetFormat while stopped; the device follows.
  pin.setState(FilterState::kStopped);
  ASSERT_EQ(pin.setFormat(buildMediaType(160, 120)), kSOk);
  pin.setState(FilterState::kRunning);
  link.frames = 2;
  pin.run(commands);

  const auto formats = dev.formatRequests();
  ASSERT_EQ(formats.size(), 2u);
  EXPECT_EQ(formats[1].width, 160u);
  EXPECT_EQ(formats[1].sizeImage, 160u * 120 * 4);
  const auto pictures = dev.writtenPictures();
  ASSERT_EQ(pictures.size(), 5u);
  for (size_t i = 0; i < 5; ++i) {
    const size_t size = i < 3 ? 320u * 240 * 4 : 160u * 120 * 4;
    const auto grey = static_cast<uint8_t>(i + 1);
    ASSERT_EQ(pictures[i].size(), size);
    for (size_t p = 0; p < size; p += 4) {
      ASSERT_EQ(pictures[i][p], grey);
      ASSERT_EQ(pictures[i][p + 1], grey);
      ASSERT_EQ(pictures[i][p + 2], grey);
      ASSERT_EQ(pictures[i][p + 3], 255);
    }
  }
  EXPECT_EQ(outputs.delivered(), 5u);
}

}  // namespace
}  // namespace output
