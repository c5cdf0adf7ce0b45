#include "dialog_windows.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include "platform/help.h"
#include "platform/resources.h"

namespace dialogs::qt {

namespace {

QString qs(const std::u16string& s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }

constexpr char kLinkColour[] = "#0000c0";  // RGB (0, 0, 192)

QString linkHtml(const QString& text, bool underlined) {
  return QString("<a href=\"%1\" style=\"color:%2; text-decoration:%3\">%1</a>")
      .arg(text.toHtmlEscaped(), kLinkColour, underlined ? "underline" : "none");
}

// Keeps the page over the frame's upper part whenever the frame changes size.
class ResizeWatch final : public QObject {
 public:
  explicit ResizeWatch(std::function<void()> onResize) : onResize_(std::move(onResize)) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Resize || event->type() == QEvent::Show) onResize_();
    return false;
  }

 private:
  std::function<void()> onResize_;
};

}  // namespace

TemplateExtras::TemplateExtras(front::TemplateDialog& dialog, std::string iconPath)
    : dialog_(dialog), iconPath_(std::move(iconPath)) {}

void TemplateExtras::setCaption(const std::u16string& caption) { dialog_.setWindowTitle(qs(caption)); }

void TemplateExtras::showItem(int id, bool shown) {
  if (QWidget* w = dialog_.control(id)) w->setVisible(shown);
}

void TemplateExtras::makeLink(int id, const std::u16string& text) {
  auto* label = qobject_cast<QLabel*>(dialog_.control(id));
  if (!label) return;
  label->setTextFormat(Qt::RichText);
  label->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
  label->setOpenExternalLinks(false);
  label->setText(linkHtml(qs(text), false));
  label->setProperty("linkText", qs(text));
  label->setCursor(Qt::PointingHandCursor);
  label->setAttribute(Qt::WA_Hover);
  label->installEventFilter(this);
  QObject::connect(label, &QLabel::linkActivated, this, [this](const QString&) {
    if (onLinkClicked) onLinkClicked();
  });
}

bool TemplateExtras::eventFilter(QObject* watched, QEvent* event) {
  // The link is underlined while the pointer is over it.
  if (event->type() == QEvent::Enter || event->type() == QEvent::Leave) {
    if (auto* label = qobject_cast<QLabel*>(watched)) {
      label->setText(linkHtml(label->property("linkText").toString(), event->type() == QEvent::Enter));
    }
  }
  return QObject::eventFilter(watched, event);
}

