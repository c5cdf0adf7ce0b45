#pragma once

// The settings page (template 103) as a Win32 child dialog, and the view the presenters
// see of a Win32 dialog window. The settings frame and the filter's property page both
// hold the page this way.
//
// Threading: the window thread.

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "dialogs/settings_page.h"
#include "platform/resources.h"

namespace dialogs::win32 {

// A Win32 dialog's controls as the presenters see them.
class DialogWindowView final : public ui::DialogView, public WindowExtras {
 public:
  // `modal`: endDialog ends the window's modal loop; otherwise it is ignored (a page
  // lives as long as its parent keeps it).
  DialogWindowView(bool modal, std::string iconPath = {});
  ~DialogWindowView() override;
  void attach(HWND window) { window_ = window; }
  HWND window() const { return window_; }
  // The control made into a link, 0 when none.
  int linkId() const { return link_; }

  void resetListItems(int controlId) override;
  void addListItem(int controlId, const std::u16string& text) override;
  void setListSelection(int controlId, int index) override;
  int listSelection(int controlId) const override;
  int listCount(int controlId) const override;
  void setItemText(int controlId, const std::u16string& text) override;
  std::u16string itemText(int controlId) const override;
  void setChecked(int controlId, bool checked) override;
  bool isChecked(int controlId) const override;
  void enableItem(int controlId, bool enabled) override;
  void setMenuButtonText(int buttonId, const std::u16string& text) override;
  void destroyMenuBar() override {}
  void showMessage(const std::u16string& text, const std::u16string& caption) override;
  void layoutFromTemplate() override {}
  void endDialog(int result) override;

  void setCaption(const std::u16string& caption) override;
  void showItem(int id, bool shown) override;
  void makeLink(int id, const std::u16string& text) override;
  void setIcon(int id, int iconResource) override;

 private:
  bool isComboBox(int controlId) const;
  // Underlines the link while the pointer is over it.
  void wrapLink(HWND control);

  HWND window_ = nullptr;
  bool modal_;
  std::string iconPath_;
  HICON icon_ = nullptr;
  int link_ = 0;
};

// What a control notification (WM_COMMAND) means to the settings page.
enum class PageEvent { kNone, kSelectionChanged, kCommand, kPortEditDone };
PageEvent pageEvent(int controlId, int code, bool listOrComboBox);

// The settings page over `host`, made from `page` as a child of a parent window.
class PageWindow {
 public:
  PageWindow(const platform::DialogTemplate& page, SettingsHost& host);
  ~PageWindow();
  PageWindow(const PageWindow&) = delete;
  PageWindow& operator=(const PageWindow&) = delete;

  // Makes the page (hidden until shown) and fills it; false when the window cannot be made.
  bool create(HWND parent);
  void destroy();
  HWND window() const { return view_.window(); }
  SettingsPage& presenter() { return presenter_; }

 private:
  static INT_PTR CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);

  std::vector<uint8_t> template_;
  DialogWindowView view_;
  SettingsPage presenter_;
};

}  // namespace dialogs::win32
