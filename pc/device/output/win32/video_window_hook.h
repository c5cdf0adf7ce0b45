#pragma once

// The video window hook: while the camera streams, the first window of class
// "VideoRenderer" in this process (depth first through child windows) gets a window
// procedure that passes the user's clicks on the picture to the phone. The cursor's screen
// position is remembered on WM_NCHITTEST; on WM_SETCURSOR for a left button down or up or
// a right button down it is turned into client coordinates, scaled to 0..65536 across the
// client area, and handed to the phone input with the mouse message. Every message then
// goes on to the window's previous procedure.

#include <windows.h>

#include <cstdint>
#include <functional>

namespace output::win32 {

// The engine's phone input (message, x, y), as the library's SendPhoneInput entry.
using PhoneInput = std::function<void(uint32_t message, uint32_t x, uint32_t y)>;

// The first window of this process whose class is `className`: the top-level windows in
// the system's order, each followed depth first by its child windows. Null when none.
HWND findProcessWindow(const wchar_t* className);

// One streaming run's hold on the hook. A window is hooked once however many runs hold
// it (a procedure that is already ours is not taken as the previous one); the last run
// to let go gives it its previous procedure back.
class VideoWindowHook {
 public:
  VideoWindowHook() = default;
  VideoWindowHook(const VideoWindowHook&) = delete;
  VideoWindowHook& operator=(const VideoWindowHook&) = delete;
  ~VideoWindowHook() { remove(); }

  // Hooks the process's first "VideoRenderer" window, if there is one. True when hooked.
  bool install(PhoneInput input);
  // Lets go of the window (restoring its procedure when no other run holds it) and
  // forgets it.
  void remove();
  HWND window() const { return window_; }

 private:
  HWND window_ = nullptr;
};

}  // namespace output::win32
