#include "v4l2_camera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "camera_select.h"
#include "fake_v4l2.h"
#include "formats.h"
#include "platform/linux/v4l2_kernel.h"
#include "sink_graph.h"
#include "test_support.h"
#include "wait_until.h"

namespace framesink::testing {
namespace {

using platform::testing::FakeV4l2;
using platform::testing::FakeFrameSize;
using platform::testing::FakeVideoNode;
using platform::testing::fourccText;

FakeVideoNode webcam() {
  FakeVideoNode setup;
  setup.formats = {
      {V4L2_PIX_FMT_YUYV, {{640, 480, 30}, {320, 240, 30}, {1280, 1024, 2}}},
      {V4L2_PIX_FMT_MJPEG, {{640, 480, 30}}},
  };
  setup.controls = {
      {V4L2_CID_BRIGHTNESS, -64, 64, 1, 0, 0},
      {V4L2_CID_SHARPNESS, 0, 7, 1, 2, 2},
      {V4L2_CID_ZOOM_ABSOLUTE, 100, 700, 100, 100, 100},
      {V4L2_CID_WHITE_BALANCE_TEMPERATURE, 0, 6500, 1, 4600, 4600},
      {V4L2_CID_AUTO_WHITE_BALANCE, 0, 1, 1, 1, 1},
  };
  return setup;
}

std::vector<FormatEntry> formatsOf(SinkGraph& graph, uint32_t category) {
  FormatEntry table[kMaxFormats];
  uint32_t count = kMaxFormats;
  EXPECT_TRUE(graph.getFormats(table, &count, category));
  return {table, table + count};
}

TEST(V4l2Camera, ListsFormatsAsThePipelineKnowsThemAndSlowSizesAsStillsOnly) {
  auto io = std::make_shared<FakeV4l2>();
  io->addNode(webcam());
  SinkGraph graph(openV4l2Camera(io, ""), kSinkPreview | kSinkCapture | kSinkStill);
  EXPECT_EQ(graph.connected(), kSinkCapture | kSinkStill);  // one stream: no preview

  const std::vector<FormatEntry> capture = {
      {640, 480, kFormatUyvy}, {320, 240, kFormatUyvy}, {640, 480, kFormatJpeg}};
  EXPECT_EQ(formatsOf(graph, kSinkCapture), capture);
  std::vector<FormatEntry> still = formatsOf(graph, kSinkStill);
  ASSERT_EQ(still.size(), 4u);
  EXPECT_EQ(still[2], (FormatEntry{1280, 1024, kFormatUyvy}));

  // The caller's room bounds the answer; a category without a pin fails.
  FormatEntry one[1];
  uint32_t count = 1;
  EXPECT_TRUE(graph.getFormats(one, &count, kSinkCapture));
  EXPECT_EQ(count, 1u);
  count = 1;
  EXPECT_FALSE(graph.getFormats(one, &count, kSinkPreview));
  EXPECT_FALSE(graph.getFormats(one, &count, 3));
}

TEST(V4l2Camera, TakesAtMostSixteenFormatsAndSkipsZeroAndUnknownOnes) {
  FakeVideoNode setup;
  setup.formats.push_back({V4L2_PIX_FMT_SGRBG8, {{640, 480, 30}}});  // no layout the pipeline knows
  setup.formats.push_back({V4L2_PIX_FMT_YUYV, {{0, 0, 30}, {320, 0, 30}}});
  std::vector<FakeFrameSize> many;
  for (uint32_t i = 1; i <= 100; ++i) many.push_back({16 * i, 16 * i, 30});
  setup.formats.push_back({V4L2_PIX_FMT_UYVY, many});
  auto io = std::make_shared<FakeV4l2>();
  io->addNode(setup);
  SinkGraph graph(openV4l2Camera(io, ""), kSinkCapture | kSinkStill);
  FormatEntry table[40];
  uint32_t count = 40;
  ASSERT_TRUE(graph.getFormats(table, &count, kSinkCapture));
  ASSERT_EQ(count, kMaxFormats);
  EXPECT_EQ(table[0], (FormatEntry{16, 16, kFormatUyvy}));
}

// The automatic choice takes a real camera or fails with a message: the test pattern only
// when it is asked for, so that a broken camera is never mistaken for a working one.
TEST(CameraSelection, AutomaticChoiceNeverFallsBackToTheTestPattern) {
  auto none = std::make_shared<FakeV4l2>();
  FakeVideoNode output;
  output.capabilities = V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_STREAMING;
  none->addNode(output);  // a node, but no capture device
  auto one = std::make_shared<FakeV4l2>();
  one->addNode(webcam());
  struct Case {
    const char* selection;
    std::shared_ptr<FakeV4l2> io;
    bool opens;
  };
  const Case cases[] = {
      {"auto", none, false},  {"", none, false},     {"whatever", none, false},
      {"v4l2", none, false},  {"/dev/video0", none, false},
      {"auto", one, true},    {"v4l2", one, true},   {"test-pattern", none, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.selection);
    std::string problem;
    auto camera = openSelectedCamera(c.selection, c.io, problem);
    EXPECT_EQ(camera != nullptr, c.opens);
    if (c.opens) {
      EXPECT_TRUE(problem.empty()) << problem;
      continue;
    }
    EXPECT_EQ(problem.rfind("no camera found", 0), 0u) << problem;
  }
}

TEST(V4l2Camera, NoCameraOrNoCaptureNodeGivesNothing) {
  auto io = std::make_shared<FakeV4l2>();
  EXPECT_EQ(openV4l2Camera(io, ""), nullptr);
  FakeVideoNode output;
  output.path = "/dev/video0";
  output.capabilities = V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_STREAMING;
  io->addNode(output);
  EXPECT_EQ(openV4l2Camera(io, ""), nullptr);
  EXPECT_EQ(openV4l2Camera(io, "/dev/video7"), nullptr);
  EXPECT_EQ(io->openDescriptors(), 0);

  FakeVideoNode second = webcam();
  second.path = "/dev/video1";
  io->addNode(second);
  auto camera = openV4l2Camera(io, "");
  ASSERT_NE(camera, nullptr);
  EXPECT_TRUE(io->called("open /dev/video1"));
  EXPECT_EQ(io->openDescriptors(), 1);
  camera.reset();
  EXPECT_EQ(io->openDescriptors(), 0);
}

TEST(V4l2Camera, YuyvArrivesAsUyvyAndBuffersAreRequeued) {
  auto io = std::make_shared<FakeV4l2>();
  io->addNode(webcam());
  SinkGraph graph(openV4l2Camera(io, ""), kSinkCapture);
  const FormatEntry small{320, 240, kFormatUyvy};
  ASSERT_TRUE(graph.setFormat(&small, kSinkCapture));
  PictureSink sink;
  const SampleCallback cb = sink.callback();
  ASSERT_TRUE(graph.setCallback(&cb, kSinkCapture));

  std::vector<uint8_t> yuyv(320 * 240 * 2);
  for (size_t i = 0; i < yuyv.size(); i += 4) {
    yuyv[i] = 10;      // Y0
    yuyv[i + 1] = 20;  // U
    yuyv[i + 2] = 30;  // Y1
    yuyv[i + 3] = 40;  // V
  }
  // More pictures than buffers: only requeued buffers let them through.
  for (int i = 0; i < 10; ++i) io->queuePicture(yuyv);
  ASSERT_TRUE(graph.setState(kSinkRunning));
  ASSERT_TRUE(sink.waitFor(10));
  ASSERT_TRUE(graph.setState(kSinkStopped));

  EXPECT_TRUE(io->called("S_FMT 320x240 YUYV"));
  const auto pictures = sink.pictures();
  ASSERT_EQ(pictures[0].size(), yuyv.size());
  for (size_t i = 0; i < pictures[0].size(); i += 4) {
    ASSERT_EQ(pictures[0][i], 20);
    ASSERT_EQ(pictures[0][i + 1], 10);
    ASSERT_EQ(pictures[0][i + 2], 40);
    ASSERT_EQ(pictures[0][i + 3], 30);
  }
  EXPECT_EQ(io->liveMappings(), 0);
}

// Planar camera pictures reach the pipeline in the chroma order it expects of its codes:
// "YV12" is luma, then the Cr plane, then the Cb plane; "NV12" is luma, then Cr Cb pairs.
// Whatever order the camera uses, Cr (200 here) therefore comes first and Cb (100) second.
TEST(V4l2Camera, PlanarFormatsArriveInThePipelinesChromaOrder) {
  constexpr uint32_t kW = 32, kH = 16, kLuma = kW * kH, kQuarter = kLuma / 4;
  struct Case {
    uint32_t v4l2;
    uint32_t format;
    bool interleaved;  // as delivered by the camera
    uint8_t first, second;
  } cases[] = {
      {V4L2_PIX_FMT_NV12, kFormatNv12, true, 100, 200},
      {V4L2_PIX_FMT_NV21, kFormatNv12, true, 200, 100},
      {V4L2_PIX_FMT_YUV420, kFormatYv12, false, 100, 200},
      {V4L2_PIX_FMT_YVU420, kFormatYv12, false, 200, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(fourccText(c.v4l2));
    FakeVideoNode setup;
    setup.formats.push_back({c.v4l2, {{kW, kH, 30}}});
    auto io = std::make_shared<FakeV4l2>();
    io->addNode(setup);
    SinkGraph graph(openV4l2Camera(io, ""), kSinkCapture);
    FormatEntry listed[4];
    uint32_t count = 4;
    ASSERT_TRUE(graph.getFormats(listed, &count, kSinkCapture));
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(listed[0].format, c.format);
    ASSERT_TRUE(graph.setFormat(&listed[0], kSinkCapture));
    PictureSink sink;
    const SampleCallback cb = sink.callback();
    ASSERT_TRUE(graph.setCallback(&cb, kSinkCapture));
    std::vector<uint8_t> picture(kLuma + 2 * kQuarter, 50);
    for (uint32_t i = 0; i < kQuarter; ++i) {
      if (c.interleaved) {
        picture[kLuma + 2 * i] = c.first;
        picture[kLuma + 2 * i + 1] = c.second;
      } else {
        picture[kLuma + i] = c.first;
        picture[kLuma + kQuarter + i] = c.second;
      }
    }
    io->queuePicture(picture);
    ASSERT_TRUE(graph.setState(kSinkRunning));
    ASSERT_TRUE(sink.waitFor(1));
    ASSERT_TRUE(graph.setState(kSinkStopped));
    const std::vector<uint8_t> got = sink.pictures()[0];
    ASSERT_EQ(got.size(), picture.size());
    EXPECT_EQ(got[0], 50);
    for (uint32_t i = 0; i < kQuarter; ++i) {
      const bool pairs = c.format == kFormatNv12;
      const uint8_t cr = pairs ? got[kLuma + 2 * i] : got[kLuma + i];
      const uint8_t cb = pairs ? got[kLuma + 2 * i + 1] : got[kLuma + kQuarter + i];
      ASSERT_EQ(cr, 200) << i;
      ASSERT_EQ(cb, 100) << i;
    }
  }
}

TEST(V4l2Camera, ShortErrorAndPaddedBuffers) {
  FakeVideoNode setup = webcam();
  setup.formats = {{V4L2_PIX_FMT_UYVY, {{320, 240, 30}}}};
  setup.extraBytesPerLine = 64;
  auto io = std::make_shared<FakeV4l2>();
  io->addNode(setup);
  SinkGraph graph(openV4l2Camera(io, ""), kSinkCapture);
  PictureSink sink;
  const SampleCallback cb = sink.callback();
  ASSERT_TRUE(graph.setCallback(&cb, kSinkCapture));

  const uint32_t stride = 320 * 2 + 64;
  std::vector<uint8_t> padded(stride * 240, 0xEE);
  for (uint32_t y = 0; y < 240; ++y) std::fill_n(padded.begin() + y * stride, 640, static_cast<uint8_t>(y));
  io->queuePicture(std::vector<uint8_t>(1000, 1));  // short
  io->queuePicture(padded, /*errorFlag=*/true);     // marked bad by the driver
  io->queuePicture(padded);
  ASSERT_TRUE(graph.setState(kSinkRunning));
  ASSERT_TRUE(sink.waitFor(1));
  graph.setState(kSinkStopped);
  const auto pictures = sink.pictures();
  ASSERT_EQ(pictures.size(), 1u);
  ASSERT_EQ(pictures[0].size(), 320u * 240 * 2);
  for (uint32_t y = 0; y < 240; ++y)
    ASSERT_TRUE(std::all_of(pictures[0].begin() + y * 640, pictures[0].begin() + (y + 1) * 640,
                            [&](uint8_t b) { return b == static_cast<uint8_t>(y); }))
        << "row " << y;
}

TEST(V4l2Camera, UnpluggedCameraStopsTheStreamCleanly) {
  auto io = std::make_shared<FakeV4l2>();
  io->addNode(webcam());
  SinkGraph graph(openV4l2Camera(io, ""), kSinkCapture);
  PictureSink sink;
  const SampleCallback cb = sink.callback();
  ASSERT_TRUE(graph.setCallback(&cb, kSinkCapture));
  io->queuePicture(std::vector<uint8_t>(640 * 480 * 2, 7));
  ASSERT_TRUE(graph.setState(kSinkRunning));
  ASSERT_TRUE(sink.waitFor(1));
  io->unplug();
  EXPECT_TRUE(platform::testing::waitUntil([&] { return graph.cameraFailed(); }));
  EXPECT_TRUE(graph.setState(kSinkStopped));
  EXPECT_EQ(io->liveMappings(), 0);
}

TEST(V4l2Camera, RefusedFormatFailsTheStream) {
  auto io = std::make_shared<FakeV4l2>();
  io->addNode(webcam());
  io->failRequest(VIDIOC_S_FMT, EIO);
  SinkGraph graph(openV4l2Camera(io, ""), kSinkCapture);
  ASSERT_TRUE(graph.setState(kSinkRunning));
  EXPECT_TRUE(platform::testing::waitUntil([&] { return graph.cameraFailed(); }));
  graph.setState(kSinkStopped);
  EXPECT_FALSE(io->called("STREAMON"));
}

TEST(V4l2Camera, StillIsTakenFromTheStreamAtTheStillSize) {
  auto io = std::make_shared<FakeV4l2>();
  io->addNode(webcam());
  SinkGraph graph(openV4l2Camera(io, ""), kSinkCapture | kSinkStill);
  const FormatEntry big{1280, 1024, kFormatUyvy};
  ASSERT_TRUE(graph.setFormat(&big, kSinkStill));
  ASSERT_FALSE(graph.setFormat(&big, kSinkCapture));  // too slow to stream
  PictureSink sink;
  const SampleCallback cb = sink.callback();
  io->queuePicture(std::vector<uint8_t>(1280 * 1024 * 2, 3));
  io->queuePicture(std::vector<uint8_t>(1280 * 1024 * 2, 4));
  ASSERT_TRUE(graph.triggerStill(&cb));
  EXPECT_EQ(graph.state(), kSinkRunning);
  ASSERT_TRUE(sink.waitFor(1));
  // Both pictures were taken and their buffers given back (4 queued at the start).
  auto requeued = [&] {
    const auto calls = io->calls();
    return std::count(calls.begin(), calls.end(), "QBUF");
  };
  ASSERT_TRUE(platform::testing::waitUntil([&] { return requeued() >= 6; }));
  EXPECT_EQ(requeued(), 6);
  EXPECT_EQ(sink.count(), 1u);  // one still per trigger: the second picture was not handed out
  // Asked for first, so the next picture the camera delivers is the still.
  ASSERT_TRUE(graph.triggerStill(&cb));
  io->queuePicture(std::vector<uint8_t>(1280 * 1024 * 2, 5));
  ASSERT_TRUE(sink.waitFor(2));
  graph.setState(kSinkStopped);
  EXPECT_EQ(sink.pictures()[1][0], 5);
  EXPECT_TRUE(io->called("S_FMT 1280x1024 YUYV"));
}

struct ControlCase {
  int32_t which;
  uint32_t property;
  int32_t value;
  uint32_t v4l2Id;
};

TEST(V4l2Camera, ControlWritesReachTheMappedControls) {
  const ControlCase cases[] = {
      {kSinkCameraControls, kCameraZoom, 300, V4L2_CID_ZOOM_ABSOLUTE},
      {kSinkPictureControls, kPictureBrightness, 5, V4L2_CID_BRIGHTNESS},
      {kSinkPictureControls, kPictureSharpness, 2, V4L2_CID_SHARPNESS},
      {kSinkPictureControls, kPictureWhiteBalance, 3, V4L2_CID_WHITE_BALANCE_TEMPERATURE},
  };
  auto io = std::make_shared<FakeV4l2>();
  io->addNode(webcam());
  SinkGraph graph(openV4l2Camera(io, ""), kSinkCapture);
  for (const ControlCase& c : cases) {
    ValueEntry v{c.property, c.value, kControlManual, 0xFFFFFFFF};
    EXPECT_TRUE(graph.getSetValues(&v, 1, c.which, 1)) << c.property;
    EXPECT_EQ(v.result, kSinkOk);
    EXPECT_EQ(io->controlValue(c.v4l2Id), c.value) << c.property;
    ValueEntry back{c.property, 0, 0, 0xFFFFFFFF};
    EXPECT_TRUE(graph.getSetValues(&back, 1, c.which, 0));
    EXPECT_EQ(back.value, c.value);
    EXPECT_EQ(back.flags, kControlManual);
  }
  // Writing white balance by hand switched the automatic white balance off first.
  EXPECT_EQ(io->controlValue(V4L2_CID_AUTO_WHITE_BALANCE), 0);
  ValueEntry autoWb{kPictureWhiteBalance, 0, kControlAuto, 0};
  EXPECT_TRUE(graph.getSetValues(&autoWb, 1, kSinkPictureControls, 1));
  EXPECT_EQ(io->controlValue(V4L2_CID_AUTO_WHITE_BALANCE), 1);

  // Out of range, unknown and unmapped properties fail with their own codes.
  ValueEntry bad[3] = {{kPictureBrightness, 1000, kControlManual, 0},
                       {kPictureGamma, 1, kControlManual, 0},
                       {kCameraRoll, 1, kControlManual, 0}};
  EXPECT_FALSE(graph.getSetValues(&bad[0], 2, kSinkPictureControls, 1));
  EXPECT_EQ(bad[0].result, kSinkInvalidArg);
  EXPECT_EQ(bad[1].result, kSinkPropUnsupported);
  EXPECT_FALSE(graph.getSetValues(&bad[2], 1, kSinkCameraControls, 1));
  EXPECT_EQ(bad[2].result, kSinkPropUnsupported);
}

TEST(V4l2Camera, RangesComeFromTheDriver) {
  auto io = std::make_shared<FakeV4l2>();
  io->addNode(webcam());
  SinkGraph graph(openV4l2Camera(io, ""), kSinkCapture);
  RangeEntry r[2] = {};
  r[0].property = kPictureWhiteBalance;
  r[1].property = kPictureBrightness;
  ASSERT_TRUE(graph.getRanges(r, 2, kSinkPictureControls));
  EXPECT_EQ(r[0].maximum, 6500);
  EXPECT_EQ(r[0].defaultValue, 4600);
  EXPECT_EQ(r[0].capabilityFlags, kControlAuto | kControlManual);
  EXPECT_EQ(r[1].minimum, -64);
  EXPECT_EQ(r[1].capabilityFlags, kControlManual);
  RangeEntry focus{};
  focus.property = kCameraFocus;
  EXPECT_FALSE(graph.getRanges(&focus, 1, kSinkCameraControls));
  EXPECT_EQ(focus.result, kSinkPropUnsupported);
}

}  // namespace
}  // namespace framesink::testing
