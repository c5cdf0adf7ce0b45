#pragma once

// Sources whose devices are not part of the build (the device program built without its
// camera pipeline, a developer's build): each has its display name, its kind and the
// library it was built with (kept loaded), so that the list, the menus and the saved
// enabled states work; they have no settings, announce no picture modes and fail to
// start. The sound source is real.
//
// Method names follow the capture-source interface the device program's modules share;
// they keep its spelling.

#include <memory>

#include "sources/source_builder.h"

namespace sources {

template <typename Base>
class Placeholder : public Base {
 public:
  Placeholder(SourceKind kind, uint32_t nameTextId, std::shared_ptr<const void> binding)
      : kind_(kind), nameTextId_(nameTextId), binding_(std::move(binding)) {}

  void Init() override {}
  // Not built: the source never starts.
  bool Start(StartParams&) override { return false; }
  bool Stop() override { return true; }
  bool Halt() override { return true; }
  bool IsStarted() override { return false; }
  uint32_t NameTextId() override { return nameTextId_; }
  SourceKind Kind() override { return kind_; }
  void Reset() override {}
  SourceSetting* Settings() override { return nullptr; }
  bool SetSetting(SourceSetting*, int32_t) override { return false; }
  uint32_t TakeFrame(FrameDescriptor*) override { return 0; }
  SourceSetting* DeviceSettingList() override { return nullptr; }
  bool ApplyDeviceSetting(SourceSetting*, int32_t) override { return false; }

 private:
  const SourceKind kind_;
  const uint32_t nameTextId_;
  const std::shared_ptr<const void> binding_;
};

// A camera whose interface is not built.
class PlaceholderCamera final : public Placeholder<CameraSource> {
 public:
  using Placeholder::Placeholder;
  uint32_t EnumerateModes(PictureMode*, uint32_t) override { return 0; }
  bool OpenDevice(uint32_t, uint32_t) override { return false; }
  bool HaltDevice() override { return true; }
  void CloseDevice() override {}
  SourceSetting* AppendSettings(const SettingChoice*, uint32_t) override { return nullptr; }
};

// The screen, not built (or any other source in tests).
using PlaceholderSource = Placeholder<CaptureSource>;

// Makes a placeholder for every row but the sound source, which is the real one over
// the default capture device.
class PlaceholderSourceFactory : public SourceFactory {
 public:
  std::unique_ptr<CaptureSource> goForceCamera(const DeviceInfo& device,
                                               GoForceLibrary library) override;
  std::unique_ptr<CaptureSource> htcCamera(const DeviceInfo& device,
                                           std::shared_ptr<const HtcCameraLibrary> library,
                                           bool frontSensor) override;
  std::unique_ptr<CaptureSource> streamCamera(const DeviceInfo& device,
                                              StreamDriver driver) override;
  std::unique_ptr<CaptureSource> directShowCamera(const DeviceInfo& device,
                                                  FramesinkLibrary library) override;
  std::unique_ptr<CaptureSource> screen(const DeviceInfo& device,
                                        const platform::FrameBufferDescription& screen) override;
  std::unique_ptr<CaptureSource> sound(const DeviceInfo& device) override;
};

}  // namespace sources
