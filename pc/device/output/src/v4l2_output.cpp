#include "output/v4l2_output.h"

#include <cerrno>
#include <cstring>

#include "platform/linux/v4l2_kernel.h"

namespace output {
namespace {

// `result` is -errno.
std::string systemError(const std::string& what, int64_t result) {
  return what + ": " + std::strerror(static_cast<int>(-result));
}

}  // namespace

uint32_t V4l2FourCc(PixelFormat format) {
  switch (format) {
    case PixelFormat::kBgr: return V4L2_PIX_FMT_BGR24;
    case PixelFormat::kRgb: return V4L2_PIX_FMT_RGB24;
    case PixelFormat::kBgrx: return V4L2_PIX_FMT_XBGR32;
    case PixelFormat::kRgbx: return V4L2_PIX_FMT_RGBX32;
    case PixelFormat::kYuy2: return V4L2_PIX_FMT_YUYV;
    case PixelFormat::kI420: return V4L2_PIX_FMT_YUV420;
  }
  return 0;
}

std::optional<PixelFormat> parseV4l2Format(const std::string& name) {
  if (name == "yuyv") return PixelFormat::kYuy2;
  if (name == "bgr24") return PixelFormat::kBgr;
  if (name == "rgb24") return PixelFormat::kRgb;
  if (name == "bgrx") return PixelFormat::kBgrx;
  if (name == "rgbx") return PixelFormat::kRgbx;
  if (name == "i420") return PixelFormat::kI420;
  return std::nullopt;
}

V4l2Output::V4l2Output(platform::V4l2Io& io, std::string path, PixelFormat format)
    : io_(io), path_(std::move(path)), format_(format) {}

V4l2Output::~V4l2Output() { close(); }

bool V4l2Output::open(std::string* error) {
  close();
  const int fd = io_.open(path_, platform::V4l2Io::Mode::kBlocking);
  if (fd < 0) {
    *error = systemError("cannot open " + path_, fd);
    return false;
  }
  fd_ = fd;
  v4l2_capability cap{};
  if (const int r = io_.ioctl(fd_, VIDIOC_QUERYCAP, &cap); r < 0) {
    *error = systemError(path_ + " is no V4L2 device", r);
    close();
    return false;
  }
  const uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? cap.device_caps : cap.capabilities;
  if ((caps & V4L2_CAP_VIDEO_OUTPUT) == 0) {
    *error = path_ + " does not take pictures (not a video output device; is it a v4l2loopback device?)";
    close();
    return false;
  }
  return true;
}

bool V4l2Output::configure(uint32_t width, uint32_t height, std::string* error) {
  if (fd_ < 0) {
    *error = path_ + " is not open";
    return false;
  }
  const PictureLayout layout = layoutFor(format_, width, height);
  v4l2_format fmt{};
  fmt.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
  fmt.fmt.pix.width = width;
  fmt.fmt.pix.height = height;
  fmt.fmt.pix.pixelformat = V4l2FourCc(format_);
  fmt.fmt.pix.field = V4L2_FIELD_NONE;
  fmt.fmt.pix.bytesperline = static_cast<uint32_t>(layout.stride);
  fmt.fmt.pix.sizeimage = static_cast<uint32_t>(layout.size);
  fmt.fmt.pix.colorspace = format_ == PixelFormat::kYuy2 || format_ == PixelFormat::kI420
                               ? V4L2_COLORSPACE_SMPTE170M
                               : V4L2_COLORSPACE_SRGB;
  if (const int r = io_.ioctl(fd_, VIDIOC_S_FMT, &fmt); r < 0) {
    *error = systemError(path_ + " refused the format", r);
    width_ = height_ = 0;
    return false;
  }
  if (fmt.fmt.pix.width != width || fmt.fmt.pix.height != height ||
      fmt.fmt.pix.pixelformat != V4l2FourCc(format_)) {
    *error = path_ + " changed the format to " + std::to_string(fmt.fmt.pix.width) + "x" +
             std::to_string(fmt.fmt.pix.height);
    width_ = height_ = 0;
    return false;
  }
  width_ = width;
  height_ = height;
  picture_.resize(layout.size);
  return true;
}

bool V4l2Output::writePicture(const uint8_t* bottomUpBgr, uint32_t width, uint32_t height,
                              std::string* error) {
  if (fd_ < 0) {
    *error = path_ + " is not open";
    return false;
  }
  if ((width != width_ || height != height_) && !configure(width, height, error)) return false;
  convertPicture(bottomUpBgr, width, height, format_, picture_.data());
  if (!writeAll(picture_.data(), picture_.size(), error)) return false;
  ++written_;
  return true;
}

bool V4l2Output::writeAll(const uint8_t* data, size_t size, std::string* error) {
  size_t done = 0;
  while (done < size) {
    const int64_t n = io_.write(fd_, data + done, size - done);
    if (n < 0) {
      if (n == -EINTR) continue;
      *error = systemError("writing to " + path_, n);
      return false;
    }
    if (n == 0) {
      *error = path_ + " took no more bytes";
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

void V4l2Output::close() {
  if (fd_ >= 0) io_.close(fd_);
  fd_ = -1;
  width_ = height_ = 0;
}

}  // namespace output
