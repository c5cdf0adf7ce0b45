#pragma once

// The capture source interface of the device program: every producer of pictures or
// sound (a camera interface, the screen, the microphone) is a CaptureSource with one
// fixed table of operations, kept in the order below. Camera sources add five device
// operations (CameraSource).
//
// Threading: Init, Start, Stop, Halt, Reset, SetSetting and ApplyDeviceSetting run on
// the window thread. TakeFrame runs on the current delivery target's thread, and
// IsStarted is also asked from there. The producer (a source's own thread or a platform
// callback) hands frames over through the source's own events.
//
// Method names follow the capture-source interface the device program's modules share;
// they keep its spelling.

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/byte_order.h"
#include "settings/source_setting.h"

namespace platform {
class Event;
}

namespace sources {

using settings::SettingChoice;
using settings::SourceSetting;

// What a source produces. Kinds 0 and 1 exclude each other when sources are enabled
// (see enableSource in source_list.h).
enum class SourceKind : uint32_t {
  kCamera = 0,
  kScreen = 1,
  kSound = 2,
};

// Picture formats: FOURCC codes, the four letters in memory order.
using platform::fourcc;
inline constexpr uint32_t kFormatYv12 = fourcc('Y', 'V', '1', '2');
inline constexpr uint32_t kFormatNv12 = fourcc('N', 'V', '1', '2');
inline constexpr uint32_t kFormatYv16 = fourcc('Y', 'V', '1', '6');
inline constexpr uint32_t kFormatUyvy = fourcc('U', 'Y', 'V', 'Y');
inline constexpr uint32_t kFormatIyuv = fourcc('I', 'Y', 'U', 'V');
inline constexpr uint32_t kFormatJpeg = fourcc('I', 'J', 'P', 'G');  // a complete JPEG image
// Uncompressed RGB: the first 32 bits of the RGB565, RGB555 and RGB24 media subtypes.
inline constexpr uint32_t kFormatRgb565 = 0xE436EB7Bu;
inline constexpr uint32_t kFormatRgb555 = 0xE436EB7Cu;
inline constexpr uint32_t kFormatRgb24 = 0xE436EB7Du;
// Sound blocks.
inline constexpr uint32_t kFormatPcm = 1;
inline constexpr uint32_t kFormatCodedSound = 4;

// One frame handed to a delivery target: seven words. The bytes stay owned by the source
// and valid until its next TakeFrame; the 32 bytes in front of `data` belong to the same
// buffer and are free for the target's message header.
struct FrameDescriptor {
  uint8_t* data = nullptr;
  uint32_t sizeBytes = 0;
  uint32_t format = 0;       // a FOURCC or RGB code for pictures; kFormatPcm / kFormatCodedSound
  uint32_t width = 0;        // pixels
  uint32_t height = 0;       // pixels
  uint32_t timestampMs = 0;  // system tick when the frame was produced; never 0
  uint32_t sourceWord = 0;   // the source's own word (the sound source's running block number)
};

// Called in preview mode on the producer's thread with the caller's user value, the
// frame, a rotation 0..3 and a scratch buffer. True when the frame was taken for the
// preview, false when it was skipped.
using PreviewCallback = bool (*)(void* user, const FrameDescriptor* frame, uint32_t rotation,
                                 uint8_t* scratch);

// Start modes.
inline constexpr uint32_t kModePreview = 1;
inline constexpr uint32_t kModeCapture = 2;

// Handed to CaptureSource::Start: six words.
struct StartParams {
  platform::Event* frameReady = nullptr;  // the current target's auto-reset frame-ready event
  uint32_t mode = kModePreview;           // kModePreview or kModeCapture
  uint32_t screenOrientation = 0;         // 0..3
  const uint32_t* background = nullptr;   // out: the window's background colour, or null
  PreviewCallback preview = nullptr;      // none while capturing
  void* user = nullptr;                   // the capture context
};

// One picture mode of a camera: eight words. A camera keeps a table of up to 16.
struct PictureMode {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t format = 0;            // what the device delivers; 0 = the mode has no label
  uint32_t modeClass = 0;         // kModeClassNeverDefault marks a mode never chosen as default
  uint8_t nativeSwap = 0;         // colour order of "Swap Colors" bit 0 already applied
  uint32_t rotationOffset = 0;    // 0..3, added to the "Rotation" setting
  uint8_t nativeFlip = 0;         // delivered upside down
  uint32_t* overlay = nullptr;    // two words {colour, flag}, or null
};
inline constexpr uint32_t kModeClassNeverDefault = 4;
inline constexpr uint32_t kMaxPictureModes = 16;

// A capture source. The record begins with its operations, then the link to the next
// source of the list and the `enabled` flag. Truth values are bool; non-zero results of
// the original table (timestamps, counts) keep their integer types.
class CaptureSource {
 public:
  // Slot 0: releases the device and the object.
  virtual ~CaptureSource();

