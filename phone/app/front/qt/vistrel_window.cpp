#include "vistrel_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSocketNotifier>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>

#include "platform/help.h"
#include "targets/ftp_settings_dialog.h"
#include "targets/network_settings_dialog.h"
#include "template_dialog.h"
#include "texts/text_ids.h"
#include "ui/about_dialog.h"
#include "ui/general_settings_dialog.h"
#include "ui/menu_bars.h"
#include "ui/settings_panel.h"

namespace front {

namespace {
QString qs(const std::u16string& s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }

// The "Connecting..." dialog's view over a template dialog.
class ConnectingWindow final : public targets::ConnectingView {
 public:
  ConnectingWindow(TemplateDialog& dialog, QWidget* parent) : dialog_(dialog), parent_(parent) {}
  void setItemText(int id, const std::u16string& text) override { dialog_.setItemText(id, text); }
  targets::Rect parentRect() const override { return rect(parent_->frameGeometry()); }
  targets::Rect dialogRect() const override { return rect(dialog_.frameGeometry()); }
  void moveTo(const targets::Rect& r) override { dialog_.move(r.left, r.top); }
  void postClose() override {
    QMetaObject::invokeMethod(&dialog_, [d = &dialog_] { d->close(); }, Qt::QueuedConnection);
  }
  void openHelp(const std::u16string&) override {}
  void endDialog(int result) override { dialog_.endDialog(result); }

 private:
  static targets::Rect rect(const QRect& r) { return {r.left(), r.top(), r.right() + 1, r.bottom() + 1}; }
  TemplateDialog& dialog_;
  QWidget* parent_;
};
// The FTP settings dialog's scrolling over a template dialog: a scroll bar at the right
// edge of the content, the controls moved under it.
class ScrollingWindow final : public targets::ScrollingView {
 public:
  explicit ScrollingWindow(TemplateDialog& dialog)
      : dialog_(dialog), bar_(new QScrollBar(Qt::Vertical, dialog.content())) {
    bar_->setObjectName("scrollbar");
    bar_->setSingleStep(targets::FtpSettingsDialog::kLineStep);
    bar_->hide();
    dialog_.reserveRight(bar_->sizeHint().width());
  }
  QScrollBar* bar() const { return bar_; }

  int pageHeight() const override {
    settle();
    return dialog_.content()->height();
  }
  void setScrollRange(int maximum, int page, int position) override {
    settle();
    QSignalBlocker block(bar_);
    bar_->setRange(0, std::max(0, maximum - page));
    bar_->setPageStep(page);
    bar_->setValue(position);
    const int width = bar_->sizeHint().width();
    bar_->setGeometry(dialog_.content()->width() - width, 0, width, dialog_.content()->height());
    bar_->setVisible(maximum > page);
  }
  void scrollContents(int dy) override { dialog_.moveControls(dy); }

 private:
  // The content takes its share of a new dialog size before it is measured.
  void settle() const {
    if (dialog_.layout()) dialog_.layout()->activate();
  }
  TemplateDialog& dialog_;
  QScrollBar* bar_;
};
}  // namespace

PreviewWidget::PreviewWidget(VistrelWindow& window) : QWidget(&window), window_(window) {
  setObjectName("preview");
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(160, 120);
}

void PreviewWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter_ = &painter;
  if (core::CaptureContext* context = window_.context()) {
    context->onPaint();
  } else {
    painter.fillRect(rect(), Qt::black);
  }
  painter_ = nullptr;
}

