// The system driver port against a driver that a local program serves: the "CAM1:" camera
// opens it, sends its control requests over the device socket, maps the frame area the
// serving program made and delivers the ready slot.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "camera_rig.h"
#include "makers/driver_port.h"
#include "makers/stream_cameras.h"
#include "peer_probe.h"
#include "platform/device_io.h"
#include "platform/device_server.h"
#include "platform/named_objects.h"

namespace makers::testing {
namespace {

// A served "CAM1:" driver: sensor type 1 (so the frame area at 0xA3C00000), ready slot 2;
// every request is recorded and answered with success.
class ServedCam1 {
 public:
  ServedCam1() {
    std::string error;
    server_ = platform::DeviceServer::startAnswering(
        "\\\\.\\CAM1",
        [this](uint32_t code, const uint8_t*, uint32_t, uint32_t, std::vector<uint8_t>& answer) {
          std::lock_guard lock(mutex_);
          codes_.push_back(code);
          if (code == cam1::kSensorType) answer = {1};
          if (code == cam1::kReadyIndex) answer = {2, 0, 0, 0, 0xEE};  // more than asked for
          return 0u;
        },
        &error);
    EXPECT_NE(server_, nullptr) << error;
  }
  std::vector<uint32_t> codes() {
    std::lock_guard lock(mutex_);
    return codes_;
  }

 private:
  std::mutex mutex_;
  std::vector<uint32_t> codes_;
  std::unique_ptr<platform::DeviceServer> server_;
};

class SystemPortTest : public CameraRig {
 protected:
  void SetUp() override {
    CameraRig::SetUp();
    const std::string tag = "makers-port-" + std::to_string(getpid());
    setenv("VISTREL_DEVICE_PREFIX", (tag + "-dev/").c_str(), 1);
    setenv("VISTREL_OBJECT_PREFIX", (tag + "-").c_str(), 1);
  }
  void TearDown() override {
    for (uint32_t address : {cam1::kAreaOther, cam1::kAreaSensors3To7})
      platform::removeNamedObject(frameAreaObjectName(address));
    unsetenv("VISTREL_DEVICE_PREFIX");
    unsetenv("VISTREL_OBJECT_PREFIX");
  }
};

TEST_F(SystemPortTest, Cam1DeliversTheReadySlotOfAServedDriver) {
  // The serving program's frame area, slot 2 holding a known picture.
  auto area = platform::SharedMemory::openOrCreate(frameAreaObjectName(cam1::kAreaOther), cam1::kAreaBytes);
  ASSERT_NE(area, nullptr);
  std::vector<uint8_t> picture(cam1::kSlotBytes);
  for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i * 7 % 251);
  std::copy(picture.begin(), picture.end(), area->data() + 2 * size_t{cam1::kSlotBytes});

  ServedCam1 driver;
  {
    auto source = makeStreamCamera(environment(), sources::StreamDriver::kCam1, systemDriverPort());
    auto& camera = static_cast<camera::CameraSource&>(*source);
    camera.Init();
    ASSERT_TRUE(startPreview(camera));  // preview streams 320 x 240 from the ready slot
    ASSERT_TRUE(preview.waitFor(2));
    camera.Stop();
    std::lock_guard lock(preview.mutex);
    EXPECT_EQ(preview.sizes[0], cam1::kSlotBytes);
    EXPECT_EQ(preview.formats[0], sources::kFormatRgb565);
    EXPECT_TRUE(preview.last == picture) << "the delivered picture is not slot 2 of the served area";
  }
  const std::vector<uint32_t> codes = driver.codes();
  ASSERT_GE(codes.size(), 17u);
  // Open, sensor type, prepare, the nine device settings and the reset, then streaming.
  EXPECT_EQ(codes[0], cam1::kOpen);
  EXPECT_EQ(codes[1], cam1::kSensorType);
  EXPECT_EQ(codes[2], cam1::kPrepare);
  EXPECT_EQ(codes[12], cam1::kResetDone);
  EXPECT_EQ(codes[13], cam1::kStartStream);
  EXPECT_EQ(codes[14], cam1::kReadyIndex);
  EXPECT_EQ(codes[codes.size() - 2], cam1::kStopStream);
  EXPECT_EQ(codes.back(), cam1::kClose);
}

TEST_F(SystemPortTest, NothingServedOrNoFrameAreaMeansNoModes) {
  sources::PictureMode modes[sources::kMaxPictureModes];
  {
    auto source = makeStreamCamera(environment(), sources::StreamDriver::kCam1, systemDriverPort());
    EXPECT_EQ(static_cast<camera::CameraSource&>(*source).EnumerateModes(modes, 0), 0u);  // no driver
  }
  ServedCam1 driver;  // served, but the serving program made no frame area
  auto source = makeStreamCamera(environment(), sources::StreamDriver::kCam1, systemDriverPort());
  EXPECT_EQ(static_cast<camera::CameraSource&>(*source).EnumerateModes(modes, 0), 0u);
  const std::vector<uint32_t> codes = driver.codes();
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.back(), cam1::kClose);  // the driver is closed again
}

