#include "v4l2_camera.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "formats.h"
#include "platform/linux/v4l2_kernel.h"
#include "picture_fixes.h"

namespace framesink {
namespace {

using platform::V4l2Io;

// Bounds on what a driver's enumerations are believed.
constexpr uint32_t kMaxPixelFormats = 64;
constexpr uint32_t kMaxFrameSizes = 64;
constexpr uint32_t kMaxFrameIntervals = 64;
constexpr uint32_t kBufferCount = 4;
constexpr uint32_t kMaxDimension = 16384;

// Sizes offered from a camera that describes its sizes as a range.
constexpr uint32_t kRangeSizes[][2] = {{160, 120},  {176, 144},  {320, 240},   {352, 288},
                                       {640, 480},  {800, 600},  {1024, 768},  {1280, 720},
                                       {1280, 960}, {1600, 1200}, {1920, 1080}};

enum class Layout { kPacked16, kPacked24, kPlanar420, kJpeg };

// How a camera's bytes are put into the order of the pipeline's code, in place. The
// pipeline's "YV12" is luma, Cr plane, Cb plane, and its "NV12" is luma, then Cr Cb pairs
// (its normalisation turns both into luma, Cb, Cr).
enum class Reorder {
  kNone,
  kSwapPairs,        // YUYV delivered as UYVY
  kSwapChromaPairs,  // Cb Cr pairs (NV12) delivered as Cr Cb pairs
  kSwapChromaPlanes, // Cb plane first (I420) delivered Cr plane first
};

struct PixelMapping {
  uint32_t v4l2;
  uint32_t format;
  Layout layout;
  Reorder reorder;
};

constexpr PixelMapping kPixelMappings[] = {
    {V4L2_PIX_FMT_UYVY, kFormatUyvy, Layout::kPacked16, Reorder::kNone},
    {V4L2_PIX_FMT_YUYV, kFormatUyvy, Layout::kPacked16, Reorder::kSwapPairs},
    {V4L2_PIX_FMT_YVU420, kFormatYv12, Layout::kPlanar420, Reorder::kNone},
    {V4L2_PIX_FMT_YUV420, kFormatYv12, Layout::kPlanar420, Reorder::kSwapChromaPlanes},
    {V4L2_PIX_FMT_NV21, kFormatNv12, Layout::kPlanar420, Reorder::kNone},
    {V4L2_PIX_FMT_NV12, kFormatNv12, Layout::kPlanar420, Reorder::kSwapChromaPairs},
    {V4L2_PIX_FMT_MJPEG, kFormatJpeg, Layout::kJpeg, Reorder::kNone},
    {V4L2_PIX_FMT_JPEG, kFormatJpeg, Layout::kJpeg, Reorder::kNone},
    {V4L2_PIX_FMT_RGB565, kFormatRgb565, Layout::kPacked16, Reorder::kNone},
    {V4L2_PIX_FMT_BGR24, kFormatRgb24, Layout::kPacked24, Reorder::kNone},
};

const PixelMapping* findMapping(uint32_t v4l2) {
  for (const PixelMapping& m : kPixelMappings)
    if (m.v4l2 == v4l2) return &m;
  return nullptr;
}

// Bytes of one picture, 0 for JPEG (variable).
uint64_t pictureBytes(Layout layout, uint32_t w, uint32_t h) {
  switch (layout) {
    case Layout::kPacked16: return uint64_t{w} * h * 2;
    case Layout::kPacked24: return uint64_t{w} * h * 3;
    case Layout::kPlanar420: return uint64_t{w} * h * 3 / 2;
    case Layout::kJpeg: return 0;
  }
  return 0;
}

uint32_t rowBytes(Layout layout, uint32_t w) {
  switch (layout) {
    case Layout::kPacked16: return w * 2;
    case Layout::kPacked24: return w * 3;
    case Layout::kPlanar420: return w;
    case Layout::kJpeg: return 0;
  }
  return 0;
}

// A control property and the V4L2 controls behind it (0 = none).
struct ControlMapping {
  uint32_t id;
  uint32_t autoId;
  bool autoIsExposureMenu;  // V4L2_CID_EXPOSURE_AUTO: manual is V4L2_EXPOSURE_MANUAL
};

constexpr ControlMapping kCameraControls[] = {
    {V4L2_CID_PAN_ABSOLUTE, 0, false},
    {V4L2_CID_TILT_ABSOLUTE, 0, false},
    {0, 0, false},  // roll
    {V4L2_CID_ZOOM_ABSOLUTE, 0, false},
    {V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO, true},
    {V4L2_CID_IRIS_ABSOLUTE, 0, false},
    {V4L2_CID_FOCUS_ABSOLUTE, V4L2_CID_FOCUS_AUTO, false},
};

constexpr ControlMapping kPictureControls[] = {
    {V4L2_CID_BRIGHTNESS, 0, false},
    {V4L2_CID_CONTRAST, 0, false},
    {V4L2_CID_HUE, V4L2_CID_HUE_AUTO, false},
    {V4L2_CID_SATURATION, 0, false},
    {V4L2_CID_SHARPNESS, 0, false},
    {V4L2_CID_GAMMA, 0, false},
    {0, 0, false},  // colour enable
    {V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE, false},
    {V4L2_CID_BACKLIGHT_COMPENSATION, 0, false},
    {V4L2_CID_GAIN, V4L2_CID_AUTOGAIN, false},
};

const ControlMapping* findControl(int32_t which, uint32_t property) {
  if (which == 0) return property < std::size(kCameraControls) ? &kCameraControls[property] : nullptr;
  return property < std::size(kPictureControls) ? &kPictureControls[property] : nullptr;
}

uint32_t resultOf(int error) {
  switch (-error) {
    case 0: return kSinkOk;
    case EINVAL:
    case ERANGE: return kSinkInvalidArg;
    default: return kSinkFail;
  }
}

struct Mode {
  FormatEntry entry;
  const PixelMapping* mapping;
  bool streams;  // fast enough for the capture category
};

class V4l2Camera final : public CameraDevice {
 public:
  V4l2Camera(std::shared_ptr<V4l2Io> io, int fd) : io_(std::move(io)), fd_(fd) { enumerate(); }