void TemplateExtras::setIcon(int id, int) {
  auto* label = qobject_cast<QLabel*>(dialog_.control(id));
  if (!label || iconPath_.empty()) return;
  QPixmap picture(QString::fromStdString(iconPath_));
  if (picture.isNull()) return;
  label->setPixmap(picture.scaled(label->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

// ---- settings ------------------------------------------------------------------------

SettingsWindow::SettingsWindow(const DialogRequest& request) {
  frame_ = new front::TemplateDialog(findTemplate(request, kFrameTemplate), kFrameTemplate, 0, {},
                                     static_cast<QWidget*>(request.parent), false);
  frame_->setAttribute(Qt::WA_DeleteOnClose, false);
  page_ = new front::TemplateDialog(findTemplate(request, kPageTemplate), kPageTemplate, 0, {}, frame_, false);
  page_->setWindowFlags(Qt::Widget);
  frameExtras_ = std::make_unique<TemplateExtras>(*frame_, request.iconPath);
  framePresenter_ = std::make_unique<SettingsFrame>(*frame_, *frameExtras_, *request.host);
  pagePresenter_ = std::make_unique<SettingsPage>(*page_, *request.host);

  frame_->onInit = [this] { init(); };
  frame_->onCommand = [this](int id) { framePresenter_->onCommand(id); };
  frame_->onClose = [this] { framePresenter_->onClose(); };
  page_->onCommand = [this](int id) { pagePresenter_->onCommand(id); };
  page_->onSelectionChanged = [this](int id) { pagePresenter_->onSelectionChanged(id); };
  page_->onClose = [this] { framePresenter_->onClose(); };
  if (auto* port = qobject_cast<QLineEdit*>(page_->control(kPortEdit))) {
    QObject::connect(port, &QLineEdit::editingFinished, page_, [this] { pagePresenter_->onPortEditDone(); });
  }
  poll_ = new QTimer(frame_);
  poll_->setInterval(kPropertyPollMs);
  QObject::connect(poll_, &QTimer::timeout, frame_, [this] { pagePresenter_->refreshProperties(); });
  resizeWatch_ = std::make_unique<ResizeWatch>([this] { placePage(); });
  frame_->installEventFilter(resizeWatch_.get());
}

SettingsWindow::~SettingsWindow() {
  frame_->removeEventFilter(resizeWatch_.get());
  delete frame_;
}

void SettingsWindow::placePage() {
  // The page takes the frame's upper part, above the button row.
  const int height = frame_->height() * 269 / 292;
  page_->setGeometry(0, 0, frame_->width(), height);
  page_->layoutFromTemplate();
  page_->raise();
}

void SettingsWindow::init() {
  framePresenter_->onInitDialog();
  pagePresenter_->onInitDialog();
  placePage();
  page_->show();
  // The keyboard starts in the phone's property list, the page's first control (once the
  // dialog runs: the frame gives its own first control the focus as it opens).
  QTimer::singleShot(0, page_, [this] {
    if (QWidget* first = page_->control(kPropertyList)) first->setFocus();
  });
  poll_->start();
}

int SettingsWindow::run() { return frame_->run(); }

// ---- About ---------------------------------------------------------------------------

AboutWindow::AboutWindow(const DialogRequest& request) {
  dialog_ = new front::TemplateDialog(findTemplate(request, kAboutTemplate), kAboutTemplate, 0, {},
                                      static_cast<QWidget*>(request.parent), false);
  extras_ = std::make_unique<TemplateExtras>(*dialog_, request.iconPath);
  // The notices are longer than a line: they wrap inside their rectangles.
  for (QLabel* label : dialog_->findChildren<QLabel*>()) label->setWordWrap(true);
  open = [](const std::string& address) {
    return platform::systemProgramStarter().start({platform::kDesktopOpener, address});
  };
  presenter_ = std::make_unique<AboutBox>(*dialog_, *extras_, [this](const std::string& a) { return open(a); });
  extras_->onLinkClicked = [this] { presenter_->onLinkClicked(); };
  dialog_->onInit = [this] { init(); };
  dialog_->onCommand = [this](int id) { presenter_->onCommand(id); };
  dialog_->onClose = [this] { presenter_->onCommand(2); };
}

AboutWindow::~AboutWindow() { delete dialog_; }

void AboutWindow::init() { presenter_->onInitDialog(); }

int AboutWindow::run() { return dialog_->run(); }

uint32_t showDialog(const DialogRequest* request) {
  if (request == nullptr || request->size != sizeof(DialogRequest) || request->host == nullptr) return 0;
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (app == nullptr) return 0;
  if (QThread::currentThread() != app->thread()) {
    // Windows live on the application's thread; a caller on another thread waits there.
    uint32_t shown = 0;
    QMetaObject::invokeMethod(app, [&] { shown = showDialog(request); }, Qt::BlockingQueuedConnection);
    return shown;
  }
  if (request->templateId == kAboutTemplate) {
    AboutWindow window(*request);
    window.run();
  } else {
    SettingsWindow window(*request);
    window.run();
  }
  return 1;
}

uint32_t showMessage(const MessageRequest* request) {
  if (request == nullptr || request->size != sizeof(MessageRequest)) return 0;
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (app == nullptr) return 0;
  const QString title = QString::fromStdString(request->title);
  const QString text = QString::fromStdString(request->text).trimmed();
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (request->flags & 0xF0) {
    case 0x10: icon = QMessageBox::Critical; break;
    case 0x20: icon = QMessageBox::Question; break;
    case 0x30: icon = QMessageBox::Warning; break;
    case 0x40: icon = QMessageBox::Information; break;
    default: break;
  }
  QMetaObject::invokeMethod(
      app,
      [title, text, icon] {
        // Over the window in front (a running dialog included), modal so that it takes
        // the input even while that dialog runs.
        auto* box = new QMessageBox(icon, title, text, QMessageBox::Ok, QApplication::activeWindow());
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::ApplicationModal);
        box->show();
      },
      Qt::QueuedConnection);
  return 1;
}

}  // namespace dialogs::qt
