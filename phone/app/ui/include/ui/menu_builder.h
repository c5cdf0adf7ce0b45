#pragma once

// The "Menu" popup of the main window: the choice of sources ("Source") and of the
// target ("Mode"), the settings of each enabled source and of the target, "Language"
// when more than one language is installed, "About" and "Exit". Items that carry a
// command are numbered from 42000 in menu order; Dispatch walks the same structure with
// the same numbering, so a number always means what the last Build showed.
//
// Threading: the window thread.

#include <cstdint>
#include <functional>

#include "core/capture_context.h"
#include "ui/menu_view.h"

namespace ui {

inline constexpr int kFirstMenuCommand = 42000;
inline constexpr int kLastMenuCommand = 42100;

class MenuBuilder {
 public:
  struct Hooks {
    std::function<uint32_t()> languageCount;  // installed languages
    std::function<void(bool wait)> setWaitCursor;
    std::function<void(sources::CaptureSource& source)> runSettingsPanel;
    std::function<void()> runLanguageDialog;  // "General Settings"
    std::function<void()> runAbout;
    std::function<void()> destroyWindow;
    void* owner = nullptr;  // the main window, handed to a target's settings dialog
  };

  MenuBuilder(core::CaptureContext& context, MenuView& view, Hooks hooks);

  // Empties and refills the popup of the "Menu" button.
  void build();
  // Performs a menu command; false when the number is not one of this menu's.
  bool dispatch(int command);

  // The "Source" item's action: toggles `source`; enabling it disables the other
  // enabled sources of its kind. The sources restart and the popup is rebuilt.
  void toggleSource(sources::CaptureSource& source);
  // The "Mode" item's action: the current target stops and is released; `target`
  // becomes current when its Prepare succeeds (else the old one stays, unprepared).
  void chooseTarget(targets::DeliveryTarget& target);

 private:
  enum class Action { kSource, kTarget, kSourceSettings, kTargetSettings, kLanguage, kAbout, kExit };
  struct Entry {
    Action action;
    sources::CaptureSource* source = nullptr;
    targets::DeliveryTarget* target = nullptr;
  };
  // The popup's items and, for each command number from 42000, what it does.
  Menu layout(std::vector<Entry>& entries) const;
  std::u16string text(uint32_t id) const;

  core::CaptureContext& context_;
  MenuView& view_;
  Hooks hooks_;
};

}  // namespace ui
