// Device files are written by hand: any bytes must parse without harm.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/device_probe.h"

namespace {

struct Silent final : platform::DeviceProbe {
  std::optional<std::string> oemInfo() override { return std::nullopt; }
  std::optional<uint32_t> osMajorVersion() override { return std::nullopt; }
  std::optional<std::string> platformType() override { return std::nullopt; }
  std::optional<platform::ProcessorInfo> processor() override { return std::nullopt; }
  std::optional<platform::FrameBufferDescription> rawFrameBuffer() override { return std::nullopt; }
  std::optional<platform::FrameBufferDescription> displayInformation() override { return std::nullopt; }
  std::optional<platform::FrameBufferDescription> displayProperties() override { return std::nullopt; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t problems = 0;
  auto probe = platform::presentedDevice(
      std::make_unique<Silent>(), std::string_view(reinterpret_cast<const char*>(data), size),
      [&](const std::string&) { ++problems; });
  probe->oemInfo();
  probe->osMajorVersion();
  probe->platformType();
  probe->processor();
  if (auto screen = probe->displayProperties()) (void)screen->yStrideBytes;
  return 0;
}
