// Definition files come from whoever runs the installer; the parser must refuse anything
// malformed with a message and never read outside its text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "warden/device_definition.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  warden::DeviceDefinition definition;
  std::string error;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (warden::parseDeviceDefinition(text, definition, error)) {
    // An accepted definition only names plain files and has what a driver needs.
    if (definition.drivers.empty() || definition.className.empty()) __builtin_trap();
    for (const auto& d : definition.drivers) {
      if (d.hardwareIds.empty() || d.unit.empty()) __builtin_trap();
      for (const std::string& f : d.files()) {
        if (!warden::isPlainFileName(f)) __builtin_trap();
      }
    }
  } else if (error.empty()) {
    __builtin_trap();
  }
  return 0;
}
