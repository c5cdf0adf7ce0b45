#pragma once

// A recording stand-in for the kernel's V4L2 interface. Capture nodes (cameras) with
// chosen capabilities, formats, frame sizes, frame rates and controls, and pictures
// queued by the test; output nodes (a loopback device) that take any format of the output
// type and keep every byte written, cut into pictures at the format's image size.
// Failures on request, and a log of every call in a readable form ("open /dev/video0",
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

#include "platform/v4l2_io.h"

namespace platform::testing {

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

struct FakeVideoNode {
  std::string path = "/dev/video0";
  // 0: video capture + streaming. With V4L2_CAP_VIDEO_OUTPUT the node is an output
  // device: S_FMT takes the output type only, and writes are kept.
  uint32_t capabilities = 0;
  // Capture: what the camera offers.
  std::vector<FakePixelFormat> formats;
  std::vector<FakeControl> controls;
  uint32_t extraBytesPerLine = 0;  // row padding reported by S_FMT for packed formats
  // Output: S_FMT answers with at most this width (0: as asked); a write takes at most
  // `maxWrite` bytes (0: all); every `interruptEvery`-th write fails with EINTR (0: none).
  uint32_t clampWidth = 0;
  size_t maxWrite = 0;
  int interruptEvery = 0;
};

// An S_FMT as asked (before the node answered).
struct FakeFormatRequest {
  uint32_t type, width, height, pixelFormat, field, bytesPerLine, sizeImage;
};

class FakeV4l2 final : public V4l2Io {
 public:
  void addNode(FakeVideoNode node);
  // The next picture the camera delivers (bytes as the driver would write them; longer
  // than the buffer is cut to it). `errorFlag` marks the buffer V4L2_BUF_FLAG_ERROR.
  void queuePicture(std::vector<uint8_t> bytes, bool errorFlag = false);
  // Every later call of this ioctl request fails with `error` (a positive errno).
  void failRequest(unsigned long request, int error);
  // Every later write fails with `error` (a positive errno).
  void failWrites(int error);
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
  // Output nodes: every S_FMT asked, every write's length, the bytes written cut at the
  // image size of the format in force.
  std::vector<FakeFormatRequest> formatRequests() const;
  std::vector<size_t> writeSizes() const;
  std::vector<std::vector<uint8_t>> writtenPictures() const;

  std::vector<std::string> devicePaths() override;
  int open(const std::string& path, Mode mode) override;
  void close(int fd) override;
  int ioctl(int fd, unsigned long request, void* argument) override;
  void* mmap(size_t length, int fd, int64_t offset) override;
  void munmap(void* address, size_t length) override;
  int pollReadable(int fd, int timeoutMs) override;
  int64_t write(int fd, const void* data, size_t size) override;

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
  int ioctlLocked(FakeVideoNode& node, unsigned long request, void* argument);
  int setOutputFormat(FakeVideoNode& node, void* argument);
  FakeVideoNode* nodeOf(int fd);
  void record(std::string call);

  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<FakeVideoNode> nodes_;
  std::map<int, size_t> descriptors_;  // fd -> node index
  int nextFd_ = 3;
  std::map<unsigned long, int> failures_;
  std::deque<Picture> pictures_;
  std::vector<Buffer> buffers_;
  uint32_t sizeImage_ = 0;
  bool streaming_ = false;
  bool unplugged_ = false;
  int mappings_ = 0;
  std::vector<std::string> calls_;
  std::vector<FakeFormatRequest> formatRequests_;
  int writeError_ = 0;
  int writes_ = 0;
  std::vector<size_t> writeSizes_;
  std::vector<uint8_t> partial_;
  std::vector<std::vector<uint8_t>> written_;
};

std::string fourccText(uint32_t code);

}  // namespace platform::testing
