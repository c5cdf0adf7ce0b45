#pragma once

// The system calls a V4L2 video device node takes, one virtual call each, so that tests
// put a recording fake device (platform/testing/fake_v4l2.h) in place of the kernel. The
// camera of the device program and the loopback output of the PC's virtual camera both
// reach their nodes through it. The real one (posix/v4l2_io_linux.cpp) holds no logic:
// each call is the system call of the same name.
//
// Errors come back as -errno, never through errno. The request codes and the structures
// the ioctls take are the kernel's, from platform/linux/v4l2_kernel.h.
//
// Threading: every call may come from any thread; calls on one descriptor from two
// threads behave as the kernel's do (controls may be changed while another thread
// waits for a picture).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class V4l2Io {
 public:
  enum class Mode { kBlocking, kNonBlocking };

  virtual ~V4l2Io() = default;
  // The video device nodes present, in number order ("/dev/video0", "/dev/video1", ...).
  virtual std::vector<std::string> devicePaths() = 0;
  // Opened read-write (and close-on-exec): a descriptor, or -errno.
  virtual int open(const std::string& path, Mode mode) = 0;
  virtual void close(int fd) = 0;
  // 0, or -errno (an interrupted call is made again).
  virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
  // A shared read-write mapping, or null.
  virtual void* mmap(size_t length, int fd, int64_t offset) = 0;
  virtual void munmap(void* address, size_t length) = 0;
  // Waits up to `timeoutMs` for a picture: 1 ready, 0 time-out, -errno on failure (also
  // when the device reports an error or hang-up).
  virtual int pollReadable(int fd, int timeoutMs) = 0;
  // Bytes taken (possibly fewer than `size`), or -errno (-EINTR included: the caller
  // decides whether to go on).
  virtual int64_t write(int fd, const void* data, size_t size) = 0;
};

// The kernel's V4L2 interface.
std::shared_ptr<V4l2Io> systemV4l2Io();

}  // namespace platform
