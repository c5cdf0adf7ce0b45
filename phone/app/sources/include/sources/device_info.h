#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "jpegpress/jpeg_encoder_table.h"
#include "platform/device_probe.h"
#include "platform/module.h"
#include "sources/module_loader.h"

namespace sources {

// The kernels the encoder module runs on a processor, as it names its tables.
enum class JpegpressKernels { kNone, kPortable, kSse2, kAvx2, kNeon };

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
  // The kernels jpegpress has for this processor (jpegpressKernelsFor); kNone where it
  // has none and is not loaded.
  JpegpressKernels jpegpressKernels = JpegpressKernels::kNone;

  // The bound entry table of "jpegpress.dll": all five entries null unless the module
  // was loaded (only where it has kernels) and its DllGetData returned non-zero.
  JpegEncoderTable jpegpress{};
  bool jpegpressBound() const { return jpegpressModule_ != nullptr; }

  DeviceInfo() = default;
  DeviceInfo(DeviceInfo&&) = default;
  DeviceInfo& operator=(DeviceInfo&&) = default;

 private:
  friend DeviceInfo probeDevice(platform::DeviceProbe&, ModuleLoader&);
  std::unique_ptr<platform::Module> jpegpressModule_;  // keeps the table's code loaded
};

// The PXA27x test: the core name or the processor name contains "PXA", and one of the
// two contains "27".
bool isPxa27x(const platform::ProcessorInfo& processor);

// The processor test for binding jpegpress: the kernels it runs on this processor. SIMD
// kernels on every x86-64 processor (AVX2 when the processor reports it, else SSE2) and
// every AArch64 processor (NEON); the portable kernels on a PXA27x; none on any other
// processor, where the system encoder is used (see docs/sources.md for why).
JpegpressKernels jpegpressKernelsFor(const platform::ProcessorInfo& processor);
// "portable", "sse2", "avx2", "neon", or "none".
const char* jpegpressKernelsName(JpegpressKernels kernels);

// Asks `probe` the four questions and, only on a processor for which jpegpress has
// kernels, binds "jpegpress.dll" from the program's folder.
DeviceInfo probeDevice(platform::DeviceProbe& probe, ModuleLoader& modules);

}  // namespace sources
