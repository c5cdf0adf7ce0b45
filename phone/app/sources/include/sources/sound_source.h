#pragma once

// The sound source: records the device's microphone while capture runs and hands the
// recorded blocks to the delivery target one at a time through TakeFrame, as PCM, mono,
// 8000 Hz, 16 bit. Nothing is recorded in preview mode.
//
// Blocks live in one 128 KiB region, laid out at the first capture start after the
// source was created or stopped. Each block is a 76-byte header area (44 bytes for the
// block's record, then 32 free bytes that the target fills with its message header), the
// PCM area of n x 320 bytes and the coded area of n x 36 bytes, where n is "Frame Time"
// in units of 20 ms. The coded ("AMR") path is not built: blocks go out as PCM whatever
// "Format" says, and "Quality" has no effect.
//
// Threading: Start, Stop, Halt, SetSetting and Reset run on the window thread, TakeFrame
// on the target's thread, the recorder callback on the recorder's thread. The filled
// queue, the count of blocks with the recorder and the handed-out block are guarded by
// one lock; the recorder is never called while that lock is held.
//
// Method names follow the capture-source interface the device program's modules share;
// they keep its spelling.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio_in.h"
#include "platform/clock.h"
#include "settings/settings_store.h"
#include "sources/capture_source.h"

namespace sources {

// The block layout for one "Frame Time" value n (units of 20 ms).
struct SoundBlockLayout {
  static constexpr uint32_t kRegionBytes = 131072;
  static constexpr uint32_t kHeaderBytes = 76;   // the block's record (44) + 32 free bytes
  static constexpr uint32_t kRecordBytes = 44;
  static constexpr uint32_t kPcmBytesPer20Ms = 320;
  static constexpr uint32_t kCodedBytesPer20Ms = 36;

  uint32_t pcmBytes = 0;    // n x 320
  uint32_t codedBytes = 0;  // n x 36
  uint32_t strideBytes = 0; // 76 + n x 356
  uint32_t blockCount = 0;  // 131072 / stride
};
SoundBlockLayout layoutSoundBlocks(uint32_t frameTimeUnits);

// The most blocks a layout may have (one 20 ms block per 432 bytes).
inline constexpr uint32_t kMaxSoundBlocks = SoundBlockLayout::kRegionBytes / 432;

// How many blocks stay with the recorder at the least: 5, or, in a region of fewer
// than 7 blocks, all but two (one handed out, one waiting), so that long blocks still
// reach the target.
uint32_t soundRecorderReserve(uint32_t blockCount);

// The value read from the source's settings sub-key that names the capture device.
inline constexpr char16_t kSoundDeviceValue[] = u"Device";

// What the sound source needs from the program.
struct SoundEnvironment {
  const settings::SettingsStore* store = nullptr;  // Stop saves the settings here
  std::function<const char16_t*(uint32_t textId)> text;  // names the settings sub-key
  platform::Clock* clock = nullptr;                      // default: the system clock
  // Makes the recorder at each capture start; default platform::createAudioIn.
  std::function<std::unique_ptr<platform::AudioIn>()> makeRecorder;
  std::string device;          // capture device; empty = the system's default
  bool deviceFound = true;     // the probe found the capture device at start-up
};

// Reads the capture device from the value "Device" of the source's settings sub-key
// (empty when absent) and asks the platform whether it can be opened now.
SoundEnvironment probeSoundDevice(SoundEnvironment environment);

class SoundSource;
// The device program's sound source: the capture device named in the settings sub-key
// of `store` (none: the default device), probed once here.
std::unique_ptr<SoundSource> makeSoundSource(const settings::SettingsStore* store,
                                             std::function<const char16_t*(uint32_t)> text);

class SoundSource final : public CaptureSource {
 public:
  // Settings, in list order.
  enum Setting { kSettingFormat, kSettingQuality, kSettingFrameTime, kSettingCount };

  explicit SoundSource(SoundEnvironment environment);
  ~SoundSource() override;

  void Init() override;
  bool Start(StartParams& params) override;
  bool Stop() override;
  bool Halt() override;
  bool IsStarted() override;
  uint32_t NameTextId() override;
  SourceKind Kind() override { return SourceKind::kSound; }
  void Reset() override;
  SourceSetting* Settings() override { return &settings_[0]; }
  bool SetSetting(SourceSetting* setting, int32_t index) override;
  uint32_t TakeFrame(FrameDescriptor* out) override;
  SourceSetting* DeviceSettingList() override { return nullptr; }
  bool ApplyDeviceSetting(SourceSetting*, int32_t) override { return false; }
  bool enabledByDefault() override { return env_.deviceFound; }
  const char* settingNote(const SourceSetting* setting) override {
    return setting == &settings_[kSettingFormat] ? "sound always goes out as PCM: this build has no AMR coder"
                                                  : "";
  }

  const std::string& device() const { return env_.device; }
  bool deviceFound() const { return env_.deviceFound; }

  // For tests and diagnostics: the layout in use (empty while not laid out), blocks with
  // the recorder, blocks waiting in the filled queue.
  SoundBlockLayout layout() const;
  uint32_t blocksWithRecorder() const;
  uint32_t blocksQueued() const;
  const uint8_t* region() const { return region_.get(); }

 private:
  struct Block {
    platform::WaveHeader wave;  // data = the PCM area; wave.next links the filled queue
    uint32_t returnedMs = 0;    // when the recorder gave it back
    uint32_t codedFrames = 0;   // always 0: nothing fills the coded area
    uint8_t* coded = nullptr;
  };

  static void recorderCallback(void* user, platform::AudioInMessage message,
                               platform::WaveHeader* header);
  void onBlockFilled(Block* block);
  void layOut();
  void resetQueueLocked();
  // With `stopping_` set: takes every block back from the recorder and closes it.
  void closeRecorder();
  platform::Clock& clock() const;

  SoundEnvironment env_;
  SourceSetting settings_[kSettingCount];

  // Window thread only.
  StartParams params_;
  bool prepared_ = false;
  bool layoutStale_ = false;  // "Frame Time" changed since the blocks were laid out
  std::unique_ptr<uint8_t[]> region_;
  std::vector<Block> blocks_;  // sized once per layout
  SoundBlockLayout layout_;
  uint32_t reserve_ = 0;
  std::unique_ptr<platform::AudioIn> recorder_;

  // Guarded by mutex_.
  mutable std::mutex mutex_;
  bool streaming_ = false;
  bool stopping_ = true;  // nothing goes back to the recorder until a start
  Block* queueHead_ = nullptr;  // oldest filled block
  Block* queueTail_ = nullptr;
  uint32_t queued_ = 0;
  Block* handedOut_ = nullptr;  // given back to the recorder on the next take
  uint32_t withRecorder_ = 0;
  uint32_t blockNumber_ = 0;
  platform::Event* frameReady_ = nullptr;
};

}  // namespace sources
