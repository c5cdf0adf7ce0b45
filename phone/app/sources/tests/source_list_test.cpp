// Which sources are built for presented devices, with stand-ins for the libraries.

#include <gtest/gtest.h>

#include <algorithm>

#include "fake_probe.h"
#include "recording_loader.h"
#include "sources/placeholder_sources.h"
#include "sources/source_builder.h"

namespace sources {
namespace {

using testing::FakeProbe;
using testing::RecordingLoader;

std::string narrowed(const char16_t* s) {
  std::string out;
  for (; *s; ++s) out += static_cast<char>(*s);
  return out;
}

// Names each built source by its row and what it was given.
class RecordingFactory final : public SourceFactory {
 public:
  std::vector<std::string> rows;
  std::shared_ptr<const HtcCameraLibrary> htc;
  FramesinkLibrary framesink;
  std::array<void*, 7> goforce{};

  std::unique_ptr<CaptureSource> goForceCamera(const DeviceInfo& d, GoForceLibrary l) override {
    rows.push_back("GoForce");
    goforce = l.entries;
    return placeholders_.goForceCamera(d, std::move(l));
  }
  std::unique_ptr<CaptureSource> htcCamera(const DeviceInfo& d,
                                           std::shared_ptr<const HtcCameraLibrary> l,
                                           bool front) override {
    rows.push_back(front ? "HTC front" : "HTC");
    htc = l;
    return placeholders_.htcCamera(d, std::move(l), front);
  }
  std::unique_ptr<CaptureSource> streamCamera(const DeviceInfo& d, StreamDriver s) override {
    rows.push_back(narrowed(streamDriverName(s)));
    return placeholders_.streamCamera(d, s);
  }
  std::unique_ptr<CaptureSource> directShowCamera(const DeviceInfo& d, FramesinkLibrary l) override {
    rows.push_back("DirectShow");
    framesink.table = l.table;
    framesink.flavour = l.flavour;
    return placeholders_.directShowCamera(d, std::move(l));
  }
  std::unique_ptr<CaptureSource> screen(const DeviceInfo& d,
                                        const platform::FrameBufferDescription& s) override {
    rows.push_back("Screen");
    return placeholders_.screen(d, s);
  }
  std::unique_ptr<CaptureSource> sound(const DeviceInfo& d) override {
    rows.push_back("Sound");
    return placeholders_.sound(d);
  }

