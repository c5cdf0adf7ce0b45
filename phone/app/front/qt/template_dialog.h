#pragma once

// A dialog built from a resource template: every control at its template rectangle
// (dialog units scaled to the window), found by its identifier, with the soft-key bar of
// a menu bar resource below. It is the DialogView and MenuView of a presenter; the
// presenter's handlers are connected through the callbacks.
//
// Threading: the GUI thread.

#include <QDialog>

#include <functional>
#include <map>
#include <set>
#include <string>

#include "platform/resources.h"
#include "ui/dialog_view.h"
#include "ui/menu_bars.h"
#include "ui/menu_view.h"
#include "ui/setting_rules.h"

class QPushButton;
class QMenu;

namespace front {

class TemplateDialog final : public QDialog, public ui::DialogView, public ui::MenuView {
 public:
  // `tmpl` may be null (a damaged or missing template): the dialog is then empty, says so
  // once, and the presenter's calls on missing controls do nothing.
  TemplateDialog(const platform::DialogTemplate* tmpl, int templateId, int menuBarId,
                 const ui::TextFunction& text, QWidget* parent, bool fullScreen);

  // The presenter's handlers.
  std::function<void()> onInit;
  std::function<void(int id)> onCommand;
  std::function<void()> onClose;
  std::function<void()> onSize;
  std::function<void()> onHelp;
  std::function<void()> onActivate;
  std::function<bool(int id, ui::DialogKey key)> onListKey;
  std::function<void(int id)> onSelectionChanged;

  // Calls onInit, then runs the dialog modally; its result.
  int run();

  QWidget* control(int id) const;
  QPushButton* barButton(int id) const;
  QMenu* buttonMenu(int id) const;
  // The area that holds the template's controls, below it the soft-key bar.
  QWidget* content() const { return content_; }
  // The template's height in pixels at the dialog's present scale.
  int templateHeightPixels() const;
  // Keeps `pixels` free at the right edge of the content (a scroll bar's place).
  void reserveRight(int pixels) { rightReserve_ = pixels; }
  // Moves every control of the template by `dy` pixels (scrolling).
  void moveControls(int dy);
  // Controls that a template may lack without a word (the presenter handles them where
  // they exist).
  void setOptional(std::set<int> ids) { optional_ = std::move(ids); }
  // Identifiers the presenter asked for that the template lacks.
  const std::set<int>& missing() const { return missing_; }

  // DialogView
  void resetListItems(int id) override;
  void addListItem(int id, const std::u16string& text) override;
  void setListSelection(int id, int index) override;
  int listSelection(int id) const override;
  int listCount(int id) const override;
  void setItemText(int id, const std::u16string& text) override;
  std::u16string itemText(int id) const override;
  void setChecked(int id, bool checked) override;
  bool isChecked(int id) const override;
  void enableItem(int id, bool enabled) override;
  void setMenuButtonText(int buttonId, const std::u16string& text) override;
  void destroyMenuBar() override;
  void showMessage(const std::u16string& text, const std::u16string& caption) override;
  void layoutFromTemplate() override;
  void endDialog(int result) override;

  // MenuView
  void setButtonMenu(int buttonId, const ui::Menu& menu) override;
  void openButtonMenu(int buttonId) override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool event(QEvent* event) override;
  void reject() override;

 private:
  QWidget* find(int id) const;  // notes a missing control once
  void build();
  void fillMenu(QMenu* menu, const ui::Menu& items);
  // Pixels per dialog unit, across and down, with the template's width fitted to the dialog.
  void units(double& ux, double& uy) const;

  const platform::DialogTemplate* template_;
  int templateId_;
  bool fullScreen_;
  QWidget* content_;
  QWidget* bar_;
  std::map<int, QWidget*> controls_;
  std::map<int, QPushButton*> barButtons_;
  std::map<int, QMenu*> menus_;
  int rightReserve_ = 0;
  int leftButton_ = 0;   // the soft keys' commands (F1, F2); 0 without one
  int rightButton_ = 0;
  mutable std::set<int> missing_;
  std::set<int> optional_;
  bool ending_ = false;
};

// Fills a QMenu from a menu model; each command item triggers `command`.
void fillQMenu(QMenu* menu, const ui::Menu& items, const std::function<void(int)>& command);

}  // namespace front