VistrelWindow::VistrelWindow(std::string programDirectory)
    : programDirectory_(std::move(programDirectory)) {
  setObjectName("vistrel");
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  preview_ = new PreviewWidget(*this);
  layout->addWidget(preview_, 1);
  auto* bar = new QWidget(central);
  bar->setObjectName("softkeys");
  auto* barLayout = new QHBoxLayout(bar);
  barLayout->setContentsMargins(2, 2, 2, 2);
  popup_ = new QMenu(this);
  popup_->setObjectName("menu");
  for (const ui::MenuBarButton& b : ui::menuBarButtons(ui::kMenuBarMain)) {
    auto* button = new QPushButton(bar);
    button->setObjectName(QString("softkey%1").arg(b.command));
    button->setFocusPolicy(Qt::NoFocus);
    softKeys_[b.command] = button;
    barLayout->addWidget(button);
    const int id = b.command;
    connect(button, &QPushButton::clicked, this, [this, id, popup = b.popup] {
      if (popup) openButtonMenu(id);
      else command(id);
    });
  }
  layout->addWidget(bar);
  setCentralWidget(central);
  setFocusPolicy(Qt::StrongFocus);
  const QString icon = QString::fromStdString(programDirectory_ + "/vistrel.ico");
  setWindowIcon(QIcon(icon));
  resize(320, 240 + bar->sizeHint().height());
}

VistrelWindow::~VistrelWindow() = default;

QPushButton* VistrelWindow::softKey(int command) const {
  auto it = softKeys_.find(command);
  return it == softKeys_.end() ? nullptr : it->second;
}

void VistrelWindow::command(int id) {
  if (!program_ || destroyed_) return;
  if (program_->menu->dispatch(id)) {
    if (!destroyed_) program_->menu->build();
    return;
  }
  program_->context->onCommand(id);
}

void VistrelWindow::start(Program& program) {
  program_ = &program;
  core::CaptureContext& context = *program.context;
  const char16_t* title = program.language->ownModule().string(texts::kStringWindowTitle)
                              ? program.language->ownModule().string(texts::kStringWindowTitle)->c_str()
                              : u"Vistrel";
  setWindowTitle(qs(title));
  // The program's accelerators (Ctrl+Q).
  if (const auto* keys = program.language->ownModule().accelerators(ui::kAcceleratorTable)) {
    for (const platform::Accelerator& a : *keys) {
      int sequence = a.key;
      for (const std::string& o : a.options) {
        if (o == "CONTROL") sequence |= Qt::CTRL;
        if (o == "SHIFT") sequence |= Qt::SHIFT;
        if (o == "ALT") sequence |= Qt::ALT;
      }
      auto* shortcut = new QShortcut(QKeySequence(sequence), this);
      const int id = a.command;
      connect(shortcut, &QShortcut::activated, this, [this, id] { command(id); });
    }
  }
  // The hand-over of later starts and the request to end.
  auto* handOver = new QSocketNotifier(program.channel->fd(), QSocketNotifier::Read, this);
  connect(handOver, &QSocketNotifier::activated, this, [this] {
    HandOverMessage message;
    if (program_->channel->receive(message, 1000)) program_->channel->reply(program_->onHandOver(message));
  });
  auto* ending = new QSocketNotifier(program.signalFd, QSocketNotifier::Read, this);
  connect(ending, &QSocketNotifier::activated, this, [this] {
    takeEndRequest(program_->signalFd);
    closeWindow();
  });

  context.onCreate();
  program.menu->build();
  show();
  raise();
  activateWindow();
  activeShown_ = true;
  context.onActivate(true, false);
  if (program.started) program.started();
}

int VistrelWindow::run(Program& program) {
  start(program);
  const int code = destroyed_ ? 0 : QApplication::exec();
  // The program's parts end with the start that owns them; nothing may reach them after.
  for (auto& [id, timer] : timers_) timer->stop();
  program_ = nullptr;
  destroyed_ = true;
  return code;
}

// ---- WindowView ----

void VistrelWindow::setCommandText(int command, const std::u16string& text) {
  if (QPushButton* b = softKey(command)) b->setText(qs(text));
}

