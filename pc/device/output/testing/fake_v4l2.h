#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <string>
#include <vector>

#include "output/v4l2_io.h"

namespace output::testing {

// A v4l2loopback device in memory: answers QUERYCAP and S_FMT like the module does and
// keeps every byte written, split into pictures at each format's image size.
class FakeV4l2 : public V4l2Io {
 public:
  // What the device does.
  std::string path = "/dev/video42";
  uint32_t capabilities = V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_READWRITE;
  int openErrno = 0;        // non-zero: open fails with it
  int formatErrno = 0;      // non-zero: S_FMT fails with it
  uint32_t clampWidth = 0;  // non-zero: S_FMT answers with at most this width
  size_t maxWrite = 0;      // non-zero: a write takes at most this many bytes
  int interruptEvery = 0;   // every n-th write fails with EINTR
  int writeErrno = 0;       // non-zero: writes fail with it

  // What it saw.
  struct Format {
    uint32_t type, width, height, pixelformat, field, bytesperline, sizeimage;
  };
  std::vector<Format> formats;        // every S_FMT asked
  std::vector<size_t> writeSizes;     // every write's length
  std::vector<std::vector<uint8_t>> pictures;  // the bytes, cut at sizeimage
  int opens = 0, closes = 0, openFds = 0;

  int open(const char* p, int flags) override;
  int close(int fd) override;
  int ioctl(int fd, unsigned long request, void* arg) override;
  ssize_t write(int fd, const void* data, size_t size) override;

 private:
  static constexpr int kFd = 42;
  std::vector<uint8_t> partial_;
  int writes_ = 0;
};

}  // namespace output::testing
