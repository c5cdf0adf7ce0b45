// The device program's sources with the camera behind framesink (row 7); the rows whose
// devices are not built yet stay placeholders; the sound source is real.
#include "camera/camera_source.h"
#include "camera/system_encoder.h"
#include "dshow/directshow_camera.h"
#include "front/program.h"
#include "sources/placeholder_sources.h"
#include "sources/sound_source.h"
#include "sources/source_builder.h"

namespace front {

namespace {
class DeviceSourceFactory final : public sources::SourceFactory {
 public:
  DeviceSourceFactory(sources::ModuleLoader& modules, const SourceContext& context)
      : modules_(modules), context_(context) {}

  std::unique_ptr<sources::CaptureSource> GoForceCamera(const sources::DeviceInfo& d,
                                                        sources::GoForceLibrary l) override {
    return placeholders_.GoForceCamera(d, std::move(l));
  }
  std::unique_ptr<sources::CaptureSource> HtcCamera(const sources::DeviceInfo& d,
                                                    std::shared_ptr<const sources::HtcCameraLibrary> l,
                                                    bool front) override {
    return placeholders_.HtcCamera(d, std::move(l), front);
  }
  std::unique_ptr<sources::CaptureSource> StreamCamera(const sources::DeviceInfo& d,
                                                       sources::StreamDriver driver) override {
    return placeholders_.StreamCamera(d, driver);
  }
  std::unique_ptr<sources::CaptureSource> DirectShowCamera(const sources::DeviceInfo& device,
                                                           sources::FramesinkLibrary library) override {
    camera::CameraEnvironment env;
    env.jpegpress = device.jpegpressBound() ? &device.jpegpress : nullptr;
    env.systemEncoder = camera::ProcessSystemEncoder(modules_);
    env.store = context_.store;
    env.text = context_.text;
    return dshow::MakeDirectShowCamera(env, std::move(library));
  }
  std::unique_ptr<sources::CaptureSource> Screen(const sources::DeviceInfo& d,
                                                 const platform::FrameBufferDescription& s) override {
    return placeholders_.Screen(d, s);
  }
  std::unique_ptr<sources::CaptureSource> Sound(const sources::DeviceInfo&) override {
    return sources::MakeSoundSource(context_.store, context_.text);
  }

 private:
  sources::ModuleLoader& modules_;
  const SourceContext& context_;
  sources::PlaceholderSourceFactory placeholders_;
};
}  // namespace

sources::SourceList BuildDeviceSources(const sources::DeviceInfo& device, sources::ModuleLoader& modules,
                                       platform::DeviceProbe& probe, const SourceContext& context) {
  DeviceSourceFactory factory(modules, context);
  return sources::BuildSourceList(device, modules, probe, factory);
}

}  // namespace front
