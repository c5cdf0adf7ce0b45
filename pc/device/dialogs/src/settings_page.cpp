#include "dialogs/settings_page.h"

#include <algorithm>

#include "platform/utf16.h"

namespace dialogs {

namespace {

std::u16string decimal(uint32_t value) { return platform::utf8ToUtf16Lossy(std::to_string(value)); }

// The port typed in the box: a number from 1 to 65535, blanks around it allowed.
std::optional<uint32_t> parsePort(const std::u16string& text) {
  size_t begin = text.find_first_not_of(u' ');
  size_t end = text.find_last_not_of(u' ');
  if (begin == std::u16string::npos) return std::nullopt;
  uint32_t value = 0;
  for (size_t i = begin; i <= end; ++i) {
    const char16_t c = text[i];
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c - u'0');
    if (value > 65535) return std::nullopt;
  }
  if (value == 0) return std::nullopt;
  return value;
}

}  // namespace

std::vector<ShownProperty> shownProperties(const std::vector<protocol::PropertyEntry>& list) {
  std::vector<ShownProperty> shown;
  for (const protocol::PropertyEntry& e : list) {
    if (!e.offered()) continue;
    ShownProperty p;
    p.key = e.key;
    p.name = e.name.toU16();
    const uint32_t current = e.currentIndex();
    // A numeric range may claim up to 2^32 values; the list shows a window of them around
    // the current one, so a hostile count costs no more than an honest long range.
    uint32_t first = 0;
    if (e.count > kMaxShownValues && current < e.count && current >= kMaxShownValues / 2) {
      first = std::min(current - kMaxShownValues / 2, e.count - kMaxShownValues);
    }
    const uint32_t end = first + std::min(e.count, kMaxShownValues);
    for (uint32_t i = first; i < end; ++i) {
      if (!e.selectable(i)) continue;
      if (i == current) p.selectedLine = static_cast<int>(p.items.size());
      p.items.push_back(i);
      p.texts.push_back(e.itemText(i));
    }
    shown.push_back(std::move(p));
  }
  return shown;
}

SettingsPage::SettingsPage(ui::DialogView& view, SettingsHost& host) : view_(view), host_(host) {}

void SettingsPage::onInitDialog() {
  working_ = host_.settings();

  view_.resetListItems(kResolutionList);
  int resolution = 0;
  for (int i = 0; i < 8; ++i) {
    const Resolution& r = kResolutions[i];
    view_.addListItem(kResolutionList, decimal(r.width) + u"x" + decimal(r.height));
    if (r.width == working_.width && r.height == working_.height) resolution = i;
  }
  view_.setListSelection(kResolutionList, resolution);

  const LanguageList& languages = host_.languages();
  view_.resetListItems(kLanguageList);
  for (uint32_t i = 0; i < languages.count(); ++i) {
    const uint16_t id = languages.id(i);
    view_.addListItem(kLanguageList, id == 0 ? host_.text(kDefaultLanguageText) : languageName(id));
  }
  view_.setListSelection(kLanguageList, static_cast<int>(languages.selected()));

  view_.resetListItems(kRotationList);
  for (const char16_t* angle : {u"0", u"90", u"180", u"270"}) view_.addListItem(kRotationList, angle);
  view_.setListSelection(kRotationList, static_cast<int>(working_.rotation & 3));

  view_.setChecked(kMirrorBox, working_.mirror != 0);
  view_.setItemText(kPortEdit, decimal(working_.port & 0xFFFF));
  view_.setChecked(kConnectAtStartupBox, working_.connectAtStartup != 0);
  fillProperties(true);
}

void SettingsPage::refreshProperties() { fillProperties(false); }

void SettingsPage::fillProperties(bool force) {
  std::vector<ShownProperty> fresh;
  host_.readProperties([&](const std::vector<protocol::PropertyEntry>& list) {
    fresh = shownProperties(list);
  });
  if (!force && fresh == shown_) return;
  shown_ = std::move(fresh);
  // The chosen property stays chosen while it is listed; else the first one is.
  auto chosen = std::find_if(shown_.begin(), shown_.end(),
                             [&](const ShownProperty& p) { return haveChosen_ && p.key == chosenKey_; });
  if (chosen == shown_.end()) chosen = shown_.begin();
  haveChosen_ = chosen != shown_.end();
  if (haveChosen_) chosenKey_ = chosen->key;
  view_.resetListItems(kPropertyList);
  for (const ShownProperty& p : shown_) view_.addListItem(kPropertyList, p.name);
  view_.setListSelection(kPropertyList, haveChosen_ ? static_cast<int>(chosen - shown_.begin()) : -1);
  fillValues();
}

