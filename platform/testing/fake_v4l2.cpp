#include "fake_v4l2.h"

#include "platform/linux/v4l2_kernel.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace platform::testing {
namespace {

constexpr int64_t kOffsetStep = int64_t{1} << 24;

const char* requestName(unsigned long request) {
  switch (request) {
    case VIDIOC_QUERYCAP: return "QUERYCAP";
    case VIDIOC_ENUM_FMT: return "ENUM_FMT";
    case VIDIOC_ENUM_FRAMESIZES: return "ENUM_FRAMESIZES";
    case VIDIOC_ENUM_FRAMEINTERVALS: return "ENUM_FRAMEINTERVALS";
    case VIDIOC_S_FMT: return "S_FMT";
    case VIDIOC_REQBUFS: return "REQBUFS";
    case VIDIOC_QUERYBUF: return "QUERYBUF";
    case VIDIOC_QBUF: return "QBUF";
    case VIDIOC_DQBUF: return "DQBUF";
    case VIDIOC_STREAMON: return "STREAMON";
    case VIDIOC_STREAMOFF: return "STREAMOFF";
    case VIDIOC_QUERYCTRL: return "QUERYCTRL";
    case VIDIOC_G_CTRL: return "G_CTRL";
    case VIDIOC_S_CTRL: return "S_CTRL";
    default: return "UNKNOWN";
  }
}

uint32_t lineBytes(uint32_t pixelFormat, uint32_t width) {
  switch (pixelFormat) {
    case V4L2_PIX_FMT_YUYV:
    case V4L2_PIX_FMT_UYVY:
    case V4L2_PIX_FMT_RGB565: return width * 2;
    case V4L2_PIX_FMT_BGR24: return width * 3;
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG: return 0;
    default: return width;
  }
}

uint32_t imageBytes(uint32_t pixelFormat, uint32_t width, uint32_t height, uint32_t bytesPerLine) {
  switch (pixelFormat) {
    case V4L2_PIX_FMT_YUYV:
    case V4L2_PIX_FMT_UYVY:
    case V4L2_PIX_FMT_RGB565:
    case V4L2_PIX_FMT_BGR24: return bytesPerLine * height;
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG: return width * height * 2;
    default: return width * height * 3 / 2;
  }
}

}  // namespace

std::string fourccText(uint32_t code) {
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((code >> (8 * i)) & 0xFF));
  return s;
}

void FakeV4l2::addNode(FakeVideoNode node) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (node.capabilities == 0) node.capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
  nodes_.push_back(std::move(node));
}

void FakeV4l2::queuePicture(std::vector<uint8_t> bytes, bool errorFlag) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pictures_.push_back({std::move(bytes), errorFlag});
  }
  arrived_.notify_all();
}

void FakeV4l2::failRequest(unsigned long request, int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_[request] = error;
}

void FakeV4l2::failWrites(int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  writeError_ = error;
}

void FakeV4l2::unplug() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    unplugged_ = true;
  }
  arrived_.notify_all();
}

std::vector<std::string> FakeV4l2::calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

bool FakeV4l2::called(const std::string& call) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::find(calls_.begin(), calls_.end(), call) != calls_.end();
}

int32_t FakeV4l2::controlValue(uint32_t id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const FakeVideoNode& c : nodes_)
    for (const FakeControl& control : c.controls)
      if (control.id == id) return control.value;
  return INT32_MIN;
}

size_t FakeV4l2::pendingPictures() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pictures_.size();
}

int FakeV4l2::openDescriptors() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(descriptors_.size());
}

int FakeV4l2::liveMappings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return mappings_;
}

std::vector<FakeFormatRequest> FakeV4l2::formatRequests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return formatRequests_;
}

std::vector<size_t> FakeV4l2::writeSizes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writeSizes_;
}

std::vector<std::vector<uint8_t>> FakeV4l2::writtenPictures() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return written_;
}

void FakeV4l2::record(std::string call) { calls_.push_back(std::move(call)); }

FakeVideoNode* FakeV4l2::nodeOf(int fd) {
  auto it = descriptors_.find(fd);
  return it == descriptors_.end() ? nullptr : &nodes_[it->second];
}