void VistrelWindow::showMessage(const std::u16string& text, const std::u16string& caption) {
  const bool wait = waitCursor_;
  if (wait) setWaitCursor(false);
  QMessageBox box(QMessageBox::Information, qs(caption), qs(text), QMessageBox::Ok, this);
  box.setObjectName("message");
  openDialog_ = &box;
  box.exec();
  openDialog_ = nullptr;
  if (wait) setWaitCursor(true);
}

void VistrelWindow::setWaitCursor(bool wait) {
  if (wait == waitCursor_) return;
  waitCursor_ = wait;
  if (wait) QApplication::setOverrideCursor(Qt::WaitCursor);
  else QApplication::restoreOverrideCursor();
}

void VistrelWindow::invalidate() {
  QMetaObject::invokeMethod(preview_, [p = preview_] { p->update(); }, Qt::QueuedConnection);
}

void VistrelWindow::startTimer(uint32_t id, uint32_t ms) {
  QTimer*& timer = timers_[id];
  if (!timer) {
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this, id] {
      if (!program_ || destroyed_) return;
      program_->context->onTimer(id);
      if (program_->onTimer) program_->onTimer();
    });
  }
  timer->start(static_cast<int>(ms));
}

void VistrelWindow::stopTimer(uint32_t id) {
  auto it = timers_.find(id);
  if (it != timers_.end() && it->second) it->second->stop();
}

// While capturing, the context calls this every 8 s or so so that the device does not
// blank its screen or suspend while it streams: the desktop session's screen saver is
// told that the user was active (its standard session-bus call). The message is sent
// without waiting for an answer; with no session bus or no screen saver nothing happens.
// The program's own connection to the session bus is made at the first call.
void VistrelWindow::resetIdleTimer() {
  QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                                      QStringLiteral("vistrel-idle"));
  if (!bus.isConnected()) return;
  bus.send(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ScreenSaver"),
                                          QStringLiteral("/org/freedesktop/ScreenSaver"),
                                          QStringLiteral("org.freedesktop.ScreenSaver"),
                                          QStringLiteral("SimulateUserActivity")));
}

uint32_t VistrelWindow::displayRotationDegrees() {
  QScreen* s = screen();
  if (!s) return 0;
  const int angle = s->angleBetween(s->nativeOrientation(), s->orientation());
  return static_cast<uint32_t>((angle % 360 + 360) % 360);
}

void VistrelWindow::clientSize(int32_t& width, int32_t& height) {
  width = preview_->width();
  height = preview_->height();
}

void VistrelWindow::drawPreview(const core::PreviewBitmap& bitmap) {
  QPainter* painter = preview_->painter();
  if (!painter || !bitmap.pixels) return;
  // A bottom-up 5-5-5 bitmap, as the context keeps it.
  const QImage rows(bitmap.pixels, bitmap.width, bitmap.height, static_cast<qsizetype>(bitmap.stride()),
                    QImage::Format_RGB555);
  painter->drawImage(0, 0, rows.mirrored(false, true));
}

void VistrelWindow::fill(uint32_t colour) {
  if (QPainter* painter = preview_->painter())
    painter->fillRect(preview_->rect(), QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF));
}

void VistrelWindow::postCommandReceived() {
  QMetaObject::invokeMethod(this, [this] {
    if (program_ && !destroyed_) program_->context->onCommandReceived();
  }, Qt::QueuedConnection);
}

void VistrelWindow::postPropertyCommands() {
  QMetaObject::invokeMethod(this, [this] {
    if (program_ && !destroyed_) program_->context->onPropertyCommands();
  }, Qt::QueuedConnection);
}

void VistrelWindow::rebuildMenu() {
  if (program_) program_->menu->build();
}

bool VistrelWindow::openHelp(const std::u16string& topic) { return texts::OpenHelp(topic, programDirectory_); }

void VistrelWindow::closeWindow() {
  QMetaObject::invokeMethod(this, [this] {
    if (destroyed_ || !program_) return;
    destroyed_ = true;
    setWaitCursor(false);
    program_->context->onDestroy();
    hide();
  }, Qt::QueuedConnection);
}

