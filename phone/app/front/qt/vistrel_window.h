#pragma once

// The window front of the device program in Qt 6 Widgets: the main window with the
// preview and the soft-key bar ("Start"/"Stop", "Menu"), the popup menus, the dialogs
// built from their templates, the wait cursor. A thin front: the capture context, the
// menu builder and the dialog presenters decide; this maps Qt's events to them.
//
// Threading: the GUI thread; invalidate() and statusChanged() are queued to it.

#include <QMainWindow>
#include <QWidget>

#include <map>
#include <memory>

#include "front/front_host.h"

class QApplication;
class QMenu;
class QPainter;
class QPushButton;
class QTimer;

namespace front {

class VistrelWindow;

// The preview area: its paint is the context's onPaint.
class PreviewWidget final : public QWidget {
 public:
  explicit PreviewWidget(VistrelWindow& window);
  QPainter* painter() const { return painter_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  VistrelWindow& window_;
  QPainter* painter_ = nullptr;
};

class VistrelWindow final : public QMainWindow, public FrontHost {
 public:
  explicit VistrelWindow(std::string programDirectory);
  ~VistrelWindow() override;

  PreviewWidget* preview() const { return preview_; }
  QPushButton* softKey(int command) const;
  QMenu* popup() const { return popup_; }
  // A command from the soft keys, the popup or the accelerator: first the menu's.
  void command(int id);
  core::CaptureContext* context() const { return program_ ? program_->context : nullptr; }
  // The dialog now open, if any (tests and the end-to-end run look at it).
  QWidget* openDialog() const { return openDialog_; }
  // Makes the window ready without running the loop (the loop's first steps): tests.
  void start(Program& program);

  // WindowView
  void setCommandText(int command, const std::u16string& text) override;
  void showMessage(const std::u16string& text, const std::u16string& caption) override;
  void setWaitCursor(bool wait) override;
  void invalidate() override;
  void startTimer(uint32_t id, uint32_t ms) override;
  void stopTimer(uint32_t id) override;
  void resetIdleTimer() override;
  uint32_t displayRotationDegrees() override;
  void clientSize(int32_t& width, int32_t& height) override;
  void drawPreview(const core::PreviewBitmap& bitmap) override;
  void fill(uint32_t colour) override;
  void postCommandReceived() override;
  void postPropertyCommands() override;
  void rebuildMenu() override;
  bool openHelp(const std::u16string& topic) override;
  void closeWindow() override;
  void postQuit(int code) override;

  // ConnectingHost
  int runConnecting(targets::ConnectingDialog& dialog) override;
  void statusChanged(targets::ConnectingDialog& dialog) override;

  // MenuView
  void setButtonMenu(int buttonId, const ui::Menu& menu) override;
  void openButtonMenu(int buttonId) override;

  // FrontHost
  int runNetworkSettings(targets::NetworkTarget& target, void* owner) override;
  int runFtpSettings(targets::FtpTarget& target, void* owner) override;
  void runSettingsPanel(sources::CaptureSource& source) override;
  void runLanguageDialog() override;
  void runAbout() override;
  void* owner() override { return this; }
  int run(Program& program) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  const platform::DialogTemplate* dialogTemplate(int id, bool own) const;
  std::string programDirectory_;
  Program* program_ = nullptr;
  PreviewWidget* preview_;
  std::map<int, QPushButton*> softKeys_;
  QMenu* popup_;
  std::map<uint32_t, QTimer*> timers_;
  QWidget* openDialog_ = nullptr;
  targets::ConnectingDialog* connecting_ = nullptr;
  bool waitCursor_ = false;
  bool destroyed_ = false;
  bool activeShown_ = false;
};

// The window front as the program's start takes it.
const WindowFront& qtWindowFront();
// The application object of the window front, once it was made; main() ends it after
// the program's start returned (never among the static objects at exit).
std::unique_ptr<QApplication>& qtApplication();

}  // namespace front
