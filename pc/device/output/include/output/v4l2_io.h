#pragma once

#include <sys/types.h>

#include <cstddef>

namespace output {

// The four system calls the loopback output makes, behind an interface so that tests run
// it against a fake device. Each returns what the system call returns and sets errno the
// same way.
class V4l2Io {
 public:
  virtual ~V4l2Io() = default;
  virtual int open(const char* path, int flags) = 0;
  virtual int close(int fd) = 0;
  virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
  virtual ssize_t write(int fd, const void* data, size_t size) = 0;
};

// The real calls.
V4l2Io& SystemV4l2Io();

}  // namespace output
