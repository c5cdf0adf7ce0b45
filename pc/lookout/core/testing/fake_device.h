#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "entries/device_entry_table.h"
#include "lookout/viewer_view.h"

namespace lookout::testing {

// The library's entry table over a scripted engine: frames are queued by the test, every
// call is recorded. One at a time (the table's entries take no context).
struct FakeDevice {
  struct Frame {
    std::vector<uint8_t> jpeg;
    uint32_t width = 0, height = 0;
    bool decodes = true;
  };
  struct Input {
    uint32_t message, x, y;
    bool operator==(const Input&) const = default;
  };

  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Frame> frames;          // GetFrame takes the front one
  std::optional<Frame> current;
  bool openResult = true;
  bool renderResult = true;
  int wakes = 0, closes = 0, opens = 0, abouts = 0, settingsShown = 0;
  int wakesPending = 0;
  int timeOutsPending = 0;  // WaitFrame calls to end as the library's time-out does
  uint32_t lastWaitMs = 0;  // the time-out the latest WaitFrame asked for
  // The library's wait times out now: the pending WaitFrame, or else the next one, returns
  // 258 at once, as it would after its time-out without a frame.
  void timeOutWait() {
    std::lock_guard lock(mutex);
    ++timeOutsPending;
    changed.notify_all();
  }
  bool holdDecode = false;     // DecodeJpeg waits while set (a call stuck in the engine)
  int inside = 0;              // calls of DecodeJpeg in progress
  int closesWhileInside = 0;
  void release() {
    std::lock_guard lock(mutex);
    holdDecode = false;
    changed.notify_all();
  }
  std::vector<Input> inputs;
  std::vector<std::pair<uint32_t, uint32_t>> outputSizes;
  uint32_t outputWidth = 0, outputHeight = 0;
  void* lastParent = nullptr;

  DeviceEntryTable table();
  void push(Frame f) {
    std::lock_guard lock(mutex);
    frames.push_back(std::move(f));
    changed.notify_all();
  }
  static FakeDevice* active;
};

inline FakeDevice* FakeDevice::active = nullptr;

inline DeviceEntryTable FakeDevice::table() {
  active = this;
  DeviceEntryTable t{};
  t.Open = [](uint8_t) -> uint32_t {
    ++active->opens;
    return active->openResult ? 1 : 0;
  };
  t.Close = [] {
    std::lock_guard lock(active->mutex);
    ++active->closes;
    if (active->inside > 0) ++active->closesWhileInside;
  };
  t.ReloadSettings = []() -> uint32_t { return 1; };
  t.ShowAbout = [](void* p) -> uint32_t {
    ++active->abouts;
    active->lastParent = p;
    return 1;
  };
  t.ShowSettings = [](void* p) -> uint32_t {
    ++active->settingsShown;
    active->lastParent = p;
    return 1;
  };
  t.SendPhoneInput = [](uint32_t m, uint32_t x, uint32_t y) -> uint32_t {
    std::lock_guard lock(active->mutex);
    active->inputs.push_back({m, x, y});
    return 1;
  };
  t.GetFrame = [](uint8_t** out) -> uint32_t {
    std::lock_guard lock(active->mutex);
    if (active->frames.empty()) return 0;
    active->current = std::move(active->frames.front());
    active->frames.pop_front();
    if (out) *out = active->current->jpeg.data();
    return static_cast<uint32_t>(active->current->jpeg.size());
  };
  // Returns at once when a frame is queued, else waits for one, for Wake or for the test's
  // timeOutWait().
  t.WaitFrame = [](uint32_t timeoutMs) -> int32_t {
    std::unique_lock lock(active->mutex);
    active->lastWaitMs = timeoutMs;
    if (!active->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] {
          return !active->frames.empty() || active->wakesPending > 0 || active->timeOutsPending > 0;
        })) {
      return 258;
    }
    if (active->wakesPending > 0) {
      --active->wakesPending;
      return 0;
    }
    if (!active->frames.empty()) return 0;
    --active->timeOutsPending;
    return 258;
  };
  t.Wake = [] {
    std::lock_guard lock(active->mutex);
    ++active->wakes;
    ++active->wakesPending;
    active->changed.notify_all();
  };
  t.DecodeJpeg = [](const uint8_t*, uint32_t, uint32_t* w, uint32_t* h) -> uint32_t {
    std::unique_lock lock(active->mutex);
    ++active->inside;
    active->changed.wait(lock, [] { return !active->holdDecode; });
    --active->inside;
    if (!active->current || !active->current->decodes) return 0;
    if (w) *w = active->current->width;
    if (h) *h = active->current->height;
    return 1;
  };
  t.SetOutputSize = [](uint32_t w, uint32_t h) -> uint32_t {
    std::lock_guard lock(active->mutex);
    active->outputSizes.emplace_back(w, h);
    if (w >= 1 && w <= 4096 && h >= 1 && h <= 4096) {
      active->outputWidth = w;
      active->outputHeight = h;
    }
    return 1;
  };
  // Fills every pixel with the output size's low bytes, so a test sees what was rendered.
  t.RenderFrame = [](uint8_t* dst) -> uint32_t {
    std::lock_guard lock(active->mutex);
    if (!active->renderResult) return 0;
    uint32_t stride = (active->outputWidth * 3 + 3) & ~3u;
    std::memset(dst, static_cast<int>(active->outputWidth & 0xFF), size_t{stride} * active->outputHeight);
    return 1;
  };
  t.GetResourceModule = []() -> void* { return nullptr; };
  return t;
}

