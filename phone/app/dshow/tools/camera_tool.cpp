// vistrel-phone-camera: runs the "Camera" source (the camera behind framesink) through the
// camera pipeline in capture mode, as the device program does, and writes the JPEG
// frames it hands to a delivery target into files.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "camera/system_encoder.h"
#include "dshow/directshow_camera.h"
#include "platform/event.h"
#include "platform/module.h"
#include "platform/utf16.h"
#include "sources/module_loader.h"

namespace {

const char kHelp[] =
    "Usage: vistrel-phone-camera [options]\n"
    "Runs the \"Camera\" source on framesink.so (beside this program) through the camera\n"
    "pipeline in capture mode and writes the JPEG frames to files.\n"
    "\n"
    "  --device SEL    camera: auto, v4l2, test-pattern or a device path\n"
    "                  (sets VISTREL_FRAMESINK_DEVICE for this run)\n"
    "  --mode N        index of the picture mode (see the list printed at start)\n"
    "  --quality N     index of the \"Quality\" setting, 0..7 (default 3)\n"
    "  --frames N      frames to write (default 5)\n"
    "  --flavour N     device flavour 0, 1 or 2 (1 adds the control settings; default 0)\n"
    "  --out DIR       folder for frame-0001.jpg ... (default: the current folder)\n"
    "  --help          this text\n";

}  // namespace

int main(int argc, char** argv) {
  std::string out = ".";
  int mode = -1, quality = -1;
  uint32_t frames = 5, flavour = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "vistrel-phone-camera: %s needs a value\n", a.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (a == "--device") {
      setenv(kFramesinkDeviceEnvironment, value(), 1);
    } else if (a == "--mode") {
      mode = std::atoi(value());
    } else if (a == "--quality") {
      quality = std::atoi(value());
    } else if (a == "--frames") {
      frames = static_cast<uint32_t>(std::strtoul(value(), nullptr, 10));
    } else if (a == "--flavour") {
      flavour = static_cast<uint32_t>(std::strtoul(value(), nullptr, 10));
    } else if (a == "--out") {
      out = value();
    } else {
      std::fprintf(stderr, "vistrel-phone-camera: unknown option %s (see --help)\n", a.c_str());
      return 2;
    }
  }

  sources::SystemModuleLoader loader;
  sources::FramesinkLibrary library;
  library.module = loader.loadBesideProgram(kFramesinkModuleName);
  auto getData = library.module ? reinterpret_cast<uint32_t (*)(void*)>(library.module->symbol("DllGetData")) : nullptr;
  if (!getData || getData(library.table.data()) == 0) {
    std::fprintf(stderr, "vistrel-phone-camera: framesink.so not found or refused\n");
    return 1;
  }
  library.flavour = flavour;

  camera::CameraEnvironment env;
  env.systemEncoder = camera::processSystemEncoder(loader);
  dshow::DirectShowCamera source(env, std::move(library));
  source.Init();
  if (mode >= 0) source.common(camera::kSettingResolution).current = mode;
  if (quality >= 0) source.common(camera::kSettingQuality).current = quality;

  platform::Event ready;
  sources::StartParams params;
  params.frameReady = &ready;
  params.mode = sources::kModeCapture;
  const bool started = source.Start(params);

  const sources::SourceSetting& resolution = source.common(camera::kSettingResolution);
  std::printf("modes:\n");
  for (uint32_t i = 0; i < resolution.count && resolution.choices; ++i) {
    const char16_t* label = resolution.choices[i].label;
    std::printf("  %u: %s%s\n", i, label ? platform::utf16ToUtf8Lossy(label).c_str() : "(no label)",
                static_cast<int32_t>(i) == settings::effectiveIndex(resolution) ? "  (chosen)" : "");
  }
  if (!started) {
    std::fprintf(stderr, "vistrel-phone-camera: Could not start source.\n");
    source.Stop();
    return 1;
  }

  uint32_t written = 0;
  for (; written < frames; ++written) {
    if (!ready.wait(10000)) break;
    sources::FrameDescriptor frame;
    if (source.TakeFrame(&frame) == 0) {
      --written;
      continue;
    }
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%04u.jpg", written + 1);
    const std::string path = out + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    const bool ok = f && std::fwrite(frame.data, 1, frame.sizeBytes, f) == frame.sizeBytes;
    if (f) std::fclose(f);
    if (!ok) {
      std::fprintf(stderr, "vistrel-phone-camera: cannot write %s\n", path.c_str());
      break;
    }
    std::printf("frame %u: %ux%u, %u bytes of JPEG at %u ms -> %s\n", written + 1, frame.width, frame.height,
                frame.sizeBytes, frame.timestampMs, path.c_str());
  }
  source.Stop();
  if (written < frames) {
    std::fprintf(stderr, "vistrel-phone-camera: %u of %u frames arrived\n", written, frames);
    return 1;
  }
  return 0;
}
