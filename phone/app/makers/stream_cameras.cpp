#include "makers/stream_cameras.h"

#include <cstring>

#include "device_settings.h"
#include "texts/text_ids.h"

namespace makers {

using sources::PictureMode;
using sources::SettingChoice;
using sources::SourceSetting;

bool SharedDriver::control(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                           uint32_t* returned) {
  std::lock_guard lock(mutex_);
  return handle_->control(code, in, inSize, out, outSize, returned);
}

bool SharedDriver::controlByte(uint32_t code, uint8_t value) { return control(code, &value, 1); }

bool SharedDriver::read(void* buffer, uint32_t size, uint32_t* got) {
  std::lock_guard lock(mutex_);
  return handle_->read(buffer, size, got);
}

StreamCamera::StreamCamera(camera::CameraEnvironment environment, DriverPort& port)
    : camera::CameraSource(environment), port_(port),
      clock_(environment.clock ? environment.clock : &platform::systemClock()) {}

StreamCamera::~StreamCamera() = default;

uint32_t StreamCamera::NameTextId() { return texts::kTextCameraPlus; }

bool StreamCamera::pause(const Producer::StopFlag& stop, uint32_t ms) {
  // Long waits are cut into short ones so that a stop is seen quickly.
  while (ms > 0 && !stop->load()) {
    const uint32_t piece = ms < 20 ? ms : 20;
    clock_->sleepMs(piece);
    ms -= piece;
  }
  return !stop->load();
}

bool StreamCamera::HaltDevice() {
  if (producer_.running()) producer_.stop(kStreamJoinMs);
  if (driver_) afterHalt();
  return true;
}

// ---- "CAM1:" ----

namespace {

struct Cam1Mode {
  uint32_t width, height;
};
// The driver's own order: a capture request names a mode by its position here.
constexpr Cam1Mode kCam1Modes[] = {{176, 144}, {352, 288}, {320, 240},
                                   {640, 480}, {1280, 960}, {1600, 1200}};
constexpr uint32_t kCam1StreamingMode = 2;  // 320 x 240, RGB 5-6-5

const SettingChoice kCam1Flicker[] = {{texts::kText50Hz, 0, nullptr}, {texts::kText60Hz, 1, nullptr}};
const SettingChoice kCam1Effect[] = {
    {texts::kTextNormal, 0, nullptr}, {texts::kTextGrayscale, 1, nullptr},
    {texts::kTextSepia, 2, nullptr},  {texts::kTextCool, 3, nullptr},
    {texts::kTextNegative, 4, nullptr}, {texts::kTextNight, 5, nullptr}};
const SettingChoice kCam1Zoom[] = {{0, 0, u"1x"}, {0, 1, u"2x"}, {0, 2, u"3x"}, {0, 3, u"4x"},
                                   {0, 4, u"5x"}, {0, 5, u"6x"}, {0, 6, u"7x"}};

// List order, and each setting's request.
enum Cam1Setting : size_t {
  kExposure, kBrightness, kRed, kBlue, kWhiteBalance, kGainControl, kFlicker, kEffect, kZoom
};
constexpr uint32_t kCam1Codes[] = {cam1::kExposure,     cam1::kBrightness,  cam1::kRed,
                                   cam1::kBlue,         cam1::kWhiteBalance, cam1::kGainControl,
                                   cam1::kFlicker,      cam1::kEffect,       cam1::kZoom};

uint32_t cam1Position(const PictureMode& mode) {
  for (uint32_t i = 0; i < std::size(kCam1Modes); ++i)
    if (kCam1Modes[i].width == mode.width && kCam1Modes[i].height == mode.height) return i;
  return kCam1StreamingMode;
}

}  // namespace

Cam1Camera::Cam1Camera(camera::CameraEnvironment environment, DriverPort& port)
    : StreamCamera(std::move(environment), port) {}

Cam1Camera::~Cam1Camera() { Stop(); }

SourceSetting* Cam1Camera::AppendSettings(const SettingChoice*, uint32_t) {
  device_[kExposure] = steppedSetting(texts::kTextExposure, 0, 11, 0, 3);
  device_[kBrightness] = steppedSetting(texts::kTextBrightness, 8, 16, 0, 4);
  device_[kRed] = steppedSetting(texts::kTextRed, 8, 16, 0, 16);
  device_[kBlue] = steppedSetting(texts::kTextBlue, 8, 16, 0, 16);
  device_[kWhiteBalance] = steppedSetting(texts::kTextWhiteBalance, 1, 2);
  device_[kGainControl] = steppedSetting(texts::kTextGainControl, 1, 2);
  device_[kFlicker] = choiceSetting(texts::kTextFlicker, 0, kCam1Flicker);
  device_[kEffect] = choiceSetting(texts::kTextEffect, 0, kCam1Effect);
  device_[kZoom] = choiceSetting(texts::kTextZoom, 0, kCam1Zoom);
  return linkSettings(device_.data(), device_.size());
}

bool Cam1Camera::write(const SourceSetting& setting) {
  const size_t i = indexOf(&setting, device_.data(), device_.size());
  if (i == device_.size() || !driver_) return true;
  return driver_->controlByte(kCam1Codes[i], static_cast<uint8_t>(settings::settingValue(setting)));
}

bool Cam1Camera::ApplyDeviceSetting(SourceSetting* setting, int32_t) {
  if (setting != &device_[kZoom] || !IsStarted()) return write(*setting);
  // The driver takes a new zoom only while it is halted.
  Halt();
  const bool written = write(*setting);
  sources::StartParams params = startParams();
  return Start(params) && written;
}

void Cam1Camera::Reset() {
  if (!driver_) return;
  for (const SourceSetting& s : device_) write(s);
  driver_->controlByte(cam1::kResetDone, 0);
}

uint32_t Cam1Camera::EnumerateModes(PictureMode* modes, uint32_t) {
  if (!driver_) {
    auto handle = port_.open(u"CAM1:", DriverOpen{kGenericRead, 0, kOpenExisting, 0});
    if (!handle) return 0;
    driver_ = std::make_shared<SharedDriver>(std::move(handle));
    appEvent_ = port_.createNamedEvent(u"CAMERAAPPEVENT");
    codecEvent_ = port_.createNamedEvent(u"CAMERACODECEVENT");
    if (!appEvent_ || !codecEvent_ || !driver_->control(cam1::kOpen)) {
      appEvent_.reset();
      codecEvent_.reset();
      driver_.reset();
      return 0;
    }
    uint8_t sensor = 255;
    uint32_t got = 0;
    if (!driver_->control(cam1::kSensorType, nullptr, 0, &sensor, 1, &got) || got < 1) sensor = 255;
    sensorType_ = sensor;
    driver_->controlByte(cam1::kPrepare, 0);
    area_ = port_.mapFrameArea(sensor >= 3 && sensor <= 7 ? cam1::kAreaSensors3To7 : cam1::kAreaOther,
                               cam1::kAreaBytes);
    private_ = std::make_shared<std::vector<uint8_t>>(cam1::kSlotBytes);
    if (area_ == nullptr) {
      // Without its frame area the driver gives no pictures.
      CloseDevice();
      return 0;
    }
    Reset();
  }
  uint32_t n = 0;
  for (uint32_t i = 0; i < std::size(kCam1Modes); ++i) {
    PictureMode m;
    m.width = kCam1Modes[i].width;
    m.height = kCam1Modes[i].height;
    const bool rgb = i == kCam1StreamingMode;
    m.format = rgb ? sources::kFormatRgb565 : sources::kFormatYv16;
    m.modeClass = rgb ? 2 : sources::kModeClassNeverDefault;
    m.nativeSwap = rgb ? 0 : 1;
    m.rotationOffset = 3;
    modes[n++] = m;
  }
  return n;
}

bool Cam1Camera::OpenDevice(uint32_t, uint32_t) {
  if (!driver_ || !area_) return false;
  const PictureMode mode = currentFormat();
  const uint32_t position = cam1Position(mode);
  auto driver = driver_;
  auto privateBuffer = private_;
  uint8_t* area = area_;
  streamingMode_ = position == kCam1StreamingMode;
  if (streamingMode_) {
    if (!driver->control(cam1::kStartStream)) return false;
    return producer_.start([this, driver, privateBuffer, area](const Producer::StopFlag& stop) {
      if (!pause(stop, cam1::kStreamWarmUpMs)) return;
      while (!stop->load()) {
        uint8_t answer[4] = {};
        uint32_t got = 0;
        if (driver->control(cam1::kReadyIndex, nullptr, 0, answer, sizeof answer, &got)) {
          uint32_t index = platform::load32(answer);
          if (index >= cam1::kSlots) index = 0;
          std::memcpy(privateBuffer->data(), area + size_t{cam1::kSlotBytes} * index, cam1::kSlotBytes);
          DeliverFrame(nullptr, privateBuffer->data(), cam1::kSlotBytes);
        }
        pause(stop, cam1::kStreamPollMs);
      }
    });
  }
  const uint32_t bytes = mode.width * mode.height * 2;
  return producer_.start([this, driver, area, position, bytes](const Producer::StopFlag& stop) {
    while (!stop->load()) {
      if (driver->controlByte(cam1::kCapture, static_cast<uint8_t>(position))) {
        DeliverFrame(nullptr, area + cam1::kSlotBytes, bytes);
      } else {
        pause(stop, cam1::kCaptureRetryMs);
      }
    }
  });
}

void Cam1Camera::afterHalt() {
  if (streamingMode_) driver_->control(cam1::kStopStream);
  streamingMode_ = false;
}

void Cam1Camera::CloseDevice() {
  if (driver_) driver_->control(cam1::kClose);  // the handle is closed whatever it answers
  driver_.reset();
  appEvent_.reset();
  codecEvent_.reset();
  private_.reset();
  area_ = nullptr;
}

// ---- "CAM2:" ----

namespace {
constexpr Cam1Mode kCam2Modes[] = {{160, 120}, {320, 240}, {640, 480},
                                   {800, 600}, {1280, 960}, {1600, 1200}};
}  // namespace

uint32_t cam2::captureCode(uint32_t width) {
  switch (width) {
    case 160: return 100035;
    case 320: return 100042;
    case 640: return 100017;
    case 800: return 100018;
    case 1280: return 100019;
    case 1600: return 100020;
    default: return 0;
  }
}

Cam2Camera::Cam2Camera(camera::CameraEnvironment environment, DriverPort& port)
    : StreamCamera(std::move(environment), port) {}

Cam2Camera::~Cam2Camera() { Stop(); }

uint32_t Cam2Camera::EnumerateModes(PictureMode* modes, uint32_t) {
  if (!driver_) {
    auto handle = port_.open(u"CAM2:", DriverOpen{kGenericRead, 0, kOpenExisting, 0});
    if (!handle) return 0;
    driver_ = std::make_shared<SharedDriver>(std::move(handle));
    buffer_ = std::make_shared<std::vector<uint8_t>>(cam2::kBufferBytes);
  }
  uint32_t n = 0;
  for (const Cam1Mode& size : kCam2Modes) {
    PictureMode m;
    m.width = size.width;
    m.height = size.height;
    m.format = sources::kFormatYv16;
    m.modeClass = 2;
    modes[n++] = m;
  }
  return n;
}

bool Cam2Camera::OpenDevice(uint32_t, uint32_t) {
  if (!driver_) return false;
  const PictureMode mode = currentFormat();
  const uint32_t code = cam2::captureCode(mode.width);
  const uint32_t bytes = mode.width * mode.height * 2;
  if (code == 0 || bytes > buffer_->size()) return false;
  auto record = std::make_shared<std::array<uint8_t, cam2::kRecordBytes>>();
  record->fill(0);
  uint8_t answer = 0;
  if (!driver_->control(cam2::kPrepare, record->data(), cam2::kRecordBytes, &answer, 1)) return false;
  platform::store32(record->data() + 4, cam2::kModeWord);
  if (!driver_->control(cam2::kMode, record->data(), cam2::kRecordBytes)) return false;
  auto driver = driver_;
  auto buffer = buffer_;
  return producer_.start([this, driver, buffer, record, code, bytes](const Producer::StopFlag& stop) {
    while (!stop->load()) {
      platform::store32(record->data(), cam2::kCaptureCommand);
      // The driver answers into the record; its third word is the picture's status.
      if (driver->control(code, record->data(), cam2::kRecordBytes, buffer->data(), bytes) &&
          static_cast<int32_t>(platform::load32(record->data() + 8)) >= 0)
        DeliverFrame(nullptr, buffer->data(), bytes);
      pause(stop, cam2::kPollMs);
    }
  });
}

void Cam2Camera::afterHalt() { driver_->control(cam2::kStop); }

void Cam2Camera::CloseDevice() {
  driver_.reset();
  buffer_.reset();
}

// ---- "DSC1:" ----

namespace {
constexpr Cam1Mode kDsc1Modes[] = {{88, 72},   {160, 120}, {176, 144}, {320, 240},
                                   {352, 288}, {640, 480}, {1280, 960}};
enum Dsc1Setting : size_t { kDscBrightness, kDscContrast };
// Fixed items of the start, after brightness and contrast.
constexpr uint32_t kDsc1StartPairs[][2] = {{7, 27}, {6, 3}, {13, 4}, {14, 0}};
constexpr uint32_t kDsc1FinalPair[2] = {16, 100};
}  // namespace

uint32_t dsc1::sizeCode(uint32_t width) {
  switch (width) {
    case 88: return 5;
    case 160: return 1;
    case 176: return 7;
    case 320: return 2;
    case 352: return 8;
    case 640: return 3;
    case 1280: return 4;
    default: return 0;
  }
}

Dsc1Camera::Dsc1Camera(camera::CameraEnvironment environment, DriverPort& port)
    : StreamCamera(std::move(environment), port) {}

Dsc1Camera::~Dsc1Camera() { Stop(); }

SourceSetting* Dsc1Camera::AppendSettings(const SettingChoice*, uint32_t) {
  device_[kDscBrightness] = steppedSetting(texts::kTextBrightness, 6, 9);
  device_[kDscContrast] = steppedSetting(texts::kTextContrast, 3, 7);
  return linkSettings(device_.data(), device_.size());
}

bool Dsc1Camera::setPair(uint32_t item, int32_t value) {
  uint8_t pair[8];
  platform::store32(pair, item);
  platform::store32(pair + 4, static_cast<uint32_t>(value));
  return driver_->control(dsc1::kSet, pair, sizeof pair);
}

bool Dsc1Camera::ApplyDeviceSetting(SourceSetting* setting, int32_t) {
  const size_t i = indexOf(setting, device_.data(), device_.size());
  if (i == device_.size() || !driver_) return true;
  return setPair(i == kDscBrightness ? dsc1::kBrightnessItem : dsc1::kContrastItem,
                 settings::settingValue(*setting));
}

void Dsc1Camera::Reset() {
  for (SourceSetting& s : device_) ApplyDeviceSetting(&s, settings::effectiveIndex(s));
}

uint32_t Dsc1Camera::EnumerateModes(PictureMode* modes, uint32_t) {
  if (!driver_) {
    auto handle = port_.open(u"DSC1:", DriverOpen{kGenericRead | kGenericWrite, kShareRead | kShareWrite,
                                                  kOpenExisting, kAttributeNormal});
    if (!handle) return 0;
    driver_ = std::make_shared<SharedDriver>(std::move(handle));
    buffer_ = std::make_shared<std::vector<uint8_t>>(dsc1::kBufferBytes);
  }
  uint32_t n = 0;
  for (const Cam1Mode& size : kDsc1Modes) {
    PictureMode m;
    m.width = size.width;
    m.height = size.height;
    m.format = sources::kFormatUyvy;
    m.modeClass = 2;
    modes[n++] = m;
  }
  return n;
}

bool Dsc1Camera::OpenDevice(uint32_t, uint32_t) {
  if (!driver_) return false;
  const PictureMode mode = currentFormat();
  const uint32_t code = dsc1::sizeCode(mode.width);
  const uint32_t bytes = mode.width * mode.height * 2;
  if (code == 0 || bytes > buffer_->size()) return false;
  // Brightness and contrast start at their settings (6 and 3 unless the user chose).
  bool ok = setPair(dsc1::kBrightnessItem, settings::settingValue(device_[kDscBrightness])) &&
            setPair(dsc1::kContrastItem, settings::settingValue(device_[kDscContrast]));
  for (const auto& pair : kDsc1StartPairs) ok = ok && setPair(pair[0], static_cast<int32_t>(pair[1]));
  ok = ok && driver_->control(dsc1::kRun);
  uint8_t size[24];
  const uint32_t words[6] = {1, 1, code, 2, mode.height, mode.width};
  for (int i = 0; i < 6; ++i) platform::store32(size + 4 * i, words[i]);
  ok = ok && driver_->control(dsc1::kSet, size, sizeof size);
  ok = ok && setPair(kDsc1FinalPair[0], static_cast<int32_t>(kDsc1FinalPair[1]));
  if (!ok) return false;
  auto driver = driver_;
  auto buffer = buffer_;
  return producer_.start([this, driver, buffer, bytes](const Producer::StopFlag& stop) {
    while (!stop->load()) {
      uint32_t got = 0;
      if (driver->read(buffer->data(), bytes, &got) && got == bytes) {
        DeliverFrame(nullptr, buffer->data(), bytes);
      } else {
        pause(stop, dsc1::kRetryMs);
      }
    }
  });
}

void Dsc1Camera::CloseDevice() {
  driver_.reset();
  buffer_.reset();
}

std::unique_ptr<sources::CaptureSource> makeStreamCamera(camera::CameraEnvironment environment,
                                                         sources::StreamDriver driver, DriverPort& port) {
  switch (driver) {
    case sources::StreamDriver::kCam1: return std::make_unique<Cam1Camera>(std::move(environment), port);
    case sources::StreamDriver::kCam2: return std::make_unique<Cam2Camera>(std::move(environment), port);
    case sources::StreamDriver::kDsc1: return std::make_unique<Dsc1Camera>(std::move(environment), port);
  }
  return nullptr;
}

}  // namespace makers