std::vector<std::string> FakeV4l2::devicePaths() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> paths;
  if (!unplugged_)
    for (const FakeVideoNode& c : nodes_) paths.push_back(c.path);
  return paths;
}

int FakeV4l2::open(const std::string& path, Mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  record("open " + path);
  for (size_t i = 0; i < nodes_.size(); ++i) {
    if (nodes_[i].path == path && !unplugged_) {
      descriptors_[nextFd_] = i;
      return nextFd_++;
    }
  }
  return -ENOENT;
}

void FakeV4l2::close(int fd) {
  std::lock_guard<std::mutex> lock(mutex_);
  record("close");
  if (descriptors_.erase(fd) == 0) return;
  streaming_ = false;
}

void* FakeV4l2::mmap(size_t length, int fd, int64_t offset) {
  std::lock_guard<std::mutex> lock(mutex_);
  record("mmap");
  if (nodeOf(fd) == nullptr || offset % kOffsetStep != 0) return nullptr;
  const size_t index = static_cast<size_t>(offset / kOffsetStep);
  if (index >= buffers_.size() || length != buffers_[index].memory.size() || buffers_[index].mapped)
    return nullptr;
  buffers_[index].mapped = true;
  ++mappings_;
  return buffers_[index].memory.data();
}

void FakeV4l2::munmap(void* address, size_t) {
  std::lock_guard<std::mutex> lock(mutex_);
  record("munmap");
  for (Buffer& b : buffers_) {
    if (b.mapped && b.memory.data() == address) {
      b.mapped = false;
      --mappings_;
    }
  }
}

int FakeV4l2::pollReadable(int fd, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (nodeOf(fd) == nullptr) return -EBADF;
  auto ready = [&] {
    if (unplugged_ || !streaming_) return true;
    return !pictures_.empty() && std::any_of(buffers_.begin(), buffers_.end(), [](const Buffer& b) { return b.queued; });
  };
  if (!arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) return 0;
  if (unplugged_) return -ENODEV;
  if (!streaming_) return -EINVAL;
  return 1;
}

int FakeV4l2::ioctl(int fd, unsigned long request, void* argument) {
  std::lock_guard<std::mutex> lock(mutex_);
  FakeVideoNode* node = nodeOf(fd);
  if (node == nullptr) return -EBADF;
  if (unplugged_) {
    record(std::string(requestName(request)) + " ENODEV");
    return -ENODEV;
  }
  if (auto f = failures_.find(request); f != failures_.end()) {
    record(std::string(requestName(request)) + " failed");
    return -f->second;
  }
  return ioctlLocked(*node, request, argument);
}

int64_t FakeV4l2::write(int fd, const void* data, size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  FakeVideoNode* node = nodeOf(fd);
  if (node == nullptr) return -EBADF;
  if ((node->capabilities & V4L2_CAP_VIDEO_OUTPUT) == 0) return -EINVAL;
  ++writes_;
  if (writeError_ != 0) return -writeError_;
  if (node->interruptEvery > 0 && writes_ % node->interruptEvery == 0) return -EINTR;
  const size_t n = node->maxWrite != 0 && size > node->maxWrite ? node->maxWrite : size;
  writeSizes_.push_back(n);
  const auto* bytes = static_cast<const uint8_t*>(data);
  partial_.insert(partial_.end(), bytes, bytes + n);
  while (sizeImage_ != 0 && partial_.size() >= sizeImage_) {
    written_.emplace_back(partial_.begin(), partial_.begin() + sizeImage_);
    partial_.erase(partial_.begin(), partial_.begin() + sizeImage_);
  }
  return static_cast<int64_t>(n);
}

