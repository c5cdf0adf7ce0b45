// The device program's sources: the GoForce camera (row 1), the HTC camera library (rows
// 2 and 3), the stream driver cameras (rows 4 to 6), the camera behind framesink (row 7),
// the screen (row 8) and the sound source.
#include "camera/camera_source.h"
#include "camera/preview_convert.h"
#include "camera/system_encoder.h"
#include "dshow/directshow_camera.h"
#include "front/program.h"
#include "makers/goforce_camera.h"
#include "makers/htc_camera.h"
#include "makers/stream_cameras.h"
#include "screen/screen_source.h"
#include "sources/sound_source.h"
#include "sources/source_builder.h"

namespace front {

namespace {
class DeviceSourceFactory final : public sources::SourceFactory {
 public:
  DeviceSourceFactory(sources::ModuleLoader& modules, const SourceContext& context)
      : modules_(modules), context_(context) {}

  std::unique_ptr<sources::CaptureSource> goForceCamera(const sources::DeviceInfo& device,
                                                        sources::GoForceLibrary l) override {
    return makers::makeGoForceCamera(cameraEnvironment(device), std::move(l));
  }
  std::unique_ptr<sources::CaptureSource> htcCamera(const sources::DeviceInfo& device,
                                                    std::shared_ptr<const sources::HtcCameraLibrary> l,
                                                    bool front) override {
    return makers::makeHtcCamera(cameraEnvironment(device), std::move(l), front);
  }
  std::unique_ptr<sources::CaptureSource> streamCamera(const sources::DeviceInfo& device,
                                                       sources::StreamDriver driver) override {
    return makers::makeStreamCamera(cameraEnvironment(device), driver, makers::systemDriverPort());
  }
  std::unique_ptr<sources::CaptureSource> directShowCamera(const sources::DeviceInfo& device,
                                                           sources::FramesinkLibrary library) override {
    return dshow::makeDirectShowCamera(cameraEnvironment(device), std::move(library));
  }
  std::unique_ptr<sources::CaptureSource> screen(const sources::DeviceInfo& device,
                                                 const platform::FrameBufferDescription& s) override {
    return std::make_unique<screen::ScreenSource>(cameraEnvironment(device), screen::systemScreenAccess(),
                                                  screen::ScreenGeometry{s.width, s.height, s.bitsPerPixel},
                                                  device.jpegpressBound());
  }
  std::unique_ptr<sources::CaptureSource> sound(const sources::DeviceInfo&) override {
    return sources::makeSoundSource(context_.store, context_.text);
  }

 private:
  camera::CameraEnvironment cameraEnvironment(const sources::DeviceInfo& device) {
    camera::CameraEnvironment env;
    env.jpegpress = device.jpegpressBound() ? &device.jpegpress : nullptr;
    env.systemEncoder = camera::processSystemEncoder(modules_);
    env.store = context_.store;
    env.text = context_.text;
    return env;
  }

  sources::ModuleLoader& modules_;
  const SourceContext& context_;
};
// The pipeline's preview conversion (scaled with proportions kept, turned) for the
// window's preview picture.
class CameraPreview final : public core::PreviewConverter {
 public:
  explicit CameraPreview(const JpegEncoderTable* jpegpress) : jpegpress_(jpegpress) {}
  bool convert(const sources::FrameDescriptor& frame, uint32_t rotation, uint8_t* scratch,
               core::PreviewBitmap& bitmap) override {
    if (!bitmap.pixels || bitmap.width <= 0 || bitmap.height <= 0) return false;
    camera::PreviewBitmap out;
    out.pixels = reinterpret_cast<uint16_t*>(bitmap.pixels);
    out.width = static_cast<uint32_t>(bitmap.width);
    out.height = static_cast<uint32_t>(bitmap.height);
    out.strideBytes = bitmap.stride();
    return camera::PreviewConvert(out, frame, rotation, scratch, jpegpress_);
  }

 private:
  const JpegEncoderTable* jpegpress_;
};
}  // namespace

std::unique_ptr<core::PreviewConverter> makePreviewConverter(const sources::DeviceInfo& device) {
  return std::make_unique<CameraPreview>(device.jpegpressBound() ? &device.jpegpress : nullptr);
}

sources::SourceList buildDeviceSourceList(const sources::DeviceInfo& device, sources::ModuleLoader& modules,
                                          platform::DeviceProbe& probe, const SourceContext& context,
                                          sources::BuildNotes* notes) {
  DeviceSourceFactory factory(modules, context);
  return sources::buildSourceList(device, modules, probe, factory, notes);
}

}  // namespace front
