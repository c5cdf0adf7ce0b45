#pragma once

// The common part of every camera source. A camera interface derives from
// camera::CameraSource, lists its picture modes, opens, halts and closes its device and
// hands every raw picture to DeliverFrame; everything else happens here: the common
// camera settings, the choice of the picture mode, the two output buffers, the
// normalisation of raw pictures, the preview callback, JPEG compression (jpegpress or the
// system encoder), the one-frame hand-off to the delivery target and the frame pacing.
//
// Threading: Init, Start, Stop, Halt and SetSetting run on the window thread;
// DeliverFrame on the camera interface's own thread or callback; TakeFrame and IsStarted
// on the delivery target's thread. The hand-off is one frame deep: DeliverFrame publishes
// the waiting frame, signals the target's frame-ready event and blocks until TakeFrame
// took it or Halt released it. Halt returns only after every DeliverFrame call that could
// touch the output buffers has left them, so Stop may free them and the device may be
// halted safely; it must therefore never be called from the producer's own thread (the
// preview callback included).
//
// Method names follow the capture-source interface the device program's modules share;
// they keep its spelling.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "camera/system_encoder.h"
#include "jpegpress/jpeg_encoder_table.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "settings/settings_store.h"
#include "sources/capture_source.h"

namespace camera {

using sources::FrameDescriptor;
using sources::PictureMode;
using sources::SettingChoice;
using sources::SourceSetting;
using sources::StartParams;

// What a camera source is built with. Everything is borrowed and must outlive the source.
struct CameraEnvironment {
  // The bound jpegpress table, or null (or all entries null) when jpegpress is not used.
  const JpegEncoderTable* jpegpress = nullptr;
  // The process's system encoder factory (processSystemEncoder), or null.
  SystemEncoderFactory systemEncoder = nullptr;
  // Ticks and sleeps of the pipeline; null is the system clock.
  platform::Clock* clock = nullptr;
  // Where Stop saves the settings, or null.
  const settings::SettingsStore* store = nullptr;
  // The current language's text of an id (names the settings sub-key), or empty.
  std::function<const char16_t*(uint32_t textId)> text;
};

// Index of each common setting in the list built by Init.
enum CommonSetting : uint32_t {
  kSettingResolution = 0,
  kSettingQuality,
  kSettingFrameRate,
  kSettingRotation,
  kSettingMirror,
  kSettingSwapColors,
  kCommonSettingCount,
};

// The 32 bytes in front of every compressed frame, free for the target's message header.
inline constexpr uint32_t kFrameHeaderRoom = 32;
// The overlay colour of a preview mode whose overlay flag is 1.
inline constexpr uint32_t kOverlayPreviewColour = 0x070800;
// Pacing never sleeps this long or longer.
inline constexpr uint32_t kPacingLimitMs = 2048;

class CameraSource : public sources::CameraSource {
 public:
  explicit CameraSource(CameraEnvironment environment);
  ~CameraSource() override;
  CameraSource(const CameraSource&) = delete;
  CameraSource& operator=(const CameraSource&) = delete;

  // Builds the common settings ("Resolution", "Quality", "Frame Rate", "Rotation",
  // "Mirror", "Swap Colors") followed by what AppendSettings returns.
  void Init() override;
  bool Start(StartParams& params) override;
  bool Stop() override;
  bool Halt() override;
  bool IsStarted() override;
  SourceSetting* Settings() override { return &common_[0]; }
  bool SetSetting(SourceSetting* setting, int32_t index) override;
  uint32_t TakeFrame(FrameDescriptor* out) override;
  SourceSetting* DeviceSettingList() override { return deviceSettings_; }

  // Hands one raw picture to the pipeline: with `record`, the record describes it;
  // without, it is (data, size) in the current mode's format and size. The picture is
  // normalised in place (the caller's buffer must be writable and stays the caller's).
  // In capture mode this blocks until the frame was taken or the source halted. True
  // when the frame went its way; false when the source is not streaming, was halted
  // meanwhile, or the picture is unusable (too small for its format and size, or larger
  // than the mode the buffers were sized for).
  bool DeliverFrame(const FrameDescriptor* record, uint8_t* data, uint32_t size);

  // The setting value of a common setting.
  int32_t commonValue(CommonSetting which) const;
  SourceSetting& common(CommonSetting which) { return common_[which]; }

 protected:
  // For camera interfaces (in OpenDevice and on their thread while streaming): the mode
  // chosen by the last Start, and its index in the sorted table.
  const PictureMode& currentFormat() const { return currentFormat_; }
  uint32_t currentModeIndex() const { return currentModeIndex_; }
  const PictureMode* modes() const { return modes_.data(); }
  uint32_t modeCount() const { return modeCount_; }
  const StartParams& startParams() const { return params_; }

 private:
  bool prepareEncoder(uint32_t w, uint32_t h, uint32_t quality, uint32_t rotation);
  uint32_t compress(FrameDescriptor& frame, uint8_t* destination, uint32_t room);
  void refreshFrameSettings();
  void releaseProducers();
  void clearWaiting();
  void freeBuffers();
  platform::Clock& clock() const;

  CameraEnvironment env_;

  // Settings (window thread) and the per-frame values the producer reads.
  std::array<SourceSetting, kCommonSettingCount> common_{};
  std::array<SettingChoice, sources::kMaxPictureModes> resolutionChoices_{};
  std::array<std::array<char16_t, 16>, sources::kMaxPictureModes> resolutionLabels_{};
  SourceSetting* deviceSettings_ = nullptr;
  std::atomic<int32_t> frameRateMs_{0};
  std::atomic<int32_t> mirror_{0};
  std::atomic<int32_t> swapColors_{0};
  std::atomic<uint32_t> previewRotation_{0};

  // Modes (window thread; read by the producer only while streaming).
  std::array<PictureMode, sources::kMaxPictureModes> modes_{};
  uint32_t modeCount_ = 0;
  uint32_t defaultMode_ = 0;
  bool modesKnown_ = false;
  StartParams params_{};
  PictureMode currentFormat_{};
  uint32_t currentModeIndex_ = 0;

  // Output buffers: `bufferBytes_` each, allocated by Start, freed by Stop.
  std::unique_ptr<uint8_t[]> buffers_[2];
  uint32_t bufferBytes_ = 0;

  // The hand-off, guarded by mutex_.
  std::mutex mutex_;
  std::condition_variable idle_;  // producers_ reached 0
  bool streaming_ = false;
  uint32_t producers_ = 0;        // DeliverFrame calls using the buffers
  uint32_t producerBuffer_ = 0;   // the buffer DeliverFrame writes next
  FrameDescriptor waiting_{};     // data null = none
  platform::Event taken_{platform::Event::Reset::kAuto};
  std::atomic<uint32_t> pacingClockMs_{0};

  // JPEG encoder binding (window thread; used by the producer while streaming).
  JpegEncoder* jpegContext_ = nullptr;
  SystemEncoder* systemEncoder_ = nullptr;
  bool useJpegpress_ = false;
  bool prepared_ = false;
  uint32_t encWidth_ = 0, encHeight_ = 0, encQuality_ = 0, encRotation_ = 0;
};

// Frame-rate label of the 40 ms period.
inline constexpr char16_t kFrameRate40msLabel[] = u"25";

}  // namespace camera
