#include "fake_v4l2.h"

#include <cerrno>
#include <cstring>

namespace output::testing {

int FakeV4l2::open(const char* p, int) {
  if (openErrno != 0 || path != p) {
    errno = openErrno != 0 ? openErrno : ENOENT;
    return -1;
  }
  ++opens;
  ++openFds;
  return kFd;
}

int FakeV4l2::close(int fd) {
  if (fd != kFd || openFds == 0) {
    errno = EBADF;
    return -1;
  }
  ++closes;
  --openFds;
  return 0;
}

int FakeV4l2::ioctl(int fd, unsigned long request, void* arg) {
  if (fd != kFd || openFds == 0) {
    errno = EBADF;
    return -1;
  }
  if (request == VIDIOC_QUERYCAP) {
    auto* cap = static_cast<v4l2_capability*>(arg);
    std::memset(cap, 0, sizeof *cap);
    std::strcpy(reinterpret_cast<char*>(cap->driver), "v4l2 loopback");
    cap->capabilities = capabilities | V4L2_CAP_DEVICE_CAPS;
    cap->device_caps = capabilities;
    return 0;
  }
  if (request == VIDIOC_S_FMT) {
    auto* f = static_cast<v4l2_format*>(arg);
    auto& pix = f->fmt.pix;
    formats.push_back({f->type, pix.width, pix.height, pix.pixelformat, pix.field, pix.bytesperline,
                       pix.sizeimage});
    if (formatErrno != 0) {
      errno = formatErrno;
      return -1;
    }
    if (f->type != V4L2_BUF_TYPE_VIDEO_OUTPUT) {
      errno = EINVAL;
      return -1;
    }
    if (clampWidth != 0 && pix.width > clampWidth) pix.width = clampWidth;
    return 0;
  }
  errno = ENOTTY;
  return -1;
}

ssize_t FakeV4l2::write(int fd, const void* data, size_t size) {
  if (fd != kFd || openFds == 0) {
    errno = EBADF;
    return -1;
  }
  ++writes_;
  if (writeErrno != 0) {
    errno = writeErrno;
    return -1;
  }
  if (interruptEvery > 0 && writes_ % interruptEvery == 0) {
    errno = EINTR;
    return -1;
  }
  const size_t n = maxWrite != 0 && size > maxWrite ? maxWrite : size;
  writeSizes.push_back(n);
  const auto* bytes = static_cast<const uint8_t*>(data);
  partial_.insert(partial_.end(), bytes, bytes + n);
  const size_t image = formats.empty() ? 0 : formats.back().sizeimage;
  if (image != 0 && partial_.size() >= image) {
    pictures.emplace_back(partial_.begin(), partial_.begin() + static_cast<ptrdiff_t>(image));
    partial_.erase(partial_.begin(), partial_.begin() + static_cast<ptrdiff_t>(image));
  }
  return static_cast<ssize_t>(n);
}

}  // namespace output::testing
