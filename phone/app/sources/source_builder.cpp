#include "sources/source_builder.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>

#include "platform/utf16.h"

namespace sources {
namespace {

bool has(std::u16string_view text, std::u16string_view part) {
  return text.find(part) != std::u16string_view::npos;
}

bool hasAny(std::u16string_view text, std::initializer_list<std::u16string_view> parts) {
  for (std::u16string_view part : parts)
    if (has(text, part)) return true;
  return false;
}

struct Rule {
  std::u16string_view part;
  uint32_t code;
};

// The first matching part gives the code, else `otherwise`.
uint32_t firstOf(std::u16string_view text, std::initializer_list<Rule> rules, uint32_t otherwise) {
  for (const Rule& rule : rules)
    if (has(text, rule.part)) return rule.code;
  return otherwise;
}

constexpr uint32_t kNoModel = 35;

void note(BuildNotes* notes, std::string line) {
  if (notes != nullptr) notes->push_back(std::move(line));
}

std::string narrow(std::u16string_view text) { return platform::utf16ToUtf8Lossy(text); }

// Whether a list of names ("CAM1: CAM2:", blanks, tabs or commas between them) holds one
// that `matches`.
template <typename Match>
bool listNames(const std::optional<std::string>& list, Match matches) {
  if (!list) return false;
  const std::string_view names = *list;
  size_t at = 0;
  while (at < names.size()) {
    const size_t end = std::min(names.find_first_of(" \t,", at), names.size());
    if (end > at && matches(names.substr(at, end - at))) return true;
    at = end + 1;
  }
  return false;
}

// A library's name without its extension: "HTCcamera" for "HTCcamera.dll" or "HTCcamera.so".
std::string_view stem(std::string_view name) { return name.substr(0, name.find('.')); }

// Loads an HTC camera library and takes its entry points; null when it is missing or
// lacks one of the four required exports (the library is then unloaded).
std::unique_ptr<HtcCameraLibrary> bindHtcLibrary(ModuleLoader& modules, platform::DeviceProbe& probe,
                                                 const char* name, BuildNotes* notes) {
  if (!libraryPresent(probe, name)) {
    note(notes, std::string("2 HTC camera: ") + name + " not named by the device");
    return nullptr;
  }
  auto module = modules.load(name);
  if (!module) {
    note(notes, std::string("2 HTC camera: ") + name + " not found");
    return nullptr;
  }
  auto library = std::make_unique<HtcCameraLibrary>();
  library->cameraInit = module->symbol("Camera_Init");
  library->cameraBegin = module->symbol("Camera_Begin");
  library->cameraEnd = module->symbol("Camera_End");
  library->cameraDeinit = module->symbol("Camera_Deinit");
  if (!library->cameraInit || !library->cameraBegin || !library->cameraEnd ||
      !library->cameraDeinit) {
    note(notes, std::string("2 HTC camera: ") + name + " lacks a required export; unloaded");
    return nullptr;
  }
  library->cameraSetProperty = module->symbol("Camera_SetProperty");
  library->cameraGetProperty = module->symbol("Camera_GetProperty");
  library->cameraFlashLight = module->symbol("Camera_FlashLight");
  library->cameraEncodeJpeg = module->symbol("Camera_EncodeJPEG");
  library->module = std::move(module);
  library->moduleName = name;
  return library;
}

}  // namespace

uint32_t htcModelCode(std::u16string_view t) {
  if (has(t, u"PM10")) return 0;
  if (has(t, u"WIZA")) return 6;
  if (has(t, u"PH10")) return 1;
  if (has(t, u"PU10")) return 4;
  if (has(t, u"PM300")) return 5;
  if (has(t, u"PM200")) return 3;
  if (has(t, u"PA10A")) return 7;
  if (has(t, u"LOOX 720")) return 34;
  if (has(t, u"ST20")) return 8;
  if (has(t, u"I-MATE")) return firstOf(t, {{u"SP3", 8}, {u"SP4", 10}, {u"SP5", 11}}, kNoModel);
  if (has(t, u"SPV")) return firstOf(t, {{u"500", 8}, {u"550", 10}, {u"600", 11}}, kNoModel);
  if (has(t, u"QTEK"))
    return firstOf(t, {{u"80", 8}, {u"81", 8}, {u"82", 10}, {u"83", 11}}, kNoModel);
  if (hasAny(t, {u"HERM", u"TRIN"})) return 12;
  if (has(t, u"ATHE")) return 2;
  const uint32_t named = firstOf(
      t,
      {{u"STAR", 9},  {u"ARTE", 14}, {u"ELF", 15},  {u"KAIS", 18}, {u"TITA", 17},
       {u"HERA", 16}, {u"EXCA", 21}, {u"OXYG", 22}, {u"VOX", 23},  {u"LIBR", 24},
       {u"WING", 25}, {u"GALA", 26}, {u"CAVA", 27}, {u"IRIS", 28}, {u"POLA", 29},
       {u"NIK", 30},  {u"SEDN", 31}, {u"VOGU", 32}, {u"PHOE", 33}},
      kNoModel);
  if (named != kNoModel) return named;
  if (hasAny(t, {u"BREE", u"MTEOR"})) return 19;
  if (has(t, u"DOPOD") && has(t, u"595")) return 20;
  return kNoModel;
}

bool hasFrontSensor(uint32_t modelCode) {
  for (uint32_t code : {2u, 4u, 12u, 13u, 18u, 20u, 25u, 29u, 30u})
    if (code == modelCode) return true;
  return false;
}

uint32_t directShowFlavour(std::u16string_view oemText) {
  if (has(oemText, u"SGH")) return 1;
  if (has(oemText, u"ATOM") || oemText == u"HP") return 2;
  return 0;
}

const char16_t* streamDriverName(StreamDriver driver) {
  switch (driver) {
    case StreamDriver::kCam1: return u"CAM1:";
    case StreamDriver::kCam2: return u"CAM2:";
    case StreamDriver::kDsc1: return u"DSC1:";
  }
  return u"";
}

bool oemTextSelects(StreamDriver driver, std::u16string_view t) {
  switch (driver) {
    case StreamDriver::kCam1:
      return hasAny(t, {u"G50V04", u"G50V52", u"M60V04", u"X500V03", u"X500+V03", u"M700V05",
                        u"S3C2440A", u"X800V03", u"M800V0", u"X600V0", u"X650V0"});
    case StreamDriver::kCam2:
      return hasAny(t, {u"GIGABYTE", u"STEALTH"});
    case StreamDriver::kDsc1:
      return has(t, u"220") && has(t, u"MPX");
  }
  return false;
}

bool driverPresent(platform::DeviceProbe& probe, StreamDriver driver) {
  const std::u16string name = streamDriverName(driver);
  const std::string wanted(name.begin(), name.end());
  return listNames(probe.streamDrivers(), [&](std::string_view item) { return item == wanted; });
}

bool libraryPresent(platform::DeviceProbe& probe, std::string_view library) {
  const std::string_view wanted = stem(library);
  return listNames(probe.cameraLibraries(), [&](std::string_view item) {
    const std::string_view named = stem(item);
    return named.size() == wanted.size() &&
           std::equal(named.begin(), named.end(), wanted.begin(), [](char a, char b) {
             return std::tolower(static_cast<unsigned char>(a)) ==
                    std::tolower(static_cast<unsigned char>(b));
           });
  });
}

std::optional<platform::FrameBufferDescription> queryScreen(platform::DeviceProbe& probe) {
  std::optional<platform::FrameBufferDescription> screen = probe.rawFrameBuffer();
  if (!screen || screen->frame == nullptr) {
    if (auto info = probe.displayInformation()) screen = info;
  }
  if (!screen || screen->frame == nullptr) {
    if (auto properties = probe.displayProperties()) screen = properties;
  }
  return screen;
}

bool screenQualifies(const platform::FrameBufferDescription& screen) {
  auto within = [](uint32_t v, uint32_t low, uint32_t high) { return v >= low && v <= high; };
  return within(screen.width, 176, 640) && within(screen.height, 176, 640) &&
         within(screen.bitsPerPixel, 1, 32);
}

SourceList buildSourceList(const DeviceInfo& device, ModuleLoader& modules,
                           platform::DeviceProbe& probe, SourceFactory& factory,
                           BuildNotes* notes) {
  SourceList list;
  const std::u16string& oem = device.oemText;

  // 1: GoForce.
  if (!libraryPresent(probe, "GFSDK.dll")) {
    note(notes, "1 GoForce camera: GFSDK.dll not named by the device");
  } else if (auto module = modules.load("GFSDK.dll")) {
    GoForceLibrary library;
    bool complete = true;
    for (size_t i = 0; i < kGoForceExports.size(); ++i) {
      library.entries[i] = module->symbol(kGoForceExports[i]);
      complete = complete && library.entries[i] != nullptr;
    }
    if (complete) {
      library.module = std::move(module);
      note(notes, "1 GoForce camera: GFSDK.dll with every export");
      list.append(factory.goForceCamera(device, std::move(library)));
    } else {
      note(notes, "1 GoForce camera: GFSDK.dll lacks an export; unloaded");
    }
  } else {
    note(notes, "1 GoForce camera: GFSDK.dll not found");
  }

  // 2 and 3: the HTC library and its front sensor.
  std::unique_ptr<HtcCameraLibrary> htc = bindHtcLibrary(modules, probe, "HTCcamera.dll", notes);
  if (!htc) htc = bindHtcLibrary(modules, probe, "HTCcamera1.dll", notes);
  if (htc) {
    htc->modelCode = htcModelCode(oem);
    htc->isSmartphone = device.isSmartphone;
    note(notes, "2 HTC camera: " + htc->moduleName + ", model code " +
                    std::to_string(htc->modelCode));
    std::shared_ptr<const HtcCameraLibrary> shared = std::move(htc);
    auto camera = factory.htcCamera(device, shared, false);
    const bool built = camera != nullptr;
    list.append(std::move(camera));
    if (built && hasFrontSensor(shared->modelCode)) {
      note(notes, "3 HTC front sensor: model code " + std::to_string(shared->modelCode));
      list.append(factory.htcCamera(device, shared, true));
    } else {
      note(notes, "3 HTC front sensor: none for this model");
    }
  } else {
    note(notes, "3 HTC front sensor: no HTC camera");
  }

  // 4 to 6: the stream drivers named by the OEM text.
  int row = 4;
  for (StreamDriver driver : {StreamDriver::kCam1, StreamDriver::kCam2, StreamDriver::kDsc1}) {
    const std::string label = std::to_string(row++) + " \"" + narrow(streamDriverName(driver)) + "\" camera: ";
    if (oemTextSelects(driver, oem) && driverPresent(probe, driver)) {
      note(notes, label + "named by the OEM text");
      list.append(factory.streamCamera(device, driver));
    } else if (oemTextSelects(driver, oem)) {
      note(notes, label + "named by the OEM text, but no such driver is present");
    } else {
      note(notes, label + "not named by the OEM text");
    }
  }

  // 7: DirectShow through framesink.
  if (device.osMajorVersion <= 4) {
    note(notes, "7 DirectShow camera: OS major version " + std::to_string(device.osMajorVersion) +
                    " is not above 4");
  } else if (auto module = modules.loadBesideProgram("framesink.dll")) {
    using GetData = uint32_t (*)(void* table);
    auto getData = reinterpret_cast<GetData>(module->symbol("DllGetData"));
    FramesinkLibrary library;
    if (getData != nullptr && getData(library.table.data()) != 0) {
      library.module = std::move(module);
      library.flavour = directShowFlavour(oem);
      note(notes, "7 DirectShow camera: framesink.dll bound, flavour " +
                      std::to_string(library.flavour));
      list.append(factory.directShowCamera(device, std::move(library)));
    } else {
      note(notes, getData == nullptr ? "7 DirectShow camera: framesink.dll has no DllGetData; unloaded"
                                     : "7 DirectShow camera: framesink.dll refused; unloaded");
    }
  } else {
    note(notes, "7 DirectShow camera: framesink.dll not found");
  }

  // 8: the screen.
  if (auto screen = queryScreen(probe)) {
    const std::string size = std::to_string(screen->width) + "x" + std::to_string(screen->height) +
                             ", " + std::to_string(screen->bitsPerPixel) + " bits";
    if (screenQualifies(*screen)) {
      note(notes, "8 screen: " + size);
      list.append(factory.screen(device, *screen));
    } else {
      note(notes, "8 screen: " + size + " is outside 176..640 and 1..32 bits");
    }
  } else {
    note(notes, "8 screen: no display answered");
  }

  // 9: sound.
  note(notes, "9 sound: always");
  list.append(factory.sound(device));
  return list;
}

}  // namespace sources