// A loopback device's answer: the output type only, the format as asked (the width
// clamped where the node says so).
int FakeV4l2::setOutputFormat(FakeVideoNode& node, void* argument) {
  auto* f = static_cast<v4l2_format*>(argument);
  auto& pix = f->fmt.pix;
  formatRequests_.push_back({f->type, pix.width, pix.height, pix.pixelformat, pix.field,
                             pix.bytesperline, pix.sizeimage});
  if (f->type != V4L2_BUF_TYPE_VIDEO_OUTPUT) return -EINVAL;
  if (node.clampWidth != 0 && pix.width > node.clampWidth) pix.width = node.clampWidth;
  sizeImage_ = pix.sizeimage;
  partial_.clear();
  char text[128];
  std::snprintf(text, sizeof text, "S_FMT %ux%u %s", pix.width, pix.height,
                fourccText(pix.pixelformat).c_str());
  record(text);
  return 0;
}

int FakeV4l2::ioctlLocked(FakeVideoNode& camera, unsigned long request, void* argument) {
  char text[128];
  switch (request) {
    case VIDIOC_QUERYCAP: {
      record("QUERYCAP");
      auto* cap = static_cast<v4l2_capability*>(argument);
      std::memset(cap, 0, sizeof *cap);
      std::snprintf(reinterpret_cast<char*>(cap->driver), sizeof cap->driver, "fake");
      cap->capabilities = camera.capabilities | V4L2_CAP_DEVICE_CAPS;
      cap->device_caps = camera.capabilities;
      return 0;
    }
    case VIDIOC_ENUM_FMT: {
      auto* d = static_cast<v4l2_fmtdesc*>(argument);
      if (d->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || d->index >= camera.formats.size()) return -EINVAL;
      d->pixelformat = camera.formats[d->index].pixelFormat;
      return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
      auto* s = static_cast<v4l2_frmsizeenum*>(argument);
      for (const FakePixelFormat& f : camera.formats) {
        if (f.pixelFormat != s->pixel_format) continue;
        if (s->index >= f.sizes.size()) return -EINVAL;
        s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
        s->discrete.width = f.sizes[s->index].width;
        s->discrete.height = f.sizes[s->index].height;
        return 0;
      }
      return -EINVAL;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
      auto* iv = static_cast<v4l2_frmivalenum*>(argument);
      for (const FakePixelFormat& f : camera.formats) {
        if (f.pixelFormat != iv->pixel_format) continue;
        for (const FakeFrameSize& s : f.sizes) {
          if (s.width != iv->width || s.height != iv->height) continue;
          if (iv->index != 0 || s.framesPerSecond == 0) return -EINVAL;
          iv->type = V4L2_FRMIVAL_TYPE_DISCRETE;
          iv->discrete = {1, s.framesPerSecond};
          return 0;
        }
      }
      return -EINVAL;
    }
    case VIDIOC_S_FMT: {
      if (camera.capabilities & V4L2_CAP_VIDEO_OUTPUT) return setOutputFormat(camera, argument);
      auto* f = static_cast<v4l2_format*>(argument);
      if (streaming_ || !buffers_.empty()) {
        record("S_FMT EBUSY");
        return -EBUSY;
      }
      const FakePixelFormat* chosen = nullptr;
      for (const FakePixelFormat& p : camera.formats)
        if (p.pixelFormat == f->fmt.pix.pixelformat) chosen = &p;
      if (chosen == nullptr && !camera.formats.empty()) chosen = &camera.formats.front();
      if (chosen == nullptr || chosen->sizes.empty()) return -EINVAL;
      // Like a driver: an unknown size becomes the first listed one.
      FakeFrameSize size = chosen->sizes.front();
      for (const FakeFrameSize& s : chosen->sizes)
        if (s.width == f->fmt.pix.width && s.height == f->fmt.pix.height) size = s;
      f->fmt.pix.pixelformat = chosen->pixelFormat;
      f->fmt.pix.width = size.width;
      f->fmt.pix.height = size.height;
      const uint32_t line = lineBytes(chosen->pixelFormat, size.width);
      f->fmt.pix.bytesperline = line == 0 ? 0
                                : line == size.width ? line
                                                     : line + camera.extraBytesPerLine;
      f->fmt.pix.sizeimage = imageBytes(chosen->pixelFormat, size.width, size.height, f->fmt.pix.bytesperline);
      sizeImage_ = f->fmt.pix.sizeimage;
      std::snprintf(text, sizeof text, "S_FMT %ux%u %s", size.width, size.height,
                    fourccText(chosen->pixelFormat).c_str());
      record(text);
      return 0;
    }
    case VIDIOC_REQBUFS: {
      auto* r = static_cast<v4l2_requestbuffers*>(argument);
      std::snprintf(text, sizeof text, "REQBUFS %u", r->count);
      record(text);
      if (r->memory != V4L2_MEMORY_MMAP || streaming_) return -EINVAL;
      if (std::any_of(buffers_.begin(), buffers_.end(), [](const Buffer& b) { return b.mapped; }))
        return -EBUSY;
      buffers_.clear();
      if (r->count == 0) return 0;
      if (sizeImage_ == 0) return -EINVAL;
      r->count = std::min<uint32_t>(r->count, 8);
      buffers_.resize(r->count);
      for (Buffer& b : buffers_) b.memory.assign(sizeImage_, 0);
      return 0;
    }
    case VIDIOC_QUERYBUF: {
      auto* b = static_cast<v4l2_buffer*>(argument);
      if (b->index >= buffers_.size()) return -EINVAL;
      b->length = static_cast<uint32_t>(buffers_[b->index].memory.size());
      b->m.offset = static_cast<uint32_t>(b->index * kOffsetStep);
      return 0;
    }
    case VIDIOC_QBUF: {
      auto* b = static_cast<v4l2_buffer*>(argument);
      if (b->index >= buffers_.size() || buffers_[b->index].queued) return -EINVAL;
      buffers_[b->index].queued = true;
      record("QBUF");
      arrived_.notify_all();
      return 0;
    }
    case VIDIOC_DQBUF: {
      auto* b = static_cast<v4l2_buffer*>(argument);
      if (!streaming_) return -EINVAL;
      if (pictures_.empty()) return -EAGAIN;
      for (uint32_t i = 0; i < buffers_.size(); ++i) {
        if (!buffers_[i].queued) continue;
        Picture p = std::move(pictures_.front());
        pictures_.pop_front();
        Buffer& buffer = buffers_[i];
        buffer.queued = false;
        const size_t n = std::min(p.bytes.size(), buffer.memory.size());
        std::memcpy(buffer.memory.data(), p.bytes.data(), n);
        b->index = i;
        b->bytesused = static_cast<uint32_t>(n);
        b->flags = p.errorFlag ? V4L2_BUF_FLAG_ERROR : 0;
        record("DQBUF");
        return 0;
      }
      return -EAGAIN;
    }
    case VIDIOC_STREAMON:
      record("STREAMON");
      if (buffers_.empty()) return -EINVAL;
      streaming_ = true;
      arrived_.notify_all();
      return 0;
    case VIDIOC_STREAMOFF:
      record("STREAMOFF");
      streaming_ = false;
      for (Buffer& b : buffers_) b.queued = false;
      arrived_.notify_all();
      return 0;
    case VIDIOC_QUERYCTRL: {
      auto* q = static_cast<v4l2_queryctrl*>(argument);
      for (const FakeControl& c : camera.controls) {
        if (c.id != q->id) continue;
        q->minimum = c.minimum;
        q->maximum = c.maximum;
        q->step = c.step;
        q->default_value = c.defaultValue;
        q->flags = 0;
        return 0;
      }
      return -EINVAL;
    }
    case VIDIOC_G_CTRL: {
      auto* c = static_cast<v4l2_control*>(argument);
      for (const FakeControl& control : camera.controls)
        if (control.id == c->id) {
          c->value = control.value;
          return 0;
        }
      return -EINVAL;
    }
    case VIDIOC_S_CTRL: {
      auto* c = static_cast<v4l2_control*>(argument);
      std::snprintf(text, sizeof text, "S_CTRL 0x%08x=%d", c->id, c->value);
      record(text);
      for (FakeControl& control : camera.controls) {
        if (control.id != c->id) continue;
        if (c->value < control.minimum || c->value > control.maximum) return -ERANGE;
        control.value = c->value;
        return 0;
      }
      return -EINVAL;
    }
    default:
      record(std::string("unknown ioctl"));
      return -ENOTTY;
  }
}

}  // namespace platform::testing
