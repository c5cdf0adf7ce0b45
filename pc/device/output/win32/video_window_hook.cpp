#include "video_window_hook.h"

#include <windowsx.h>

#include <map>
#include <mutex>
#include <string>

#include "output/media_type.h"

namespace output::win32 {

namespace {

struct Hooked {
  WNDPROC previous = nullptr;
  PhoneInput input;
  POINT cursor{0, 0};  // screen position, from the last WM_NCHITTEST
  int holders = 0;     // streaming runs holding the hook; 0: passes messages on only
};

std::mutex gHookLock;
std::map<HWND, Hooked> gHooked;

LRESULT CALLBACK videoWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC previous = nullptr;
  PhoneInput input;
  POINT point{};
  const UINT mouse = HIWORD(lParam);
  {
    std::lock_guard lock(gHookLock);
    const auto found = gHooked.find(window);
    if (found == gHooked.end()) return DefWindowProcW(window, message, wParam, lParam);
    Hooked& hooked = found->second;
    previous = hooked.previous;
    if (message == WM_NCHITTEST) hooked.cursor = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    if (message == WM_SETCURSOR && hooked.holders > 0 && isVideoWindowMouseMessage(mouse)) {
      input = hooked.input;
      point = hooked.cursor;
    }
  }
  if (input && ScreenToClient(window, &point)) {
    RECT client{};
    GetClientRect(window, &client);
    // A point off the client area (the cursor was on the frame) is no click on the picture.
    if (point.x >= 0 && point.y >= 0 && point.x <= client.right && point.y <= client.bottom) {
      if (const auto scaled = scaleWindowPoint(point.x, point.y, client.right, client.bottom)) {
        input(mouse, static_cast<uint32_t>(scaled->first), static_cast<uint32_t>(scaled->second));
      }
    }
  }
  return CallWindowProcW(previous, window, message, wParam, lParam);
}

HWND findInTree(HWND window, const wchar_t* className) {
  wchar_t name[64] = {};
  if (GetClassNameW(window, name, 64) > 0 && std::wstring(name) == className) return window;
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (HWND found = findInTree(child, className)) return found;
  }
  return nullptr;
}

}  // namespace

HWND findProcessWindow(const wchar_t* className) {
  struct Search {
    const wchar_t* className;
    HWND found;
  } search{className, nullptr};
  EnumWindows(
      [](HWND window, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid != GetCurrentProcessId()) return TRUE;
        s->found = findInTree(window, s->className);
        return s->found == nullptr;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool VideoWindowHook::install(PhoneInput input) {
  remove();
  HWND window = findProcessWindow(L"VideoRenderer");
  if (window == nullptr) return false;
  std::lock_guard lock(gHookLock);
  auto found = gHooked.find(window);
  if (found == gHooked.end()) {
    // Ours is not in the window's chain yet: its current procedure becomes the previous.
    SetLastError(0);
    const LONG_PTR replaced =
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&videoWindowProcedure));
    if (replaced == 0 && GetLastError() != 0) return false;
    found = gHooked.emplace(window, Hooked{}).first;
    found->second.previous = reinterpret_cast<WNDPROC>(replaced);
  }
  Hooked& hooked = found->second;
  hooked.input = std::move(input);
  ++hooked.holders;
  window_ = window;
  return true;
}

void VideoWindowHook::remove() {
  if (window_ == nullptr) return;
  std::lock_guard lock(gHookLock);
  const auto found = gHooked.find(window_);
  window_ = nullptr;
  if (found == gHooked.end()) return;
  Hooked& hooked = found->second;
  if (--hooked.holders > 0) return;
  hooked.input = nullptr;
  const auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(found->first, GWLP_WNDPROC));
  // A window that is gone, or whose procedure was replaced over ours, keeps its entry:
  // ours may still be called and then only passes messages on.
  if (current == videoWindowProcedure) {
    SetWindowLongPtrW(found->first, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(hooked.previous));
    gHooked.erase(found);
  } else if (!IsWindow(found->first)) {
    gHooked.erase(found);
  }
}

}  // namespace output::win32
