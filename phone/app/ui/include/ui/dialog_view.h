#pragma once

#include <string>

namespace ui {

// Keys a dialog's list handler sees.
enum class DialogKey { kLeft, kRight, kUp, kDown, kAction, kOther };

// Results with which the program's dialogs end.
inline constexpr int kDialogDone = 1;     // "Done" (identifier 1)
inline constexpr int kDialogClosed = 16;  // closed by the system (WM_CLOSE)

// The identifier of the "Done" soft key of every menu bar.
inline constexpr int kDoneButton = 1;

// What a dialog's logic sees of its window: controls addressed by their identifiers in
// the dialog template, the dialog's menu bar, and its end. A front (Qt, headless, or a
// test's fake) builds the window from the template and implements this.
//
// Threading: the window thread only, like the window itself.
class DialogView {
 public:
  virtual ~DialogView() = default;

  // Drop-down lists and list boxes.
  virtual void resetListItems(int controlId) = 0;
  virtual void addListItem(int controlId, const std::u16string& text) = 0;
  virtual void setListSelection(int controlId, int index) = 0;  // -1: none
  virtual int listSelection(int controlId) const = 0;            // -1: none
  virtual int listCount(int controlId) const = 0;

  // Texts of labels, edits and buttons.
  virtual void setItemText(int controlId, const std::u16string& text) = 0;
  virtual std::u16string itemText(int controlId) const = 0;

  // Check boxes and enabling.
  virtual void setChecked(int controlId, bool checked) = 0;
  virtual bool isChecked(int controlId) const = 0;
  virtual void enableItem(int controlId, bool enabled) = 0;

  // The soft-key bar of the dialog.
  virtual void setMenuButtonText(int buttonId, const std::u16string& text) = 0;
  virtual void destroyMenuBar() = 0;

  // A modal message box owned by the dialog.
  virtual void showMessage(const std::u16string& text, const std::u16string& caption) = 0;

  // Moves every control back to its rectangle in the template (after the screen turned).
  virtual void layoutFromTemplate() = 0;

  virtual void endDialog(int result) = 0;
};

}  // namespace ui
