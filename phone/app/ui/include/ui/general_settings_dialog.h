#pragma once

#include <functional>
#include <string_view>

#include "texts/language_table.h"
#include "ui/dialog_view.h"

namespace ui {

// "General Settings" (dialog 605, full screen, menu bar 152): the choice of the
// user-interface language. A change loads the language at once, says that the program
// must be restarted, and asks the main window to close.
//
// Threading: the window thread.
class GeneralSettingsDialog {
 public:
  static constexpr unsigned kTemplateId = 605;
  static constexpr unsigned kMenuBarId = 152;
  static constexpr int kLanguageList = 1056;

  struct Hooks {
    std::function<void()> requestMainWindowClose;  // posts the close request
    std::function<bool(std::u16string_view topic)> openHelp;
  };

  GeneralSettingsDialog(texts::LanguageTable& languages, const texts::LocaleInfo& locales,
                        DialogView& view, Hooks hooks);

  void onInitDialog();
  // A key while the language list has the focus; true when handled here (the list's
  // own handling is skipped). The list asks for every key.
  bool onListKey(DialogKey key);
  void onCommand(int commandId);
  void onClose();
  void onHelp();
  void onSize();

 private:
  texts::LanguageTable& languages_;
  const texts::LocaleInfo& locales_;
  DialogView& view_;
  Hooks hooks_;
  int openedIndex_ = 0;
};

}  // namespace ui
