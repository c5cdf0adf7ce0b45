#include "camera/camera_source.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "camera/frame_normalise.h"
#include "camera/picture_repack.h"
#include "texts/text_ids.h"

namespace camera {
namespace {

using namespace sources;

constexpr SettingChoice kQualityChoices[] = {
    {0, 30, u"30"}, {0, 40, u"40"}, {0, 50, u"50"}, {0, 60, u"60"},
    {0, 70, u"70"}, {0, 80, u"80"}, {0, 90, u"90"}, {texts::kTextBest, 100, nullptr},
};
constexpr SettingChoice kFrameRateChoices[] = {
    {0, 1000, u"1"}, {0, 500, u"2"}, {0, 332, u"3"}, {0, 250, u"4"},
    {0, 200, u"5"},  {0, 100, u"10"}, {0, 80, u"12"}, {0, 66, u"15"},
    {0, 50, u"20"},  {0, 40, kFrameRate40msLabel}, {texts::kTextMax, 0, nullptr},
};
constexpr SettingChoice kRotationChoices[] = {
    {0, 0, u"0"}, {0, 1, u"90"}, {0, 2, u"180"}, {0, 3, u"270"},
};
constexpr SettingChoice kSwapChoices[] = {
    {0, 0, u"0"}, {0, 1, u"1"}, {0, 2, u"2"}, {0, 3, u"3"},
};

template <size_t N>
SourceSetting makeSetting(uint32_t textId, int32_t defaultIndex, const SettingChoice (&choices)[N]) {
  SourceSetting s;
  s.textId = textId;
  s.defaultIndex = defaultIndex;
  s.count = N;
  s.choices = choices;
  return s;
}

// A picture format as a person reads it in a resolution label.
std::string formatName(uint32_t format) {
  switch (format) {
    case kFormatJpeg: return "JPEG";
    case kFormatRgb565: return "RGB565";
    case kFormatRgb555: return "RGB555";
    case kFormatRgb24: return "RGB24";
    default: break;
  }
  std::string name;
  for (int shift = 0; shift < 32; shift += 8) {
    const char c = static_cast<char>((format >> shift) & 0xFF);
    name += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  return name;
}

// Input layout codes of jpegpress.
uint32_t jpegFormatCode(uint32_t format) {
  switch (format) {
    case kFormatUyvy: return kJpegFormatUyvy;
    case kFormatRgb555: return kJpegFormatRgb555;
    case kFormatRgb565: return kJpegFormatRgb565;
    case kFormatRgb24: return kJpegFormatBgr24;
    case kFormatIyuv: return kJpegFormatPlanarCrCb;
    default: return kJpegFormatPlanar;
  }
}

bool isRgb(uint32_t format) {
  return format == kFormatRgb565 || format == kFormatRgb555 || format == kFormatRgb24;
}

uint32_t rgbBits(uint32_t format) {
  return format == kFormatRgb24 ? 24 : (format == kFormatRgb565 ? 16 : 15);
}

}  // namespace

CameraSource::CameraSource(CameraEnvironment environment) : env_(std::move(environment)) {
  if (env_.jpegpress && env_.jpegpress->CreateEncoder) env_.jpegpress->CreateEncoder(&jpegContext_);
}

CameraSource::~CameraSource() {
  if (systemEncoder_) systemEncoder_->operations->Release(systemEncoder_);
  if (jpegContext_ && env_.jpegpress->DestroyEncoder) env_.jpegpress->DestroyEncoder(jpegContext_);
}

platform::Clock& CameraSource::clock() const {
  return env_.clock ? *env_.clock : platform::systemClock();
}

void CameraSource::Init() {
  common_[kSettingResolution] = SourceSetting{};
  common_[kSettingResolution].textId = texts::kTextResolution;
  common_[kSettingResolution].count = sources::kMaxPictureModes;
  common_[kSettingResolution].choices = resolutionChoices_.data();
  for (uint32_t i = 0; i < sources::kMaxPictureModes; ++i)
    resolutionChoices_[i] = SettingChoice{0, static_cast<int32_t>(i), nullptr};
  common_[kSettingQuality] = makeSetting(texts::kTextQuality, 3, kQualityChoices);
  common_[kSettingFrameRate] = makeSetting(texts::kTextFrameRate, 5, kFrameRateChoices);
  common_[kSettingRotation] = makeSetting(texts::kTextRotation, 0, kRotationChoices);
  common_[kSettingMirror] = SourceSetting{};
  common_[kSettingMirror].textId = texts::kTextMirror;
  common_[kSettingMirror].count = 2;
  common_[kSettingMirror].base = 0;
  common_[kSettingMirror].step = 1;
  common_[kSettingSwapColors] = makeSetting(texts::kTextSwapColors, 0, kSwapChoices);
  for (uint32_t i = 0; i < kCommonSettingCount; ++i) {
    common_[i].key = settings::newSettingKey();
    common_[i].next = i + 1 < kCommonSettingCount ? &common_[i + 1] : nullptr;
  }
  deviceSettings_ = AppendSettings(kSwapChoices, texts::kTextSwapColors);
  common_[kSettingSwapColors].next = deviceSettings_;
  refreshFrameSettings();
}

int32_t CameraSource::commonValue(CommonSetting which) const {
  return settings::settingValue(common_[which]);
}

void CameraSource::refreshFrameSettings() {
  frameRateMs_.store(commonValue(kSettingFrameRate));
  mirror_.store(commonValue(kSettingMirror));
  swapColors_.store(commonValue(kSettingSwapColors));
}

bool CameraSource::IsStarted() {
  std::lock_guard lock(mutex_);
  return modesKnown_ && streaming_;
}

bool CameraSource::Start(StartParams& params) {
  // A running producer may still read the kept parameters: halt it before replacing them.
  if (IsStarted()) {
    Halt();
    if (IsStarted()) return true;
  }
  params_ = params;

  if (!modesKnown_) {
    uint32_t n = EnumerateModes(modes_.data(), 0);
    if (n == 0) return false;
    if (n > sources::kMaxPictureModes) n = sources::kMaxPictureModes;
    // Smallest area first; the first of equal smallest areas moves forward.
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t smallest = i;
      for (uint32_t j = i + 1; j < n; ++j)
        if (uint64_t{modes_[j].width} * modes_[j].height <
            uint64_t{modes_[smallest].width} * modes_[smallest].height)
          smallest = j;
      if (smallest != i) std::swap(modes_[i], modes_[smallest]);
    }
    // 320 x 240 when there is one, else the largest mode that may be a default.
    uint32_t chosen = n;
    for (uint32_t i = 0; i < n && chosen == n; ++i)
      if (modes_[i].modeClass != sources::kModeClassNeverDefault &&
          modes_[i].width + modes_[i].height == 560)
        chosen = i;
    if (chosen == n) {
      chosen = 0;
      for (uint32_t i = 0; i < n; ++i)
        if (modes_[i].modeClass != sources::kModeClassNeverDefault) chosen = i;
    }
    defaultMode_ = chosen;
    modeCount_ = n;
    for (uint32_t i = 0; i < n; ++i) {
      char16_t* label = resolutionLabels_[i].data();
      if (modes_[i].format == 0) {
        resolutionChoices_[i].label = nullptr;
        continue;
      }
      // A size that the camera offers in more than one mode is told apart by its format.
      bool sizeRepeats = false;
      for (uint32_t j = 0; j < n; ++j)
        sizeRepeats = sizeRepeats || (j != i && modes_[j].format != 0 &&
                                      modes_[j].width == modes_[i].width &&
                                      modes_[j].height == modes_[i].height);
      char narrow[24];
      if (sizeRepeats) {
        std::snprintf(narrow, sizeof narrow, "%ux%u %s", modes_[i].width, modes_[i].height,
                      formatName(modes_[i].format).c_str());
      } else {
        std::snprintf(narrow, sizeof narrow, "%ux%u", modes_[i].width, modes_[i].height);
      }
      size_t k = 0;
      for (; narrow[k] && k + 1 < resolutionLabels_[i].size(); ++k) label[k] = narrow[k];
      label[k] = 0;
      resolutionChoices_[i].label = label;
    }
    SourceSetting& resolution = common_[kSettingResolution];
    resolution.defaultIndex = static_cast<int32_t>(defaultMode_);
    resolution.count = n;
    if (static_cast<uint32_t>(settings::effectiveIndex(resolution)) >= n) resolution.current = -1;
    modesKnown_ = true;
    std::lock_guard lock(mutex_);
    streaming_ = false;
  }

