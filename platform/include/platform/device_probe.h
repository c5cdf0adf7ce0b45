#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The processor as the system names it: the core (for example "XScale-PXA270") and the
// processor or board ("PXA270", "Intel(R) Core(TM) ..."), the instruction set the system
// runs ("x86_64", "aarch64", "armv5tel") and the extensions it reports, separated by
// spaces ("sse2 avx2 ...", "fp asimd ..."). Any of them may be empty.
struct ProcessorInfo {
  std::string core;
  std::string name;
  std::string architecture{};
  std::string features{};
};

// Seven values describing the display's frame buffer. `frame` is null when the answer
// carries no address of the pixels (a display query that only knows the geometry).
struct FrameBufferDescription {
  uint32_t pixelFormat = 0;  // the system's pixel format word; 0 when unknown
  uint32_t bitsPerPixel = 0;
  const void* frame = nullptr;
  int32_t xStrideBytes = 0;  // from one pixel to the next
  int32_t yStrideBytes = 0;  // from one row to the next
  uint32_t width = 0;
  uint32_t height = 0;
};

// The questions the device program asks about the machine it runs on, once at start-up.
// Every answer is empty when the system cannot answer; what an empty answer means is the
// caller's rule. Texts are UTF-8 exactly as the system returned them.
//
// The three display answers are tried in order by the caller: the raw frame buffer, the
// display driver's own information, and the geometry of the display as a whole. A frame
// address in an answer stays valid while the probe object lives.
//
// Threading: one thread at a time (start-up).
class DeviceProbe {
 public:
  virtual ~DeviceProbe() = default;

  // The maker's description of the device.
  virtual std::optional<std::string> oemInfo() = 0;
  virtual std::optional<uint32_t> osMajorVersion() = 0;
  // "SmartPhone" marks a phone without a touch screen; anything else is not one.
  virtual std::optional<std::string> platformType() = 0;
  virtual std::optional<ProcessorInfo> processor() = 0;

  virtual std::optional<FrameBufferDescription> rawFrameBuffer() = 0;
  virtual std::optional<FrameBufferDescription> displayInformation() = 0;
  virtual std::optional<FrameBufferDescription> displayProperties() = 0;

  // The stream-interface camera drivers present, as a blank-separated list of device
  // names ("CAM1: CAM2:"). A desktop or board has none of them: only a presented device
  // names some.
  virtual std::optional<std::string> streamDrivers() { return std::nullopt; }

  // The device makers' camera libraries present, as a blank-separated list of library
  // names ("GFSDK.dll HTCcamera.dll"). They do not exist for a desktop or board: only a
  // presented device names some, and only a library named here is loaded.
  virtual std::optional<std::string> cameraLibraries() { return std::nullopt; }
};

// The environment variable that names a file presenting another device (see
// presentedDevice below).
inline constexpr const char kDeviceFileVariable[] = "VISTREL_DEVICE";

// The platform type this platform reports for itself: never "SmartPhone", so a machine
// is only a Smartphone when a presented device says so.
inline constexpr const char kOwnPlatformType[] = "Linux";

// This machine. `rootDirectory` is prefixed to every system file read ("" = the real
// root; tests give a folder holding proc/, sys/ and dev/ look-alikes).
//   OEM text:   the device-tree model, else the DMI vendor and product names
//               ("<sys_vendor> <product_name>"), else no answer.
//   OS version: the kernel release's major number.
//   processor:  /proc/cpuinfo; core from "model name", "Processor" or "cpu model", else
//               the name of an Arm core from "CPU implementer" and "CPU part"
//               ("Cortex-A72"); name from "Hardware" (else the core); features from
//               "flags" or "Features"; architecture: the machine name this process runs as
//               (uname; under `rootDirectory`, proc/sys/kernel/arch).
//   display:    the frame buffer device fb0 (mapped read-only, then its geometry alone),
//               else the X11 root window's size and depth (geometry only).
std::unique_ptr<DeviceProbe> machineDeviceProbe(std::string rootDirectory = {});

// Receives one line per problem found in a device file, for stderr.
using ProbeDiagnostics = std::function<void(const std::string& message)>;

// A device presented by a text of "key = value" lines over `base`: every key given
// replaces that answer, every other answer comes from `base`. Keys:
//   oem             OEM text                          os-major   decimal number
//   platform        platform type                     processor  processor name
//   processor-core  processor core name               screen     WIDTHxHEIGHTxBITS
//   processor-architecture  instruction set           processor-features  extensions
//   stream-drivers  the stream camera drivers present ("CAM1: CAM2:")
//   camera-libraries  the makers' camera libraries present ("GFSDK.dll HTCcamera.dll")
// The value "(failed)" presents a query that fails. Blank lines and lines starting with
// '#' are skipped; a line without '=', an unknown key or a value that does not parse is
// reported and ignored (its answer stays the base's). A presented screen is a display
// geometry without a frame address; the two frame buffer answers then fail.
std::unique_ptr<DeviceProbe> presentedDevice(std::unique_ptr<DeviceProbe> base,
                                             std::string_view text,
                                             const ProbeDiagnostics& diagnostics = {});

// As above from the file at `path`; a file that cannot be read is reported and leaves
// `base` as it is.
std::unique_ptr<DeviceProbe> presentedDeviceFromFile(std::unique_ptr<DeviceProbe> base,
                                                     const std::string& path,
                                                     const ProbeDiagnostics& diagnostics = {});

// This machine, or the device presented by the file named in VISTREL_DEVICE when that
// variable is set and not empty.
std::unique_ptr<DeviceProbe> systemDeviceProbe(const ProbeDiagnostics& diagnostics = {});

}  // namespace platform
