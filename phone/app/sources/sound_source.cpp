#include "sources/sound_source.h"

#include <algorithm>
#include <cstring>

#include "platform/event.h"
#include "platform/utf16.h"
#include "texts/text_ids.h"

namespace sources {
namespace {

constexpr SettingChoice kFormatChoices[] = {{0, 0, u"PCM"}, {0, 1, u"AMR"}};
constexpr SettingChoice kQualityChoices[] = {
    {0, 0, u"0"}, {0, 1, u"1"}, {0, 2, u"2"}, {0, 3, u"3"},
    {0, 4, u"4"}, {0, 5, u"5"}, {0, 6, u"6"}, {0, 7, u"7"},
};
// Block length in units of 20 ms, labelled in milliseconds.
constexpr SettingChoice kFrameTimeChoices[] = {
    {0, 1, u"20"},   {0, 2, u"40"},    {0, 5, u"100"},  {0, 10, u"200"},
    {0, 25, u"500"}, {0, 50, u"1000"}, {0, 100, u"2000"},
};

template <size_t N>
SourceSetting makeSetting(uint32_t textId, int32_t defaultIndex, const SettingChoice (&choices)[N]) {
  SourceSetting s;
  s.textId = textId;
  s.defaultIndex = defaultIndex;
  s.count = N;
  s.choices = choices;
  s.key = settings::newSettingKey();
  return s;
}

// The recording format: PCM, mono, 8000 samples per second, 16 bits.
platform::WaveFormat recordingFormat() { return platform::WaveFormat{}; }

}  // namespace

SoundBlockLayout layoutSoundBlocks(uint32_t n) {
  SoundBlockLayout l;
  if (n == 0) return l;
  l.pcmBytes = n * SoundBlockLayout::kPcmBytesPer20Ms;
  l.codedBytes = n * SoundBlockLayout::kCodedBytesPer20Ms;
  l.strideBytes = SoundBlockLayout::kHeaderBytes + l.pcmBytes + l.codedBytes;
  l.blockCount = SoundBlockLayout::kRegionBytes / l.strideBytes;
  return l;
}

uint32_t soundRecorderReserve(uint32_t blockCount) {
  constexpr uint32_t kReserve = 5;
  if (blockCount >= kReserve + 2) return kReserve;
  return blockCount > 2 ? blockCount - 2 : 1;
}

SoundEnvironment probeSoundDevice(SoundEnvironment environment) {
  const char16_t* name = environment.text ? environment.text(texts::kTextSound) : nullptr;
  if (environment.store && name && *name) {
    settings::Key key = environment.store->OpenKey(name, false);
    const std::u16string device = settings::readString(key, kSoundDeviceValue, 260);
    environment.device = platform::utf16ToUtf8Lossy(device);
  }
  environment.deviceFound = platform::audioCaptureAvailable(environment.device);
  return environment;
}

std::unique_ptr<SoundSource> makeSoundSource(const settings::SettingsStore* store,
                                             std::function<const char16_t*(uint32_t)> text) {
  SoundEnvironment env;
  env.store = store;
  env.text = std::move(text);
  return std::make_unique<SoundSource>(probeSoundDevice(std::move(env)));
}

SoundSource::SoundSource(SoundEnvironment environment) : env_(std::move(environment)) {
  if (!env_.makeRecorder) env_.makeRecorder = &platform::createAudioIn;
}

SoundSource::~SoundSource() { Stop(); }

platform::Clock& SoundSource::clock() const {
  return env_.clock ? *env_.clock : platform::systemClock();
}

void SoundSource::Init() {
  settings_[kSettingFormat] = makeSetting(texts::kTextFormat, 0, kFormatChoices);
  settings_[kSettingQuality] = makeSetting(texts::kTextQuality, 2, kQualityChoices);
  settings_[kSettingFrameTime] = makeSetting(texts::kTextFrameTime, 2, kFrameTimeChoices);
  settings_[kSettingFormat].next = &settings_[kSettingQuality];
  settings_[kSettingQuality].next = &settings_[kSettingFrameTime];
}

uint32_t SoundSource::NameTextId() { return texts::kTextSound; }

bool SoundSource::IsStarted() {
  std::lock_guard lock(mutex_);
  return prepared_ && streaming_;
}

SoundBlockLayout SoundSource::layout() const { return prepared_ ? layout_ : SoundBlockLayout{}; }

uint32_t SoundSource::blocksWithRecorder() const {
  std::lock_guard lock(mutex_);
  return withRecorder_;
}

uint32_t SoundSource::blocksQueued() const {
  std::lock_guard lock(mutex_);
  return queued_;
}

void SoundSource::layOut() {
  const int32_t n = settings::settingValue(settings_[kSettingFrameTime]);
  layout_ = layoutSoundBlocks(n > 0 ? static_cast<uint32_t>(n) : 5);
  if (!region_) region_ = std::make_unique<uint8_t[]>(SoundBlockLayout::kRegionBytes);
  std::memset(region_.get(), 0, SoundBlockLayout::kRegionBytes);
  blocks_.assign(layout_.blockCount, Block{});
  for (uint32_t i = 0; i < layout_.blockCount; ++i) {
    uint8_t* base = region_.get() + i * layout_.strideBytes;
    Block& b = blocks_[i];
    b.wave.data = base + SoundBlockLayout::kHeaderBytes;
    b.wave.bufferLength = layout_.pcmBytes;
    b.wave.user = i;
    b.coded = b.wave.data + layout_.pcmBytes;
  }
  reserve_ = soundRecorderReserve(layout_.blockCount);
}

void SoundSource::resetQueueLocked() {
  queueHead_ = queueTail_ = nullptr;
  queued_ = 0;
  handedOut_ = nullptr;
}

bool SoundSource::Start(StartParams& params) {
  params_ = params;
  if (params.mode != kModeCapture) {
    Halt();
    return true;
  }
  Halt();
  if (!prepared_ || layoutStale_) {
    layOut();
    prepared_ = true;
    layoutStale_ = false;
  }

  if (!recorder_) recorder_ = env_.makeRecorder();
  if (!recorder_ || !recorder_->Open(env_.device, recordingFormat(), &SoundSource::recorderCallback, this))
    return false;
  {
    std::lock_guard lock(mutex_);
    resetQueueLocked();
    withRecorder_ = 0;
    stopping_ = false;
    frameReady_ = params.frameReady;
  }
  uint32_t added = 0;
  for (Block& b : blocks_) {
    b.wave.flags = 0;
    b.wave.bytesRecorded = 0;
    if (!recorder_->Prepare(&b.wave)) continue;
    std::lock_guard lock(mutex_);  // the count must be right before the block can come back
    if (recorder_->AddBuffer(&b.wave)) {
      ++withRecorder_;
      ++added;
    }
  }
  if (added < 2 || !recorder_->Start()) {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    closeRecorder();
    return false;
  }
  std::lock_guard lock(mutex_);
  blockNumber_ = 0;
  streaming_ = true;
  return true;
}

bool SoundSource::Halt() {
  {
    std::lock_guard lock(mutex_);
    if (!streaming_) return true;
    streaming_ = false;
    stopping_ = true;
  }
  // From here on no block goes back to the recorder and the target is not woken.
  closeRecorder();
  return true;
}

void SoundSource::closeRecorder() {
  recorder_->Reset();
  recorder_->Stop();
  for (Block& b : blocks_) recorder_->Unprepare(&b.wave);
  recorder_->Close();
  std::lock_guard lock(mutex_);
  resetQueueLocked();
  withRecorder_ = 0;
}

bool SoundSource::Stop() {
  prepared_ = false;
  Halt();
  if (env_.store && env_.text) {
    const char16_t* name = env_.text(NameTextId());
    if (name && *name) settings::saveSettingList(*env_.store, &settings_[0], name);
  }
  std::lock_guard lock(mutex_);
  resetQueueLocked();
  blocks_.clear();
  region_.reset();
  layout_ = SoundBlockLayout{};
  return true;
}

void SoundSource::Reset() {
  // The device has nothing to re-apply; the blocks are laid out again for the default
  // "Frame Time" at the next start.
  layoutStale_ = true;
}

bool SoundSource::SetSetting(SourceSetting* setting, int32_t) {
  // A changed block length takes effect at the next capture start.
  if (setting == &settings_[kSettingFrameTime]) layoutStale_ = true;
  return setting == &settings_[kSettingFormat] || setting == &settings_[kSettingQuality] ||
         setting == &settings_[kSettingFrameTime];
}

void SoundSource::recorderCallback(void* user, platform::AudioInMessage message,
                                   platform::WaveHeader* header) {
  if (message != platform::AudioInMessage::kData || header == nullptr) return;
  auto* self = static_cast<SoundSource*>(user);
  // The wave header is the first member of its block.
  self->onBlockFilled(reinterpret_cast<Block*>(header));
}

void SoundSource::onBlockFilled(Block* block) {
  uint32_t now = clock().nowMs();
  if (now == 0) now = 1;
  std::lock_guard lock(mutex_);
  if (withRecorder_ > 0) --withRecorder_;
  block->returnedMs = now;
  block->wave.next = nullptr;
  if (queueTail_) {
    queueTail_->wave.next = &block->wave;
  } else {
    queueHead_ = block;
  }
  queueTail_ = block;
  ++queued_;
  if (stopping_) return;
  if (withRecorder_ < reserve_) {
    // Recording must never stall: the oldest sound is dropped instead.
    Block* oldest = queueHead_;
    queueHead_ = reinterpret_cast<Block*>(oldest->wave.next);
    if (queueHead_ == nullptr) queueTail_ = nullptr;
    --queued_;
    oldest->wave.next = nullptr;
    if (recorder_->AddBuffer(&oldest->wave)) ++withRecorder_;
  }
  if (frameReady_) frameReady_->set();
}

uint32_t SoundSource::TakeFrame(FrameDescriptor* out) {
  std::lock_guard lock(mutex_);
  const uint32_t stamp =
      queueHead_ && queueHead_->wave.bytesRecorded != 0 ? queueHead_->returnedMs : 0;
  if (handedOut_) {
    if (!stopping_ && recorder_->AddBuffer(&handedOut_->wave)) ++withRecorder_;
    handedOut_ = nullptr;
  }
  if (out == nullptr || stamp == 0) return stamp;
  Block* block = queueHead_;
  // Blocks always go out as PCM: nothing fills the coded area.
  *out = FrameDescriptor{};
  out->data = block->wave.data;
  out->sizeBytes = std::min(block->wave.bytesRecorded, block->wave.bufferLength);
  out->format = kFormatPcm;
  out->timestampMs = stamp;
  out->sourceWord = blockNumber_++;
  queueHead_ = reinterpret_cast<Block*>(block->wave.next);
  if (queueHead_ == nullptr) queueTail_ = nullptr;
  --queued_;
  block->wave.next = nullptr;
  handedOut_ = block;
  return stamp;
}

}  // namespace sources