  pacingClockMs_.store(0);
  refreshFrameSettings();

  const uint32_t resolutionMode =
      static_cast<uint32_t>(settings::effectiveIndex(common_[kSettingResolution])) % modeCount_;
  uint32_t modeIndex = resolutionMode;
  if (params.mode == sources::kModePreview) {
    if (modes_[resolutionMode].format == kFormatJpeg) {
      // A camera that only gives JPEG in this mode previews through a mode with an overlay.
      uint32_t lastOverlay = modeCount_;
      for (uint32_t i = 0; i < modeCount_; ++i) {
        if (!modes_[i].overlay) continue;
        if (modes_[i].overlay[1] == 1) modes_[i].overlay[0] = kOverlayPreviewColour;
        lastOverlay = i;
      }
      if (lastOverlay != modeCount_) modeIndex = lastOverlay;
    } else {
      modeIndex = defaultMode_;
    }
  }
  const PictureMode& mode = modes_[modeIndex];
  params.background = mode.overlay;
  params_.background = mode.overlay;

  const uint64_t need = uint64_t{mode.width} * mode.height * 2;
  if (need <= kFrameHeaderRoom || need > 0xFFFFFFFFu) return false;
  if (bufferBytes_ < need) {
    freeBuffers();
    buffers_[0].reset(new (std::nothrow) uint8_t[need]);
    buffers_[1].reset(new (std::nothrow) uint8_t[need]);
    if (!buffers_[0] || !buffers_[1]) {
      freeBuffers();
      return false;
    }
    bufferBytes_ = static_cast<uint32_t>(need);
  }

