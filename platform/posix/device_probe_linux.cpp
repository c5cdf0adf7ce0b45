// The device probe on Linux: system files for the texts, fbdev and X11 for the display.

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/device_probe.h"
#include "platform/screen.h"

namespace platform {
namespace {

std::optional<std::string> readSmallFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return text.str();
}

// Device-tree strings end in a zero; sysfs values end in a line break.
std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\0' || std::isspace(static_cast<unsigned char>(text.back()))))
    text.pop_back();
  size_t start = 0;
  while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
  return text.substr(start);
}

std::optional<std::string> readValue(const std::string& path) {
  auto text = readSmallFile(path);
  if (!text) return std::nullopt;
  std::string value = trimmed(*text);
  if (value.empty()) return std::nullopt;
  return value;
}

// The value of the first "key : value" line of /proc/cpuinfo whose key is exactly `key`.
std::string cpuinfoValue(const std::string& cpuinfo, std::string_view key) {
  std::istringstream lines(cpuinfo);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    if (trimmed(line.substr(0, colon)) == key) return trimmed(line.substr(colon + 1));
  }
  return {};
}

// Arm's own cores by their "CPU part" number (implementer 0x41); other cores keep the
// numbers.
std::string armCoreName(const std::string& implementer, const std::string& part) {
  static constexpr struct {
    unsigned part;
    const char* name;
  } kArmCores[] = {
      {0xd03, "Cortex-A53"},  {0xd04, "Cortex-A35"},  {0xd05, "Cortex-A55"},
      {0xd07, "Cortex-A57"},  {0xd08, "Cortex-A72"},  {0xd09, "Cortex-A73"},
      {0xd0a, "Cortex-A75"},  {0xd0b, "Cortex-A76"},  {0xd0c, "Neoverse-N1"},
      {0xd0d, "Cortex-A77"},  {0xd40, "Neoverse-V1"}, {0xd41, "Cortex-A78"},
      {0xd44, "Cortex-X1"},   {0xd46, "Cortex-A510"}, {0xd47, "Cortex-A710"},
      {0xd48, "Cortex-X2"},   {0xd49, "Neoverse-N2"}, {0xd4f, "Neoverse-V2"},
  };
  if (implementer.empty() || part.empty()) return {};
  const unsigned long partNumber = std::strtoul(part.c_str(), nullptr, 0);
  if (std::strtoul(implementer.c_str(), nullptr, 0) == 0x41)
    for (const auto& core : kArmCores)
      if (core.part == partNumber) return core.name;
  return "implementer " + implementer + " part " + part;
}

// The X11 library is taken at run time so that the program runs where it is missing.
std::optional<FrameBufferDescription> x11RootWindow() {
  if (const char* display = std::getenv("DISPLAY"); display == nullptr || *display == '\0')
    return std::nullopt;
  void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
  if (x11 == nullptr) return std::nullopt;
  using OpenDisplay = void* (*)(const char*);
  using ScreenQuery = int (*)(void*, int);
  using DefaultScreen = int (*)(void*);
  using CloseDisplay = int (*)(void*);
  auto open = reinterpret_cast<OpenDisplay>(dlsym(x11, "XOpenDisplay"));
  auto screenOf = reinterpret_cast<DefaultScreen>(dlsym(x11, "XDefaultScreen"));
  auto widthOf = reinterpret_cast<ScreenQuery>(dlsym(x11, "XDisplayWidth"));
  auto heightOf = reinterpret_cast<ScreenQuery>(dlsym(x11, "XDisplayHeight"));
  auto depthOf = reinterpret_cast<ScreenQuery>(dlsym(x11, "XDefaultDepth"));
  auto close = reinterpret_cast<CloseDisplay>(dlsym(x11, "XCloseDisplay"));
  std::optional<FrameBufferDescription> result;
  if (open && screenOf && widthOf && heightOf && depthOf && close) {
    if (void* display = open(nullptr)) {
      const int screen = screenOf(display);
      FrameBufferDescription d;
      d.width = static_cast<uint32_t>(widthOf(display, screen));
      d.height = static_cast<uint32_t>(heightOf(display, screen));
      const int depth = depthOf(display, screen);
      d.bitsPerPixel = depth > 16 ? 32 : static_cast<uint32_t>(depth);
      d.xStrideBytes = static_cast<int32_t>(d.bitsPerPixel / 8);
      d.yStrideBytes = static_cast<int32_t>(d.width * d.bitsPerPixel / 8);
      close(display);
      result = d;
    }
  }
  dlclose(x11);
  return result;
}

class MachineDeviceProbe final : public DeviceProbe {
 public:
  explicit MachineDeviceProbe(std::string root) : root_(std::move(root)) {}
  ~MachineDeviceProbe() override {
    if (mapping_ != nullptr) munmap(mapping_, mappingBytes_);
  }
  MachineDeviceProbe(const MachineDeviceProbe&) = delete;
  MachineDeviceProbe& operator=(const MachineDeviceProbe&) = delete;

