#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lookout {

// One item of the viewer's menu bar: its text and the command it sends.
struct ViewerMenuItem {
  std::u16string text;
  uint32_t command = 0;
};

struct ViewerMenu {
  std::u16string title;
  std::vector<ViewerMenuItem> items;
};

// The parts of the window outside the picture: what the window is larger than its picture
// area, and the status bar below the picture. Sizes in device pixels.
struct WindowMetrics {
  int32_t frameWidth = 0;
  int32_t frameHeight = 0;
  int32_t statusBarHeight = 0;
};

// The viewer's window as the presenter sees it. A front (Qt, or a fake in tests) puts the
// controls on screen and forwards the window's events to the presenter.
//
// Threading: setStatusText, requestWindowResize and invalidatePicture are called from the
// frame thread and must hand their work to the window thread (requestWindowResize ends in
// ViewerPresenter::resizeWindow there). Everything else is called on the window thread.
class ViewerView {
 public:
  virtual ~ViewerView() = default;

  virtual void setTitle(const std::u16string& title) = 0;
  virtual void setMenu(const std::vector<ViewerMenu>& menus) = 0;
  virtual void setAutoResizeChecked(bool checked) = 0;
  virtual WindowMetrics metrics() = 0;
  virtual bool isMaximized() = 0;
  virtual void restore() = 0;
  // New size of the whole window; the top-left corner stays where it is.
  virtual void setOuterSize(int32_t width, int32_t height) = 0;
  // Inside a paint: a bottom-up 24-bit picture (blue, green, red), rows of `strideBytes`,
  // drawn at the picture area's top-left corner.
  virtual void drawBitmap(const uint8_t* pixels, uint32_t width, uint32_t height,
                          uint32_t strideBytes) = 0;
  // The folder chooser with the current folder preselected; nothing when cancelled.
  virtual std::optional<std::u16string> chooseFolder(const std::u16string& title,
                                                     const std::u16string& current) = 0;
  virtual void closeWindow() = 0;
  // The window handed to the library's dialogs as their parent.
  virtual void* nativeParent() = 0;

  // Any thread.
  virtual void setStatusText(const std::u16string& text) = 0;
  virtual void requestWindowResize(uint32_t width, uint32_t height) = 0;
  virtual void invalidatePicture() = 0;
};

}  // namespace lookout
