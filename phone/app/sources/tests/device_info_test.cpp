// The device probe: the four answers, the PXA27x test and binding jpegpress.

#include <gtest/gtest.h>

#include "fake_probe.h"
#include "platform/module.h"
#include "recording_loader.h"
#include "sources/device_info.h"

namespace sources {
namespace {

using testing::FakeProbe;
using testing::RecordingLoader;

TEST(ProbeDevice, KeepsTheOemTextUpperCasedAndAsReturned) {
  FakeProbe probe;
  probe.oem = "HTC Trin100 (TyTN II) é";
  RecordingLoader modules({});
  const DeviceInfo info = ProbeDevice(probe, modules);
  EXPECT_EQ(info.oemText, u"HTC TRIN100 (TYTN II) é");
  EXPECT_EQ(info.oemTextAsReturned, u"HTC Trin100 (TyTN II) é");
}

TEST(ProbeDevice, CutsALongOemTextTo256Characters) {
  FakeProbe probe;
  probe.oem = std::string(256, 'a') + "TRIN";  // the model name lies beyond the limit
  RecordingLoader modules({});
  const DeviceInfo info = ProbeDevice(probe, modules);
  EXPECT_EQ(info.oemText, std::u16string(256, u'A'));
  EXPECT_EQ(info.oemText.find(u"TRIN"), std::u16string::npos);

  probe.oem = std::string(255, 'a') + "\xF0\x9F\x93\xB7";  // a pair of surrogates cut in half
  EXPECT_EQ(ProbeDevice(probe, modules).oemText, std::u16string(255, u'A'));
}

TEST(ProbeDevice, FailedQueries) {
  FakeProbe probe;  // nothing answers
  RecordingLoader modules({});
  const DeviceInfo info = ProbeDevice(probe, modules);
  EXPECT_TRUE(info.oemText.empty());
  EXPECT_EQ(info.osMajorVersion, 0u);
  EXPECT_TRUE(info.isSmartphone);  // a failed platform-type query counts as a Smartphone
  EXPECT_FALSE(info.hasPxa27x);
  EXPECT_FALSE(info.jpegpressBound());
  EXPECT_TRUE(modules.asked.empty());
}

TEST(ProbeDevice, SmartphoneOnlyForThatExactType) {
  struct Case {
    const char* type;
    bool smartphone;
  } cases[] = {{"SmartPhone", true}, {"PocketPC", false}, {"Linux", false},
               {"smartphone", false}, {"SmartPhone ", false}, {"", false}};
  RecordingLoader modules({});
  for (const Case& c : cases) {
    FakeProbe probe;
    probe.platform = c.type;
    EXPECT_EQ(ProbeDevice(probe, modules).isSmartphone, c.smartphone) << c.type;
  }
}

TEST(ProbeDevice, Pxa27xDetection) {
  struct Case {
    const char* core;
    const char* name;
    bool pxa27x;
  } cases[] = {
      {"XScale-PXA270 rev 7 (v5l)", "", true}, {"", "PXA270", true},
      {"ARM920T", "PXA272", true},            {"PXA255", "", false},
      {"PXA", "Intel 27", true},              {"XScale", "Board 27", false},
      {"AMD EPYC", "AMD EPYC", false},        {"pxa270", "", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsPxa27x({c.core, c.name}), c.pxa27x) << c.core << c.name;
}

TEST(ProbeDevice, JpegpressIsLoadedOnlyOnPxa27x) {
  RecordingLoader modules(RecordingLoader::fakes({"jpegpress"}));
  FakeProbe probe;
  probe.cpu = platform::ProcessorInfo{"ARM926EJ-S", "Some board"};
  DeviceInfo info = ProbeDevice(probe, modules);
  EXPECT_FALSE(info.hasPxa27x);
  EXPECT_FALSE(info.jpegpressBound());
  EXPECT_TRUE(modules.asked.empty());  // never loaded elsewhere
  EXPECT_EQ(info.jpegpress.CreateEncoder, nullptr);

  probe.cpu = platform::ProcessorInfo{"XScale-PXA270", "PXA270"};
  info = ProbeDevice(probe, modules);
  EXPECT_TRUE(info.hasPxa27x);
  EXPECT_EQ(modules.asked, std::vector<std::string>{"beside jpegpress.dll"});
  ASSERT_TRUE(info.jpegpressBound());
  EXPECT_NE(info.jpegpress.CreateEncoder, nullptr);
  EXPECT_NE(info.jpegpress.ConvertPreview, nullptr);
  EXPECT_EQ(*modules.loaded, 1);
}

TEST(ProbeDevice, JpegpressTableKeptOnlyOnANonZeroResult) {
  FakeProbe probe;
  probe.cpu = platform::ProcessorInfo{"", "PXA270"};
  for (const char* folder : {"jpegpress-zero", "framesink-none", "nowhere"}) {
    RecordingLoader modules(RecordingLoader::fakes({folder}));
    const DeviceInfo info = ProbeDevice(probe, modules);
    EXPECT_FALSE(info.jpegpressBound()) << folder;
    // The entries DllGetData wrote before refusing are not kept.
    EXPECT_EQ(info.jpegpress.CreateEncoder, nullptr) << folder;
    EXPECT_EQ(info.jpegpress.EncodeFrame, nullptr) << folder;
    EXPECT_EQ(*modules.loaded, 0) << folder;  // unloaded again
  }
}

#ifdef VISTREL_JPEGPRESS_DIR
// The real encoder module, found beside the programs.
TEST(ProbeDevice, BindsTheRealJpegpressModule) {
  FakeProbe probe;
  probe.cpu = platform::ProcessorInfo{"XScale-PXA270", ""};
  RecordingLoader modules({VISTREL_JPEGPRESS_DIR});
  const DeviceInfo info = ProbeDevice(probe, modules);
  ASSERT_TRUE(info.jpegpressBound());
  JpegEncoder* encoder = nullptr;
  EXPECT_EQ(info.jpegpress.CreateEncoder(&encoder), 1u);
  ASSERT_NE(encoder, nullptr);
  EXPECT_EQ(info.jpegpress.DestroyEncoder(encoder), 1u);
}
#endif

}  // namespace
}  // namespace sources
