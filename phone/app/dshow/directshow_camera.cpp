#include "dshow/directshow_camera.h"

#include <atomic>
#include <cstring>

#include "platform/event.h"
#include "settings/source_setting.h"
#include "texts/text_ids.h"

namespace dshow {

using sources::PictureMode;
using sources::SettingChoice;
using sources::SourceSetting;

namespace {

constexpr uint32_t kFormatRoom = 16;
constexpr uint32_t kMaxModesWithStills = 15;

const SettingChoice kZoomChoices[] = {
    {0, 100, u"1x"}, {0, 200, u"2x"}, {0, 300, u"3x"}, {0, 400, u"4x"},
    {0, 500, u"5x"}, {0, 600, u"6x"}, {0, 700, u"7x"}};
const SettingChoice kWhiteBalanceChoices[] = {
    {texts::kTextAuto, 0, nullptr},         {texts::kTextDayLight, 1, nullptr},
    {texts::kTextCloudy, 2, nullptr},       {texts::kTextIncandescent, 3, nullptr},
    {texts::kTextFluorescent, 4, nullptr}};
const SettingChoice kEffectChoices[] = {
    {texts::kTextNormal, 0, nullptr}, {texts::kTextSepia, 1, nullptr},
    {texts::kTextGrayscale, 2, nullptr}, {texts::kTextNegative, 3, nullptr}};

// List order, and the control position of each.
enum DeviceSetting : uint32_t { kBrightness = 0, kZoom, kWhiteBalance, kEffect };
constexpr uint32_t kPositions[] = {kPositionBrightness, kPositionZoom, kPositionWhiteBalance,
                                   kPositionEffect};

static_assert(sizeof(FramesinkTable) == sources::kFramesinkEntries * sizeof(void*),
              "the table is nine entry addresses");

}  // namespace

// Shared by the source and its still thread, so that a thread abandoned by HaltDevice
// never touches freed state.
struct DirectShowCamera::StillLoop {
  FramesinkTable table{};
  DirectShowCamera* source = nullptr;
  std::atomic<bool> stop{false};
  platform::Event taken{platform::Event::Reset::kAuto};

  static void onStill(uint8_t* data, uint32_t size, void* user) {
    auto* loop = static_cast<StillLoop*>(user);
    loop->source->DeliverFrame(nullptr, data, size);
    loop->taken.set();
  }

