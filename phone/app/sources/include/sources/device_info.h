#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "jpegpress/jpeg_encoder_table.h"
#include "platform/device_probe.h"
#include "platform/module.h"
#include "sources/module_loader.h"

namespace sources {

// What the device program knows about its machine, probed once at start-up and kept
// for the whole run.
struct DeviceInfo {
  static constexpr size_t kMaxOemChars = 256;

  // The maker's description, upper-cased (ASCII letters), at most kMaxOemChars
  // characters; empty when the query failed. Every containment rule reads this text.
  std::u16string oemText;
  // The same text as the system returned it (same length limit), for the About dialog.
  std::u16string oemTextAsReturned;
  uint32_t osMajorVersion = 0;  // 0 when the query failed
  bool isSmartphone = true;     // a failed platform-type query counts as a Smartphone
  bool hasPxa27x = false;
  platform::ProcessorInfo processor;  // as returned; empty when the query failed

  // The bound entry table of "jpegpress.dll": all five entries null unless the module
  // was loaded (only on PXA27x) and its DllGetData returned non-zero.
  JpegEncoderTable jpegpress{};
  bool jpegpressBound() const { return jpegpressModule_ != nullptr; }

  DeviceInfo() = default;
  DeviceInfo(DeviceInfo&&) = default;
  DeviceInfo& operator=(DeviceInfo&&) = default;

 private:
  friend DeviceInfo ProbeDevice(platform::DeviceProbe&, ModuleLoader&);
  std::unique_ptr<platform::Module> jpegpressModule_;  // keeps the table's code loaded
};

// The PXA27x test: the core name or the processor name contains "PXA", and one of the
// two contains "27".
bool IsPxa27x(const platform::ProcessorInfo& processor);

// Asks `probe` the four questions and, only on a PXA27x, binds "jpegpress.dll" from the
// program's folder.
DeviceInfo ProbeDevice(platform::DeviceProbe& probe, ModuleLoader& modules);

}  // namespace sources
