#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "lookout/viewer_presenter.h"
#include "lookout/viewer_view.h"

namespace platform {
class ResourceModule;
}

namespace lookout {

// Icon resource 132 of the viewer's own module: a PNG picture among the data files beside
// the program. Null when it is missing or unreadable.
HICON loadViewerIcon(const platform::ResourceModule* own);

// The viewer's window on Win32: an overlapped window with the menu bar, the picture area
// and a status bar. A thin front: window messages become presenter calls, and the view's
// requests become Win32 calls. The frame thread's requests are posted to the window
// thread, never sent, so the frame thread cannot wait on a window thread that waits for it.
class LookoutWindowWin32 final : public ViewerView {
 public:
  static constexpr int kStatusBarId = 110;

  LookoutWindowWin32() = default;
  ~LookoutWindowWin32() override;

  // Registers the class `className` with `icon` (may be null) and creates the window
  // with its status bar. False when the window cannot be made.
  bool create(const std::u16string& className, HICON icon);
  void attach(ViewerPresenter* presenter) { presenter_ = presenter; }
  HWND handle() const { return window_; }

  // ViewerView
  void setTitle(const std::u16string& title) override;
  void setMenu(const std::vector<ViewerMenu>& menus) override;
  void setAutoResizeChecked(bool checked) override;
  WindowMetrics metrics() override;
  bool isMaximized() override;
  void restore() override;
  void setOuterSize(int32_t width, int32_t height) override;
  void drawBitmap(const uint8_t* pixels, uint32_t width, uint32_t height,
                  uint32_t strideBytes) override;
  std::optional<std::u16string> chooseFolder(const std::u16string& title,
                                             const std::u16string& current) override;
  void closeWindow() override;
  void* nativeParent() override { return window_; }
  void setStatusText(const std::u16string& text) override;
  void requestWindowResize(uint32_t width, uint32_t height) override;
  void invalidatePicture() override;

 private:
  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);

  HWND window_ = nullptr;
  HWND statusBar_ = nullptr;
  HMENU menu_ = nullptr;
  int statusBarHeight_ = 0;
  ViewerPresenter* presenter_ = nullptr;
  HDC paintDc_ = nullptr;  // during WM_PAINT only

  std::mutex statusMutex_;
  std::u16string pendingStatus_;  // the last text the frame thread asked for
};

}  // namespace lookout