  const uint32_t turn = (static_cast<uint32_t>(commonValue(kSettingRotation)) + mode.rotationOffset) & 3;
  previewRotation_.store(params.screenOrientation + turn);
  // A mode that already delivers JPEG needs no encoder.
  if (params.mode != sources::kModePreview && mode.format != kFormatJpeg &&
      !prepareEncoder(mode.width, mode.height, static_cast<uint32_t>(commonValue(kSettingQuality)),
                      turn + params.screenOrientation))
    return false;

  currentFormat_ = mode;
  currentModeIndex_ = modeIndex;
  {
    std::lock_guard lock(mutex_);
    // producerBuffer_ stays: the target may still hold the frame in the other buffer.
    waiting_ = FrameDescriptor{};
    // A release left over from the last Halt must not let the next frame through early.
    taken_.reset();
    // Streaming before the device opens so that its first picture is not dropped.
    streaming_ = true;
  }
  if (!OpenDevice(static_cast<uint32_t>(commonValue(kSettingQuality)), params.mode)) {
    releaseProducers();
    clearWaiting();
    return false;
  }
  return true;
}

void CameraSource::releaseProducers() {
  {
    std::lock_guard lock(mutex_);
    streaming_ = false;
    waiting_ = FrameDescriptor{};
  }
  taken_.set();
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [&] { return producers_ == 0; });
}

void CameraSource::clearWaiting() {
  std::lock_guard lock(mutex_);
  waiting_ = FrameDescriptor{};
}

bool CameraSource::Halt() {
  {
    std::lock_guard lock(mutex_);
    if (!streaming_) return true;
  }
  releaseProducers();
  HaltDevice();
  clearWaiting();
  return true;
}

bool CameraSource::Stop() {
  if (!modesKnown_) return true;
  Halt();
  if (env_.store) {
    const char16_t* name = env_.text ? env_.text(NameTextId()) : nullptr;
    if (name) settings::saveSettingList(*env_.store, &common_[0], name);
  }
  CloseDevice();
  modesKnown_ = false;
  freeBuffers();
  clearWaiting();
  return true;
}

void CameraSource::freeBuffers() {
  buffers_[0].reset();
  buffers_[1].reset();
  bufferBytes_ = 0;
}

