#include "makers/htc_camera.h"

#include <initializer_list>

#include "device_settings.h"
#include "texts/text_ids.h"

namespace makers {

using sources::PictureMode;
using sources::SettingChoice;
using sources::SourceSetting;

namespace {

bool among(uint32_t code, std::initializer_list<uint32_t> codes) {
  for (uint32_t c : codes)
    if (c == code) return true;
  return false;
}

// Codes whose camera gives JPEG and has its own overlay.
bool jpegModel(uint32_t code) { return among(code, {2, 12, 13}); }

struct Size {
  uint32_t width, height;
};

constexpr Size kSizes[] = {{160, 120}, {176, 144},  {320, 240},  {352, 288}, {640, 480},
                           {1280, 960}, {1280, 1024}, {1600, 1200}, {2048, 1536}};

Size largestSize(uint32_t code, bool front) {
  if (front) {
    if (among(code, {2, 13, 18})) return {640, 480};
    if (code == 12) return {320, 240};
    return {352, 288};
  }
  if (among(code, {0, 1, 34})) return {1280, 960};
  if (among(code, {2, 18, 29, 31})) return {2048, 1536};
  if (among(code, {5, 12, 13, 14, 15, 16, 17, 23, 24, 25, 27, 28, 30, 32, 33})) return {1600, 1200};
  if (code == 8) return {640, 480};
  return {1280, 1024};
}

uint32_t modeFormat(uint32_t code) {
  if (among(code, {18, 29})) return sources::kFormatNv12;
  if (jpegModel(code)) return sources::kFormatJpeg;
  if (among(code, {19, 20})) return sources::kFormatYv16;
  return sources::kFormatUyvy;
}

const SettingChoice kExposureChoices[] = {{texts::kTextAuto, 0, nullptr}, {texts::kTextLocked, 1, nullptr}};
const SettingChoice kWhiteBalanceChoices[] = {
    {texts::kTextAuto, 0, nullptr},         {texts::kTextDayLight, 1, nullptr},
    {texts::kTextCloudy, 2, nullptr},       {texts::kTextIncandescent, 3, nullptr},
    {texts::kTextFluorescent, 4, nullptr}};
const SettingChoice kFlickerChoices[] = {
    {texts::kTextAuto, 0, nullptr}, {texts::kText50Hz, 1, nullptr}, {texts::kText60Hz, 2, nullptr}};
// Night Mode and Effect share property 10, where 1 is the plain picture.
const SettingChoice kNightModeChoices[] = {{texts::kTextNormal, 1, nullptr}, {texts::kTextNight, 6, nullptr}};
const SettingChoice kEffectChoices[] = {
    {texts::kTextNormal, 1, nullptr}, {texts::kTextGrayscale, 2, nullptr}, {texts::kTextSepia, 3, nullptr},
    {texts::kTextCool, 4, nullptr},   {texts::kTextNegative, 5, nullptr}};

enum HtcSetting : size_t {
  kExposure, kWhiteBalance, kFlicker, kNightMode, kEffect, kContrast, kBrightness, kSaturation,
  kHue, kGamma, kSharpness, kHtcSettingCount
};
constexpr uint32_t kProperties[] = {htc::kPropExposure,   htc::kPropWhiteBalance, htc::kPropFlicker,
                                    htc::kPropEffect,     htc::kPropEffect,       htc::kPropContrast,
                                    htc::kPropBrightness, htc::kPropSaturation,   htc::kPropHue,
                                    htc::kPropGamma,      htc::kPropSharpness};

}  // namespace

uint32_t htc::listModes(uint32_t code, bool smartphone, bool front, uint32_t* overlay, PictureMode* modes) {
  const Size largest = largestSize(code, front);
  Size limit = largest;
  if (!front && !among(code, {0, 1, 4, 7, 12, 13}))
    limit = smartphone ? Size{352, 288} : Size{640, 480};
  const uint32_t format = modeFormat(code);
  const uint8_t swap = among(code, {3, 5, 6}) || smartphone ? 1 : 0;
  const uint32_t turn = among(code, {4, 6, 7, 12, 14}) ? 3 : (smartphone ? 0 : 1);
  uint32_t n = 0;
  for (const Size& s : kSizes) {
    if (code == 12 && s.width * s.height < 320 * 240) continue;
    if (s.width > largest.width || s.height > largest.height) continue;
    if (s.width == 1280 && s.height == 1024 && largest.height >= 1536) continue;
    if (s.width == 1280 && s.height == 960 && largest.height >= 1024 && largest.height <= 1200) continue;
    if (code == 12 && s.width == 352) continue;
    PictureMode m;
    m.width = s.width;
    m.height = s.height;
    m.format = format;
    m.modeClass = s.width > limit.width ? sources::kModeClassNeverDefault : 2;
    m.nativeSwap = swap;
    m.rotationOffset = turn;
    modes[n++] = m;
  }
  if (jpegModel(code)) {
    // Preview through the device's own overlay: a mode without a label.
    PictureMode m;
    m.width = 320;
    m.height = 240;
    m.format = 0;
    m.modeClass = 2;
    m.nativeSwap = swap;
    m.rotationOffset = turn;
    m.overlay = overlay;
    modes[n++] = m;
  }
  return n;
}

uint32_t htc::correctFrame(uint32_t code, uint32_t format, uint32_t width, uint32_t height, uint8_t* data,
                           uint32_t size) {
  const uint64_t pixels = uint64_t{width} * height;
  if ((format == sources::kFormatNv12 || format == sources::kFormatYv12) && size == pixels * 2)
    format = sources::kFormatUyvy;
  else if ((format == sources::kFormatYv16 || format == sources::kFormatUyvy) && size == pixels * 3 / 2)
    format = sources::kFormatNv12;
  if (code == 0 && format == sources::kFormatUyvy && size >= pixels * 2 &&
      ((width == 320 && height == 240) || (width == 160 && height == 120))) {
    // The sensor leaves garbage in the rightmost columns.
    const uint32_t black = width == 160 ? 6 : 4;
    for (uint32_t y = 0; y < height; ++y) {
      uint8_t* p = data + (size_t{y} * width + width - black) * 2;
      for (uint32_t x = 0; x < black; x += 2, p += 4) platform::store32(p, 0x00800080u);
    }
  }
  return format;
}

uint32_t htc::qualityLevel(uint32_t quality) {
  if (quality <= 40) return 1;
  if (quality <= 60) return 2;
  if (quality <= 80) return 4;
  return 8;
}

HtcCamera::HtcCamera(camera::CameraEnvironment environment,
                     std::shared_ptr<const sources::HtcCameraLibrary> library, bool frontSensor)
    : camera::CameraSource(std::move(environment)), library_(std::move(library)), front_(frontSensor),
      code_(library_->modelCode) {}

HtcCamera::~HtcCamera() { Stop(); }

uint32_t HtcCamera::NameTextId() { return front_ ? texts::kTextFrontSensor : texts::kTextCameraPlus; }

SourceSetting* HtcCamera::AppendSettings(const SettingChoice*, uint32_t) {
  uint32_t reported = 0;
  auto getProperty = reinterpret_cast<htc::GetPropertyFn>(library_->cameraGetProperty);
  const bool fineBrightness = (getProperty && getProperty(htc::kPropBrightness, &reported) && reported > 15) ||
                              among(code_, {6, 7, 10, 11, 34});
  const bool wideColours = among(code_, {10, 11});
  device_[kExposure] = choiceSetting(texts::kTextExposure, 0, kExposureChoices);
  device_[kWhiteBalance] = choiceSetting(texts::kTextWhiteBalance, 0, kWhiteBalanceChoices);
  device_[kFlicker] = choiceSetting(texts::kTextFlicker, 0, kFlickerChoices);
  device_[kNightMode] = choiceSetting(texts::kTextNightMode, 0, kNightModeChoices);
  device_[kEffect] = choiceSetting(texts::kTextEffect, 0, kEffectChoices);
  device_[kContrast] = steppedSetting(texts::kTextContrast, 4, 9);
  device_[kBrightness] = fineBrightness ? steppedSetting(texts::kTextBrightness, 8, 18, 0, 15)
                                        : steppedSetting(texts::kTextBrightness, 4, 9);
  device_[kSaturation] = wideColours ? steppedSetting(texts::kTextSaturation, 4, 10)
                                     : steppedSetting(texts::kTextSaturation, 3, 9);
  device_[kHue] = wideColours ? steppedSetting(texts::kTextHue, 4, 10) : steppedSetting(texts::kTextHue, 4, 8);
  device_[kGamma] = steppedSetting(texts::kTextGamma, 0, 11);
  device_[kSharpness] = steppedSetting(texts::kTextSharpness, 0, 15, 1, 1);
  linkSettings(device_.data(), device_.size());
  if (!jpegModel(code_)) return &device_[kExposure];
  if (!front_) return &device_[kWhiteBalance];
  // The second sensor of these models has brightness and flicker only.
  device_[kBrightness].next = &device_[kFlicker];
  device_[kFlicker].next = nullptr;
  return &device_[kBrightness];
}

bool HtcCamera::setProperty(uint32_t property, int32_t value) {
  auto set = reinterpret_cast<htc::SetPropertyFn>(library_->cameraSetProperty);
  if (!set) return false;
  uint32_t word = static_cast<uint32_t>(value);
  const uintptr_t argument = library_->isSmartphone ? word : reinterpret_cast<uintptr_t>(&word);
  return set(property, argument) != 0;
}

uint32_t HtcCamera::propertyOf(const SourceSetting* setting) {
  for (const SourceSetting* s = DeviceSettingList(); s; s = s->next)
    if (s == setting) return kProperties[indexOf(s, device_.data(), device_.size())];
  return 0;
}

bool HtcCamera::ApplyDeviceSetting(SourceSetting* setting, int32_t) {
  const uint32_t property = propertyOf(setting);
  if (property == 0) return true;  // not one of this sensor's settings
  if (!open_) return true;         // sent when the modes are listed
  return setProperty(property, settings::settingValue(*setting));
}

void HtcCamera::Reset() {
  for (SourceSetting* s = DeviceSettingList(); s; s = s->next) ApplyDeviceSetting(s, settings::effectiveIndex(*s));
}

uint32_t HtcCamera::EnumerateModes(PictureMode* modes, uint32_t) {
  if (!open_) {
    auto init = reinterpret_cast<htc::InitFn>(library_->cameraInit);
    if (!init || init(front_ ? htc::kFrontSensor : htc::kMainSensor) == 0) return 0;
    open_ = true;
  }
  if (jpegModel(code_)) {
    setProperty(35, 16);
    setProperty(11, 2);
    setProperty(69, 0);
    setProperty(75, 0);
  }
  if (among(code_, {18, 29})) setProperty(15, 1);
  setProperty(htc::kPropEffect, 1);
  for (SourceSetting* s = DeviceSettingList(); s; s = s->next) {
    if (s->current == -1 || s == &device_[kExposure]) continue;
    const int32_t value = settings::settingValue(*s);
    if (s == &device_[kEffect] && value == 1) continue;
    setProperty(propertyOf(s), value);
  }
  return htc::listModes(code_, library_->isSmartphone, front_, overlay_, modes);
}

void HtcCamera::onFrame(void* user, uint8_t* data, uint32_t size) {
  auto* self = static_cast<HtcCamera*>(user);
  if (data != nullptr) {
    const PictureMode& mode = self->currentFormat();
    sources::FrameDescriptor frame;
    frame.data = data;
    frame.sizeBytes = size;
    frame.width = mode.width;
    frame.height = mode.height;
    frame.format = htc::correctFrame(self->code_, mode.format, mode.width, mode.height, data, size);
    self->DeliverFrame(&frame, data, size);
  }
  if (self->stillMode_.load()) {
    if (auto taken = std::atomic_load(&self->stillTaken_)) taken->set();
  }
}

bool HtcCamera::OpenDevice(uint32_t quality, uint32_t) {
  if (!open_) return false;
  if (jpegModel(code_)) setProperty(htc::kPropQuality, static_cast<int32_t>(htc::qualityLevel(quality)));
  auto begin = reinterpret_cast<htc::BeginFn>(library_->cameraBegin);
  auto end = reinterpret_cast<htc::EndFn>(library_->cameraEnd);
  const PictureMode mode = currentFormat();
  if (mode.modeClass != sources::kModeClassNeverDefault) {
    stillMode_ = false;
    streaming_ = begin(mode.width, mode.height, 0, &HtcCamera::onFrame, this) != 0;
    return streaming_;
  }
  // One picture at a time: ask, wait until it went through, ask again.
  auto taken = std::make_shared<platform::Event>(platform::Event::Reset::kAuto);
  std::atomic_store(&stillTaken_, taken);
  stillMode_ = true;
  return still_.start([this, begin, end, taken, mode](const Producer::StopFlag& stop) {
    while (!stop->load()) {
      if (begin(mode.width, mode.height, 1, &HtcCamera::onFrame, this) != 0) {
        while (!stop->load() && !taken->wait(50)) {
        }
        end();
      } else {
        taken->wait(20);  // a short pause before asking again
      }
    }
  });
}

bool HtcCamera::HaltDevice() {
  if (still_.running()) {
    if (auto taken = std::atomic_load(&stillTaken_)) taken->set();
    still_.stop(htc::kJoinMs);
  }
  stillMode_ = false;
  if (streaming_) reinterpret_cast<htc::EndFn>(library_->cameraEnd)();
  streaming_ = false;
  return true;
}

void HtcCamera::CloseDevice() {
  if (!open_) return;
  reinterpret_cast<htc::DeinitFn>(library_->cameraDeinit)();
  open_ = false;
}

std::unique_ptr<sources::CaptureSource> makeHtcCamera(camera::CameraEnvironment environment,
                                                      std::shared_ptr<const sources::HtcCameraLibrary> library,
                                                      bool frontSensor) {
  return std::make_unique<HtcCamera>(std::move(environment), std::move(library), frontSensor);
}

}  // namespace makers