  // Slot 1: builds the setting list; called once at start-up before the saved values are
  // loaded.
  virtual void Init() = 0;
  // Slot 2: opens the device if needed and starts producing frames in the mode of
  // `params`; the source may write `params.background`.
  virtual bool Start(StartParams& params) = 0;
  // Slot 3: halts, saves the settings into the source's sub-key, closes the device and
  // frees the frame buffers.
  virtual bool Stop() = 0;
  // Slot 4: stops producing frames but keeps the device open; wakes a producer that waits
  // for its frame to be taken.
  virtual bool Halt() = 0;
  // Slot 5: the device is open and frames are being produced.
  virtual bool IsStarted() = 0;
  // Slot 6: the display name's text id; also names the source's settings sub-key.
  virtual uint32_t NameTextId() = 0;
  // Slot 7.
  virtual SourceKind Kind() = 0;
  // Slot 8: returns the device to its settings (after "Reset All" set every `current`
  // to -1).
  virtual void Reset() = 0;
  // Slot 9: reserved; 0 unless a source gives it a meaning.
  virtual uint32_t reserved() { return 0; }
  // Slot 10: head of the source's setting list, or null.
  virtual SourceSetting* Settings() = 0;
  // Slot 11: makes a changed value effective; the caller has already stored `current`.
  virtual bool SetSetting(SourceSetting* setting, int32_t index) = 0;
  // Slot 12: with null, the timestamp of the waiting frame (0 if none). Otherwise fills
  // `out`, clears the waiting frame, lets the producer continue and returns the timestamp.
  virtual uint32_t TakeFrame(FrameDescriptor* out) = 0;
  // Slot 13: head of the part of the setting list that belongs to the device, or null.
  virtual SourceSetting* DeviceSettingList() = 0;
  // Slot 14: sends one of the device's own settings to the device.
  virtual bool ApplyDeviceSetting(SourceSetting* setting, int32_t index) = 0;

  // Not in the table of operations: whether the source may be enabled when nothing was
  // saved (or after a crash). A source whose device the probe did not find says no.
  virtual bool enabledByDefault() { return true; }
  // Not in the table either: a short remark on how this build treats a setting, for
  // listings such as `vistrel --settings` (empty: nothing to say).
  virtual const char* settingNote(const SourceSetting* /*setting*/) { return ""; }
  // Not in the table either: a tap or key command from the PC (the link's command code
  // and its argument), for a source whose picture the user can act on. Runs on the
  // delivery target's thread. False when the source takes no input (or not now).
  virtual bool remoteInput(uint32_t /*command*/, uint32_t /*argument*/) { return false; }

  // The next source of the list, or null.
  CaptureSource* next() const { return next_.get(); }

  // Read by the delivery target's thread while the window thread changes it.
  bool enabled() const { return enabled_.load(std::memory_order_acquire); }
  void setEnabled(bool on) { enabled_.store(on, std::memory_order_release); }

 private:
  friend class SourceList;
  std::unique_ptr<CaptureSource> next_;
  std::atomic<bool> enabled_{false};
};

// A camera source: the fifteen operations above and five device operations. The common
// camera machinery (settings, mode choice, output buffers, pipeline) is built on these.
class CameraSource : public CaptureSource {
 public:
  SourceKind Kind() override { return SourceKind::kCamera; }

  // Slot 15: fills `modes` (room for kMaxPictureModes) and returns how many.
  virtual uint32_t EnumerateModes(PictureMode* modes, uint32_t flag) = 0;
  // Slot 16: opens the device for `mode` (an index into the mode table) and starts it.
  virtual bool OpenDevice(uint32_t quality, uint32_t mode) = 0;
  // Slot 17: stops the device's frame delivery.
  virtual bool HaltDevice() = 0;
  // Slot 18: closes the device.
  virtual void CloseDevice() = 0;
  // Slot 19: the head of extra settings linked behind the common camera settings, or
  // null. `lastChoices` and `lastTextId` describe the last common setting.
  virtual SourceSetting* AppendSettings(const SettingChoice* lastChoices, uint32_t lastTextId) = 0;
};

}  // namespace sources
