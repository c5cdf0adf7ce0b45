#pragma once

// A recording stand-in for the kernel's V4L2 interface: cameras with chosen capabilities,
// formats, frame sizes, frame rates and controls, pictures queued by the test, failures
// on request, and a log of every call in a readable form ("open /dev/video0",
// "S_FMT 640x480 YUYV", "S_CTRL 0x00980900=5", "STREAMON", ...).
//
// Threading: every call may come from any thread.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "v4l2_io.h"

namespace framesink::testing {

struct FakeFrameSize {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t framesPerSecond = 30;  // 0: the camera states no frame intervals
};

struct FakePixelFormat {
  uint32_t pixelFormat = 0;  // V4L2_PIX_FMT_...
  std::vector<FakeFrameSize> sizes;
};

struct FakeControl {
  uint32_t id = 0;
  int32_t minimum = 0, maximum = 0, step = 1, defaultValue = 0;
  int32_t value = 0;
};

struct FakeCameraSetup {
  std::string path = "/dev/video0";
  uint32_t capabilities = 0;  // 0: video capture + streaming
  std::vector<FakePixelFormat> formats;
  std::vector<FakeControl> controls;
  uint32_t extraBytesPerLine = 0;  // row padding reported by S_FMT for packed formats
};

class FakeV4l2 final : public V4l2Io {
 public:
  void addCamera(FakeCameraSetup setup);
  // The next picture the camera delivers (bytes as the driver would write them; longer
  // than the buffer is cut to it). `errorFlag` marks the buffer V4L2_BUF_FLAG_ERROR.
  void queuePicture(std::vector<uint8_t> bytes, bool errorFlag = false);
  // Every later call of this ioctl request fails with `error` (a positive errno).
  void failRequest(unsigned long request, int error);
  // The camera is unplugged: poll reports an error, ioctls fail with ENODEV.
  void unplug();

  std::vector<std::string> calls() const;
  bool called(const std::string& call) const;
  int32_t controlValue(uint32_t id) const;
  // Pictures queued and not yet delivered.
  size_t pendingPictures() const;
  // Descriptors open at the moment, and mappings not yet unmapped.
  int openDescriptors() const;
  int liveMappings() const;

  std::vector<std::string> devicePaths() override;
  int open(const std::string& path) override;
  void close(int fd) override;
  int ioctl(int fd, unsigned long request, void* argument) override;
  void* mmap(size_t length, int fd, int64_t offset) override;
  void munmap(void* address, size_t length) override;
  int pollReadable(int fd, int timeoutMs) override;

 private:
  struct Picture {
    std::vector<uint8_t> bytes;
    bool errorFlag;
  };
  struct Buffer {
    std::vector<uint8_t> memory;
    bool queued = false;
    bool mapped = false;
  };
  int ioctlLocked(FakeCameraSetup& camera, unsigned long request, void* argument);
  FakeCameraSetup* cameraOf(int fd);
  void record(std::string call);

  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<FakeCameraSetup> cameras_;
  std::map<int, size_t> descriptors_;  // fd -> camera index
  int nextFd_ = 3;
  std::map<unsigned long, int> failures_;
  std::deque<Picture> pictures_;
  std::vector<Buffer> buffers_;
  uint32_t sizeImage_ = 0;
  bool streaming_ = false;
  bool unplugged_ = false;
  int mappings_ = 0;
  std::vector<std::string> calls_;
};

std::string FourccText(uint32_t code);

}  // namespace framesink::testing
