#include "core/capture_context.h"

#include <cstring>

#include "protocol/stream_header.h"
#include "texts/text_ids.h"

namespace core {

using sources::CaptureSource;
using sources::FrameDescriptor;
using sources::SourceKind;

// ---- Preview bitmap ----

bool PreviewBitmap::resize(int32_t w, int32_t h) {
  if (w <= 0 || h <= 0) return false;
  const size_t bytes = static_cast<size_t>(((static_cast<uint32_t>(w) * 2 + 3) & ~3u)) *
                       static_cast<size_t>(h);
  if (bytes > capacity) {
    storage_.reset(new (std::nothrow) uint8_t[bytes + 31]);
    if (!storage_) {
      pixels = nullptr;
      capacity = 0;
      width = height = 0;
      return false;
    }
    const uintptr_t at = (reinterpret_cast<uintptr_t>(storage_.get()) + 31) & ~uintptr_t{31};
    pixels = reinterpret_cast<uint8_t*>(at);
    capacity = bytes;
  }
  width = w;
  height = h;
  imageSize = static_cast<uint32_t>(bytes);
  return true;
}

void repackPreview(PreviewBitmap& bitmap) {
  const uint32_t stride = bitmap.stride();
  const size_t total = static_cast<size_t>(stride) * static_cast<size_t>(bitmap.height);
  for (size_t i = 0; i + 4 <= total; i += 4) {
    uint32_t w;
    std::memcpy(&w, bitmap.pixels + i, 4);
    w = ((w >> 1) & 0x7FE07FE0u) | (w & 0x001F001Fu);
    std::memcpy(bitmap.pixels + i, &w, 4);
  }
  std::vector<uint8_t> row(stride);
  for (int32_t top = 0, bottom = bitmap.height - 1; top < bottom; ++top, --bottom) {
    uint8_t* a = bitmap.pixels + static_cast<size_t>(top) * stride;
    uint8_t* b = bitmap.pixels + static_cast<size_t>(bottom) * stride;
    std::memcpy(row.data(), a, stride);
    std::memcpy(a, b, stride);
    std::memcpy(b, row.data(), stride);
  }
}

namespace {
// Runs in a row that ended without saving (kept only where more than one is allowed).
constexpr const char16_t* kCrashedRunsValue = u"CrashedRuns";
class ScalingRgb565 final : public PreviewConverter {
 public:
  bool convert(const FrameDescriptor& frame, uint32_t, uint8_t*, PreviewBitmap& bitmap) override {
    if (frame.format != sources::kFormatRgb565 || !frame.data || frame.width == 0 ||
        frame.height == 0 || bitmap.width <= 0 || bitmap.height <= 0 ||
        frame.sizeBytes < frame.width * frame.height * 2) {
      return false;
    }
    for (int32_t y = 0; y < bitmap.height; ++y) {
      const uint32_t sy = static_cast<uint32_t>(y) * frame.height / static_cast<uint32_t>(bitmap.height);
      uint8_t* out = bitmap.pixels + static_cast<size_t>(y) * bitmap.stride();
      for (int32_t x = 0; x < bitmap.width; ++x) {
        const uint32_t sx = static_cast<uint32_t>(x) * frame.width / static_cast<uint32_t>(bitmap.width);
        std::memcpy(out + x * 2, frame.data + (static_cast<size_t>(sy) * frame.width + sx) * 2, 2);
      }
    }
    return true;
  }
};
}  // namespace

PreviewConverter& rgb565PreviewConverter() {
  static ScalingRgb565 converter;
  return converter;
}

uint32_t orientationFromDegrees(uint32_t degrees) {
  switch (degrees) {
    case 90: return 3;
    case 180: return 2;
    case 270: return 1;
    default: return 0;
  }
}

// ---- Context ----

CaptureContext::CaptureContext(Options options)
    : options_(std::move(options)),
      clock_(options_.clock ? *options_.clock : platform::systemClock()) {
  if (!options_.converter) options_.converter = &rgb565PreviewConverter();
}

CaptureContext::~CaptureContext() = default;

std::u16string CaptureContext::Text(uint32_t id) const {
  const char16_t* t = options_.text ? options_.text(id) : nullptr;
  return t ? std::u16string(t) : std::u16string();
}

std::u16string CaptureContext::sourceName(CaptureSource& source) const {
  return Text(source.NameTextId());
}

void CaptureContext::loadState() {
  const settings::SettingsStore& store = *options_.store;
  uint32_t crashed = 0;
  std::u16string savedSource, savedMode;
  {
    settings::Key main = store.OpenKey(nullptr, false);
    crashed = settings::readDword(main, u"Crashed").value_or(0);
    if (crashed != 0) {
      crashedRuns = settings::readDword(main, kCrashedRunsValue).value_or(0) + 1;
      if (crashedRuns == 0) crashedRuns = 0xFFFFFFFFu;
    }
    savedSource = settings::readString(main, Text(texts::kTextSource), kSavedNameChars);
    savedMode = settings::readString(main, Text(texts::kTextMode), kSavedNameChars);
  }
  bool first = true;
  for (CaptureSource& source : sources) {
    source.Init();
    for (settings::SourceSetting* s = source.Settings(); s; s = s->next) {
      // Choice labels with a text id are looked up where they are shown: the sources'
      // choice tables may be read-only.
      s->name = options_.text ? options_.text(s->textId) : nullptr;
    }
    const std::u16string name = sourceName(source);
    settings::loadSettingList(store, source.Settings(), name.c_str());
    bool enabled;
    if (crashed != 0 && crashedRuns >= options_.crashedRunsBeforeDisabling) {
      enabled = source.Kind() != SourceKind::kCamera && source.enabledByDefault();
    } else if (!savedSource.empty() && savedSource[0] == u';') {
      enabled = savedSource.find(u";" + name + u";") != std::u16string::npos;
    } else {
      enabled = (first || source.Kind() == SourceKind::kSound) && source.enabledByDefault();
    }
    source.setEnabled(enabled);
    first = false;
  }
  currentTarget = targets.empty() ? nullptr : targets.front().get();
  for (auto& t : targets) {
    if (savedMode == t->Name()) {
      currentTarget = t.get();
      break;
    }
  }
  previewSetting = settings::SourceSetting{};
  previewSetting.textId = texts::kTextPreview;
  previewSetting.name = options_.text ? options_.text(texts::kTextPreview) : nullptr;
  previewSetting.count = 2;
  previewSetting.defaultIndex = 0;
  previewSetting.base = 0;
  previewSetting.step = 1;
  previewSetting.key = settings::newSettingKey();
  settings::loadSettingList(store, &previewSetting, nullptr);
  camerasDisabledByCrashes = crashed != 0 && crashedRuns >= options_.crashedRunsBeforeDisabling;
  if (crashed == 0) {
    settings::Key main = store.OpenKey(nullptr, true);
    settings::writeDword(main, u"Crashed", 1);
    store.flush(main);
  } else if (options_.crashedRunsBeforeDisabling > 1) {
    settings::Key main = store.OpenKey(nullptr, true);
    settings::writeDword(main, kCrashedRunsValue, crashedRuns);
    store.flush(main);
  }
}

void CaptureContext::refreshNames() {
  for (CaptureSource& source : sources) {
    for (settings::SourceSetting* s = source.Settings(); s; s = s->next) {
      s->name = options_.text ? options_.text(s->textId) : nullptr;
    }
  }
  previewSetting.name = options_.text ? options_.text(texts::kTextPreview) : nullptr;
}

void CaptureContext::saveState() {
  const settings::SettingsStore& store = *options_.store;
  std::u16string enabledList = u";";
  for (CaptureSource& source : sources) {
    const std::u16string name = sourceName(source);
    settings::saveSettingList(store, source.Settings(), name.c_str());
    if (source.enabled()) enabledList += name + u";";
  }
  {
    settings::Key main = store.OpenKey(nullptr, true);
    settings::writeString(main, Text(texts::kTextSource), enabledList);
    if (currentTarget) settings::writeString(main, Text(texts::kTextMode), currentTarget->Name());
    settings::writeDword(main, u"Crashed", 0);
    if (options_.crashedRunsBeforeDisabling > 1) settings::writeDword(main, kCrashedRunsValue, 0);
  }
  sources = sources::SourceList();
  currentTarget = nullptr;
  targets.clear();
  settings::saveSettingList(store, &previewSetting, nullptr);
  settings::Key main = store.OpenKey(nullptr, true);
  store.flush(main);
}

void CaptureContext::setSoftKey() {
  if (options_.view) {
    options_.view->setCommandText(kCommandSoftKey,
                                  Text(capturing() ? texts::kTextStop : texts::kTextStart));
  }
}

bool CaptureContext::ToggleCapture() {
  if (capturing()) {
    captureStartTick = 0;
    if (currentTarget) currentTarget->Stop();
    StartSources(false);
  } else {
    size_t enabled = 0;
    for (CaptureSource& s : sources) enabled += s.enabled() ? 1 : 0;
    if (enabled == 0) {
      if (options_.view) options_.view->showMessage(u"Please select source.", u"");
    } else {
      captureStartTick = 0;
      if (StartSources(true)) {
        const targets::TargetStartParams params{&CaptureContext::FetchFrame, &CaptureContext::control,
                                                this};
        if (currentTarget && currentTarget->Start(params)) {
          uint32_t now = clock_.nowMs();
          if (now == 0) now = 1;
          captureStartTick = now;
          lastFetchTick.store(now);
          // The PC sees the camera's settings as soon as the link is up.
          for (CaptureSource& s : sources) {
            if (s.enabled() && s.Kind() == SourceKind::kCamera && s.Settings()) {
              currentTarget->PublishSettings(s.Settings());
              break;
            }
          }
        } else {
          StartSources(false);
        }
      }
    }
  }
  setSoftKey();
  return capturing();
}

void CaptureContext::stopStartedSources() {
  for (CaptureSource& s : sources) {
    if (s.IsStarted()) s.Stop();
  }
}

bool CaptureContext::StartSources(bool capture) {
  WindowView* view = options_.view;
  if (view) view->setWaitCursor(true);
  for (CaptureSource& s : sources) {
    if (!s.enabled() && s.IsStarted()) s.Stop();
  }
  background = nullptr;
  for (CaptureSource& s : sources) {
    if (!s.enabled()) continue;
    if (currentTarget && !currentTarget->AcceptsKind(s.Kind())) continue;
    sources::StartParams params;
    params.frameReady = currentTarget ? &currentTarget->frameReady() : nullptr;
    params.mode = capture ? sources::kModeCapture : sources::kModePreview;
    params.screenOrientation = screenOrientation;
    params.background = nullptr;
    params.preview = capture ? nullptr : &CaptureContext::previewCallback;
    params.user = this;
    const bool ok = s.Start(params);
    if (!ok) {
      if (view) {
        view->setWaitCursor(false);
        view->showMessage(options_.keepFailedSourcesEnabled
                              ? u"Could not start source. It stays enabled and is tried again "
                                u"at the next start of capture."
                              : u"Could not start source.",
                          sourceName(s));
      }
      if (!options_.keepFailedSourcesEnabled) s.setEnabled(false);
    }
    if (s.Kind() == SourceKind::kCamera) background = params.background;
  }
  previewReady.store(false);
  if (view) {
    view->invalidate();
    view->setWaitCursor(false);
  }
  return true;
}

uint32_t CaptureContext::FetchFrame(void* context, FrameDescriptor* out) {
  auto* self = static_cast<CaptureContext*>(context);
  self->lastFetchTick.store(self->clock_.nowMs());
  CaptureSource* chosen = nullptr;
  uint32_t oldest = 0;
  for (CaptureSource& s : self->sources) {
    if (!s.enabled() || !s.IsStarted()) continue;
    const uint32_t stamp = s.TakeFrame(nullptr);
    if (stamp != 0 && (chosen == nullptr || stamp < oldest)) {
      chosen = &s;
      oldest = stamp;
    }
  }
  if (!chosen) return 0;
  const uint32_t stamp = chosen->TakeFrame(out);
  if (stamp != 0 && out) {
    self->framesFetched.fetch_add(1, std::memory_order_relaxed);
    self->bytesFetched.fetch_add(out->sizeBytes, std::memory_order_relaxed);
  }
  return stamp;
}

uint32_t CaptureContext::control(void* context, uint32_t code, uint32_t argument) {
  if (context == nullptr) return 1;
  auto* self = static_cast<CaptureContext*>(context);
  // Taps and keys go to a source that takes input; any other word is a setting's key.
  if (!forwardRemoteInput(*self, code, argument)) self->queueSetProperty(code, argument);
  return 1;
}

bool CaptureContext::previewCallback(void* context, const FrameDescriptor* frame, uint32_t rotation,
                                     uint8_t* scratch) {
  auto* self = static_cast<CaptureContext*>(context);
  if (!self->windowActive.load() || frame == nullptr) return false;
  bool expected = false;
  if (!self->previewBusy.compare_exchange_strong(expected, true)) return false;
  bool invalidate = false;
  {
    std::lock_guard lock(self->bitmapMutex_);
    if (self->previewBitmap.pixels &&
        self->options_.converter->convert(*frame, rotation & 3, scratch, self->previewBitmap)) {
      repackPreview(self->previewBitmap);
      self->previewReady.store(true);
      invalidate = true;
    } else if (self->previewReady.exchange(false)) {
      invalidate = true;
    }
  }
  if (invalidate && self->options_.view) self->options_.view->invalidate();
  return true;
}

void CaptureContext::NotifySettingChanged(settings::SourceSetting* setting, uint32_t) {
  if (capturing() && setting != &previewSetting && currentTarget) currentTarget->SettingChanged(setting);
}

void CaptureContext::timerStep() {
  if (!capturing()) return;
  const uint32_t now = clock_.nowMs();
  if (now < lastIdleResetTick_ || now - lastIdleResetTick_ > kIdleResetMs) {
    if (options_.view) options_.view->resetIdleTimer();
    lastIdleResetTick_ = now;
  }
  if (currentTarget && !currentTarget->IsAlive() && capturing()) ToggleCapture();
}

void CaptureContext::updateOrientation() {
  const uint32_t value =
      options_.smartphone || !options_.view ? 0 : orientationFromDegrees(options_.view->displayRotationDegrees());
  if (value == screenOrientation) return;
  screenOrientation = value;
  if (capturing()) StartSources(true);
}

// ---- Main window ----

void CaptureContext::onCreate() {
  if (options_.view) {
    options_.view->setCommandText(kCommandSoftKey, Text(texts::kTextStart));
    options_.view->setCommandText(kCommandMenu, Text(texts::kTextMenu));
  }
  {
    std::lock_guard lock(bitmapMutex_);
    previewBitmap.resize(320, 240);
  }
  if (options_.view) options_.view->startTimer(kTimerId, kTimerMs);
}

void CaptureContext::onDestroy() {
  if (options_.view) options_.view->stopTimer(kTimerId);
  // The target's sending thread may still hold a frame taken from a source's output
  // buffer: it ends before the sources free those buffers.
  if (currentTarget) currentTarget->Stop();
  stopStartedSources();
  captureStartTick = 0;
  if (currentTarget) currentTarget->Release();
  saveState();
  if (options_.view) options_.view->postQuit(0);
}

void CaptureContext::onActivate(bool active, bool namesOtherWindow) {
  if (!capturing() && !namesOtherWindow) {
    if (active) {
      if (currentTarget) currentTarget->Prepare();
      if (options_.view) options_.view->rebuildMenu();
      StartSources(capturing());
    } else {
      stopStartedSources();
      captureStartTick = 0;
      if (currentTarget) {
        currentTarget->Stop();
        currentTarget->Release();
      }
    }
  }
  if (active) {
    updateOrientation();
    windowActive.store(true);
    previewBusy.store(false);
  }
}

void CaptureContext::onPaint() {
  WindowView* view = options_.view;
  if (previewReady.load()) {
    int32_t w = 0, h = 0;
    if (view) view->clientSize(w, h);
    std::lock_guard lock(bitmapMutex_);
    if (previewBitmap.width == w && previewBitmap.height == h) {
      if (view) view->drawPreview(previewBitmap);
    } else {
      previewBitmap.resize(w, h);
      previewReady.store(false);
    }
  } else if (view) {
    view->fill(background ? *background : 0);
  }
  previewBusy.store(false);
}

int CaptureContext::onCopyData(const char16_t* text, size_t chars) {
  if (!commandText) commandText = std::make_unique<std::u16string>();
  commandText->clear();
  if (text) {
    size_t n = 0;
    while (n < chars && text[n] != 0) ++n;
    if (n >= kCommandTextChars) n = kCommandTextChars - 1;
    commandText->assign(text, n);
  }
  if (options_.view) options_.view->postCommandReceived();
  return 1;
}

void CaptureContext::onHelp() {
  if (options_.view) options_.view->openHelp(u"Main_Contents");
}

void CaptureContext::onKeyDown(uint32_t key) {
  if (key == kKeyEnter) ToggleCapture();
}

bool CaptureContext::onCommand(int command) {
  if (command == kCommandExit) {
    if (options_.view) options_.view->closeWindow();
    return true;
  }
  if (command == kCommandSoftKey) {
    ToggleCapture();
    return true;
  }
  return false;
}

void CaptureContext::onUser() {
  if (options_.view) options_.view->rebuildMenu();
}

void CaptureContext::onTimer(uint32_t id) {
  if (id == kTimerId) timerStep();
}

void CaptureContext::onCommandReceived() {
  if (!currentTarget || !commandText) return;
  if (currentTarget->Command(commandText->c_str(), 0) && !capturing()) ToggleCapture();
}

}  // namespace core