void SettingsPage::fillValues() {
  view_.resetListItems(kValueList);
  for (const ShownProperty& p : shown_) {
    if (!haveChosen_ || p.key != chosenKey_) continue;
    for (const std::u16string& t : p.texts) view_.addListItem(kValueList, t);
    view_.setListSelection(kValueList, p.selectedLine);
    return;
  }
}

void SettingsPage::applyWorking() { host_.apply(working_); }

void SettingsPage::onSelectionChanged(int id) {
  const int index = view_.listSelection(id);
  switch (id) {
    case kResolutionList:
      if (index < 0 || index >= 8) return;  // beyond the table: ignored
      working_.width = kResolutions[index].width;
      working_.height = kResolutions[index].height;
      applyWorking();
      return;
    case kRotationList:
      if (index < 0 || index > 3) return;
      working_.rotation = static_cast<uint32_t>(index);
      applyWorking();
      return;
    case kPropertyList:
      if (index < 0 || static_cast<size_t>(index) >= shown_.size()) return;
      chosenKey_ = shown_[static_cast<size_t>(index)].key;
      haveChosen_ = true;
      fillValues();
      return;
    case kValueList: {
      auto p = std::find_if(shown_.begin(), shown_.end(),
                            [&](const ShownProperty& s) { return haveChosen_ && s.key == chosenKey_; });
      if (p == shown_.end() || index < 0 || static_cast<size_t>(index) >= p->items.size()) return;
      const uint32_t item = p->items[static_cast<size_t>(index)];
      if (host_.setProperty(p->key, item)) p->selectedLine = index;
      return;
    }
    case kLanguageList: {
      if (index < 0) return;
      working_.language = host_.selectLanguage(static_cast<uint32_t>(index));
      applyWorking();
      return;
    }
    default:
      return;
  }
}

void SettingsPage::onCommand(int id) {
  switch (id) {
    case kMirrorBox:
      working_.mirror = view_.isChecked(kMirrorBox) ? 1 : 0;
      applyWorking();
      return;
    case kConnectAtStartupBox:
      working_.connectAtStartup = view_.isChecked(kConnectAtStartupBox) ? 1 : 0;
      applyWorking();
      return;
    case kConnectButton:
      host_.connect();
      return;
    case kAboutButton:
      host_.showAbout();
      return;
    default:
      return;
  }
}

void SettingsPage::onPortEditDone() {
  const std::optional<uint32_t> port = parsePort(view_.itemText(kPortEdit));
  if (!port) {
    // A port that cannot be listened on is refused and the box shows the port in effect.
    view_.setItemText(kPortEdit, decimal(working_.port & 0xFFFF));
    view_.showMessage(host_.text(kPortRangeText), host_.text(kFrameCaptionText));
    return;
  }
  if (*port == working_.port) return;
  working_.port = *port;
  applyWorking();
}

// ---- frame and About box ------------------------------------------------------------

SettingsFrame::SettingsFrame(ui::DialogView& view, WindowExtras& extras, SettingsHost& host)
    : view_(view), extras_(extras), host_(host) {}

void SettingsFrame::onInitDialog() {
  extras_.setCaption(host_.text(kFrameCaptionText));
  view_.setItemText(ui::kDialogDone, host_.text(kFrameButtonText));
}

void SettingsFrame::onCommand(int id) {
  if (id == ui::kDialogDone) view_.endDialog(id);
}

void SettingsFrame::onClose() { view_.endDialog(2); }

AboutBox::AboutBox(ui::DialogView& view, WindowExtras& extras,
                   std::function<bool(const std::string&)> open)
    : view_(view), extras_(extras), open_(std::move(open)) {}

void AboutBox::onInitDialog() {
  extras_.setIcon(kAboutIcon, kIconResource);
  view_.setItemText(kAboutVersion, kVersionText);
  extras_.makeLink(kAboutLink, platform::utf8ToUtf16Lossy(kMakerWebAddress));
  extras_.showItem(kAboutMailLabel, false);
  extras_.showItem(kAboutMail, false);
}

void AboutBox::onCommand(int id) {
  if (id == 1 || id == 2) view_.endDialog(id);
}

void AboutBox::onLinkClicked() {
  if (open_) open_(kMakerWebAddress);
}

}  // namespace dialogs
