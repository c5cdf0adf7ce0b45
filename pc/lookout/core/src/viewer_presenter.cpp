#include "lookout/viewer_presenter.h"

#include <chrono>
#include <cstdio>

#include "lookout/snapshot.h"
#include "platform/event.h"
#include "platform/utf16.h"

namespace lookout {

namespace {

std::u16string ascii(const char* text) {
  std::u16string out;
  for (; *text != 0; ++text) out.push_back(static_cast<char16_t>(*text));
  return out;
}

}  // namespace

bool isForwardedKey(uint32_t k) {
  return k == 8 || k == 13 || k == 35 || (k >= 37 && k <= 40) || k == 42 ||
         (k >= 48 && k <= 57) || (k >= 112 && k <= 115);
}

ViewerPresenter::ViewerPresenter(const DeviceEntryTable& table, ViewerView& view,
                                 const ViewerTexts& ownTexts, const ViewerTexts& texts,
                                 platform::Clock& clock, ViewerSettings settings,
                                 LocalTime localTime)
    : table_(table),
      view_(view),
      ownTexts_(ownTexts),
      texts_(texts),
      clock_(clock),
      localTime_(localTime ? std::move(localTime) : LocalTime(platform::localTimeNow)),
      keepActualSize_(settings.keepActualSize),
      folder_(std::move(settings.folder)) {}

ViewerPresenter::~ViewerPresenter() {
  if (thread_.joinable()) {
    stopRequest_ = true;
    table_.Wake();
    bool done;
    {
      std::lock_guard lock(doneMutex_);
      done = threadDone_;
    }
    // shutdown() normally joined it; one still running is not waited for here.
    if (done) thread_.join(); else thread_.detach();
  }
}

std::vector<ViewerMenu> ViewerPresenter::menu() const {
  auto t = [this](uint32_t id) { return texts_.text(id); };
  return {
      {t(200), {{t(201), kCommandSetFolder}, {t(202), kCommandExit}}},
      {t(203), {{t(204), kCommandCapture}, {t(205), kCommandSettings}}},
      {t(206), {{t(207), kCommandActualSize}, {t(208), kCommandAutoResize}}},
      {t(209), {{t(210), kCommandAbout}}},
  };
}

void ViewerPresenter::initialize() {
  view_.setTitle(ownTexts_.text(kTitleText));
  {
    std::lock_guard lock(statusMutex_);
    status_ = texts_.text(kWaitingText);
  }
  view_.setStatusText(statusText());
  view_.setMenu(menu());
  view_.setAutoResizeChecked(autoResize());
  resizeWindow(320, 0);
}

bool ViewerPresenter::startFrameThread() {
  try {
    thread_ = std::thread([this] {
      runFrameLoop();
      std::lock_guard lock(doneMutex_);
      threadDone_ = true;
      doneChanged_.notify_all();
      // A shutdown that gave up waiting left the closing to this thread, now out of the
      // engine for good.
      if (closeWhenDone_) table_.Close();
    });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

ViewerPresenter::Size ViewerPresenter::clientSize() const {
  std::lock_guard lock(sizeMutex_);
  return client_;
}

ViewerPresenter::Size ViewerPresenter::pictureSize() const {
  std::lock_guard lock(sizeMutex_);
  return picture_;
}

bool ViewerPresenter::hasPicture() const {
  Size p = pictureSize();
  return p.width != 0 && p.height != 0;
}

std::u16string ViewerPresenter::statusText() const {
  std::lock_guard lock(statusMutex_);
  return status_;
}

ViewerSettings ViewerPresenter::settings() const {
  ViewerSettings s;
  s.keepActualSize = keepActualSize_.load();
  std::lock_guard lock(folderMutex_);
  s.folder = folder_;
  return s;
}

void ViewerPresenter::onCommand(uint32_t command) {
  switch (command) {
    case kCommandSetFolder:
      chooseFolder();
      break;
    case kCommandExit:
      view_.closeWindow();
      break;
    case kCommandCapture:
      snapshotCommand();
      break;
    case kCommandSettings:
      table_.ShowSettings(view_.nativeParent());
      break;
    case kCommandActualSize:
      resizeRequest_ = true;
      table_.Wake();
      break;
    case kCommandAutoResize: {
      bool on = keepActualSize_.load() != 1;
      keepActualSize_ = on ? 1 : 0;
      view_.setAutoResizeChecked(on);
      if (on) {
        Size p = pictureSize();
        resizeWindow(p.width, p.height);
      }
      break;
    }
    case kCommandAbout:
      table_.ShowAbout(view_.nativeParent());
      break;
    default:
      break;
  }
}

void ViewerPresenter::snapshotCommand() {
  bool haveFolder;
  {
    std::lock_guard lock(folderMutex_);
    haveFolder = !folder_.empty();
  }
  if (!haveFolder) {
    chooseFolder();
    return;
  }
  snapshotRequest_ = true;
  table_.Wake();
}

void ViewerPresenter::chooseFolder() {
  std::u16string current;
  {
    std::lock_guard lock(folderMutex_);
    current = folder_;
  }
  std::optional<std::u16string> chosen = view_.chooseFolder(texts_.text(kFolderTitleText), current);
  if (!chosen) return;
  std::lock_guard lock(folderMutex_);
  // The stored value has room for 260 characters.
  folder_ = chosen->substr(0, kFolderCapacityChars - 1);
}

void ViewerPresenter::onKeyDown(uint32_t virtualKey) {
  if (virtualKey == kSnapshotKey) {
    snapshotCommand();
  } else if (isForwardedKey(virtualKey)) {
    table_.SendPhoneInput(kKeyDownMessage, virtualKey, 0);
  }
}

void ViewerPresenter::onLeftButtonDown(int32_t x, int32_t y) {
  Size c = clientSize();
  if (c.width == 0 || c.height == 0 || x < 0 || y < 0) return;
  uint32_t sx = static_cast<uint32_t>(x) * 65536u / c.width;
  uint32_t sy = static_cast<uint32_t>(y) * 65536u / c.height;
  table_.SendPhoneInput(kLeftButtonDownMessage, sx, sy);
}

void ViewerPresenter::onClientResized(uint32_t width, uint32_t height) {
  {
    std::lock_guard lock(sizeMutex_);
    client_ = {width, height};
  }
  table_.Wake();
}

WindowRect ViewerPresenter::sizing(SizingEdge edge, const WindowRect& dragged,
                                   const WindowRect& current) const {
  Size p = pictureSize();
  const WindowMetrics m = view_.metrics();
  WindowRect r = dragged;
  if (p.width == 0 || p.height == 0) {
    // Before the first picture the window keeps its size.
    if (edge == SizingEdge::Left || edge == SizingEdge::TopLeft || edge == SizingEdge::BottomLeft)
      r.left = r.right - current.width();
    else
      r.right = r.left + current.width();
    if (edge == SizingEdge::Top || edge == SizingEdge::TopLeft || edge == SizingEdge::TopRight)
      r.top = r.bottom - current.height();
    else
      r.bottom = r.top + current.height();
    return r;
  }
  const int64_t pw = p.width, ph = p.height;
  if (edge == SizingEdge::Top || edge == SizingEdge::Bottom) {
    int64_t clientHeight = int64_t{r.height()} - m.frameHeight - m.statusBarHeight;
    r.right = r.left + static_cast<int32_t>(m.frameWidth + clientHeight * pw / ph);
  } else {
    int64_t clientWidth = int64_t{r.width()} - m.frameWidth;
    r.bottom = r.top + static_cast<int32_t>(m.frameHeight + m.statusBarHeight + clientWidth * ph / pw);
  }
  return r;
}

void ViewerPresenter::resizeWindow(uint32_t width, uint32_t height) {
  if (width == 0) return;
  if (view_.isMaximized()) view_.restore();
  const WindowMetrics m = view_.metrics();
  view_.setOuterSize(static_cast<int32_t>(width) + m.frameWidth,
                     static_cast<int32_t>(height) + m.frameHeight + m.statusBarHeight);
  std::lock_guard lock(sizeMutex_);
  client_ = {width, height};
}

void ViewerPresenter::paint() {
  Size c = clientSize();
  std::lock_guard lock(bitmapMutex_);
  if (bitmapWidth_ == 0 || bitmapWidth_ != c.width || bitmapHeight_ != c.height) return;
  view_.drawBitmap(bitmap_.data(), bitmapWidth_, bitmapHeight_, (bitmapWidth_ * 3 + 3) & ~3u);
}

void ViewerPresenter::runFrameLoop() {
  while (!stopRequest_) {
    // A phone silent for this long has gone: say so again instead of keeping the last
    // frame's rate (the library's wait time-out is 258).
    if (table_.WaitFrame(kSilenceMs) == 258) {
      if (stopRequest_) break;
      showWaiting();
      continue;
    }
    if (stopRequest_) break;
    if (processFrame() == Step::End) break;
  }
  loopEnded_ = true;
}

void ViewerPresenter::showWaiting() {
  averageRate_ = 0.0;
  lastTick_ = 0;
  const std::u16string waiting = texts_.text(kWaitingText);
  {
    std::lock_guard lock(statusMutex_);
    if (status_ == waiting) return;
    status_ = waiting;
  }
  view_.setStatusText(waiting);
}

ViewerPresenter::Step ViewerPresenter::processFrame() {
  uint8_t* frame = nullptr;
  uint32_t length = table_.GetFrame(&frame);
  if (length == 0 || frame == nullptr) return Step::Continue;

  if (snapshotRequest_.exchange(false)) {
    std::u16string folder;
    {
      std::lock_guard lock(folderMutex_);
      folder = folder_;
    }
    // A snapshot that cannot be written is skipped without a word.
    writeSnapshot(snapshotFileName(platform::utf16ToUtf8Lossy(folder), localTime_()), frame,
                  length);
  }

  uint32_t width = 0, height = 0;
  if ((table_.DecodeJpeg(frame, length, &width, &height) & 0xFF) == 0) return Step::End;

  Size known = pictureSize();
  bool resizeRequested = resizeRequest_.exchange(false);
  bool resize = known.width == 0 || known.height == 0 ||
                ((width != known.width || height != known.height) && keepActualSize_.load() == 1) ||
                resizeRequested;
  Size render;
  {
    std::lock_guard lock(sizeMutex_);
    picture_ = {width, height};
    render = resize ? picture_ : client_;
    // The window takes this size on its own thread, later; until it reports a size, the
    // next frames render at the one asked for, not at the old one (at start 320 x 0,
    // which would end the loop).
    if (resize) client_ = render;
  }

  uint64_t bytes = uint64_t{(render.width * 3 + 3) & ~3u} * render.height;
  if (bytes == 0 || render.width > 0x3FFFFFFF) return Step::End;
  {
    std::lock_guard lock(bitmapMutex_);
    if (bytes > bitmap_.size()) {
      std::vector<uint8_t> bigger(bytes);
      bitmap_.swap(bigger);
    }
    table_.SetOutputSize(render.width, render.height);
    if ((table_.RenderFrame(bitmap_.data()) & 0xFF) == 0) return Step::End;
    bitmapWidth_ = render.width;
    bitmapHeight_ = render.height;
  }

  uint32_t now = clock_.nowMs();
  uint32_t dt = (lastTick_ < now && now - lastTick_ < 8192) ? now - lastTick_ : 0;
  lastTick_ = now;
  double rate = dt != 0 ? 1000.0 / dt : 0.0;
  double weight = rate > 0 ? 0.2 / rate : 0.5;
  if (weight > 0.5) weight = 0.5;
  averageRate_ += (rate - averageRate_) * weight;
  int v = static_cast<int>(averageRate_ * 10);

  char text[64];
  std::snprintf(text, sizeof text, "%ux%u@%d.%d", width, height, v / 10, v % 10);
  {
    std::lock_guard lock(statusMutex_);
    status_ = ascii(text);
  }
  if (stopRequest_) return Step::Continue;
  view_.setStatusText(statusText());
  if (resize)
    view_.requestWindowResize(render.width, render.height);
  else
    view_.invalidatePicture();
  return Step::Continue;
}

bool ViewerPresenter::shutdown() {
  stopRequest_ = true;
  table_.Wake();
  bool ended = true;
  if (thread_.joinable()) {
    std::unique_lock lock(doneMutex_);
    ended = doneChanged_.wait_for(lock, std::chrono::milliseconds(1000), [this] { return threadDone_; });
    // Closing the engine under a frame thread still inside it would free what that call
    // is using: the thread closes it when it comes out.
    if (!ended) closeWhenDone_ = true;
    lock.unlock();
    if (ended) thread_.join();
  }
  if (ended) table_.Close();
  return ended;
}

}  // namespace lookout