bool CameraSource::SetSetting(SourceSetting* setting, int32_t index) {
  if (setting == &common_[kSettingResolution] || setting == &common_[kSettingQuality] ||
      setting == &common_[kSettingRotation]) {
    // Takes effect by a restart; a source that is not running is left alone.
    if (!IsStarted()) return true;
    Halt();
    StartParams params = params_;
    return Start(params);
  }
  if (setting == &common_[kSettingFrameRate] || setting == &common_[kSettingMirror] ||
      setting == &common_[kSettingSwapColors])
    refreshFrameSettings();
  return ApplyDeviceSetting(setting, index);
}

uint32_t CameraSource::TakeFrame(FrameDescriptor* out) {
  uint32_t timestamp;
  {
    std::lock_guard lock(mutex_);
    if (!waiting_.data) return 0;
    timestamp = waiting_.timestampMs;
    if (!out) return timestamp;
    *out = waiting_;
    waiting_ = FrameDescriptor{};
    producerBuffer_ ^= 1;
  }
  taken_.set();
  return timestamp;
}

bool CameraSource::prepareEncoder(uint32_t w, uint32_t h, uint32_t quality, uint32_t rotation) {
  rotation &= 3;
  if (jpegContext_ && w % 16 == 0 && h % 16 == 0) {
    useJpegpress_ = true;
    encWidth_ = w;
    encHeight_ = h;
    encQuality_ = quality;
    encRotation_ = rotation;
    prepared_ = false;  // the system encoder's values are no longer the kept ones
    env_.jpegpress->SetQuality(jpegContext_, quality);
    return true;
  }
  useJpegpress_ = false;
  if (prepared_ && systemEncoder_ && w == encWidth_ && h == encHeight_ && quality == encQuality_ &&
      rotation == encRotation_)
    return true;
  encWidth_ = w;
  encHeight_ = h;
  encQuality_ = quality;
  encRotation_ = rotation;
  prepared_ = false;
  if (!env_.systemEncoder) return false;
  if (rotation & 1) std::swap(w, h);
  if (systemEncoder_) {
    systemEncoder_->operations->Release(systemEncoder_);
    systemEncoder_ = nullptr;
  }
  SystemEncoderCreation record;
  record.width = w;
  record.height = h;
  record.quality = quality;
  record.format = kFormatYv12;
  SystemEncoder* object = nullptr;
  if (env_.systemEncoder(&object, &record) != 0 || !object) {
    if (object) object->operations->Release(object);
    return false;
  }
  systemEncoder_ = object;
  if (object->operations->SetOption)
    object->operations->SetOption(object, kSystemEncoderOptionThumbnail, 0);
  prepared_ = true;
  return true;
}

uint32_t CameraSource::compress(FrameDescriptor& frame, uint8_t* destination, uint32_t room) {
  if (frame.format == kFormatJpeg) {
    if (frame.sizeBytes > room) return 0;
    std::memcpy(destination, frame.data, frame.sizeBytes);
    return frame.sizeBytes;
  }
  // The encoders are prepared for the mode's size; anything else is not encoded.
  if (frame.width != encWidth_ || frame.height != encHeight_) return 0;
  if (useJpegpress_) {
    EncodeParams params{frame.width, frame.height, jpegFormatCode(frame.format), 0, encRotation_,
                        kJpegSampling420};
    return env_.jpegpress->EncodeFrame(jpegContext_, destination, frame.data, &params, 1);
  }
  if (!systemEncoder_) return 0;
  const uint32_t w = frame.width, h = frame.height;
  if (isRgb(frame.format)) {
    RgbToUyvy(frame.data, size_t{w} * h * 2, rgbBits(frame.format));
    frame.sizeBytes = w * h * 2;
    frame.format = kFormatUyvy;
  }
  const auto encode = [&](const uint8_t* source, uint8_t* out, uint32_t outRoom) -> uint32_t {
    uint32_t size = outRoom;
    if (systemEncoder_->operations->Encode(systemEncoder_, source, out, &size) != 0) return 0;
    return size <= outRoom ? size : 0;
  };
  if (frame.format == kFormatYv12 && encRotation_ == 0) return encode(frame.data, destination, room);
  bool turned = false;
  if (frame.format == kFormatYv12)
    turned = TurnPlanar(destination, frame.data, w, h, encRotation_);
  else if (frame.format == kFormatUyvy)
    turned = UyvyToPlanar(destination, frame.data, w, h, encRotation_);
  if (!turned) return 0;
  // The turned picture sits in the destination; the source's bytes take the JPEG data.
  const uint32_t size = encode(destination, frame.data, std::min(frame.sizeBytes, room));
  if (size) std::memcpy(destination, frame.data, size);
  return size;
}

