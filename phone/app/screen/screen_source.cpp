#include "screen/screen_source.h"

#include <atomic>
#include <new>
#include <vector>

#include "platform/event.h"
#include "protocol/stream_header.h"
#include "screen/screen_picture.h"
#include "settings/settings_store.h"
#include "texts/text_ids.h"

namespace screen {

// The device settings the capture thread reads every round.
struct ScreenSource::Knobs {
  std::atomic<bool> duplicate{false};
  std::atomic<bool> overlay{false};
};

// Everything the capture thread touches. The thread shares it, so that a thread that
// does not end in time (a display server that stopped answering) can be left behind: it
// reaches the source only under `lock` while `stopped` is false.
struct ScreenSource::Capture {
  std::mutex lock;
  bool stopped = false;
  ScreenSource* owner = nullptr;

  std::atomic<bool> stop{false};
  platform::Event wake{platform::Event::Reset::kManual};
  std::shared_ptr<Knobs> knobs;
  ScreenAccess access;
  std::unique_ptr<platform::ScreenReader> reader;
  bool readerOverlay = false;
  uint32_t width = 0, height = 0;
  std::unique_ptr<uint8_t[]> picture;  // width x height RGB 5-6-5 pixels
};

namespace {

bool sizeWithinBounds(uint32_t width, uint32_t height) {
  return width >= kMinSide && width <= kMaxSide && height >= kMinSide && height <= kMaxSide;
}

platform::ScreenPreference preferenceFor(bool overlay) {
  // "Overlay" asks for what the display server composes: the root window with every
  // visible window, ahead of a frame buffer that may lie beneath it.
  return overlay ? platform::ScreenPreference::kDisplayServerFirst
                 : platform::ScreenPreference::kFrameBufferFirst;
}

}  // namespace

ScreenAccess systemScreenAccess() {
  ScreenAccess access;
  access.openReader = [](platform::ScreenPreference p) { return platform::openScreenReader(p); };
  access.openInjector = [](platform::ScreenKind kind, uint32_t w, uint32_t h) {
    return platform::openInputInjector(kind, w, h);
  };
  return access;
}

ScreenSource::ScreenSource(camera::CameraEnvironment environment, ScreenAccess access,
                           ScreenGeometry geometry, bool overlayListed)
    : camera::CameraSource(environment), environment_(std::move(environment)), access_(std::move(access)),
      geometry_(geometry), overlayListed_(overlayListed), knobs_(std::make_shared<Knobs>()) {}

ScreenSource::~ScreenSource() { Halt(); }

uint32_t ScreenSource::NameTextId() { return texts::kTextScreen; }

sources::SourceSetting* ScreenSource::AppendSettings(const sources::SettingChoice*, uint32_t) {
  for (sources::SourceSetting* s : {&duplicate_, &overlay_}) {
    *s = sources::SourceSetting{};
    s->count = 2;
    s->defaultIndex = 0;
    s->base = 0;
    s->step = 1;
    s->key = settings::newSettingKey();
  }
  duplicate_.textId = texts::kTextDuplicate;
  overlay_.textId = texts::kTextOverlay;
  duplicate_.next = overlayListed_ ? &overlay_ : nullptr;
  return &duplicate_;
}

void ScreenSource::Reset() {
  ApplyDeviceSetting(&duplicate_, settings::effectiveIndex(duplicate_));
  if (overlayListed_) ApplyDeviceSetting(&overlay_, settings::effectiveIndex(overlay_));
}

bool ScreenSource::ApplyDeviceSetting(sources::SourceSetting* setting, int32_t) {
  // Read by the capture thread on its next round; a changed "Overlay" makes it open the
  // screen again.
  if (setting == &duplicate_) {
    knobs_->duplicate.store(settings::settingValue(duplicate_) != 0);
  } else if (setting == &overlay_ && overlayListed_) {
    knobs_->overlay.store(settings::settingValue(overlay_) != 0);
  } else if (setting == &common(camera::kSettingMirror)) {
    mirrored_.store(commonValue(camera::kSettingMirror) == 1);
  }
  return true;
}

uint32_t ScreenSource::EnumerateModes(sources::PictureMode* modes, uint32_t) {
  if (!sizeWithinBounds(geometry_.width, geometry_.height) || geometry_.bitsPerPixel < 1 ||
      geometry_.bitsPerPixel > 32)
    return 0;
  sources::PictureMode mode;
  mode.width = geometry_.width;
  mode.height = geometry_.height;
  mode.format = sources::kFormatRgb565;
  mode.modeClass = 2;
  modes[0] = mode;
  return 1;
}

bool ScreenSource::remoteInputWanted(platform::ScreenKind kind) {
  // A frame buffer console has no pointer of its own: input there is asked for.
  bool on = kind == platform::ScreenKind::kDisplayServer;
  if (environment_.store && environment_.text) {
    if (const char16_t* name = environment_.text(NameTextId())) {
      const settings::Key key = environment_.store->OpenKey(name, false);
      if (auto value = settings::readDword(key, kRemoteInputValue)) on = *value != 0;
    }
  }
  return on;
}

bool ScreenSource::OpenDevice(uint32_t, uint32_t mode) {
  // Nothing is shown in preview: the screen is what the user already sees.
  if (mode == sources::kModePreview) return true;
  Reset();
  auto c = std::make_shared<Capture>();
  c->owner = this;
  c->knobs = knobs_;
  c->access = access_;
  c->width = currentFormat().width;
  c->height = currentFormat().height;
  c->readerOverlay = knobs_->overlay.load();
  c->reader = access_.openReader(preferenceFor(c->readerOverlay));
  if (!c->reader) return false;
  platform::ScreenImage image;
  if (!c->reader->read(image) || image.width != c->width || image.height != c->height ||
      !sizeWithinBounds(image.width, image.height))
    return false;
  c->picture.reset(new (std::nothrow) uint8_t[size_t{c->width} * c->height * 2]);
  if (!c->picture) return false;

  {
    std::lock_guard lock(inputMutex_);
    inputKind_ = c->reader->kind();
    inputOn_ = remoteInputWanted(inputKind_);
    inputWidth_ = c->width;
    inputHeight_ = c->height;
    injector_.reset();
  }
  const uint32_t rotation = static_cast<uint32_t>(commonValue(camera::kSettingRotation)) + currentFormat().rotationOffset;
  turn_.store(((rotation & 3) + startParams().screenOrientation) & 3);
  mirrored_.store(commonValue(camera::kSettingMirror) == 1);
  capture_ = c;
  if (!thread_.start([c] { c->owner->capture(c); })) {
    capture_.reset();
    return false;
  }
  return true;
}

// The capture thread. `c->owner` is only used under the lock while not stopped.
void ScreenSource::capture(const std::shared_ptr<Capture>& c) {
  bool haveLast = false;
  uint32_t lastSum = 0;
  const uint32_t pictureBytes = c->width * c->height * 2;
  while (!c->stop.load()) {
    const bool overlay = c->knobs->overlay.load();
    if (c->reader && overlay != c->readerOverlay) c->reader.reset();
    if (!c->reader) {
      c->readerOverlay = overlay;
      c->reader = c->access.openReader(preferenceFor(overlay));
      if (!c->reader) {
        c->wake.wait(kReopenMs);
        continue;
      }
    }
    platform::ScreenImage image;
    if (!c->reader->read(image)) {
      // The display went away: try again a little later.
      c->reader.reset();
      c->wake.wait(kReopenMs);
      continue;
    }
    if (image.width != c->width || image.height != c->height) {
      // Another size than the announced mode: nothing goes out until it is back.
      c->wake.wait(kStillMs);
      continue;
    }
    const bool duplicate = c->knobs->duplicate.load();
    uint32_t sum = 0;
    if (!duplicate) {
      sum = wordSum(image);
      if (haveLast && sum == lastSum) {
        c->wake.wait(kStillMs);
        continue;
      }
    }
    if (!convertToRgb565(image, reinterpret_cast<uint16_t*>(c->picture.get()))) {
      c->reader.reset();
      c->wake.wait(kReopenMs);
      continue;
    }
    {
      std::lock_guard lock(c->lock);
      if (c->stopped) return;
      c->owner->DeliverFrame(nullptr, c->picture.get(), pictureBytes);
    }
    haveLast = !duplicate;
    lastSum = sum;
  }
}

bool ScreenSource::HaltDevice() {
  {
    std::lock_guard lock(inputMutex_);
    injector_.reset();
    inputOn_ = false;
  }
  if (!capture_) return true;
  capture_->stop.store(true);
  capture_->wake.set();
  {
    // Any DeliverFrame in progress has returned: the pipeline stopped streaming first.
    std::lock_guard lock(capture_->lock);
    capture_->stopped = true;
  }
  thread_.joinFor(kHaltWaitMs);
  capture_.reset();
  return true;
}

void ScreenSource::CloseDevice() { HaltDevice(); }

bool ScreenSource::remoteInput(uint32_t command, uint32_t argument) {
  if (command != protocol::CMD_TAP && command != protocol::CMD_KEY) return false;
  if (!IsStarted()) return false;
  std::lock_guard lock(inputMutex_);
  if (!inputOn_) return false;
  const uint32_t width = inputWidth_, height = inputHeight_;
  if (!injector_) injector_ = access_.openInjector(inputKind_, width, height);
  if (!injector_) return false;
  bool done;
  if (command == protocol::CMD_TAP) {
    uint32_t x = 0, y = 0;
    mapTap(argument, width, height, turn_.load(), mirrored_.load(), x, y);
    done = injector_->tap(x, y);
  } else {
    if (platform::keyForVirtualKey(argument).keysym == 0) return false;
    done = injector_->key(argument);
  }
  // A display that went away: a new injector is made for the next command.
  if (!done) injector_.reset();
  return done;
}

}  // namespace screen
