#pragma once

// The Qt 6 Widgets fronts of the PC library's dialogs: the settings frame (102) with the
// settings page (103) inside it, and the About box (104), each built from its template
// by the template dialog and driven by its presenter.
//
// Threading: the GUI thread.

#include <QObject>

#include <memory>

#include "dialogs/dialog_module.h"
#include "dialogs/settings_page.h"
#include "template_dialog.h"

class QTimer;

namespace dialogs::qt {

// Caption, hiding, links and icons on a template dialog.
class TemplateExtras final : public QObject, public WindowExtras {
 public:
  TemplateExtras(front::TemplateDialog& dialog, std::string iconPath);
  void setCaption(const std::u16string& caption) override;
  void showItem(int id, bool shown) override;
  void makeLink(int id, const std::u16string& text) override;
  void setIcon(int id, int iconResource) override;
  std::function<void()> onLinkClicked;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  front::TemplateDialog& dialog_;
  std::string iconPath_;
};

class SettingsWindow {
 public:

  explicit SettingsWindow(const DialogRequest& request);
  ~SettingsWindow();

  // Fills the page and runs the dialog modally; its result.
  int run();
  // Fills the page without running the dialog (tests show it themselves).
  void init();

  front::TemplateDialog& frame() { return *frame_; }
  front::TemplateDialog& page() { return *page_; }
  SettingsPage& presenter() { return *pagePresenter_; }

 private:
  void placePage();

  front::TemplateDialog* frame_;  // owns the page; deleted by the window
  front::TemplateDialog* page_;
  std::unique_ptr<TemplateExtras> frameExtras_;
  std::unique_ptr<SettingsFrame> framePresenter_;
  std::unique_ptr<SettingsPage> pagePresenter_;
  QTimer* poll_;
  std::unique_ptr<QObject> resizeWatch_;
};

class AboutWindow {
 public:
  explicit AboutWindow(const DialogRequest& request);
  ~AboutWindow();
  int run();
  void init();
  front::TemplateDialog& dialog() { return *dialog_; }
  // Opens the maker's address; the desktop's opener by default.
  std::function<bool(const std::string&)> open;

 private:
  front::TemplateDialog* dialog_;
  std::unique_ptr<TemplateExtras> extras_;
  std::unique_ptr<AboutBox> presenter_;
};

// The module's entry: shows the requested dialog modally on the application's thread
// (a caller on another thread waits for it); 0 without a Qt application.
uint32_t showDialog(const DialogRequest* request);

// The module's message entry: puts up an application-modal message box on the
// application's thread from any thread, without waiting for it to be closed; 0 without a
// Qt application. The box deletes itself when closed.
uint32_t showMessage(const MessageRequest* request);

}  // namespace dialogs::qt
