#pragma once

// Building the list of capture sources that this device can offer. The candidates are
// tried in a fixed order and each one that applies is appended:
//   1 GoForce camera      "GFSDK.dll" with all seven resource-manager exports
//   2 HTC camera          "HTCcamera.dll", else "HTCcamera1.dll", with the four required
//                         exports
//                         (rows 1 and 2 also need the library named by the device:
//                         these libraries do not exist for a desktop or board)
//   3 HTC front sensor    row 2 exists and its model code has a second sensor
//   4 "CAM1:" camera      OEM text contains one of the G50V04 ... X650V0 names
//   5 "CAM2:" camera      OEM text contains "GIGABYTE" or "STEALTH"
//                         (rows 4 to 6 also need the driver present: a PC's vendor text
//                         may name a phone maker, but only a presented device has the
//                         driver)
//   6 "DSC1:" camera      OEM text contains "220" and "MPX"
//   7 DirectShow camera   OS major version above 4 and "framesink.dll" binds its table
//   8 screen              the display's frame buffer description is acceptable
//   9 sound               always
// A library that does not qualify is unloaded again; a missing one removes only its row.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device_probe.h"
#include "platform/module.h"
#include "sources/capture_source.h"
#include "sources/device_info.h"
#include "sources/module_loader.h"
#include "sources/source_list.h"

namespace sources {

// ---- Rules on the OEM text (upper case, containment is case-sensitive) ----

// The HTC camera library's model code: the first matching rule wins; 35 when none does.
uint32_t htcModelCode(std::u16string_view oemText);

// The model codes whose library drives a second (front) sensor.
bool hasFrontSensor(uint32_t modelCode);

// The DirectShow camera's flavour: 1 when the text contains "SGH"; else 2 when it
// contains "ATOM" or is exactly "HP"; else 0.
uint32_t directShowFlavour(std::u16string_view oemText);

// The stream-driver cameras of rows 4, 5 and 6, and whether the OEM text calls for one.
enum class StreamDriver { kCam1, kCam2, kDsc1 };
const char16_t* streamDriverName(StreamDriver driver);  // u"CAM1:", u"CAM2:", u"DSC1:"
bool oemTextSelects(StreamDriver driver, std::u16string_view oemText);
// Whether the probe reports the driver present (DeviceProbe::streamDrivers).
bool driverPresent(platform::DeviceProbe& probe, StreamDriver driver);

// Whether the probe names the maker's camera library (DeviceProbe::cameraLibraries): the
// names are compared without their extension and without regard to case, so "HTCcamera",
// "HTCcamera.dll" and "htccamera.so" all name "HTCcamera.dll". A library not named is
// not loaded at all.
bool libraryPresent(platform::DeviceProbe& probe, std::string_view library);

// ---- The screen ----

// Asks the three display answers in order: the raw frame buffer; when that fails or has
// no frame address, the display information; when there is still no frame address, the
// display properties. Each answer that comes replaces the one before. Empty when none
// answered.
std::optional<platform::FrameBufferDescription> queryScreen(platform::DeviceProbe& probe);

// The screen source is offered for a width and a height each in 176..640 and 1..32 bits
// per pixel.
bool screenQualifies(const platform::FrameBufferDescription& screen);

// ---- What the rows bind ----

// "GFSDK.dll" and its seven entry points, in the order of kGoForceExports.
inline constexpr std::array<const char*, 7> kGoForceExports = {
    "GFRmOpen",         "GFRmClose",        "GFRmGetAttribute", "GFRmComponentGet",
    "GFRmComponentRelease", "GFRmSurfaceAlloc", "GFRmSurfaceFree"};
struct GoForceLibrary {
  std::unique_ptr<platform::Module> module;
  std::array<void*, kGoForceExports.size()> entries{};
};

// "HTCcamera.dll" or "HTCcamera1.dll": the four required and four optional entry points
// (null when absent), kept with the model code and the platform type. Shared by the
// camera and its front sensor.
struct HtcCameraLibrary {
  std::unique_ptr<platform::Module> module;
  std::string moduleName;
  void* cameraInit = nullptr;
  void* cameraBegin = nullptr;
  void* cameraEnd = nullptr;
  void* cameraDeinit = nullptr;
  void* cameraSetProperty = nullptr;
  void* cameraGetProperty = nullptr;
  void* cameraFlashLight = nullptr;
  void* cameraEncodeJpeg = nullptr;
  uint32_t modelCode = 35;
  bool isSmartphone = true;
};

// "framesink.dll" and the nine-entry table its DllGetData filled (the entries are the
// module's function pointers in the order of its table), with the camera's flavour.
inline constexpr size_t kFramesinkEntries = 9;
struct FramesinkLibrary {
  std::unique_ptr<platform::Module> module;
  std::array<void*, kFramesinkEntries> table{};
  uint32_t flavour = 0;
};

// Creates the sources of the rows that apply. The device program's factory makes the
// real sources; the placeholder factory (placeholder_sources.h) stands in for those
// whose device is not implemented yet. A null result leaves the row out.
class SourceFactory {
 public:
  virtual ~SourceFactory() = default;
  virtual std::unique_ptr<CaptureSource> goForceCamera(const DeviceInfo& device,
                                                       GoForceLibrary library) = 0;
  virtual std::unique_ptr<CaptureSource> htcCamera(const DeviceInfo& device,
                                                   std::shared_ptr<const HtcCameraLibrary> library,
                                                   bool frontSensor) = 0;
  virtual std::unique_ptr<CaptureSource> streamCamera(const DeviceInfo& device,
                                                      StreamDriver driver) = 0;
  virtual std::unique_ptr<CaptureSource> directShowCamera(const DeviceInfo& device,
                                                          FramesinkLibrary library) = 0;
  virtual std::unique_ptr<CaptureSource> screen(const DeviceInfo& device,
                                                const platform::FrameBufferDescription& screen) = 0;
  virtual std::unique_ptr<CaptureSource> sound(const DeviceInfo& device) = 0;
};

// Receives one line per row tried, saying what was found (for the probe tool).
using BuildNotes = std::vector<std::string>;

// Builds the list in the order above. `probe` answers the display questions.
SourceList buildSourceList(const DeviceInfo& device, ModuleLoader& modules,
                           platform::DeviceProbe& probe, SourceFactory& factory,
                           BuildNotes* notes = nullptr);

}  // namespace sources
