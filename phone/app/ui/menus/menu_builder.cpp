#include "ui/menu_builder.h"

#include "texts/text_ids.h"
#include "ui/menu_bars.h"

namespace ui {

MenuBuilder::MenuBuilder(core::CaptureContext& context, MenuView& view, Hooks hooks)
    : context_(context), view_(view), hooks_(std::move(hooks)) {}

std::u16string MenuBuilder::text(uint32_t id) const {
  const char16_t* t = context_.text() ? context_.text()(id) : nullptr;
  return t ? std::u16string(t) : std::u16string();
}

Menu MenuBuilder::layout(std::vector<Entry>& entries) const {
  Menu menu;
  int n = kFirstMenuCommand;
  auto add = [&](Menu& into, std::u16string text, bool checked, Entry entry) {
    into.push_back(MenuItem::Command(n++, std::move(text), checked));
    entries.push_back(entry);
  };

  if (context_.sources.size() >= 2) {
    Menu items;
    for (sources::CaptureSource& s : context_.sources)
      add(items, context_.sourceName(s), s.enabled(), {Action::kSource, &s, nullptr});
    menu.push_back(MenuItem::submenu(text(texts::kTextSource), std::move(items)));
  }
  if (context_.targets.size() >= 2) {
    Menu items;
    for (auto& t : context_.targets)
      add(items, t->Name(), t.get() == context_.currentTarget, {Action::kTarget, nullptr, t.get()});
    menu.push_back(MenuItem::submenu(text(texts::kTextMode), std::move(items)));
  }
  Menu settings;
  bool anySource = false;
  for (sources::CaptureSource& s : context_.sources) {
    if (!s.enabled() || s.Settings() == nullptr) continue;
    add(settings, context_.sourceName(s), false, {Action::kSourceSettings, &s, nullptr});
    anySource = true;
  }
  if (anySource) settings.push_back(MenuItem::separator());
  if (context_.currentTarget)
    add(settings, context_.currentTarget->Name(), false,
        {Action::kTargetSettings, nullptr, context_.currentTarget});
  if (hooks_.languageCount && hooks_.languageCount() > 1)
    add(settings, u"Language", false, {Action::kLanguage, nullptr, nullptr});
  menu.push_back(MenuItem::submenu(text(texts::kTextSettings), std::move(settings)));
  add(menu, text(texts::kTextAbout), false, {Action::kAbout, nullptr, nullptr});
  add(menu, text(texts::kTextExit), false, {Action::kExit, nullptr, nullptr});
  return menu;
}

void MenuBuilder::build() {
  std::vector<Entry> entries;
  view_.setButtonMenu(kButtonMenu, layout(entries));
}

void MenuBuilder::toggleSource(sources::CaptureSource& source) {
  if (source.enabled()) {
    source.setEnabled(false);
  } else {
    sources::enableSource(context_.sources, source);
  }
  context_.StartSources(context_.capturing());
  build();
}

void MenuBuilder::chooseTarget(targets::DeliveryTarget& target) {
  if (hooks_.setWaitCursor) hooks_.setWaitCursor(true);
  context_.captureStartTick = 0;
  if (context_.currentTarget) {
    context_.currentTarget->Stop();
    context_.currentTarget->Release();
  }
  if (target.Prepare()) context_.currentTarget = &target;
  build();
  if (hooks_.setWaitCursor) hooks_.setWaitCursor(false);
}

bool MenuBuilder::dispatch(int command) {
  if (command < kFirstMenuCommand || command > kLastMenuCommand) return false;
  std::vector<Entry> entries;
  layout(entries);
  const size_t k = static_cast<size_t>(command - kFirstMenuCommand);
  if (k >= entries.size()) return false;
  const Entry entry = entries[k];
  switch (entry.action) {
    case Action::kSource:
      toggleSource(*entry.source);
      break;
    case Action::kTarget:
      chooseTarget(*entry.target);
      break;
    case Action::kSourceSettings:
      if (hooks_.runSettingsPanel) hooks_.runSettingsPanel(*entry.source);
      break;
    case Action::kTargetSettings:
      context_.windowActive = false;
      entry.target->ShowSettings(hooks_.owner);
      context_.windowActive = true;
      break;
    case Action::kLanguage:
      context_.windowActive = false;
      if (hooks_.runLanguageDialog) hooks_.runLanguageDialog();
      context_.windowActive = true;
      break;
    case Action::kAbout:
      context_.windowActive = false;
      if (hooks_.runAbout) hooks_.runAbout();
      break;
    case Action::kExit:
      if (hooks_.destroyWindow) hooks_.destroyWindow();
      break;
  }
  return true;
}

}  // namespace ui
