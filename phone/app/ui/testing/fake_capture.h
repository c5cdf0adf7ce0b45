#pragma once

// Sources, targets, a main window and popup menus in memory, for the menu and editor
// tests.
//
// Method names follow the capture-source and delivery-target interfaces the device
// program's modules share; they keep their spelling.

#include <map>
#include <string>
#include <vector>

#include "core/capture_context.h"
#include "texts/text_ids.h"
#include "ui/menu_view.h"

namespace ui::testing {

inline const char16_t* testText(uint32_t id) {
  static const std::map<uint32_t, const char16_t*> texts = {
      {texts::kTextCamera, u"Camera"},     {texts::kTextScreen, u"Screen"},
      {texts::kTextSound, u"Sound"},       {texts::kTextSource, u"Source"},
      {texts::kTextMode, u"Mode"},         {texts::kTextSettings, u"Settings"},
      {texts::kTextAbout, u"About"},       {texts::kTextExit, u"Exit"},
      {texts::kTextResetAll, u"Reset All"}, {texts::kTextDone, u"Done"},
      {texts::kTextAdvanced, u"Advanced"}, {texts::kTextHelp, u"Help"},
      {texts::kTextBest, u"Best"},         {texts::kTextStart, u"Start"},
      {texts::kTextStop, u"Stop"},         {texts::kTextMenu, u"Menu"}};
  auto it = texts.find(id);
  return it == texts.end() ? nullptr : it->second;
}

class FakeSource final : public sources::CaptureSource {
 public:
  FakeSource(sources::SourceKind kind, uint32_t nameId) : kind_(kind), nameId_(nameId) {}
  // Settings are chained in the order they are added.
  void add(settings::SourceSetting setting) {
    owned_.push_back(std::make_unique<settings::SourceSetting>(setting));
    owned_.back()->key = settings::newSettingKey();
    if (owned_.size() > 1) owned_[owned_.size() - 2]->next = owned_.back().get();
  }
  settings::SourceSetting& setting(size_t i) { return *owned_[i]; }

  void Init() override {}
  bool Start(sources::StartParams&) override {
    ++starts;
    started = true;
    return true;
  }
  bool Stop() override {
    started = false;
    return true;
  }
  bool Halt() override { return true; }
  bool IsStarted() override { return started; }
  uint32_t NameTextId() override { return nameId_; }
  sources::SourceKind Kind() override { return kind_; }
  void Reset() override { ++resets; }
  settings::SourceSetting* Settings() override { return owned_.empty() ? nullptr : owned_[0].get(); }
  bool SetSetting(settings::SourceSetting* s, int32_t index) override {
    applied.emplace_back(s, index);
    return true;
  }
  uint32_t TakeFrame(sources::FrameDescriptor*) override { return 0; }
  settings::SourceSetting* DeviceSettingList() override { return nullptr; }
  bool ApplyDeviceSetting(settings::SourceSetting*, int32_t) override { return true; }
  const char* settingNote(const settings::SourceSetting* s) override { return s == notedSetting ? note : ""; }

  const settings::SourceSetting* notedSetting = nullptr;
  const char* note = "";
  bool started = false;
  int starts = 0, resets = 0;
  std::vector<std::pair<settings::SourceSetting*, int32_t>> applied;

 private:
  sources::SourceKind kind_;
  uint32_t nameId_;
  std::vector<std::unique_ptr<settings::SourceSetting>> owned_;
};

class FakeTarget final : public targets::DeliveryTarget {
 public:
  explicit FakeTarget(const char16_t* name) : name_(name) {}
  bool Prepare() override {
    ++prepares;
    return prepareOk;
  }
  bool Start(const targets::TargetStartParams&) override { return true; }
  void Stop() override { ++stops; }
  void Release() override { ++releases; }
  const char16_t* Name() override { return name_; }
  int ShowSettings(void* owner) override {
    shownOver.push_back(owner);
    return 1;
  }
  bool SettingChanged(const settings::SourceSetting* s) override {
    reported.push_back(s);
    return true;
  }
  int prepares = 0, stops = 0, releases = 0;
  bool prepareOk = true;
  std::vector<void*> shownOver;
  std::vector<const settings::SourceSetting*> reported;

 private:
  const char16_t* name_;
};

// The window view of the context: nothing to show in these tests.
class QuietWindow final : public core::WindowView {
 public:
  void setCommandText(int, const std::u16string&) override {}
  void showMessage(const std::u16string&, const std::u16string&) override {}
  void setWaitCursor(bool) override {}
  void invalidate() override {}
  void startTimer(uint32_t, uint32_t) override {}
  void stopTimer(uint32_t) override {}
  void resetIdleTimer() override {}
  uint32_t displayRotationDegrees() override { return 0; }
  void clientSize(int32_t& w, int32_t& h) override { w = 320, h = 240; }
  void drawPreview(const core::PreviewBitmap&) override {}
  void fill(uint32_t) override {}
  void postCommandReceived() override {}
  void postPropertyCommands() override {}
  void rebuildMenu() override {}
  bool openHelp(const std::u16string&) override { return true; }
  void closeWindow() override {}
  void postQuit(int) override {}
};

class FakeMenuView final : public MenuView {
 public:
  std::map<int, Menu> menus;
  std::map<int, int> builds;
  std::vector<int> opened;
  void setButtonMenu(int id, const Menu& menu) override {
    menus[id] = menu;
    ++builds[id];
  }
  void openButtonMenu(int id) override { opened.push_back(id); }
};

// A menu as one line per item: "text=number*" for commands (* when checked), "-" for a
// separator, "text{...}" for a submenu.
inline std::string describe(const Menu& menu) {
  std::string out;
  for (const MenuItem& item : menu) {
    if (!out.empty()) out += ' ';
    const std::string text(item.text.begin(), item.text.end());
    switch (item.kind) {
      case MenuItem::Kind::kCommand:
        out += text + "=" + std::to_string(item.command) + (item.checked ? "*" : "");
        break;
      case MenuItem::Kind::kSeparator:
        out += "-";
        break;
      case MenuItem::Kind::kSubmenu:
        out += text + "{" + describe(item.items) + "}";
        break;
    }
  }
  return out;
}

}  // namespace ui::testing
