#pragma once

// The soft-key bars of the device program (menu bar resources 148 to 152 of the
// program's own module) with the texts their buttons get at run time, and the program's
// accelerator.

#include <cstdint>
#include <functional>
#include <vector>

#include "ui/dialog_view.h"

namespace ui {

inline constexpr int kMenuBarPanel = 148;    // setting editor: "Done", "Advanced" popup
inline constexpr int kMenuBarAbout = 149;    // "About": "Done", "Help"
inline constexpr int kMenuBarTarget = 150;   // a target's settings: "Done"
inline constexpr int kMenuBarMain = 151;     // main window: "Start", "Menu" popup
inline constexpr int kMenuBarGeneral = 152;  // "General Settings": "Done"

inline constexpr int kButtonMenu = 40001;      // main window's popup button
inline constexpr int kButtonSoftKey = 40002;   // "Start"/"Stop"
inline constexpr int kButtonHelp = 40003;      // "About"'s "Help"
inline constexpr int kButtonAdvanced = 40006;  // setting editor's popup button
inline constexpr int kCommandResetAll = 40004;
inline constexpr int kCommandClose = 40000;   // Ctrl+Q
inline constexpr int kAcceleratorTable = 100;

// One button of a bar: its command, the text id set at run time, and whether it opens
// a popup.
struct MenuBarButton {
  int command = 0;
  uint32_t textId = 0;
  bool popup = false;
};

// The buttons of bar `barId` in order (left, right); empty for an unknown bar.
std::vector<MenuBarButton> menuBarButtons(int barId);

// Sets every button text of bar `barId` from `text` (a missing text leaves the button).
void applyMenuBarTexts(DialogView& view, int barId,
                       const std::function<const char16_t*(uint32_t)>& text);

}  // namespace ui