void VistrelWindow::postQuit(int code) {
  destroyed_ = true;
  QCoreApplication::exit(code);
}

// ---- The "Connecting..." dialog ----

int VistrelWindow::runConnecting(targets::ConnectingDialog& dialog) {
  TemplateDialog d(dialogTemplate(targets::kConnectingDialogId, false), targets::kConnectingDialogId, 0,
                   program_->context->text(), this, false);
  ConnectingWindow view(d, this);
  d.onInit = [&] { dialog.onInitDialog(view); };
  d.onCommand = [&](int id) { dialog.onCommand(id); };
  d.onClose = [&] { dialog.onClose(); };
  connecting_ = &dialog;
  openDialog_ = &d;
  const int result = d.run();
  openDialog_ = nullptr;
  connecting_ = nullptr;
  dialog.onDestroyed();
  return result;
}

void VistrelWindow::statusChanged(targets::ConnectingDialog& dialog) {
  QMetaObject::invokeMethod(this, [this, d = &dialog] {
    if (connecting_ == d && d->open()) d->showStatus();
  }, Qt::QueuedConnection);
}

// ---- Popups ----

void VistrelWindow::setButtonMenu(int buttonId, const ui::Menu& menu) {
  if (buttonId != ui::kButtonMenu) return;
  popup_->clear();
  fillQMenu(popup_, menu, [this](int id) {
    QMetaObject::invokeMethod(this, [this, id] { command(id); }, Qt::QueuedConnection);
  });
}

void VistrelWindow::openButtonMenu(int buttonId) {
  QPushButton* b = softKey(buttonId);
  if (buttonId != ui::kButtonMenu || !b) return;
  const QSize size = popup_->sizeHint();
  QPoint at = b->mapToGlobal(QPoint(b->width() - size.width(), -size.height()));
  // No item is made active: that would open a submenu and take the keys into it. The
  // first Down selects the first item.
  popup_->popup(at);
}

// ---- Dialogs ----

const platform::DialogTemplate* VistrelWindow::dialogTemplate(int id, bool own) const {
  const texts::LanguageTable& language = *program_->language;
  return (own ? language.ownModule() : language.dialogModule()).dialog(static_cast<uint32_t>(id));
}

int VistrelWindow::runNetworkSettings(targets::NetworkTarget& target, void*) {
  const ui::TextFunction& text = program_->context->text();
  TemplateDialog d(dialogTemplate(targets::NetworkSettingsDialog::kTemplateId, false),
                   targets::NetworkSettingsDialog::kTemplateId, ui::kMenuBarTarget, text, this, true);
  const char16_t* done = text ? text(texts::kTextDone) : nullptr;
  targets::NetworkSettingsDialog presenter(
      target, d, [this](std::u16string_view t) { return openHelp(std::u16string(t)); }, done ? done : u"Done");
  d.onInit = [&] { presenter.onInitDialog(); };
  d.onCommand = [&](int id) { presenter.onCommand(id); };
  d.onClose = [&] { presenter.onClose(); };
  d.onHelp = [&] { presenter.onHelp(); };
  d.onSize = [&] { presenter.onSize(); };
  openDialog_ = &d;
  const int result = d.run();
  openDialog_ = nullptr;
  return result;
}