  ~V4l2Camera() override {
    stopStream();
    io_->close(fd_);
  }

  uint32_t categories() const override { return kSinkCapture | kSinkStill; }

  bool listFormats(uint32_t category, std::vector<FormatEntry>& out) override {
    if (category != kSinkCapture && category != kSinkStill) return false;
    for (const Mode& m : modes_) {
      if (out.size() == kMaxFormats) break;
      if (category == kSinkStill || m.streams) out.push_back(m.entry);
    }
    return true;
  }

  bool startStream(const FormatEntry& format) override {
    stopStream();
    const Mode* mode = nullptr;
    for (const Mode& m : modes_)
      if (m.entry.width == format.width && m.entry.height == format.height && m.entry.format == format.format) {
        mode = &m;
        break;
      }
    if (mode == nullptr) return false;

    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    f.fmt.pix.width = static_cast<uint32_t>(format.width);
    f.fmt.pix.height = static_cast<uint32_t>(format.height);
    f.fmt.pix.pixelformat = mode->mapping->v4l2;
    f.fmt.pix.field = V4L2_FIELD_NONE;
    if (io_->ioctl(fd_, VIDIOC_S_FMT, &f) != 0) return false;
    // The driver may have adjusted the request; only exactly what was listed is accepted.
    if (f.fmt.pix.width != static_cast<uint32_t>(format.width) ||
        f.fmt.pix.height != static_cast<uint32_t>(format.height) ||
        f.fmt.pix.pixelformat != mode->mapping->v4l2)
      return false;
    layout_ = mode->mapping->layout;
    reorder_ = mode->mapping->reorder;
    width_ = f.fmt.pix.width;
    height_ = f.fmt.pix.height;
    pictureBytes_ = pictureBytes(layout_, width_, height_);
    const uint32_t minRow = rowBytes(layout_, width_);
    strideBytes_ = std::max(f.fmt.pix.bytesperline, minRow);
    // Planar rows with padding would need a repack of every plane; such drivers are not
    // taken.
    if (layout_ == Layout::kPlanar420 && strideBytes_ != minRow) return false;
    neededBytes_ = pictureBytes_ == 0 ? 0
                                      : uint64_t{strideBytes_} * (height_ - 1) + minRow +
                                            (pictureBytes_ - uint64_t{minRow} * height_);

    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (io_->ioctl(fd_, VIDIOC_REQBUFS, &request) != 0 || request.count == 0) return false;
    requested_ = true;
    size_t largest = 0;
    for (uint32_t i = 0; i < std::min<uint32_t>(request.count, kBufferCount * 4); ++i) {
      v4l2_buffer b{};
      b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      b.memory = V4L2_MEMORY_MMAP;
      b.index = i;
      if (io_->ioctl(fd_, VIDIOC_QUERYBUF, &b) != 0 || b.length == 0) return failStart();
      void* p = io_->mmap(b.length, fd_, b.m.offset);
      if (p == nullptr) return failStart();
      buffers_.push_back({static_cast<uint8_t*>(p), b.length});
      largest = std::max<size_t>(largest, b.length);
      if (neededBytes_ > b.length) return failStart();  // a raw picture must fit in every buffer
    }
    if (layout_ == Layout::kJpeg) jfif_.assign(largest + jfifExtraBytes(), 0);
    for (uint32_t i = 0; i < buffers_.size(); ++i)
      if (!queue(i)) return failStart();
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (io_->ioctl(fd_, VIDIOC_STREAMON, &type) != 0) return failStart();
    streaming_ = true;
    return true;
  }

