#pragma once

// MenuItem::Command keeps its capital because the item's field is named command.

#include <string>
#include <vector>

namespace ui {

// One entry of a popup menu: a command item, a separator, or a submenu with its items.
struct MenuItem {
  enum class Kind { kCommand, kSeparator, kSubmenu };
  Kind kind = Kind::kCommand;
  int command = 0;  // kCommand only
  std::u16string text;
  bool checked = false;
  std::vector<MenuItem> items;  // kSubmenu only

  static MenuItem Command(int command, std::u16string text, bool checked = false) {
    return MenuItem{Kind::kCommand, command, std::move(text), checked, {}};
  }
  static MenuItem separator() { return MenuItem{Kind::kSeparator, 0, {}, false, {}}; }
  static MenuItem submenu(std::u16string text, std::vector<MenuItem> items) {
    return MenuItem{Kind::kSubmenu, 0, std::move(text), false, std::move(items)};
  }
};
using Menu = std::vector<MenuItem>;

// The popup menus behind the soft-key buttons of a window or dialog. A front shows the
// menu when its button is pressed and delivers the chosen item's command to the owner.
//
// Threading: the window thread.
class MenuView {
 public:
  virtual ~MenuView() = default;
  // Replaces the whole popup of button `buttonId` (emptied, then filled with `menu`).
  virtual void setButtonMenu(int buttonId, const Menu& menu) = 0;
  // Acts as one press and release of that soft key: the popup opens.
  virtual void openButtonMenu(int buttonId) = 0;
};

}  // namespace ui
