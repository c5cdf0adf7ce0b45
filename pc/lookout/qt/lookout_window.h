#pragma once

#include <QMainWindow>
#include <QWidget>

#include <map>

#include "lookout/viewer_presenter.h"
#include "lookout/viewer_view.h"

class QAction;
class QLabel;
class QPainter;

namespace lookout {

class LookoutWindow;

// The picture area: paints the presenter's bitmap, reports its size and the clicks on it.
class PictureWidget final : public QWidget {
 public:
  explicit PictureWidget(LookoutWindow& window);
  // During a paint only.
  void drawBitmap(const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t strideBytes);
  bool everDrawn() const { return everDrawn_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  LookoutWindow& window_;
  QPainter* painter_ = nullptr;
  bool drawn_ = false;
  bool everDrawn_ = false;
};

// The viewer's main window: menu bar, picture area, status bar. A thin front: every
// decision is the presenter's. Calls from the frame thread are queued to the window's
// thread.
class LookoutWindow final : public QMainWindow, public ViewerView {
 public:
  LookoutWindow();
  void attach(ViewerPresenter* presenter) { presenter_ = presenter; }
  ViewerPresenter* presenter() const { return presenter_; }
  PictureWidget* picture() const { return picture_; }
  QLabel* statusLabel() const { return status_; }
  QAction* action(uint32_t command) const;

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
  void* nativeParent() override;
  void setStatusText(const std::u16string& text) override;
  void requestWindowResize(uint32_t width, uint32_t height) override;
  void invalidatePicture() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  ViewerPresenter* presenter_ = nullptr;
  PictureWidget* picture_;
  QLabel* status_;
  std::map<uint32_t, QAction*> actions_;
  QSize ownSize_;        // the last size the program itself asked for
  bool correcting_ = false;  // a resize of our own to keep the picture's aspect is on its way
  int statusBarHeight_ = 0;
};

}  // namespace lookout