int VistrelWindow::runFtpSettings(targets::FtpTarget& target, void*) {
  using targets::FtpSettingsDialog;
  const ui::TextFunction& text = program_->context->text();
  TemplateDialog d(dialogTemplate(FtpSettingsDialog::kTemplateId, false), FtpSettingsDialog::kTemplateId,
                   FtpSettingsDialog::kMenuBarId, text, this, true);
  // The page upload's controls are in some templates only.
  d.setOptional({FtpSettingsDialog::kUploadHtml, FtpSettingsDialog::kFileHtml, FtpSettingsDialog::kFileHtmlLabel});
  ScrollingWindow scrolling(d);
  const char16_t* done = text ? text(texts::kTextDone) : nullptr;
  FtpSettingsDialog presenter(
      target, d, scrolling, [this](std::u16string_view t) { return openHelp(std::u16string(t)); },
      done ? done : u"Done", d.templateHeightPixels());
  d.onInit = [&] { presenter.onInitDialog(); };
  d.onCommand = [&](int id) { presenter.onCommand(id); };
  d.onClose = [&] { presenter.onClose(); };
  d.onHelp = [&] { presenter.onHelp(); };
  d.onSize = [&] { presenter.onSize(); };
  QObject::connect(scrolling.bar(), &QScrollBar::valueChanged, &d, [&presenter](int position) {
    presenter.onVScroll(FtpSettingsDialog::Scroll::kThumbPosition, position);
  });
  // A field reached with the keyboard is scrolled into view.
  QObject::connect(qApp, &QApplication::focusChanged, &d, [&d, &presenter](QWidget*, QWidget* now) {
    if (!now || now->parentWidget() != d.content()) return;
    const int page = d.content()->height();
    const int top = now->y(), bottom = now->y() + now->height();
    if (top < 0) presenter.onVScroll(FtpSettingsDialog::Scroll::kThumbPosition, presenter.scrollPosition() + top);
    else if (bottom > page)
      presenter.onVScroll(FtpSettingsDialog::Scroll::kThumbPosition, presenter.scrollPosition() + bottom - page);
  });
  openDialog_ = &d;
  const int result = d.run();
  openDialog_ = nullptr;
  return result;
}

void VistrelWindow::runSettingsPanel(sources::CaptureSource& source) {
  TemplateDialog d(dialogTemplate(ui::SettingsPanel::kTemplateId, true), ui::SettingsPanel::kTemplateId,
                   ui::kMenuBarPanel, program_->context->text(), this, false);
  // Without numeric settings only the popup and the soft keys stay.
  ui::SettingsPanel::Hooks hooks;
  hooks.shrink = [&d] {
    if (QWidget* content = d.findChild<QWidget*>("content")) content->hide();
    d.adjustSize();
  };
  hooks.openHelp = [this](std::u16string_view t) { return openHelp(std::u16string(t)); };
  ui::SettingsPanel panel(*program_->context, source, d, d, hooks);
  d.onInit = [&] { panel.onInitDialog(); };
  d.onCommand = [&](int id) { panel.onCommand(id); };
  d.onClose = [&] { panel.onClose(); };
  d.onHelp = [&] { panel.onHelp(); };
  d.onListKey = [&](int id, ui::DialogKey key) { return id == ui::SettingsPanel::kList && panel.onListKey(key); };
  d.onSelectionChanged = [&](int id) {
    if (id == ui::SettingsPanel::kList) panel.onListSelectionChanged();
  };
  // At the bottom of the main window, over the preview, which keeps being drawn.
  d.move(mapToGlobal(QPoint(0, height() - d.height())));
  openDialog_ = &d;
  d.run();
  openDialog_ = nullptr;
  panel.onDestroy();
}

void VistrelWindow::runLanguageDialog() {
  texts::LanguageTable& language = *program_->language;
  TemplateDialog d(dialogTemplate(ui::GeneralSettingsDialog::kTemplateId, false),
                   ui::GeneralSettingsDialog::kTemplateId, ui::kMenuBarGeneral,
                   program_->context->text(), this, true);
  ui::GeneralSettingsDialog presenter(
      language, texts::systemLocaleInfo(), d,
      {[this] { closeWindow(); }, [this](std::u16string_view t) { return openHelp(std::u16string(t)); }});
  d.onInit = [&] { presenter.onInitDialog(); };
  d.onCommand = [&](int id) { presenter.onCommand(id); };
  d.onClose = [&] { presenter.onClose(); };
  d.onHelp = [&] { presenter.onHelp(); };
  d.onSize = [&] { presenter.onSize(); };
  d.onListKey = [&](int id, ui::DialogKey key) {
    return id == ui::GeneralSettingsDialog::kLanguageList && presenter.onListKey(key);
  };
  openDialog_ = &d;
  d.run();
  openDialog_ = nullptr;
  // A language loaded here moved every text: the settings are saved at exit under the
  // new language's names, which the next start reads.
  program_->context->refreshNames();
}