TEST_F(SystemPortTest, TheFrameAreaIsTheServingProgramsCurrentObject) {
  const uint32_t address = cam1::kAreaOther;
  const std::string name = frameAreaObjectName(address);
  auto first = platform::SharedMemory::openOrCreate(name, cam1::kAreaBytes);
  ASSERT_NE(first, nullptr);
  first->data()[0] = 1;
  uint8_t* mapped = systemDriverPort().mapFrameArea(address, cam1::kAreaBytes);
  ASSERT_NE(mapped, nullptr);
  EXPECT_EQ(mapped[0], 1);
  EXPECT_EQ(systemDriverPort().mapFrameArea(address, cam1::kAreaBytes), mapped);  // mapped once
  EXPECT_EQ(systemDriverPort().mapFrameArea(address, cam1::kAreaBytes + 1), nullptr);  // too small

  // The serving program made its area again: the new one is used, the old address stays valid.
  platform::removeNamedObject(name);
  EXPECT_EQ(systemDriverPort().mapFrameArea(address, cam1::kAreaBytes), nullptr);
  auto second = platform::SharedMemory::openOrCreate(name, cam1::kAreaBytes);
  ASSERT_NE(second, nullptr);
  second->data()[0] = 2;
  uint8_t* again = systemDriverPort().mapFrameArea(address, cam1::kAreaBytes);
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again, mapped);
  EXPECT_EQ(again[0], 2);
  EXPECT_EQ(mapped[0], 1);
}

TEST_F(SystemPortTest, AnotherUserIsNeitherServedNorTrustedWithTheFrameArea) {
  if (!platform::testing::canActAsOtherUser()) GTEST_SKIP() << "needs to act as another user";
  ServedCam1 driver;
  // One request for the sensor type, with room for one byte of answer.
  uint8_t request[platform::device_wire::kRequestHeaderBytes];
  const uint32_t words[] = {platform::device_wire::kDeviceRequestMagic, cam1::kSensorType, 0, 1};
  for (size_t i = 0; i < 16; ++i) request[i] = static_cast<uint8_t>(words[i / 4] >> (8 * (i % 4)));
  const std::vector<std::string> ask = {"seqpacket", platform::deviceEndpointName("\\\\.\\CAM1"),
                                        platform::testing::hexBytes(request, sizeof request), "--read",
                                        "64"};
  const auto same = platform::testing::runPeerProbe(false, ask);
  EXPECT_EQ(same.exitCode, 0);
  EXPECT_EQ(same.output, "56445250000000000100000001\n");  // success, one byte: sensor 1
  const auto other = platform::testing::runPeerProbe(true, ask);
  EXPECT_EQ(other.exitCode, 1) << other.output;
  EXPECT_EQ(driver.codes().size(), 1u);  // only the same user's request reached the driver

  // A frame area that another user made is not mapped.
  const uint32_t address = cam1::kAreaSensors3To7;
  ASSERT_NE(platform::SharedMemory::openOrCreate(frameAreaObjectName(address), cam1::kAreaBytes), nullptr);
  const std::string file = "/dev/shm/" + platform::namedObjectName(frameAreaObjectName(address));
  ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
  EXPECT_EQ(systemDriverPort().mapFrameArea(address, cam1::kAreaBytes), nullptr);
  ASSERT_EQ(chown(file.c_str(), getuid(), getgid()), 0);
  EXPECT_NE(systemDriverPort().mapFrameArea(address, cam1::kAreaBytes), nullptr);
}

}  // namespace
}  // namespace makers::testing