  std::optional<std::string> oemInfo() override {
    for (const char* path : {"/proc/device-tree/model", "/sys/firmware/devicetree/base/model"})
      if (auto model = readValue(root_ + path)) return model;
    auto vendor = readValue(root_ + "/sys/class/dmi/id/sys_vendor");
    auto product = readValue(root_ + "/sys/class/dmi/id/product_name");
    if (vendor && product) return *vendor + " " + *product;
    if (vendor) return vendor;
    return product;
  }

  std::optional<uint32_t> osMajorVersion() override {
    std::optional<std::string> release = readValue(root_ + "/proc/sys/kernel/osrelease");
    if (!release && root_.empty()) {
      utsname names{};
      if (uname(&names) == 0) release = names.release;
    }
    if (!release || release->empty() || !std::isdigit(static_cast<unsigned char>((*release)[0])))
      return std::nullopt;
    uint32_t major = 0;
    for (char c : *release) {
      if (!std::isdigit(static_cast<unsigned char>(c))) break;
      major = major * 10 + static_cast<uint32_t>(c - '0');
      if (major > 100000) return std::nullopt;
    }
    return major;
  }

  std::optional<std::string> platformType() override { return std::string(kOwnPlatformType); }

  std::optional<ProcessorInfo> processor() override {
    auto cpuinfo = readSmallFile(root_ + "/proc/cpuinfo");
    if (!cpuinfo) return std::nullopt;
    ProcessorInfo info;
    for (const char* key : {"model name", "Processor", "cpu model"}) {
      info.core = cpuinfoValue(*cpuinfo, key);
      if (!info.core.empty()) break;
    }
    if (info.core.empty())
      info.core = armCoreName(cpuinfoValue(*cpuinfo, "CPU implementer"),
                              cpuinfoValue(*cpuinfo, "CPU part"));
    info.name = cpuinfoValue(*cpuinfo, "Hardware");
    if (info.name.empty()) info.name = info.core;
    info.features = cpuinfoValue(*cpuinfo, "flags");
    if (info.features.empty()) info.features = cpuinfoValue(*cpuinfo, "Features");
    // The machine this process runs as (an emulator or a 32-bit personality answers for
    // itself here, where the kernel's own file would name the host).
    utsname names{};
    if (!root_.empty()) {
      if (auto arch = readValue(root_ + "/proc/sys/kernel/arch")) info.architecture = *arch;
    } else if (uname(&names) == 0) {
      info.architecture = names.machine;
    }
    return info;
  }

  std::optional<FrameBufferDescription> rawFrameBuffer() override {
    auto geometry = frameBufferGeometry(true);
    if (!geometry || geometry->frame == nullptr) return std::nullopt;
    return geometry;
  }

  std::optional<FrameBufferDescription> displayInformation() override {
    return frameBufferGeometry(false);
  }

  std::optional<FrameBufferDescription> displayProperties() override { return x11RootWindow(); }

 private:
  std::optional<FrameBufferDescription> frameBufferGeometry(bool map) {
    const std::string path = root_.empty() ? std::string(frameBufferPath()) : root_ + "/dev/fb0";
    if (path.empty()) return std::nullopt;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    fb_var_screeninfo var{};
    fb_fix_screeninfo fix{};
    std::optional<FrameBufferDescription> result;
    if (ioctl(fd, FBIOGET_VSCREENINFO, &var) == 0 && ioctl(fd, FBIOGET_FSCREENINFO, &fix) == 0) {
      FrameBufferDescription d;
      d.bitsPerPixel = var.bits_per_pixel;
      d.width = var.xres;
      d.height = var.yres;
      d.xStrideBytes = static_cast<int32_t>(var.bits_per_pixel / 8);
      d.yStrideBytes = static_cast<int32_t>(fix.line_length);
      if (map && fix.smem_len > 0) {
        if (mapping_ == nullptr) {
          void* pixels = mmap(nullptr, fix.smem_len, PROT_READ, MAP_SHARED, fd, 0);
          if (pixels != MAP_FAILED) {
            mapping_ = pixels;
            mappingBytes_ = fix.smem_len;
          }
        }
        d.frame = mapping_;
      }
      result = d;
    }
    close(fd);
    return result;
  }

  const std::string root_;
  void* mapping_ = nullptr;
  size_t mappingBytes_ = 0;
};

}  // namespace

std::unique_ptr<DeviceProbe> machineDeviceProbe(std::string rootDirectory) {
  return std::make_unique<MachineDeviceProbe>(std::move(rootDirectory));
}

std::unique_ptr<DeviceProbe> systemDeviceProbe(const ProbeDiagnostics& diagnostics) {
  auto probe = machineDeviceProbe();
  const char* file = std::getenv(kDeviceFileVariable);
  if (file == nullptr || *file == '\0') return probe;
  return presentedDeviceFromFile(std::move(probe), file, diagnostics);
}

}  // namespace platform