 private:
  PlaceholderSourceFactory placeholders_;
};

constexpr const char* kEveryLibrary = "GFSDK.dll HTCcamera.dll HTCcamera1.dll";

struct Device {
  const char* label;
  std::optional<std::string> oem;
  uint32_t osMajor;
  const char* processor;
  std::optional<platform::FrameBufferDescription> screen;
  std::initializer_list<const char*> folders;
  std::vector<std::string> rows;
  const char* drivers = "CAM1: CAM2: DSC1:";
  const char* libraries = kEveryLibrary;
};

TEST(buildSourceList, PresentedDevices) {
  using testing::screenOf;
  const Device devices[] = {
      {"TRIN on a PXA270", "HTC TyTN II TRIN100", 5, "PXA270", std::nullopt,
       {"htc", "jpegpress"}, {"HTC", "HTC front", "Sound"}},
      {"HTC library without a front sensor model", "HTC PM10", 4, "", std::nullopt,
       {"htc"}, {"HTC", "Sound"}},
      {"G50V04", "ASUS G50V04", 4, "", std::nullopt, {"htc-partial"}, {"CAM1:", "Sound"}},
      {"GIGABYTE", "GIGABYTE GSMART", 4, "", std::nullopt, {}, {"CAM2:", "Sound"}},
      {"220+MPX", "220+MPX", 4, "", std::nullopt, {}, {"DSC1:", "Sound"}},
      // A PC whose vendor text names a phone maker has no such driver.
      {"GIGABYTE PC", "GIGABYTE B550M", 6, "", std::nullopt, {"framesink"}, {"DirectShow", "Sound"},
       nullptr},
      {"only CAM2: present", "G50V04 STEALTH 220 MPX", 4, "", std::nullopt, {}, {"CAM2:", "Sound"},
       "DSC0:,CAM2:"},
      {"plain Linux PC", std::nullopt, 6, "AMD EPYC", screenOf(640, 480, 32),
       {"framesink"}, {"DirectShow", "Screen", "Sound"}},
      {"PC with a large screen", std::nullopt, 6, "", screenOf(1920, 1080, 32),
       {"framesink"}, {"DirectShow", "Sound"}},
      {"OS 4 leaves framesink alone", "", 4, "", screenOf(240, 320, 16),
       {"framesink"}, {"Screen", "Sound"}},
      {"framesink that refuses", "", 5, "", std::nullopt, {"framesink-zero"}, {"Sound"}},
      {"framesink without DllGetData", "", 5, "", std::nullopt, {"framesink-none"}, {"Sound"}},
      {"GoForce", "", 4, "", std::nullopt, {"goforce"}, {"GoForce", "Sound"}},
      {"GoForce lacking an export", "", 4, "", std::nullopt, {"goforce-partial"}, {"Sound"}},
      // A maker's library that the device does not name is never loaded.
      {"libraries present, none named", "HTC HERM100", 5, "", std::nullopt, {"goforce", "htc"},
       {"Sound"}, nullptr, nullptr},
      {"only the GoForce library named", "HTC HERM100", 5, "", std::nullopt, {"goforce", "htc"},
       {"GoForce", "Sound"}, nullptr, "gfsdk"},
      {"the second HTC library named by another extension", "", 5, "", std::nullopt, {"htc1"},
       {"HTC", "Sound"}, nullptr, "HTCcamera1.so"},
      {"nothing but sound", std::nullopt, 0, "", std::nullopt, {}, {"Sound"}},
      {"every row", "HTC HERM100 G50V04 GIGABYTE 220 MPX", 5, "", screenOf(176, 220, 16),
       {"goforce", "htc", "framesink"},
       {"GoForce", "HTC", "HTC front", "CAM1:", "CAM2:", "DSC1:", "DirectShow", "Screen", "Sound"}},
  };
  for (const Device& d : devices) {
    SCOPED_TRACE(d.label);
    FakeProbe probe;
    probe.oem = d.oem;
    probe.osMajor = d.osMajor;
    probe.cpu = platform::ProcessorInfo{"", d.processor};
    probe.properties = d.screen;
    if (d.drivers) probe.drivers = d.drivers;
    if (d.libraries) probe.libraries = d.libraries;
    RecordingLoader modules(RecordingLoader::fakes(d.folders));
    {
      RecordingFactory factory;
      const DeviceInfo device = probeDevice(probe, modules);
      const SourceList list = buildSourceList(device, modules, probe, factory);
      EXPECT_EQ(factory.rows, d.rows);
      EXPECT_EQ(list.size(), d.rows.size());
    }
    EXPECT_EQ(*modules.loaded, 0);  // every library goes with its sources
  }
}

TEST(buildSourceList, HtcLibraryKeepsItsModelCodeAndEntryPoints) {
  FakeProbe probe;
  probe.oem = "HTC TRIN100";
  probe.platform = "SmartPhone";
  probe.libraries = kEveryLibrary;
  RecordingLoader modules(RecordingLoader::fakes({"htc"}));
  RecordingFactory factory;
  const DeviceInfo device = probeDevice(probe, modules);
  const SourceList list = buildSourceList(device, modules, probe, factory);
  ASSERT_NE(factory.htc, nullptr);
  EXPECT_EQ(factory.htc->modelCode, 12u);
  EXPECT_TRUE(factory.htc->isSmartphone);
  EXPECT_EQ(factory.htc->moduleName, "HTCcamera.dll");
  EXPECT_NE(factory.htc->cameraInit, nullptr);
  EXPECT_NE(factory.htc->cameraDeinit, nullptr);
  EXPECT_NE(factory.htc->cameraEncodeJpeg, nullptr);
  // The camera and its front sensor share one loaded library.
  EXPECT_EQ(*modules.loaded, 1);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list.head()->NameTextId(), 9u);
  EXPECT_EQ(list.head()->next()->NameTextId(), 56u);  // "Front Sensor"
}

TEST(buildSourceList, HtcLibraryOptionalExportsMayBeMissing) {
  FakeProbe probe;
  probe.libraries = kEveryLibrary;
  RecordingLoader modules(RecordingLoader::fakes({"htc-bare"}));
  RecordingFactory factory;
  const DeviceInfo device = probeDevice(probe, modules);
  const SourceList list = buildSourceList(device, modules, probe, factory);
  ASSERT_NE(factory.htc, nullptr);
  EXPECT_EQ(factory.htc->modelCode, 35u);
  EXPECT_EQ(factory.htc->cameraSetProperty, nullptr);
  EXPECT_EQ(factory.htc->cameraEncodeJpeg, nullptr);
  EXPECT_EQ(factory.rows, (std::vector<std::string>{"HTC", "Sound"}));
}

TEST(buildSourceList, SecondHtcLibraryWhenTheFirstLacksExports) {
  FakeProbe probe;
  probe.libraries = kEveryLibrary;
  RecordingLoader modules(RecordingLoader::fakes({"htc1"}));
  RecordingFactory factory;
  const DeviceInfo device = probeDevice(probe, modules);
  const SourceList list = buildSourceList(device, modules, probe, factory);
  ASSERT_NE(factory.htc, nullptr);
  EXPECT_EQ(factory.htc->moduleName, "HTCcamera1.dll");
  EXPECT_EQ(*modules.loaded, 1);  // the incomplete first library was unloaded
}

TEST(buildSourceList, DirectShowFlavourAndTableAreKept) {
  struct Case {
    const char* oem;
    uint32_t flavour;
  } cases[] = {{"Samsung SGH-i780", 1}, {"HP", 2}, {"Atom Life", 2}, {"HP iPAQ", 0}};
  for (const Case& c : cases) {
    FakeProbe probe;
    probe.oem = c.oem;
    probe.osMajor = 5;
    RecordingLoader modules(RecordingLoader::fakes({"framesink"}));
    RecordingFactory factory;
    const DeviceInfo device = probeDevice(probe, modules);
    const SourceList list = buildSourceList(device, modules, probe, factory);
    EXPECT_EQ(factory.framesink.flavour, c.flavour) << c.oem;
    for (void* entry : factory.framesink.table) EXPECT_NE(entry, nullptr);
    EXPECT_EQ(list.head()->NameTextId(), 11u);
    // framesink comes from the program's own folder.
    EXPECT_NE(std::find(modules.asked.begin(), modules.asked.end(), "beside framesink.dll"),
              modules.asked.end());
  }
}

TEST(buildSourceList, ModulesAskedFor) {
  // OS version unknown: framesink is not even looked for. The makers' libraries are
  // asked for only when the device names them (by any extension, in any case).
  struct Case {
    std::optional<std::string> libraries;
    std::vector<std::string> asked;
  } cases[] = {
      {std::nullopt, {}},
      {"", {}},
      {kEveryLibrary, {"load GFSDK.dll", "load HTCcamera.dll", "load HTCcamera1.dll"}},
      {"htccamera1,GFSDK.so", {"load GFSDK.dll", "load HTCcamera1.dll"}},
      {"HTCcamera2.dll GFSDK2 camera.dll", {}},
  };
  for (const Case& c : cases) {
    FakeProbe probe;
    probe.libraries = c.libraries;
    RecordingLoader modules({});
    RecordingFactory factory;
    const DeviceInfo device = probeDevice(probe, modules);
    const SourceList list = buildSourceList(device, modules, probe, factory);
    EXPECT_EQ(modules.asked, c.asked) << c.libraries.value_or("(none)");
  }
}

TEST(PlaceholderSources, NameKindAndNoStartButTheRealSound) {
  FakeProbe probe;
  probe.oem = "G50V04";
  probe.drivers = "CAM1:";
  probe.properties = testing::screenOf(240, 320, 16);
  RecordingLoader modules({});
  PlaceholderSourceFactory factory;
  const DeviceInfo device = probeDevice(probe, modules);
  const SourceList list = buildSourceList(device, modules, probe, factory);
  std::vector<std::pair<uint32_t, SourceKind>> seen;
  for (CaptureSource& s : list) {
    seen.emplace_back(s.NameTextId(), s.Kind());
    if (s.Kind() == SourceKind::kSound) continue;  // the real one
    StartParams params;
    EXPECT_FALSE(s.Start(params));
    EXPECT_FALSE(s.IsStarted());
    EXPECT_EQ(s.TakeFrame(nullptr), 0u);
  }
  EXPECT_EQ(seen, (std::vector<std::pair<uint32_t, SourceKind>>{
                      {9, SourceKind::kCamera}, {10, SourceKind::kScreen}, {70, SourceKind::kSound}}));
}

}  // namespace
}  // namespace sources