  void stopStream() override {
    if (streaming_) {
      int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      io_->ioctl(fd_, VIDIOC_STREAMOFF, &type);
      streaming_ = false;
    }
    for (const Buffer& b : buffers_) io_->munmap(b.data, b.length);
    buffers_.clear();
    if (requested_) {
      v4l2_requestbuffers request{};
      request.count = 0;
      request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      request.memory = V4L2_MEMORY_MMAP;
      io_->ioctl(fd_, VIDIOC_REQBUFS, &request);
      requested_ = false;
    }
  }

  FrameResult nextFrame(uint32_t timeoutMs, CapturedFrame& frame) override {
    if (!streaming_) return FrameResult::kFailed;
    const int ready = io_->pollReadable(fd_, static_cast<int>(timeoutMs));
    if (ready < 0) return FrameResult::kFailed;
    if (ready == 0) return FrameResult::kNone;
    v4l2_buffer b{};
    b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    b.memory = V4L2_MEMORY_MMAP;
    const int r = io_->ioctl(fd_, VIDIOC_DQBUF, &b);
    if (r == -EAGAIN) return FrameResult::kNone;
    if (r != 0 || b.index >= buffers_.size()) return FrameResult::kFailed;
    const Buffer& buffer = buffers_[b.index];
    const size_t used = std::min<size_t>(b.bytesused, buffer.length);
    frame.slot = b.index;

    bool good = (b.flags & V4L2_BUF_FLAG_ERROR) == 0;
    if (good && layout_ == Layout::kJpeg) {
      const size_t n = jfifFromCameraJpeg(buffer.data, used, jfif_.data(), jfif_.size());
      good = n != 0;
      frame.data = jfif_.data();
      frame.sizeBytes = static_cast<uint32_t>(n);
    } else if (good) {
      const uint32_t minRow = rowBytes(layout_, width_);
      good = used >= neededBytes_;  // short pictures are dropped
      if (good && strideBytes_ != minRow) {
        // Packed rows with padding: close the gaps, front to back, in place.
        for (uint32_t y = 1; y < height_; ++y)
          std::memmove(buffer.data + size_t{y} * minRow, buffer.data + size_t{y} * strideBytes_, minRow);
      }
      if (good) reorder(buffer.data);
      frame.data = buffer.data;
      frame.sizeBytes = static_cast<uint32_t>(pictureBytes_);
    }
    if (!good) {
      if (!queue(b.index)) return FrameResult::kFailed;
      return FrameResult::kNone;
    }
    return FrameResult::kFrame;
  }

  void reorder(uint8_t* data) const {
    const size_t luma = size_t{width_} * height_;
    switch (reorder_) {
      case Reorder::kNone: break;
      case Reorder::kSwapPairs: swapYuyvToUyvy(data, pictureBytes_); break;
      case Reorder::kSwapChromaPairs: swapYuyvToUyvy(data + luma, luma / 2); break;
      case Reorder::kSwapChromaPlanes:
        std::swap_ranges(data + luma, data + luma + luma / 4, data + luma + luma / 4);
        break;
    }
  }