  void run() {
    const SampleCallback callback{&StillLoop::onStill, this};
    while (!stop.load()) {
      table.SinkTriggerStill(&callback);
      table.SinkSetState(kSinkRunning);
      taken.wait(platform::kInfinite);
    }
  }
};

FramesinkTable tableOf(const sources::FramesinkLibrary& library) {
  FramesinkTable table;
  std::memcpy(&table, library.table.data(), sizeof table);
  return table;
}

DirectShowCamera::DirectShowCamera(camera::CameraEnvironment environment,
                                   sources::FramesinkLibrary library)
    : camera::CameraSource(std::move(environment)), library_(std::move(library)),
      table_(tableOf(library_)), flavour_(library_.flavour) {}

DirectShowCamera::DirectShowCamera(camera::CameraEnvironment environment, const FramesinkTable& table,
                                   uint32_t flavour)
    : camera::CameraSource(std::move(environment)), table_(table), flavour_(flavour) {}

DirectShowCamera::~DirectShowCamera() {
  Stop();
  if (stillThread_.running()) {
    still_->stop = true;
    still_->taken.set();
    stillThread_.joinFor(kStillLoopJoinMs);
  }
}

uint32_t DirectShowCamera::NameTextId() { return texts::kTextCamera; }

SourceSetting* DirectShowCamera::AppendSettings(const SettingChoice*, uint32_t) {
  if (flavour_ != 1) return nullptr;
  auto make = [](uint32_t textId, int32_t defaultIndex, uint32_t count, const SettingChoice* choices) {
    SourceSetting s;
    s.textId = textId;
    s.defaultIndex = defaultIndex;
    s.count = count;
    s.choices = choices;
    s.key = settings::newSettingKey();
    return s;
  };
  device_[kBrightness] = make(texts::kTextBrightness, 5, 9, nullptr);
  device_[kBrightness].base = 0;
  device_[kBrightness].step = 1;
  device_[kZoom] = make(texts::kTextZoom, 0, 7, kZoomChoices);
  device_[kWhiteBalance] = make(texts::kTextWhiteBalance, 0, 5, kWhiteBalanceChoices);
  device_[kEffect] = make(texts::kTextEffect, 0, 4, kEffectChoices);
  for (size_t i = 0; i + 1 < device_.size(); ++i) device_[i].next = &device_[i + 1];
  return &device_[0];
}

uint32_t DirectShowCamera::positionOf(const SourceSetting* setting) const {
  if (flavour_ != 1) return UINT32_MAX;
  for (size_t i = 0; i < device_.size(); ++i)
    if (setting == &device_[i]) return kPositions[i];
  return UINT32_MAX;
}

bool DirectShowCamera::ApplyDeviceSetting(SourceSetting* setting, int32_t) {
  const uint32_t p = positionOf(setting);
  if (p == UINT32_MAX) return true;  // not a control of this camera
  ValueEntry entry{p < 8 ? p : p - 8, settings::settingValue(*setting), kControlManual, 0};
  const int32_t which = p < 8 ? kSinkCameraControls : (p > 17 ? -1 : kSinkPictureControls);
  table_.SinkGetSetValues(&entry, 1, which, 1);  // the camera's answer does not matter
  return true;
}

void DirectShowCamera::Reset() {
  if (flavour_ != 1) return;
  for (SourceSetting& s : device_) ApplyDeviceSetting(&s, settings::effectiveIndex(s));
}

uint32_t DirectShowCamera::EnumerateModes(PictureMode* modes, uint32_t) {
  if (table_.SinkOpen(kSinkPreview | kSinkCapture | kSinkStill) == 0) return 0;
  FormatEntry formats[kFormatRoom];
  uint32_t count = kFormatRoom;
  if (!table_.SinkGetFormats(formats, &count, kSinkCapture)) {
    table_.SinkClose();
    return 0;
  }
  count = std::min(count, kFormatRoom);
  uint32_t n = 0;
  largestCaptureArea_ = 0;
  for (uint32_t i = 0; i < count; ++i) {
    PictureMode m;
    m.width = static_cast<uint32_t>(std::abs(formats[i].width));
    m.height = static_cast<uint32_t>(std::abs(formats[i].height));
    m.format = formats[i].format;
    m.modeClass = 2;
    modes[n++] = m;
    largestCaptureArea_ = std::max<uint64_t>(largestCaptureArea_, uint64_t{m.width} * m.height);
  }
  count = kFormatRoom;
  if (table_.SinkGetFormats(formats, &count, kSinkStill)) {
    count = std::min(count, kFormatRoom);
    for (uint32_t i = 0; i < count && n < kMaxModesWithStills; ++i) {
      const uint32_t w = static_cast<uint32_t>(std::abs(formats[i].width));
      const uint32_t h = static_cast<uint32_t>(std::abs(formats[i].height));
      if (uint64_t{w} * h <= largestCaptureArea_) continue;
      PictureMode m;
      m.width = w;
      m.height = h;
      m.format = formats[i].format;
      m.modeClass = sources::kModeClassNeverDefault;
      modes[n++] = m;
    }
  }
  Reset();
  return n;
}

void DirectShowCamera::onCapture(uint8_t* data, uint32_t size, void* user) {
  static_cast<DirectShowCamera*>(user)->DeliverFrame(nullptr, data, size);
}

bool DirectShowCamera::OpenDevice(uint32_t, uint32_t) {
  const PictureMode& mode = currentFormat();
  const FormatEntry entry{static_cast<int32_t>(mode.width), static_cast<int32_t>(mode.height), mode.format};
  if (uint64_t{mode.width} * mode.height > largestCaptureArea_) {
    // A still-only mode: one still after the other on the still loop's thread.
    if (!table_.SinkSetFormat(&entry, kSinkStill)) return false;
    if (!table_.SinkSetCallback(nullptr, kSinkCapture)) return false;
    still_ = std::make_shared<StillLoop>();
    still_->table = table_;
    still_->source = this;
    auto loop = still_;
    return stillThread_.start([loop] { loop->run(); });
  }
  const SampleCallback callback{&DirectShowCamera::onCapture, this};
  return table_.SinkSetFormat(&entry, kSinkCapture) && table_.SinkSetCallback(&callback, kSinkCapture) &&
         table_.SinkSetState(kSinkRunning);
}

bool DirectShowCamera::HaltDevice() {
  if (stillThread_.running()) {
    still_->stop = true;
    still_->taken.set();
    stillThread_.joinFor(kStillLoopJoinMs);
  }
  table_.SinkSetState(kSinkStopped);
  return true;
}

void DirectShowCamera::CloseDevice() { table_.SinkClose(); }

std::unique_ptr<sources::CaptureSource> makeDirectShowCamera(camera::CameraEnvironment environment,
                                                             sources::FramesinkLibrary library) {
  return std::make_unique<DirectShowCamera>(std::move(environment), std::move(library));
}

}  // namespace dshow
