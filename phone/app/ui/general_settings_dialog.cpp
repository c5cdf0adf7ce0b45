#include "ui/general_settings_dialog.h"

namespace ui {

GeneralSettingsDialog::GeneralSettingsDialog(texts::LanguageTable& languages,
                                             const texts::LocaleInfo& locales, DialogView& view,
                                             Hooks hooks)
    : languages_(languages), locales_(locales), view_(view), hooks_(std::move(hooks)) {}

void GeneralSettingsDialog::onInitDialog() {
  if (const char16_t* done = languages_.Text(texts::kTextDone))
    view_.setMenuButtonText(kDoneButton, done);
  openedIndex_ = static_cast<int>(languages_.current());
  view_.resetListItems(kLanguageList);
  for (uint32_t i = 0; i < languages_.count(); ++i)
    view_.addListItem(kLanguageList, texts::languageDisplayName(languages_.id(i), locales_));
  view_.setListSelection(kLanguageList, openedIndex_);
}

bool GeneralSettingsDialog::onListKey(DialogKey key) {
  const int count = view_.listCount(kLanguageList);
  const int selected = view_.listSelection(kLanguageList);
  switch (key) {
    case DialogKey::kLeft:
      if (count > 0) view_.setListSelection(kLanguageList, selected + 1 >= count ? 0 : selected + 1);
      return true;
    case DialogKey::kRight:
      if (count > 0) view_.setListSelection(kLanguageList, selected <= 0 ? count - 1 : selected - 1);
      return true;
    case DialogKey::kAction:
      return true;
    default:
      return false;
  }
}

void GeneralSettingsDialog::onCommand(int commandId) {
  if (commandId != kDoneButton) return;
  const int selected = view_.listSelection(kLanguageList);
  if (selected >= 0 && selected != openedIndex_ &&
      static_cast<uint32_t>(selected) < languages_.count()) {
    languages_.LoadLanguage(static_cast<uint32_t>(selected));
    const char16_t* restart = languages_.Text(texts::kTextRestart);
    view_.showMessage(restart ? restart : u"", u"");
    if (hooks_.requestMainWindowClose) hooks_.requestMainWindowClose();
  }
  view_.endDialog(kDialogDone);
  view_.destroyMenuBar();
}

void GeneralSettingsDialog::onClose() { view_.endDialog(kDialogClosed); }

void GeneralSettingsDialog::onHelp() {
  if (hooks_.openHelp) hooks_.openHelp(u"Main_Contents");
}

void GeneralSettingsDialog::onSize() { view_.layoutFromTemplate(); }

}  // namespace ui
