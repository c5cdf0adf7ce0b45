// The link benchmark over framesink's test-pattern camera, when it is part of the build.
#include "camera/camera_source.h"
#include "camera/system_encoder.h"
#include "dshow/directshow_camera.h"
#include "jpegpress/jpeg_encoder_table.h"
#include "link_runner.h"
#include "platform/utf16.h"

using namespace link_bench;

namespace {

// framesink's test-pattern camera through the camera pipeline, compressed by the system
// encoder or, as the device program does on processors for which it has kernels, by
// jpegpress bound from beside the benchmark: latency counts from the frame's timestamp in
// the pipeline.
void testPatternLink(benchmark::State& state, bool withJpegpress) {
  const int r = static_cast<int>(state.range(0));
  static sources::SystemModuleLoader loader;
  static JpegEncoderTable jpegpress{};
  static std::unique_ptr<platform::Module> jpegpressModule;
  if (withJpegpress && !jpegpressModule) {
    jpegpressModule = loader.loadBesideProgram(kJpegpressModuleName);
    auto bind = jpegpressModule
                    ? reinterpret_cast<DllGetDataFunction>(jpegpressModule->symbol("DllGetData"))
                    : nullptr;
    if (!bind || bind(&jpegpress) == 0) jpegpressModule.reset();
  }
  if (withJpegpress && !jpegpressModule) {
    state.SkipWithError("jpegpress.so not beside the benchmark");
    return;
  }
  sources::FramesinkLibrary library;
  library.module = loader.loadBesideProgram("framesink.dll");
  auto getData = library.module ? reinterpret_cast<uint32_t (*)(void*)>(library.module->symbol("DllGetData"))
                                : nullptr;
  if (!getData || getData(library.table.data()) == 0) {
    state.SkipWithError("framesink.so not beside the benchmark");
    return;
  }
  ::setenv("VISTREL_FRAMESINK_DEVICE", "test-pattern", 1);
  camera::CameraEnvironment env;
  env.systemEncoder = camera::processSystemEncoder(loader);
  if (withJpegpress) env.jpegpress = &jpegpress;
  const std::string wanted = std::to_string(kWidths[r]) + "x" + std::to_string(kHeights[r]);
  runLink(state, r, dshow::makeDirectShowCamera(env, std::move(library)), [&](sources::CaptureSource& s) {
    auto& cam = static_cast<camera::CameraSource&>(s);
    // The mode table (and its labels) is read from the device on the first start.
    sources::StartParams preview;
    preview.mode = sources::kModePreview;
    cam.Start(preview);
    cam.Stop();
    // A mode's label is its size, then its pixel format ("320x240 UYVY"): the first mode
    // of the wanted size is taken, and named in the result.
    settings::SourceSetting& res = cam.common(camera::kSettingResolution);
    const std::u16string size(wanted.begin(), wanted.end());
    bool found = false;
    for (uint32_t i = 0; i < res.count && res.choices && !found; ++i) {
      const char16_t* label = res.choices[i].label;
      const std::u16string text = label ? label : u"";
      const bool sameSize = text.compare(0, size.size(), size) == 0 &&
                            (text.size() == size.size() || text[size.size()] == u' ');
      if (sameSize) {
        res.current = static_cast<int32_t>(i);
        state.SetLabel(platform::utf16ToUtf8Lossy(text));
        found = true;
      }
    }
    settings::SourceSetting& rate = cam.common(camera::kSettingFrameRate);
    for (uint32_t i = 0; i < rate.count && rate.choices; ++i) {
      if (rate.choices[i].value == 0) rate.current = static_cast<int32_t>(i);  // MAX
    }
    return found;
  });
}

void BM_TestPatternLink(benchmark::State& state) { testPatternLink(state, false); }
void BM_TestPatternLinkJpegpress(benchmark::State& state) { testPatternLink(state, true); }

}  // namespace

BENCHMARK(BM_TestPatternLink)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_TestPatternLinkJpegpress)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