  void releaseFrame(const CapturedFrame& frame) override {
    if (streaming_ && frame.slot < buffers_.size()) queue(frame.slot);
  }

  void getRange(int32_t which, RangeEntry& entry) override {
    const ControlMapping* control = findControl(which, entry.property);
    v4l2_queryctrl q{};
    if (!query(control, q)) {
      entry.result = kSinkPropUnsupported;
      return;
    }
    entry.minimum = q.minimum;
    entry.maximum = q.maximum;
    entry.step = q.step;
    entry.defaultValue = q.default_value;
    v4l2_queryctrl a{};
    entry.capabilityFlags = kControlManual | (queryAuto(control, a) ? kControlAuto : 0);
    entry.result = kSinkOk;
  }

  void getValue(int32_t which, ValueEntry& entry) override {
    const ControlMapping* control = findControl(which, entry.property);
    v4l2_queryctrl q{};
    if (!query(control, q)) {
      entry.result = kSinkPropUnsupported;
      return;
    }
    v4l2_control c{};
    c.id = control->id;
    const int r = io_->ioctl(fd_, VIDIOC_G_CTRL, &c);
    if (r != 0) {
      entry.result = resultOf(r);
      return;
    }
    entry.value = c.value;
    entry.flags = autoOn(control) ? kControlAuto : kControlManual;
    entry.result = kSinkOk;
  }

  void setValue(int32_t which, ValueEntry& entry) override {
    const ControlMapping* control = findControl(which, entry.property);
    v4l2_queryctrl q{};
    if (!query(control, q)) {
      entry.result = kSinkPropUnsupported;
      return;
    }
    v4l2_queryctrl a{};
    const bool hasAuto = queryAuto(control, a);
    if (entry.flags & kControlAuto) {
      entry.result = hasAuto ? resultOf(setAuto(control, true)) : kSinkInvalidArg;
      return;
    }
    if (hasAuto && autoOn(control)) {
      const int r = setAuto(control, false);
      if (r != 0) {
        entry.result = resultOf(r);
        return;
      }
    }
    v4l2_control c{};
    c.id = control->id;
    c.value = entry.value;
    entry.result = resultOf(io_->ioctl(fd_, VIDIOC_S_CTRL, &c));
  }

 private:
  struct Buffer {
    uint8_t* data;
    size_t length;
  };

  bool failStart() {
    stopStream();
    return false;
  }

  bool queue(uint32_t index) {
    v4l2_buffer b{};
    b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    b.memory = V4L2_MEMORY_MMAP;
    b.index = index;
    return io_->ioctl(fd_, VIDIOC_QBUF, &b) == 0;
  }

  bool query(const ControlMapping* control, v4l2_queryctrl& q) {
    if (control == nullptr || control->id == 0) return false;
    q.id = control->id;
    return io_->ioctl(fd_, VIDIOC_QUERYCTRL, &q) == 0 && (q.flags & V4L2_CTRL_FLAG_DISABLED) == 0;
  }

  bool queryAuto(const ControlMapping* control, v4l2_queryctrl& q) {
    if (control->autoId == 0) return false;
    q.id = control->autoId;
    return io_->ioctl(fd_, VIDIOC_QUERYCTRL, &q) == 0 && (q.flags & V4L2_CTRL_FLAG_DISABLED) == 0;
  }

  bool autoOn(const ControlMapping* control) {
    if (control->autoId == 0) return false;
    v4l2_control c{};
    c.id = control->autoId;
    if (io_->ioctl(fd_, VIDIOC_G_CTRL, &c) != 0) return false;
    return control->autoIsExposureMenu ? c.value != V4L2_EXPOSURE_MANUAL : c.value != 0;
  }

  int setAuto(const ControlMapping* control, bool on) {
    v4l2_control c{};
    c.id = control->autoId;
    if (control->autoIsExposureMenu)
      c.value = on ? V4L2_EXPOSURE_APERTURE_PRIORITY : V4L2_EXPOSURE_MANUAL;
    else
      c.value = on ? 1 : 0;
    return io_->ioctl(fd_, VIDIOC_S_CTRL, &c);
  }

