#include "lookout_window_win32.h"

#include <commctrl.h>
#include <shlobj.h>
#include <windowsx.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "platform/module.h"
#include "platform/resources.h"

namespace lookout {

namespace {

// Posted by the frame thread to the window thread.
constexpr UINT kStatusChanged = WM_APP + 1;
constexpr UINT kResizeRequested = WM_APP + 2;

std::wstring wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

SizingEdge edgeOf(WPARAM side) {
  switch (side) {
    case WMSZ_LEFT: return SizingEdge::Left;
    case WMSZ_RIGHT: return SizingEdge::Right;
    case WMSZ_TOP: return SizingEdge::Top;
    case WMSZ_BOTTOM: return SizingEdge::Bottom;
    case WMSZ_TOPLEFT: return SizingEdge::TopLeft;
    case WMSZ_TOPRIGHT: return SizingEdge::TopRight;
    case WMSZ_BOTTOMLEFT: return SizingEdge::BottomLeft;
    default: return SizingEdge::BottomRight;
  }
}

// The folder browser preselects the current folder once it is up.
int CALLBACK browseCallback(HWND dialog, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED && data != 0)
    SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, data);
  return 0;
}

}  // namespace

HICON loadViewerIcon(const platform::ResourceModule* own) {
  if (own == nullptr) return nullptr;
  const std::string* name = own->icon(132);
  if (name == nullptr) return nullptr;
  const std::string dir = platform::folderHolding(platform::dataDirectories(), *name);
  if (dir.empty()) return nullptr;
  std::ifstream in(dir + "/" + *name, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty() || bytes.size() > (1u << 20)) return nullptr;
  return CreateIconFromResourceEx(bytes.data(), static_cast<DWORD>(bytes.size()), TRUE, 0x00030000,
                                  0, 0, LR_DEFAULTCOLOR);
}

LookoutWindowWin32::~LookoutWindowWin32() {
  if (window_ != nullptr && IsWindow(window_)) DestroyWindow(window_);
}

bool LookoutWindowWin32::create(const std::u16string& className, HICON icon) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  const std::wstring name = wide(className);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = windowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hIcon = icon;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
  wc.lpszClassName = name.c_str();
  if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  window_ = CreateWindowExW(0, name.c_str(), name.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                            wc.hInstance, this);
  return window_ != nullptr && statusBar_ != nullptr;
}

LRESULT CALLBACK LookoutWindowWin32::windowProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<LookoutWindowWin32*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->window_ = window;
  }
  auto* self = reinterpret_cast<LookoutWindowWin32*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  return self->handle(message, wParam, lParam);
}

LRESULT LookoutWindowWin32::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: {
      statusBar_ = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP,
                                   0, 0, 0, 0, window_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusBarId)),
                                   GetModuleHandleW(nullptr), nullptr);
      if (statusBar_ == nullptr) return -1;
      // Measured once.
      RECT r;
      GetWindowRect(statusBar_, &r);
      statusBarHeight_ = r.bottom - r.top;
      return 0;
    }
    case WM_SIZE: {
      SendMessageW(statusBar_, WM_SIZE, 0, 0);
      const int height = HIWORD(lParam) - statusBarHeight_;
      if (presenter_ != nullptr)
        presenter_->onClientResized(LOWORD(lParam), height > 0 ? static_cast<uint32_t>(height) : 0);
      return 0;
    }
    case WM_SIZING: {
      if (presenter_ == nullptr) break;
      auto* dragged = reinterpret_cast<RECT*>(lParam);
      RECT now;
      GetWindowRect(window_, &now);
      const WindowRect r = presenter_->sizing(
          edgeOf(wParam), WindowRect{dragged->left, dragged->top, dragged->right, dragged->bottom},
          WindowRect{now.left, now.top, now.right, now.bottom});
      *dragged = RECT{r.left, r.top, r.right, r.bottom};
      return TRUE;
    }
    case WM_ERASEBKGND:
      // The picture covers the area once there is one.
      if (presenter_ != nullptr && presenter_->hasPicture()) return 1;
      break;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      paintDc_ = BeginPaint(window_, &ps);
      if (presenter_ != nullptr) presenter_->paint();
      EndPaint(window_, &ps);
      paintDc_ = nullptr;
      return 0;
    }
    case WM_COMMAND:
      if (HIWORD(wParam) == 0 && lParam == 0 && presenter_ != nullptr) {
        presenter_->onCommand(LOWORD(wParam));
        return 0;
      }
      break;
    case WM_KEYDOWN:
      if (presenter_ != nullptr) presenter_->onKeyDown(static_cast<uint32_t>(wParam));
      return 0;
    case WM_LBUTTONDOWN:
      if (presenter_ != nullptr) presenter_->onLeftButtonDown(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      return 0;
    case kStatusChanged: {
      std::u16string text;
      {
        std::lock_guard lock(statusMutex_);
        text = pendingStatus_;
      }
      SendMessageW(statusBar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(wide(text).c_str()));
      return 0;
    }
    case kResizeRequested:
      if (presenter_ != nullptr) presenter_->resizeWindow(static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam));
      InvalidateRect(window_, nullptr, FALSE);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