void VistrelWindow::runAbout() {
  TemplateDialog d(dialogTemplate(ui::AboutDialog::kTemplateId, false), ui::AboutDialog::kTemplateId,
                   ui::kMenuBarAbout, program_->context->text(), this, true);
  ui::AboutDialog* self = nullptr;
  ui::AboutDialog about(d, program_->context->text(), program_->device->oemTextAsReturned,
                        {[&d, &self] {  // WM_HELP posted to the dialog itself
                           QMetaObject::invokeMethod(&d, [&self] {
                             if (self) self->onHelp();
                           }, Qt::QueuedConnection);
                         },
                         [this](std::u16string_view t) { return openHelp(std::u16string(t)); }});
  self = &about;
  if (auto* icon = qobject_cast<QLabel*>(d.control(ui::AboutDialog::kIcon)))
    icon->setPixmap(windowIcon().pixmap(32, 32));
  d.onInit = [&] { about.onInitDialog(); };
  d.onActivate = [&] { about.onActivate(); };
  d.onCommand = [&](int id) { about.onCommand(id); };
  d.onClose = [&] { about.onClose(); };
  d.onHelp = [&] { about.onHelp(); };
  d.onSize = [&] { about.onSize(); };
  openDialog_ = &d;
  d.run();
  openDialog_ = nullptr;
}

// ---- Events ----

void VistrelWindow::keyPressEvent(QKeyEvent* event) {
  if (!program_) return QMainWindow::keyPressEvent(event);
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      program_->context->onKeyDown(core::kKeyEnter);
      return;
    case Qt::Key_F1:  // the left soft key
      command(ui::kButtonSoftKey);
      return;
    case Qt::Key_F2:  // the right soft key
      openButtonMenu(ui::kButtonMenu);
      return;
    case Qt::Key_Help:
      program_->context->onHelp();
      return;
    default:
      QMainWindow::keyPressEvent(event);
  }
}

void VistrelWindow::closeEvent(QCloseEvent* event) {
  if (program_ && !destroyed_) {
    destroyed_ = true;
    setWaitCursor(false);
    program_->context->onDestroy();
  }
  event->accept();
}

bool VistrelWindow::event(QEvent* event) {
  if (program_ && !destroyed_) {
    if (event->type() == QEvent::WindowActivate) {
      // Coming back from one of the program's own dialogs names another window.
      program_->context->onActivate(true, activeShown_);
      activeShown_ = true;
    } else if (event->type() == QEvent::WindowDeactivate && QApplication::activeWindow() == nullptr &&
               !openDialog_ && !popup_->isVisible()) {
      program_->context->onActivate(false, false);
      activeShown_ = false;
    }
  }
  return QMainWindow::event(event);
}

// ---- The front as the program takes it ----

std::unique_ptr<QApplication>& qtApplication() {
  static std::unique_ptr<QApplication> app;
  return app;
}

const WindowFront& qtWindowFront() {
  static const WindowFront front{
      [] {
        auto set = [](const char* name) {
          const char* v = std::getenv(name);
          return v != nullptr && *v != 0;
        };
        return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
      },
      [](int& argc, char** argv, const std::string& directory) -> std::unique_ptr<FrontHost> {
        if (!qtApplication()) qtApplication() = std::make_unique<QApplication>(argc, argv);
        return std::make_unique<VistrelWindow>(directory);
      }};
  return front;
}

}  // namespace front
