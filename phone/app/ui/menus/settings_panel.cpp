#include "ui/settings_panel.h"

#include "texts/text_ids.h"
#include "ui/menu_bars.h"
#include "ui/menu_builder.h"

namespace ui {

void applySettingIndex(core::CaptureContext& context, sources::CaptureSource& source,
                       settings::SourceSetting& setting, int32_t index) {
  context.applySettingIndex(source, setting, index);
}

void resetAllSettings(sources::CaptureSource& source) {
  for (settings::SourceSetting* s = source.Settings(); s; s = s->next) s->current = -1;
  source.Reset();
}

SettingsPanel::SettingsPanel(core::CaptureContext& context, sources::CaptureSource& source,
                             DialogView& view, MenuView& menus, Hooks hooks)
    : context_(context), source_(source), view_(view), menus_(menus), hooks_(std::move(hooks)) {}

void SettingsPanel::onInitDialog() {
  applyMenuBarTexts(view_, kMenuBarPanel, context_.text());
  buildChoiceMenu();
  fillList();
  if (numeric_.empty()) {
    if (hooks_.shrink) hooks_.shrink();
    menus_.openButtonMenu(kButtonAdvanced);
  }
}

void SettingsPanel::buildChoiceMenu() {
  const TextFunction& text = context_.text();
  Menu menu;
  choiceEntries_.clear();
  int n = kFirstMenuCommand;
  for (settings::SourceSetting* s : choiceSettings(source_.Settings())) {
    const std::u16string name = s->name ? s->name : u"";
    const int32_t index = settings::effectiveIndex(*s);
    if (isSingleItemChoice(*s, text)) {
      menu.push_back(MenuItem::Command(n++, name, index == 1));
      choiceEntries_.emplace_back(s, -1);
      continue;
    }
    Menu items;
    for (uint32_t i = 0; i < s->count; ++i) {
      items.push_back(MenuItem::Command(n++, valueLabel(*s, static_cast<int32_t>(i), text),
                                        static_cast<int32_t>(i) == index));
      choiceEntries_.emplace_back(s, static_cast<int32_t>(i));
    }
    menu.push_back(MenuItem::submenu(name, std::move(items)));
  }
  const char16_t* reset = text ? text(texts::kTextResetAll) : nullptr;
  menu.push_back(MenuItem::Command(kCommandResetAll, reset ? reset : u"Reset All"));
  menus_.setButtonMenu(kButtonAdvanced, menu);
}

void SettingsPanel::fillList() {
  numeric_ = numericSettings(source_.Settings());
  view_.resetListItems(kList);
  for (settings::SourceSetting* s : numeric_) view_.addListItem(kList, s->name ? s->name : u"");
  if (numeric_.empty()) {
    view_.setItemText(kValue, u"");
    return;
  }
  view_.setListSelection(kList, 0);
  showValue();
}

settings::SourceSetting* SettingsPanel::selected() {
  const int i = view_.listSelection(kList);
  if (i < 0 || static_cast<size_t>(i) >= numeric_.size()) return nullptr;
  return numeric_[static_cast<size_t>(i)];
}

void SettingsPanel::showValue() {
  if (settings::SourceSetting* s = selected()) view_.setItemText(kValue, settingValueText(*s));
}

void SettingsPanel::step(int delta) {
  settings::SourceSetting* s = selected();
  if (!s) return;
  if (s->current == -1) s->current = s->defaultIndex;
  if (!stepSetting(*s, delta)) return;
  applySettingIndex(context_, source_, *s, s->current);
  showValue();
}

bool SettingsPanel::onListKey(DialogKey key) {
  const int count = static_cast<int>(numeric_.size());
  const int selected = view_.listSelection(kList);
  switch (key) {
    case DialogKey::kLeft:
      step(-1);
      return true;
    case DialogKey::kRight:
      step(+1);
      return true;
    case DialogKey::kUp:
      if (count > 0) view_.setListSelection(kList, selected <= 0 ? count - 1 : selected - 1);
      showValue();
      return true;
    case DialogKey::kDown:
      if (count > 0) view_.setListSelection(kList, selected + 1 >= count ? 0 : selected + 1);
      showValue();
      return true;
    case DialogKey::kAction:
      return true;
    default:
      return false;
  }
}

void SettingsPanel::onListSelectionChanged() { showValue(); }

void SettingsPanel::onCommand(int id) {
  if (id == kMinus || id == kPlus) {
    step(id == kMinus ? -1 : +1);
    return;
  }
  if (id == kDoneButton) {
    view_.endDialog(kDialogDone);
    return;
  }
  if (id == kCommandResetAll) {
    resetAllSettings(source_);
    buildChoiceMenu();
    fillList();
    return;
  }
  if (id < kFirstMenuCommand) return;
  const size_t k = static_cast<size_t>(id - kFirstMenuCommand);
  if (k >= choiceEntries_.size()) return;
  auto [setting, index] = choiceEntries_[k];
  if (index < 0) {
    if (setting->count != 2) return;  // a single item only toggles a two-valued setting
    index = 1 - settings::effectiveIndex(*setting);
  }
  applySettingIndex(context_, source_, *setting, index);
  buildChoiceMenu();
}

void SettingsPanel::onClose() { view_.endDialog(kDialogDone); }

void SettingsPanel::onDestroy() { view_.destroyMenuBar(); }

void SettingsPanel::onHelp() {
  if (hooks_.openHelp) hooks_.openHelp(u"Main_Contents");
}

}  // namespace ui
