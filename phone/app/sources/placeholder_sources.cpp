#include "sources/placeholder_sources.h"

#include "platform/utf16.h"
#include "sources/sound_source.h"
#include "texts/text_ids.h"

namespace sources {

std::string PlaceholderDevice(CaptureSource& source) {
  if (auto* camera = dynamic_cast<PlaceholderCamera*>(&source)) return camera->device();
  if (auto* other = dynamic_cast<PlaceholderSource*>(&source)) return other->device();
  return {};
}

std::unique_ptr<CaptureSource> PlaceholderSourceFactory::GoForceCamera(const DeviceInfo&,
                                                                       GoForceLibrary library) {
  return std::make_unique<PlaceholderCamera>(
      SourceKind::kCamera, texts::kTextCameraPlus, "GFSDK.dll",
      std::make_shared<GoForceLibrary>(std::move(library)));
}

std::unique_ptr<CaptureSource> PlaceholderSourceFactory::HtcCamera(
    const DeviceInfo&, std::shared_ptr<const HtcCameraLibrary> library, bool frontSensor) {
  std::string device = library->moduleName + ", model code " + std::to_string(library->modelCode);
  if (frontSensor) device += ", front sensor";
  return std::make_unique<PlaceholderCamera>(
      SourceKind::kCamera, frontSensor ? texts::kTextFrontSensor : texts::kTextCameraPlus,
      std::move(device), std::move(library));
}

std::unique_ptr<CaptureSource> PlaceholderSourceFactory::StreamCamera(const DeviceInfo&,
                                                                      StreamDriver driver) {
  return std::make_unique<PlaceholderCamera>(
      SourceKind::kCamera, texts::kTextCameraPlus,
      "stream driver " + platform::utf16ToUtf8Lossy(StreamDriverName(driver)), nullptr);
}

std::unique_ptr<CaptureSource> PlaceholderSourceFactory::DirectShowCamera(
    const DeviceInfo&, FramesinkLibrary library) {
  std::string device = "framesink.dll, flavour " + std::to_string(library.flavour);
  return std::make_unique<PlaceholderCamera>(
      SourceKind::kCamera, texts::kTextCamera, std::move(device),
      std::make_shared<FramesinkLibrary>(std::move(library)));
}

std::unique_ptr<CaptureSource> PlaceholderSourceFactory::Screen(
    const DeviceInfo&, const platform::FrameBufferDescription& screen) {
  return std::make_unique<PlaceholderSource>(
      SourceKind::kScreen, texts::kTextScreen,
      "display " + std::to_string(screen.width) + "x" + std::to_string(screen.height) + ", " +
          std::to_string(screen.bitsPerPixel) + " bits",
      nullptr);
}

std::unique_ptr<CaptureSource> PlaceholderSourceFactory::Sound(const DeviceInfo&) {
  return MakeSoundSource(nullptr, nullptr);
}

}  // namespace sources