bool CameraSource::DeliverFrame(const FrameDescriptor* record, uint8_t* data, uint32_t size) {
  uint8_t* buffer;
  uint32_t bufferBytes;
  PictureMode mode;
  {
    std::lock_guard lock(mutex_);
    if (!streaming_ || !buffers_[0]) return false;
    ++producers_;
    buffer = buffers_[producerBuffer_].get();
    bufferBytes = bufferBytes_;
    mode = currentFormat_;
  }
  // Every way out of the buffer work goes through here.
  const auto leave = [&](bool result) {
    std::lock_guard lock(mutex_);
    if (--producers_ == 0) idle_.notify_all();
    return result;
  };

  FrameDescriptor frame;
  if (record) {
    frame = *record;
  } else {
    frame.data = data;
    frame.sizeBytes = size;
    frame.format = mode.format;
    frame.width = mode.width;
    frame.height = mode.height;
  }
  frame.timestampMs = clock().nowMs();
  if (frame.timestampMs == 0) frame.timestampMs = 1;
  if (!frame.data) return leave(false);
  // The buffers were sized for the mode: larger pictures would not fit.
  if (uint64_t{frame.width} * frame.height * 2 > bufferBytes) return leave(false);

  const int32_t swapColors = swapColors_.load();
  if (swapColors & 2) {
    switch (frame.format) {
      case kFormatNv12: frame.format = kFormatYv12; break;
      case kFormatYv12: frame.format = kFormatNv12; break;
      case kFormatUyvy: frame.format = kFormatYv16; break;
      case kFormatYv16: frame.format = kFormatUyvy; break;
      default: break;
    }
  }
  const bool swap = ((swapColors & 1) != 0) == (mode.nativeSwap == 0);
  const bool flip = (mirror_.load() == 1) == (mode.nativeFlip == 0);
  if (!normaliseFrame(frame, swap, flip, buffer)) return leave(false);

  if (params_.preview) params_.preview(params_.user, &frame, previewRotation_.load(), buffer);

  if (params_.mode != sources::kModePreview) {
    const uint32_t jpegBytes = compress(frame, buffer + kFrameHeaderRoom, bufferBytes - kFrameHeaderRoom);
    if (jpegBytes != 0) {
      FrameDescriptor published = frame;
      published.data = buffer + kFrameHeaderRoom;
      published.sizeBytes = jpegBytes;
      published.format = kFormatJpeg;
      bool publish;
      {
        std::lock_guard lock(mutex_);
        publish = streaming_;
        if (publish) waiting_ = published;
      }
      if (!publish) return leave(false);
      if (params_.frameReady) params_.frameReady->set();
      // Until this frame was taken or the source halted; a stale release is ignored.
      for (;;) {
        taken_.wait();
        std::lock_guard lock(mutex_);
        if (!streaming_ || waiting_.data != published.data) break;
      }
    }
  }
  {
    std::lock_guard lock(mutex_);
    if (!streaming_) {
      if (--producers_ == 0) idle_.notify_all();
      return false;
    }
  }
  leave(true);

  // Pacing, outside the buffer work so that Halt does not wait for it.
  const uint32_t due = pacingClockMs_.load() + static_cast<uint32_t>(frameRateMs_.load());
  platform::Clock& c = clock();
  const uint32_t ahead = due - c.nowMs();
  if (frameRateMs_.load() > 0 && ahead != 0 && ahead < kPacingLimitMs) c.sleepMs(ahead);
  pacingClockMs_.store(c.nowMs());
  return true;
}

}  // namespace camera
