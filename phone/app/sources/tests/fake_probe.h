#pragma once

#include <optional>
#include <string>

#include "platform/device_probe.h"

namespace sources::testing {

// A device whose every answer is set by the test; unset answers fail.
struct FakeProbe final : platform::DeviceProbe {
  std::optional<std::string> oem;
  std::optional<uint32_t> osMajor;
  std::optional<std::string> platform;
  std::optional<platform::ProcessorInfo> cpu;
  std::optional<platform::FrameBufferDescription> raw, info, properties;
  std::optional<std::string> drivers;
  std::optional<std::string> libraries;

  std::optional<std::string> oemInfo() override { return oem; }
  std::optional<uint32_t> osMajorVersion() override { return osMajor; }
  std::optional<std::string> platformType() override { return platform; }
  std::optional<platform::ProcessorInfo> processor() override { return cpu; }
  std::optional<platform::FrameBufferDescription> rawFrameBuffer() override { return raw; }
  std::optional<platform::FrameBufferDescription> displayInformation() override { return info; }
  std::optional<platform::FrameBufferDescription> displayProperties() override { return properties; }
  std::optional<std::string> streamDrivers() override { return drivers; }
  std::optional<std::string> cameraLibraries() override { return libraries; }
};

inline platform::FrameBufferDescription screenOf(uint32_t width, uint32_t height, uint32_t bits,
                                                 const void* frame = nullptr) {
  platform::FrameBufferDescription d;
  d.width = width;
  d.height = height;
  d.bitsPerPixel = bits;
  d.frame = frame;
  return d;
}

}  // namespace sources::testing
