#include "sources/placeholder_sources.h"

#include "sources/sound_source.h"
#include "texts/text_ids.h"

namespace sources {

std::unique_ptr<CaptureSource> PlaceholderSourceFactory::GoForceCamera(const DeviceInfo&,
                                                                       GoForceLibrary library) {
  return std::make_unique<PlaceholderCamera>(SourceKind::kCamera, texts::kTextCameraPlus,
                                             std::make_shared<GoForceLibrary>(std::move(library)));
}

std::unique_ptr<CaptureSource> PlaceholderSourceFactory::HtcCamera(
    const DeviceInfo&, std::shared_ptr<const HtcCameraLibrary> library, bool frontSensor) {
  return std::make_unique<PlaceholderCamera>(
      SourceKind::kCamera, frontSensor ? texts::kTextFrontSensor : texts::kTextCameraPlus,
      std::move(library));
}

std::unique_ptr<CaptureSource> PlaceholderSourceFactory::StreamCamera(const DeviceInfo&, StreamDriver) {
  return std::make_unique<PlaceholderCamera>(SourceKind::kCamera, texts::kTextCameraPlus, nullptr);
}

std::unique_ptr<CaptureSource> PlaceholderSourceFactory::DirectShowCamera(
    const DeviceInfo&, FramesinkLibrary library) {
  return std::make_unique<PlaceholderCamera>(SourceKind::kCamera, texts::kTextCamera,
                                             std::make_shared<FramesinkLibrary>(std::move(library)));
}

std::unique_ptr<CaptureSource> PlaceholderSourceFactory::Screen(const DeviceInfo&,
                                                                const platform::FrameBufferDescription&) {
  return std::make_unique<PlaceholderSource>(SourceKind::kScreen, texts::kTextScreen, nullptr);
}

std::unique_ptr<CaptureSource> PlaceholderSourceFactory::Sound(const DeviceInfo&) {
  return MakeSoundSource(nullptr, nullptr);
}

}  // namespace sources
