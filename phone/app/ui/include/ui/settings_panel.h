#pragma once

// The setting editor of a capture source (dialog 603, not full screen, menu bar 148):
// the numeric settings in the list 1040 with "-" (1041), the value (1044) and "+" (1042);
// the choice settings and "Reset All" in the popup of the "Advanced" button. A change
// takes effect at once and, while capture runs, is reported to the PC.
//
// Threading: the window thread.

#include <functional>
#include <string_view>
#include <vector>

#include "core/capture_context.h"
#include "ui/dialog_view.h"
#include "ui/menu_view.h"
#include "ui/setting_rules.h"

namespace ui {

// Makes `index` the setting's value: stores it, lets the source apply it and reports
// the change to the current target (while capturing). The one path by which the editor
// and the settings command change a source setting.
void applySettingIndex(core::CaptureContext& context, sources::CaptureSource& source,
                       settings::SourceSetting& setting, int32_t index);

// "Reset All": every setting back to its default, the source's Reset once.
void resetAllSettings(sources::CaptureSource& source);

class SettingsPanel {
 public:
  static constexpr int kTemplateId = 603;
  static constexpr int kList = 1040;
  static constexpr int kMinus = 1041;
  static constexpr int kPlus = 1042;
  static constexpr int kValue = 1044;

  struct Hooks {
    // Shrinks the dialog to 1 x 1 pixel at its place (a source without numeric settings).
    std::function<void()> shrink;
    std::function<bool(std::u16string_view topic)> openHelp;
  };

  SettingsPanel(core::CaptureContext& context, sources::CaptureSource& source, DialogView& view,
                MenuView& menus, Hooks hooks);

  void onInitDialog();
  // A key while the list has the focus; true when handled here.
  bool onListKey(DialogKey key);
  void onListSelectionChanged();
  // "-", "+", "Done", "Reset All" and the choice commands from 42000.
  void onCommand(int id);
  void onClose();
  void onDestroy();
  void onHelp();

 private:
  void buildChoiceMenu();
  void fillList();
  void showValue();
  void step(int delta);
  settings::SourceSetting* selected();

  core::CaptureContext& context_;
  sources::CaptureSource& source_;
  DialogView& view_;
  MenuView& menus_;
  Hooks hooks_;
  std::vector<settings::SourceSetting*> numeric_;
  // For each choice command from 42000: its setting and the index it chooses (-1: toggle).
  std::vector<std::pair<settings::SourceSetting*, int32_t>> choiceEntries_;
};

}  // namespace ui