  // Highest frame rate the camera states for a size; 0 when it states none.
  uint32_t framesPerSecond(uint32_t pixelFormat, uint32_t w, uint32_t h) {
    uint32_t best = 0;
    for (uint32_t i = 0; i < kMaxFrameIntervals; ++i) {
      v4l2_frmivalenum iv{};
      iv.index = i;
      iv.pixel_format = pixelFormat;
      iv.width = w;
      iv.height = h;
      if (io_->ioctl(fd_, VIDIOC_ENUM_FRAMEINTERVALS, &iv) != 0) break;
      const v4l2_fract* shortest = iv.type == V4L2_FRMIVAL_TYPE_DISCRETE ? &iv.discrete : &iv.stepwise.min;
      if (shortest->numerator != 0) best = std::max(best, shortest->denominator / shortest->numerator);
      if (iv.type != V4L2_FRMIVAL_TYPE_DISCRETE) break;
    }
    return best;
  }

  void addMode(const PixelMapping* mapping, uint32_t pixelFormat, uint32_t w, uint32_t h) {
    if (w == 0 || h == 0 || w > kMaxDimension || h > kMaxDimension) return;
    const FormatEntry entry{static_cast<int32_t>(w), static_cast<int32_t>(h), mapping->format};
    for (const Mode& m : modes_)
      if (m.entry.width == entry.width && m.entry.height == entry.height && m.entry.format == entry.format)
        return;  // YUYV and UYVY of one size give one "UYVY" entry, the first kept
    const uint32_t fps = framesPerSecond(pixelFormat, w, h);
    modes_.push_back({entry, mapping, fps == 0 || fps >= kMinCaptureFramesPerSecond});
  }

  void enumerate() {
    for (uint32_t i = 0; i < kMaxPixelFormats; ++i) {
      v4l2_fmtdesc d{};
      d.index = i;
      d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      if (io_->ioctl(fd_, VIDIOC_ENUM_FMT, &d) != 0) break;
      const PixelMapping* mapping = findMapping(d.pixelformat);
      if (mapping == nullptr) continue;
      for (uint32_t j = 0; j < kMaxFrameSizes; ++j) {
        v4l2_frmsizeenum s{};
        s.index = j;
        s.pixel_format = d.pixelformat;
        if (io_->ioctl(fd_, VIDIOC_ENUM_FRAMESIZES, &s) != 0) break;
        if (s.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
          addMode(mapping, d.pixelformat, s.discrete.width, s.discrete.height);
          continue;
        }
        const v4l2_frmsize_stepwise& r = s.stepwise;
        const uint32_t stepW = std::max<uint32_t>(r.step_width, 1);
        const uint32_t stepH = std::max<uint32_t>(r.step_height, 1);
        for (const auto& size : kRangeSizes) {
          if (size[0] >= r.min_width && size[0] <= r.max_width && size[1] >= r.min_height &&
              size[1] <= r.max_height && (size[0] - r.min_width) % stepW == 0 &&
              (size[1] - r.min_height) % stepH == 0)
            addMode(mapping, d.pixelformat, size[0], size[1]);
        }
        break;  // a range is the only entry
      }
    }
  }

  std::shared_ptr<V4l2Io> io_;
  const int fd_;
  std::vector<Mode> modes_;
  std::vector<Buffer> buffers_;
  std::vector<uint8_t> jfif_;
  bool requested_ = false;
  bool streaming_ = false;
  Layout layout_ = Layout::kPacked16;
  Reorder reorder_ = Reorder::kNone;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t strideBytes_ = 0;
  uint64_t pictureBytes_ = 0;
  uint64_t neededBytes_ = 0;  // bytes a raw picture occupies in a buffer, with row padding
};

bool isStreamingCapture(V4l2Io& io, int fd) {
  v4l2_capability cap{};
  if (io.ioctl(fd, VIDIOC_QUERYCAP, &cap) != 0) return false;
  const uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
  return (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING);
}

}  // namespace

std::unique_ptr<CameraDevice> openV4l2Camera(std::shared_ptr<platform::V4l2Io> io, const std::string& path) {
  if (!io) return nullptr;
  const std::vector<std::string> paths = path.empty() ? io->devicePaths() : std::vector<std::string>{path};
  for (const std::string& p : paths) {
    const int fd = io->open(p, V4l2Io::Mode::kNonBlocking);
    if (fd < 0) continue;
    if (isStreamingCapture(*io, fd)) return std::make_unique<V4l2Camera>(io, fd);
    io->close(fd);
  }
  return nullptr;
}

}  // namespace framesink
