// The device probe: the four answers, the PXA27x test and binding jpegpress.

#include <gtest/gtest.h>

#include "fake_probe.h"
#include "platform/module.h"
#include "recording_loader.h"
#include "sources/device_info.h"

#ifdef VISTREL_JPEGPRESS_KERNELS
#include "kernels.h"
#endif

namespace sources {
namespace {

using testing::FakeProbe;
using testing::RecordingLoader;

TEST(probeDevice, KeepsTheOemTextUpperCasedAndAsReturned) {
  FakeProbe probe;
  probe.oem = "HTC Trin100 (TyTN II) é";
  RecordingLoader modules({});
  const DeviceInfo info = probeDevice(probe, modules);
  EXPECT_EQ(info.oemText, u"HTC TRIN100 (TYTN II) é");
  EXPECT_EQ(info.oemTextAsReturned, u"HTC Trin100 (TyTN II) é");
}

TEST(probeDevice, CutsALongOemTextTo256Characters) {
  FakeProbe probe;
  probe.oem = std::string(256, 'a') + "TRIN";  // the model name lies beyond the limit
  RecordingLoader modules({});
  const DeviceInfo info = probeDevice(probe, modules);
  EXPECT_EQ(info.oemText, std::u16string(256, u'A'));
  EXPECT_EQ(info.oemText.find(u"TRIN"), std::u16string::npos);

  probe.oem = std::string(255, 'a') + "\xF0\x9F\x93\xB7";  // a pair of surrogates cut in half
  EXPECT_EQ(probeDevice(probe, modules).oemText, std::u16string(255, u'A'));
}

TEST(probeDevice, FailedQueries) {
  FakeProbe probe;  // nothing answers
  RecordingLoader modules({});
  const DeviceInfo info = probeDevice(probe, modules);
  EXPECT_TRUE(info.oemText.empty());
  EXPECT_EQ(info.osMajorVersion, 0u);
  EXPECT_TRUE(info.isSmartphone);  // a failed platform-type query counts as a Smartphone
  EXPECT_FALSE(info.hasPxa27x);
  EXPECT_FALSE(info.jpegpressBound());
  EXPECT_TRUE(modules.asked.empty());
}

TEST(probeDevice, SmartphoneOnlyForThatExactType) {
  struct Case {
    const char* type;
    bool smartphone;
  } cases[] = {{"SmartPhone", true}, {"PocketPC", false}, {"Linux", false},
               {"smartphone", false}, {"SmartPhone ", false}, {"", false}};
  RecordingLoader modules({});
  for (const Case& c : cases) {
    FakeProbe probe;
    probe.platform = c.type;
    EXPECT_EQ(probeDevice(probe, modules).isSmartphone, c.smartphone) << c.type;
  }
}

TEST(probeDevice, Pxa27xDetection) {
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
  for (const Case& c : cases) EXPECT_EQ(isPxa27x({c.core, c.name}), c.pxa27x) << c.core << c.name;
}

TEST(probeDevice, JpegpressKernelsForAProcessor) {
  using enum JpegpressKernels;
  struct Case {
    platform::ProcessorInfo cpu;
    JpegpressKernels kernels;
  } cases[] = {
      {{"XScale-PXA270 rev 7 (v5l)", "HTC Trinity", "armv5tel", "swp half thumb fastmult edsp"},
       kPortable},
      {{"", "PXA270", "", ""}, kPortable},  // a presented phone: the name alone
      {{"Cortex-A72", "BCM2835", "aarch64", "fp asimd evtstrm crc32 cpuid"}, kNeon},
      {{"Neoverse-N1", "Neoverse-N1", "aarch64", "fp asimd aes pmull sha1 sha2 atomics"}, kNeon},
      {{"Intel(R) Core(TM) i7-8700", "", "x86_64", "fpu sse sse2 abm ssse3 fma avx avx2 bmi1 bmi2"},
       kAvx2},
      // AVX2 without the bit-manipulation sets (a virtual machine may hide them).
      {{"AMD EPYC", "", "x86_64", "sse2 avx avx2 bmi2"}, kSse2},
      {{"Intel(R) Atom(TM) x5-Z8350", "", "x86_64", "fpu sse sse2 ssse3 sse4_2 avx512f"}, kSse2},
      {{"AMD EPYC", "AMD EPYC", "x86_64", "avx2_fake avx2x"}, kSse2},  // whole words only
      {{"ARMv7 Processor rev 10 (v7l)", "Freescale i.MX6", "armv7l", "half thumb vfp neon"}, kNone},
      {{"", "", "riscv64", ""}, kNone},
      {{"", "", "", ""}, kNone},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(jpegpressKernelsFor(c.cpu), c.kernels) << c.cpu.core << " / " << c.cpu.architecture;
  }
  EXPECT_STREQ(jpegpressKernelsName(kAvx2), "avx2");
  EXPECT_STREQ(jpegpressKernelsName(kNone), "none");
}

TEST(probeDevice, JpegpressIsLoadedOnlyWhereItHasKernels) {
  RecordingLoader modules(RecordingLoader::fakes({"jpegpress"}));
  FakeProbe probe;
  probe.cpu = platform::ProcessorInfo{"ARM926EJ-S", "Some board", "armv5tejl", ""};
  DeviceInfo info = probeDevice(probe, modules);
  EXPECT_FALSE(info.hasPxa27x);
  EXPECT_EQ(info.jpegpressKernels, JpegpressKernels::kNone);
  EXPECT_FALSE(info.jpegpressBound());
  EXPECT_TRUE(modules.asked.empty());  // never loaded elsewhere
  EXPECT_EQ(info.jpegpress.CreateEncoder, nullptr);

  const platform::ProcessorInfo withKernels[] = {{"XScale-PXA270", "PXA270", "armv5tel", ""},
                                                 {"Cortex-A72", "", "aarch64", "fp asimd"},
                                                 {"AMD EPYC", "", "x86_64", "sse2 avx2"}};
  int loads = 0;
  for (const platform::ProcessorInfo& cpu : withKernels) {
    probe.cpu = cpu;
    info = probeDevice(probe, modules);
    EXPECT_EQ(modules.asked.size(), static_cast<size_t>(++loads)) << cpu.core;
    EXPECT_EQ(modules.asked.back(), "beside jpegpress.dll");
    ASSERT_TRUE(info.jpegpressBound()) << cpu.core;
    EXPECT_NE(info.jpegpress.CreateEncoder, nullptr);
    EXPECT_NE(info.jpegpress.ConvertPreview, nullptr);
    EXPECT_EQ(*modules.loaded, 1);
  }
}

TEST(probeDevice, JpegpressTableKeptOnlyOnANonZeroResult) {
  FakeProbe probe;
  probe.cpu = platform::ProcessorInfo{"", "PXA270"};
  for (const char* folder : {"jpegpress-zero", "framesink-none", "nowhere"}) {
    RecordingLoader modules(RecordingLoader::fakes({folder}));
    const DeviceInfo info = probeDevice(probe, modules);
    EXPECT_FALSE(info.jpegpressBound()) << folder;
    // The entries DllGetData wrote before refusing are not kept.
    EXPECT_EQ(info.jpegpress.CreateEncoder, nullptr) << folder;
    EXPECT_EQ(info.jpegpress.EncodeFrame, nullptr) << folder;
    EXPECT_EQ(*modules.loaded, 0) << folder;  // unloaded again
  }
}

#ifdef VISTREL_JPEGPRESS_KERNELS
// The processor test on this machine names the kernels jpegpress itself picks here.
TEST(probeDevice, TheProcessorTestNamesTheKernelsJpegpressPicks) {
  const auto cpu = platform::machineDeviceProbe()->processor();
  ASSERT_TRUE(cpu);
  const JpegpressKernels kernels = jpegpressKernelsFor(*cpu);
  if (kernels == JpegpressKernels::kNone) GTEST_SKIP() << "no kernels for " << cpu->architecture;
  const jpegpress::KernelTable* simd = jpegpress::simdKernels();
  EXPECT_STREQ(jpegpressKernelsName(kernels), simd != nullptr ? simd->name : "portable");
}
#endif

#ifdef VISTREL_JPEGPRESS_DIR
// The real encoder module, found beside the programs.
TEST(probeDevice, BindsTheRealJpegpressModule) {
  FakeProbe probe;
  probe.cpu = platform::ProcessorInfo{"XScale-PXA270", ""};
  RecordingLoader modules({VISTREL_JPEGPRESS_DIR});
  const DeviceInfo info = probeDevice(probe, modules);
  ASSERT_TRUE(info.jpegpressBound());
  JpegEncoder* encoder = nullptr;
  EXPECT_EQ(info.jpegpress.CreateEncoder(&encoder), 1u);
  ASSERT_NE(encoder, nullptr);
  EXPECT_EQ(info.jpegpress.DestroyEncoder(encoder), 1u);
}
#endif

}  // namespace
}  // namespace sources