void LookoutWindowWin32::setTitle(const std::u16string& title) {
  SetWindowTextW(window_, wide(title).c_str());
}

void LookoutWindowWin32::setMenu(const std::vector<ViewerMenu>& menus) {
  HMENU bar = CreateMenu();
  for (const ViewerMenu& m : menus) {
    HMENU popup = CreatePopupMenu();
    for (const ViewerMenuItem& item : m.items)
      AppendMenuW(popup, MF_STRING, item.command, wide(item.text).c_str());
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), wide(m.title).c_str());
  }
  SetMenu(window_, bar);
  if (menu_ != nullptr) DestroyMenu(menu_);
  menu_ = bar;
}

void LookoutWindowWin32::setAutoResizeChecked(bool checked) {
  CheckMenuItem(menu_, kCommandAutoResize, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

WindowMetrics LookoutWindowWin32::metrics() {
  // Everything the window is larger than its client area: borders, caption, menu bar.
  RECT outer, client;
  GetWindowRect(window_, &outer);
  GetClientRect(window_, &client);
  WindowMetrics m;
  m.frameWidth = (outer.right - outer.left) - (client.right - client.left);
  m.frameHeight = (outer.bottom - outer.top) - (client.bottom - client.top);
  m.statusBarHeight = statusBarHeight_;
  return m;
}

bool LookoutWindowWin32::isMaximized() { return IsZoomed(window_) != 0; }

void LookoutWindowWin32::restore() { ShowWindow(window_, SW_RESTORE); }

void LookoutWindowWin32::setOuterSize(int32_t width, int32_t height) {
  SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void LookoutWindowWin32::drawBitmap(const uint8_t* pixels, uint32_t width, uint32_t height,
                                    uint32_t) {
  if (paintDc_ == nullptr) return;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = static_cast<LONG>(height);  // bottom-up
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  SetDIBitsToDevice(paintDc_, 0, 0, width, height, 0, 0, 0, height, pixels, &info, DIB_RGB_COLORS);
}

std::optional<std::u16string> LookoutWindowWin32::chooseFolder(const std::u16string& title,
                                                               const std::u16string& current) {
  const std::wstring titleText = wide(title);
  const std::wstring start = wide(current);
  BROWSEINFOW info{};
  info.hwndOwner = window_;
  info.lpszTitle = titleText.c_str();
  // File-system folders only, not below the domain, an edit box, the new dialog style,
  // computers too.
  info.ulFlags = 0x1053;
  info.lpfn = browseCallback;
  info.lParam = start.empty() ? 0 : reinterpret_cast<LPARAM>(start.c_str());
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  if (chosen == nullptr) return std::nullopt;
  wchar_t path[MAX_PATH + 1] = {};
  const bool ok = SHGetPathFromIDListW(chosen, path) != 0;
  CoTaskMemFree(chosen);
  if (!ok) return std::nullopt;
  const std::wstring p(path);
  return std::u16string(p.begin(), p.end());
}

void LookoutWindowWin32::closeWindow() { DestroyWindow(window_); }

void LookoutWindowWin32::setStatusText(const std::u16string& text) {
  {
    std::lock_guard lock(statusMutex_);
    pendingStatus_ = text;
  }
  PostMessageW(window_, kStatusChanged, 0, 0);
}

void LookoutWindowWin32::requestWindowResize(uint32_t width, uint32_t height) {
  PostMessageW(window_, kResizeRequested, width, height);
}

void LookoutWindowWin32::invalidatePicture() { InvalidateRect(window_, nullptr, FALSE); }

}  // namespace lookout
