#include "makers/goforce_camera.h"

#include <vector>

#include "device_settings.h"
#include "texts/text_ids.h"

namespace makers {

using sources::PictureMode;
using sources::SettingChoice;
using sources::SourceSetting;

namespace {
// The entries in the order of sources::kGoForceExports.
enum Entry : size_t { kOpen, kClose, kGetAttribute, kComponentGet, kComponentRelease, kSurfaceAlloc, kSurfaceFree };
constexpr uint32_t kComponentIds[] = {goforce::kJpegEncoder, goforce::kCamera, goforce::kVideo, goforce::kBus};
enum Component : size_t { kEncoder, kCameraComponent };
// The encoder's output buffer in KiB.
const SettingChoice kBufferChoices[] = {{0, 256, u"256"}, {0, 512, u"512"}, {0, 1024, u"1024"}, {0, 2048, u"2048"}};
constexpr uint32_t kSurfaceWidth = 320, kSurfaceHeight = 240;

template <typename Fn>
Fn entry(const sources::GoForceLibrary& library, Entry which) {
  return reinterpret_cast<Fn>(library.entries[which]);
}
}  // namespace

uint32_t goforce::qualityLevel(uint32_t quality) {
  if (quality <= 30) return 5;
  if (quality <= 50) return 4;
  if (quality <= 60) return 3;
  if (quality <= 70) return 2;
  if (quality <= 80) return 1;
  return 0;
}

GoForceCamera::GoForceCamera(camera::CameraEnvironment environment, sources::GoForceLibrary library)
    : camera::CameraSource(std::move(environment)), library_(std::move(library)) {}

GoForceCamera::~GoForceCamera() { Stop(); }

uint32_t GoForceCamera::NameTextId() { return texts::kTextCameraPlus; }

SourceSetting* GoForceCamera::AppendSettings(const SettingChoice*, uint32_t) {
  buffer_ = choiceSetting(texts::kTextAdvanced, 2, kBufferChoices);
  return &buffer_;
}

void GoForceCamera::releaseSession() {
  auto release = entry<goforce::ComponentReleaseFn>(library_, kComponentRelease);
  for (void*& component : components_) {
    if (component) release(manager_, &component);
    component = nullptr;
  }
  if (surface_) entry<goforce::SurfaceFreeFn>(library_, kSurfaceFree)(manager_, &surface_);
  surface_ = nullptr;
  if (manager_) entry<goforce::CloseFn>(library_, kClose)(&manager_);
  manager_ = nullptr;
}

bool GoForceCamera::openSession() {
  if (entry<goforce::OpenFn>(library_, kOpen)(&manager_) != 0 || manager_ == nullptr) {
    manager_ = nullptr;
    return false;
  }
  auto get = entry<goforce::ComponentGetFn>(library_, kComponentGet);
  for (size_t i = 0; i < components_.size(); ++i) {
    if (get(manager_, &components_[i], kComponentIds[i]) != 0 || components_[i] == nullptr) {
      components_[i] = nullptr;
      releaseSession();
      return false;
    }
  }
  if (entry<goforce::SurfaceAllocFn>(library_, kSurfaceAlloc)(manager_, &surface_, kSurfaceWidth,
                                                              kSurfaceHeight) != 0 ||
      surface_ == nullptr) {
    surface_ = nullptr;
    releaseSession();
    return false;
  }
  return true;
}

uint32_t GoForceCamera::EnumerateModes(PictureMode* modes, uint32_t) {
  if (!manager_ && !openSession()) return 0;
  void* camera = components_[kCameraComponent];
  auto* ops = *static_cast<goforce::CameraOps**>(camera);
  uint32_t n = 0;
  for (uint32_t index = 0; n < sources::kMaxPictureModes; ++index) {
    uint32_t w = 0, h = 0;
    if (ops->SensorProbe(camera, index, &w, &h) != 0) break;
    if (w == 0 || h == 0 || w > 4096 || h > 4096) continue;  // not a picture size
    PictureMode m;
    m.width = w;
    m.height = h;
    m.format = sources::kFormatJpeg;
    m.modeClass = 2;
    modes[n++] = m;
  }
  if (n == 0) releaseSession();
  return n;
}

bool GoForceCamera::OpenDevice(uint32_t quality, uint32_t mode) {
  if (!manager_) return false;
  if (mode != sources::kModeCapture) return true;  // nothing to preview
  void* camera = components_[kCameraComponent];
  void* encoder = components_[kEncoder];
  auto* cameraOps = *static_cast<goforce::CameraOps**>(camera);
  auto* encoderOps = *static_cast<goforce::EncoderOps**>(encoder);
  const PictureMode format = currentFormat();
  if (encoderOps->Setup(encoder, camera, format.width, format.height, goforce::qualityLevel(quality),
                        static_cast<uint32_t>(settings::settingValue(buffer_))) != 0 ||
      cameraOps->Start(camera, surface_, format.width, format.height) != 0)
    return false;
  running_ = true;
  auto output = std::make_shared<std::vector<uint8_t>>(goforce::kBufferLimit);
  platform::Clock* clock = &platform::systemClock();
  return fetch_.start([this, encoder, encoderOps, output, clock](const Producer::StopFlag& stop) {
    for (uint32_t waited = 0; waited < goforce::kWarmUpMs && !stop->load(); waited += 20) clock->sleepMs(20);
    while (!stop->load()) {
      uint32_t size = 0;
      if (encoderOps->Fetch(encoder, output->data(), goforce::kBufferLimit, &size) == 0 && size >= 129 &&
          size <= 2621439 && size <= output->size()) {
        sources::FrameDescriptor frame;
        frame.data = output->data();
        frame.sizeBytes = size;
        frame.format = sources::kFormatJpeg;
        frame.width = currentFormat().width;
        frame.height = currentFormat().height;
        DeliverFrame(&frame, output->data(), size);
      } else {
        clock->sleepMs(goforce::kRetryMs);
      }
    }
  });
}

bool GoForceCamera::HaltDevice() {
  if (fetch_.running()) fetch_.stop(goforce::kJoinMs);
  if (running_) {
    void* camera = components_[kCameraComponent];
    void* encoder = components_[kEncoder];
    (*static_cast<goforce::EncoderOps**>(encoder))->Stop(encoder);
    (*static_cast<goforce::CameraOps**>(camera))->Stop(camera);
  }
  running_ = false;
  return true;
}

void GoForceCamera::CloseDevice() { releaseSession(); }

std::unique_ptr<sources::CaptureSource> makeGoForceCamera(camera::CameraEnvironment environment,
                                                          sources::GoForceLibrary library) {
  return std::make_unique<GoForceCamera>(std::move(environment), std::move(library));
}

}  // namespace makers
