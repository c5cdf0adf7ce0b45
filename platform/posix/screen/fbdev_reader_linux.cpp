// The Linux frame buffer (fbdev) as a screen: the device's memory mapped read-only, the
// visible area located afresh on every read (a console switch or panning moves it).
#include <fcntl.h>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "screen_readers.h"

namespace platform {
namespace {

uint32_t fieldMask(uint32_t offset, uint32_t length) {
  if (length == 0) return 0;
  return static_cast<uint32_t>(((uint64_t{1} << length) - 1) << offset);
}

class FrameBufferReader final : public ScreenReader {
 public:
  FrameBufferReader(int fd, void* memory, size_t bytes, std::string path)
      : fd_(fd), memory_(memory), bytes_(bytes), method_("fbdev " + path) {}
  ~FrameBufferReader() override {
    munmap(memory_, bytes_);
    close(fd_);
  }
  FrameBufferReader(const FrameBufferReader&) = delete;
  FrameBufferReader& operator=(const FrameBufferReader&) = delete;

  bool read(ScreenImage& out) override {
    fb_var_screeninfo var{};
    fb_fix_screeninfo fix{};
    if (ioctl(fd_, FBIOGET_VSCREENINFO, &var) != 0 || ioctl(fd_, FBIOGET_FSCREENINFO, &fix) != 0)
      return false;
    FrameBufferGeometry g;
    g.width = var.xres;
    g.height = var.yres;
    g.xOffset = var.xoffset;
    g.yOffset = var.yoffset;
    g.bitsPerPixel = var.bits_per_pixel;
    g.lineBytes = fix.line_length;
    g.redOffset = var.red.offset;
    g.redLength = var.red.length;
    g.greenOffset = var.green.offset;
    g.greenLength = var.green.length;
    g.blueOffset = var.blue.offset;
    g.blueLength = var.blue.length;
    // Only what is mapped may be read, whatever the device says its memory is now.
    const uint64_t usable = fix.smem_len < bytes_ ? fix.smem_len : bytes_;
    return frameBufferView(g, static_cast<const uint8_t*>(memory_), usable, out);
  }
  ScreenKind kind() const override { return ScreenKind::kFrameBuffer; }
  const char* method() const override { return method_.c_str(); }

 private:
  const int fd_;
  void* const memory_;
  const size_t bytes_;
  const std::string method_;
};

}  // namespace

bool frameBufferView(const FrameBufferGeometry& g, const uint8_t* memory, uint64_t memoryBytes,
                     ScreenImage& out) {
  if (memory == nullptr || g.width == 0 || g.height == 0) return false;
  if (g.bitsPerPixel != 16 && g.bitsPerPixel != 24 && g.bitsPerPixel != 32) return false;
  for (const auto& [offset, length] : {std::pair{g.redOffset, g.redLength}, std::pair{g.greenOffset, g.greenLength},
                                       std::pair{g.blueOffset, g.blueLength}})
    if (length == 0 || length > 8 || uint64_t{offset} + length > g.bitsPerPixel) return false;
  const uint64_t rowBytes = uint64_t{g.width} * (g.bitsPerPixel / 8);
  if (g.lineBytes < rowBytes) return false;
  const uint64_t start = uint64_t{g.yOffset} * g.lineBytes + uint64_t{g.xOffset} * (g.bitsPerPixel / 8);
  // The last row needs only its pixels, not the whole line.
  const uint64_t end = start + uint64_t{g.height - 1} * g.lineBytes + rowBytes;
  if (uint64_t{g.xOffset} * (g.bitsPerPixel / 8) + rowBytes > g.lineBytes || end > memoryBytes) return false;
  out.pixels = memory + start;
  out.width = g.width;
  out.height = g.height;
  out.strideBytes = g.lineBytes;
  out.layout.bitsPerPixel = g.bitsPerPixel;
  out.layout.redMask = fieldMask(g.redOffset, g.redLength);
  out.layout.greenMask = fieldMask(g.greenOffset, g.greenLength);
  out.layout.blueMask = fieldMask(g.blueOffset, g.blueLength);
  return true;
}

std::unique_ptr<ScreenReader> openFrameBufferReader() {
  const char* path = frameBufferPath();
  if (*path == '\0') return nullptr;
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  fb_fix_screeninfo fix{};
  if (ioctl(fd, FBIOGET_FSCREENINFO, &fix) != 0 || fix.smem_len == 0) {
    close(fd);
    return nullptr;
  }
  void* memory = mmap(nullptr, fix.smem_len, PROT_READ, MAP_SHARED, fd, 0);
  if (memory == MAP_FAILED) {
    close(fd);
    return nullptr;
  }
  auto reader = std::make_unique<FrameBufferReader>(fd, memory, fix.smem_len, path);
  // A device that cannot show its picture now is no screen.
  ScreenImage probe;
  if (!reader->read(probe)) return nullptr;
  return reader;
}

}  // namespace platform
