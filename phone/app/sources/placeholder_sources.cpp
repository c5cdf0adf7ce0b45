#include "sources/placeholder_sources.h"

#include "sources/sound_source.h"
#include "texts/text_ids.h"

namespace sources {

std::unique_ptr<CaptureSource> PlaceholderSourceFactory::goForceCamera(const DeviceInfo&,
                                                                       GoForceLibrary library) {
  return std::make_unique<PlaceholderCamera>(SourceKind::kCamera, texts::kTextCameraPlus,
                                             std::make_shared<GoForceLibrary>(std::move(library)));
}

std::unique_ptr<CaptureSource> PlaceholderSourceFactory::htcCamera(
    const DeviceInfo&, std::shared_ptr<const HtcCameraLibrary> library, bool frontSensor) {
  return std::make_unique<PlaceholderCamera>(
      SourceKind::kCamera, frontSensor ? texts::kTextFrontSensor : texts::kTextCameraPlus,
      std::move(library));
}

std::unique_ptr<CaptureSource> PlaceholderSourceFactory::streamCamera(const DeviceInfo&, StreamDriver) {
  return std::make_unique<PlaceholderCamera>(SourceKind::kCamera, texts::kTextCameraPlus, nullptr);
}

std::unique_ptr<CaptureSource> PlaceholderSourceFactory::directShowCamera(
    const DeviceInfo&, FramesinkLibrary library) {
  return std::make_unique<PlaceholderCamera>(SourceKind::kCamera, texts::kTextCamera,
                                             std::make_shared<FramesinkLibrary>(std::move(library)));
}

std::unique_ptr<CaptureSource> PlaceholderSourceFactory::screen(const DeviceInfo&,
                                                                const platform::FrameBufferDescription&) {
  return std::make_unique<PlaceholderSource>(SourceKind::kScreen, texts::kTextScreen, nullptr);
}

std::unique_ptr<CaptureSource> PlaceholderSourceFactory::sound(const DeviceInfo&) {
  return makeSoundSource(nullptr, nullptr);
}

}  // namespace sources
