#pragma once

// The system calls the V4L2 camera makes, one virtual call each, so that tests can put a
// recording fake device in place of the kernel (testing/fake_v4l2.h). The real one holds
// no logic: each call is the system call of the same name.
//
// Threading: every call may come from any thread; calls on one descriptor from two
// threads behave as the kernel's do (controls may be changed while another thread
// waits for a picture).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace framesink {

class V4l2Io {
 public:
  virtual ~V4l2Io() = default;
  // The video device nodes present, in number order ("/dev/video0", "/dev/video1", ...).
  virtual std::vector<std::string> devicePaths() = 0;
  // Opened read-write and non-blocking: a descriptor, or -errno.
  virtual int open(const std::string& path) = 0;
  virtual void close(int fd) = 0;
  // 0, or -errno.
  virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
  // A shared read-write mapping, or null.
  virtual void* mmap(size_t length, int fd, int64_t offset) = 0;
  virtual void munmap(void* address, size_t length) = 0;
  // Waits up to `timeoutMs` for a picture: 1 ready, 0 time-out, -errno on failure (also
  // when the device reports an error or hang-up).
  virtual int pollReadable(int fd, int timeoutMs) = 0;
};

// The kernel's V4L2 interface.
std::shared_ptr<V4l2Io> systemV4l2Io();

}  // namespace framesink