// A RenderFrame for the fronts' tests: the bottom row (the first one of a bottom-up
// picture) red, the others blue, so a test sees whether the picture is drawn upright.
inline uint32_t renderRedBottomRow(uint8_t* dst) {
  auto* d = FakeDevice::active;
  uint32_t stride = (d->outputWidth * 3 + 3) & ~3u;
  for (uint32_t y = 0; y < d->outputHeight; ++y)
    for (uint32_t x = 0; x < d->outputWidth; ++x) {
      uint8_t* p = dst + size_t{y} * stride + size_t{x} * 3;
      p[0] = y == 0 ? 0 : 255;  // blue
      p[1] = 0;
      p[2] = y == 0 ? 255 : 0;  // red
    }
  return 1;
}

// A window that records what the presenter does to it. Window-thread requests from the
// frame thread are carried out at once, as a window system's synchronous calls would.
struct FakeView : ViewerView {
  std::u16string title;
  std::vector<ViewerMenu> menus;
  bool checked = false;
  WindowMetrics windowMetrics{8, 50, 20};
  bool maximized = false;
  int restores = 0;
  std::vector<std::pair<int32_t, int32_t>> outerSizes;
  struct Drawn {
    uint32_t width, height, stride;
    uint8_t firstByte;
  };
  std::vector<Drawn> drawn;
  std::optional<std::u16string> folderAnswer;
  std::vector<std::u16string> folderDialogs;  // titles of the dialogs shown
  int closes = 0;
  std::mutex statusMutex;
  std::vector<std::u16string> statuses;
  int invalidations = 0;
  std::function<void(uint32_t, uint32_t)> onResizeRequest;

  void setTitle(const std::u16string& t) override { title = t; }
  void setMenu(const std::vector<ViewerMenu>& m) override { menus = m; }
  void setAutoResizeChecked(bool c) override { checked = c; }
  WindowMetrics metrics() override { return windowMetrics; }
  bool isMaximized() override { return maximized; }
  void restore() override {
    ++restores;
    maximized = false;
  }
  void setOuterSize(int32_t w, int32_t h) override { outerSizes.emplace_back(w, h); }
  void drawBitmap(const uint8_t* p, uint32_t w, uint32_t h, uint32_t stride) override {
    drawn.push_back({w, h, stride, p[0]});
  }
  std::optional<std::u16string> chooseFolder(const std::u16string& t, const std::u16string&) override {
    folderDialogs.push_back(t);
    return folderAnswer;
  }
  void closeWindow() override { ++closes; }
  void* nativeParent() override { return this; }
  void setStatusText(const std::u16string& t) override {
    std::lock_guard lock(statusMutex);
    statuses.push_back(t);
  }
  void requestWindowResize(uint32_t w, uint32_t h) override {
    if (onResizeRequest) onResizeRequest(w, h);
  }
  void invalidatePicture() override { ++invalidations; }
};

}  // namespace lookout::testing
