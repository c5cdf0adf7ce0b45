#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "entries/device_entry_table.h"
#include "lookout/viewer_settings.h"
#include "lookout/viewer_texts.h"
#include "lookout/viewer_view.h"
#include "platform/clock.h"

namespace lookout {

// Menu commands.
inline constexpr uint32_t kCommandExit = 40001;
inline constexpr uint32_t kCommandSetFolder = 40002;
inline constexpr uint32_t kCommandCapture = 40003;
inline constexpr uint32_t kCommandSettings = 40004;
inline constexpr uint32_t kCommandActualSize = 40005;
inline constexpr uint32_t kCommandAutoResize = 40006;
inline constexpr uint32_t kCommandAbout = 40007;

// Messages of SendPhoneInput.
inline constexpr uint32_t kKeyDownMessage = 256;
inline constexpr uint32_t kLeftButtonDownMessage = 513;
// The snapshot key.
inline constexpr uint32_t kSnapshotKey = 119;  // F8

// The phone keys the viewer forwards (virtual-key codes): backspace, enter, end/"#",
// the arrows, "*", the digits and F1 to F4.
bool isForwardedKey(uint32_t virtualKey);

// The edge or corner the user drags while sizing the window.
enum class SizingEdge { Left, Right, Top, Bottom, TopLeft, TopRight, BottomLeft, BottomRight };

struct WindowRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
  bool operator==(const WindowRect&) const = default;
};

// The viewer's logic: the frame loop, sizing, painting, snapshots, input and exit. It
// talks to the library only through its entry table and to the screen only through the
// view.
//
// Threading: the public methods run on the window thread, except runFrameLoop and
// processFrame, which are the frame thread's. Flags and sizes shared by the two threads
// are atomic; the bitmap is guarded, so a paint never reads a buffer being replaced.
class ViewerPresenter {
 public:
  // A phone that sent no frame for this long has gone: the status bar waits again.
  static constexpr uint32_t kSilenceMs = 2000;
  using LocalTime = std::function<std::tm()>;

  ViewerPresenter(const DeviceEntryTable& table, ViewerView& view, const ViewerTexts& ownTexts,
                  const ViewerTexts& texts, platform::Clock& clock, ViewerSettings settings,
                  LocalTime localTime = {});
  ~ViewerPresenter();

  // At window creation: title, start status text, menu, check mark, the 320 x 0 picture
  // area. Then startFrameThread.
  void initialize();
  // False when the thread could not be made (the viewer then ends with code 0).
  bool startFrameThread();

  // Window events.
  void onCommand(uint32_t command);
  void onKeyDown(uint32_t virtualKey);
  void onLeftButtonDown(int32_t x, int32_t y);
  // The picture area (the client area above the status bar) has a new size.
  void onClientResized(uint32_t width, uint32_t height);
  // The rectangle the window may take while the user drags `edge` to `dragged`.
  WindowRect sizing(SizingEdge edge, const WindowRect& dragged, const WindowRect& current) const;
  void paint();
  // Makes the picture area (w, h): nothing for w = 0; restores a maximised window.
  void resizeWindow(uint32_t width, uint32_t height);

  // Stop, wake, wait up to 1000 ms for the frame thread, Close. True when the frame thread
  // ended in time; else it is left running on state it shares and closes the engine itself
  // once it leaves it, so the presenter and the library must stay. The settings to write
  // are then settings().
  bool shutdown();
  ViewerSettings settings() const;

  // The frame thread: until the stop request, wait for a frame and process it.
  void runFrameLoop();
  enum class Step { Continue, End };
  // One frame after a wait: get, snapshot, decode, size, render, rate, status, repaint.
  Step processFrame();

  // For the front and the tests.
  std::vector<ViewerMenu> menu() const;
  bool autoResize() const { return keepActualSize_.load() == 1; }
  std::u16string statusText() const;
  bool frameLoopEnded() const { return loopEnded_.load(); }
  // A picture has been decoded: from then on the picture area's background is not erased.
  bool hasPicture() const;

 private:
  struct Size {
    uint32_t width = 0, height = 0;
  };
  void snapshotCommand();
  void chooseFolder();
  Size clientSize() const;
  Size pictureSize() const;

  DeviceEntryTable table_;
  ViewerView& view_;
  const ViewerTexts& ownTexts_;
  const ViewerTexts& texts_;
  platform::Clock& clock_;
  LocalTime localTime_;

  std::atomic<uint32_t> keepActualSize_;
  mutable std::mutex folderMutex_;
  std::u16string folder_;

  std::atomic<bool> stopRequest_{false};
  std::atomic<bool> snapshotRequest_{false};
  std::atomic<bool> resizeRequest_{false};
  std::atomic<bool> loopEnded_{false};

  mutable std::mutex sizeMutex_;
  Size client_;
  Size picture_;

  // The bitmap: the buffer only grows.
  std::mutex bitmapMutex_;
  std::vector<uint8_t> bitmap_;
  uint32_t bitmapWidth_ = 0, bitmapHeight_ = 0;

  // Frame-rate display; frame thread only.
  void showWaiting();  // frame thread: the phone fell silent
  uint32_t lastTick_ = 0;
  double averageRate_ = 0.0;
  mutable std::mutex statusMutex_;
  std::u16string status_;

  std::thread thread_;
  std::mutex doneMutex_;
  std::condition_variable doneChanged_;
  bool threadDone_ = false;
  bool closeWhenDone_ = false;  // under doneMutex_
};

}  // namespace lookout
