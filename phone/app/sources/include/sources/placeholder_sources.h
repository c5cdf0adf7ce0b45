#pragma once

// Sources whose devices are not implemented yet: each has its display name, its kind and
// the library it was built with (kept loaded), so that the list, the menus and the saved
// enabled states work; they have no settings, announce no picture modes and fail to
// start. The camera pipeline and the camera interfaces, the DirectShow camera and the
// screen replace them as they arrive. The sound source is real.

#include <memory>
#include <string>

#include "sources/source_builder.h"

namespace sources {

template <typename Base>
class Placeholder : public Base {
 public:
  Placeholder(SourceKind kind, uint32_t nameTextId, std::string device,
              std::shared_ptr<const void> binding)
      : kind_(kind), nameTextId_(nameTextId), device_(std::move(device)),
        binding_(std::move(binding)) {}

  // What the source would drive, for the probe tool ("HTCcamera.dll, model code 12").
  const std::string& device() const { return device_; }

  void Init() override {}
  // Not implemented yet: the source never starts.
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
  const std::string device_;
  const std::shared_ptr<const void> binding_;
};

// A camera whose interface is not implemented yet.
class PlaceholderCamera final : public Placeholder<CameraSource> {
 public:
  using Placeholder::Placeholder;
  uint32_t EnumerateModes(PictureMode*, uint32_t) override { return 0; }
  bool OpenDevice(uint32_t, uint32_t) override { return false; }
  bool HaltDevice() override { return true; }
  void CloseDevice() override {}
  SourceSetting* AppendSettings(const SettingChoice*, uint32_t) override { return nullptr; }
};

// The screen, not implemented yet (or any other source in tests).
using PlaceholderSource = Placeholder<CaptureSource>;

// The device description of a placeholder source, or empty for any other source.
std::string PlaceholderDevice(CaptureSource& source);

// Makes a placeholder for every row but the sound source, which is the real one over
// the default capture device.
class PlaceholderSourceFactory : public SourceFactory {
 public:
  std::unique_ptr<CaptureSource> GoForceCamera(const DeviceInfo& device,
                                               GoForceLibrary library) override;
  std::unique_ptr<CaptureSource> HtcCamera(const DeviceInfo& device,
                                           std::shared_ptr<const HtcCameraLibrary> library,
                                           bool frontSensor) override;
  std::unique_ptr<CaptureSource> StreamCamera(const DeviceInfo& device,
                                              StreamDriver driver) override;
  std::unique_ptr<CaptureSource> DirectShowCamera(const DeviceInfo& device,
                                                  FramesinkLibrary library) override;
  std::unique_ptr<CaptureSource> Screen(const DeviceInfo& device,
                                        const platform::FrameBufferDescription& screen) override;
  std::unique_ptr<CaptureSource> Sound(const DeviceInfo& device) override;
};

}  // namespace sources
