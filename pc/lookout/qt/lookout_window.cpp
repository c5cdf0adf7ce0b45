#include "lookout_window.h"

#include <QAction>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

#include "key_mapping.h"

namespace lookout {

namespace {

QString toQString(const std::u16string& s) {
  return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

std::u16string fromQString(const QString& s) {
  return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<size_t>(s.size()));
}

}  // namespace

PictureWidget::PictureWidget(LookoutWindow& window) : QWidget(&window), window_(window) {
  // The picture covers the whole area once there is one; before it, paintEvent fills it.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  setFocusPolicy(Qt::StrongFocus);
}

void PictureWidget::drawBitmap(const uint8_t* pixels, uint32_t width, uint32_t height,
                               uint32_t strideBytes) {
  if (painter_ == nullptr) return;
  QImage image(pixels, static_cast<int>(width), static_cast<int>(height),
               static_cast<qsizetype>(strideBytes), QImage::Format_BGR888);
  // Rows come bottom-up.
  painter_->save();
  painter_->translate(0, height);
  painter_->scale(1, -1);
  painter_->drawImage(QPoint(0, 0), image);
  painter_->restore();
  drawn_ = true;
  everDrawn_ = true;
}

void PictureWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter_ = &painter;
  drawn_ = false;
  if (window_.presenter() != nullptr) window_.presenter()->paint();
  painter_ = nullptr;
  // Before the first picture the area is gray; after it, a paint that does not match the
  // picture's size leaves the last picture in place until the next one.
  if (!everDrawn_) painter.fillRect(rect(), palette().color(QPalette::Window));
}

void PictureWidget::resizeEvent(QResizeEvent*) {
  if (window_.presenter() != nullptr)
    window_.presenter()->onClientResized(static_cast<uint32_t>(width()),
                                         static_cast<uint32_t>(height()));
}

void PictureWidget::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || window_.presenter() == nullptr) return;
  QPoint p = event->position().toPoint();
  window_.presenter()->onLeftButtonDown(p.x(), p.y());
}

LookoutWindow::LookoutWindow() {
  picture_ = new PictureWidget(*this);
  setCentralWidget(picture_);
  status_ = new QLabel(this);
  statusBar()->addWidget(status_, 1);
  statusBar()->setSizeGripEnabled(true);
}

QAction* LookoutWindow::action(uint32_t command) const {
  auto it = actions_.find(command);
  return it == actions_.end() ? nullptr : it->second;
}

void LookoutWindow::setTitle(const std::u16string& title) { setWindowTitle(toQString(title)); }

void LookoutWindow::setMenu(const std::vector<ViewerMenu>& menus) {
  menuBar()->clear();
  actions_.clear();
  for (const ViewerMenu& m : menus) {
    QMenu* menu = menuBar()->addMenu(toQString(m.title));
    for (const ViewerMenuItem& item : m.items) {
      QAction* a = menu->addAction(toQString(item.text));
      a->setData(item.command);
      if (item.command == kCommandAutoResize) a->setCheckable(true);
      uint32_t command = item.command;
      connect(a, &QAction::triggered, this, [this, command] {
        if (presenter_ != nullptr) presenter_->onCommand(command);
      });
      actions_[item.command] = a;
    }
  }
}

void LookoutWindow::setAutoResizeChecked(bool checked) {
  if (QAction* a = action(kCommandAutoResize)) a->setChecked(checked);
}

WindowMetrics LookoutWindow::metrics() {
  // The window's own area holds the menu bar, the picture and the status bar, one above
  // the other; the window system's frame lies outside it. The status bar's height is
  // measured once, when first asked.
  if (statusBarHeight_ <= 0) statusBarHeight_ = statusBar()->sizeHint().height();
  WindowMetrics m;
  m.frameWidth = 0;
  m.frameHeight = menuBar()->isNativeMenuBar() ? 0 : menuBar()->sizeHint().height();
  m.statusBarHeight = statusBarHeight_;
  return m;
}

bool LookoutWindow::isMaximized() { return QMainWindow::isMaximized(); }

void LookoutWindow::restore() { showNormal(); }

void LookoutWindow::setOuterSize(int32_t width, int32_t height) {
  ownSize_ = QSize(width, height);
  resize(width, height);
}

void LookoutWindow::drawBitmap(const uint8_t* pixels, uint32_t width, uint32_t height,
                               uint32_t strideBytes) {
  picture_->drawBitmap(pixels, width, height, strideBytes);
}

std::optional<std::u16string> LookoutWindow::chooseFolder(const std::u16string& title,
                                                          const std::u16string& current) {
  QString chosen = QFileDialog::getExistingDirectory(this, toQString(title), toQString(current),
                                                     QFileDialog::ShowDirsOnly);
  if (chosen.isEmpty()) return std::nullopt;
  return fromQString(chosen);
}

void LookoutWindow::closeWindow() { close(); }

void* LookoutWindow::nativeParent() { return static_cast<QWidget*>(this); }

void LookoutWindow::setStatusText(const std::u16string& text) {
  QString t = toQString(text);
  if (QThread::currentThread() == thread()) {
    status_->setText(t);
  } else {
    QMetaObject::invokeMethod(this, [this, t] { status_->setText(t); }, Qt::QueuedConnection);
  }
}

void LookoutWindow::requestWindowResize(uint32_t width, uint32_t height) {
  QMetaObject::invokeMethod(
      this,
      [this, width, height] {
        if (presenter_ != nullptr) presenter_->resizeWindow(width, height);
        picture_->update();
      },
      Qt::QueuedConnection);
}

void LookoutWindow::invalidatePicture() {
  QMetaObject::invokeMethod(picture_, [this] { picture_->update(); }, Qt::QueuedConnection);
}

void LookoutWindow::keyPressEvent(QKeyEvent* event) {
  uint32_t vk = virtualKeyFor(event->key());
  if (vk != 0 && presenter_ != nullptr) {
    presenter_->onKeyDown(vk);
    event->accept();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

void LookoutWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  QSize size = event->size(), old = event->oldSize();
  if (correcting_) {
    // The answer to our own correction: taken as it is, whether the window system
    // honoured it or not, so that a window manager that insists on its size (tiling)
    // cannot start a ping-pong.
    correcting_ = false;
    return;
  }
  // Sizes the program asked for itself, and the first size, need no correction.
  if (presenter_ == nullptr || !old.isValid() || size == ownSize_) return;
  // Qt reports the new size, not the edge being dragged: a change of the height alone is
  // taken as the bottom edge, anything else as the right one.
  SizingEdge edge = size.width() == old.width() ? SizingEdge::Bottom : SizingEdge::Right;
  QPoint at = pos();
  WindowRect dragged{at.x(), at.y(), at.x() + size.width(), at.y() + size.height()};
  WindowRect current{at.x(), at.y(), at.x() + old.width(), at.y() + old.height()};
  WindowRect wanted = presenter_->sizing(edge, dragged, current);
  QSize target(wanted.width(), wanted.height());
  if (target == size) return;
  QTimer::singleShot(0, this, [this, target] {
    if (target == this->size()) return;
    correcting_ = true;
    resize(target);
  });
}

}  // namespace lookout
