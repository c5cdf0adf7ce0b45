#pragma once

// A settings host in memory for the dialogs' tests: a property list built with the
// protocol's builder, the settings record, and a log of what the page asked for.

#include <memory>
#include <utility>
#include <vector>

#include "dialogs/settings_page.h"

namespace dialogs::testing {

inline constexpr char kOwnScript[] = R"(
STRINGTABLE
BEGIN
  109 "Default"
  111 "The port must be a number from 1 to 65535."
  1019 "Settings"
  1020 "Close"
END
)";

class NoLocales final : public LocaleSource {
 public:
  std::optional<uint16_t> userUiLanguage() const override { return std::nullopt; }
  std::optional<uint16_t> systemUiLanguage() const override { return std::nullopt; }
  std::optional<uint16_t> userDefaultLanguage() const override { return std::nullopt; }
  std::optional<uint16_t> systemDefaultLanguage() const override { return std::nullopt; }
};

class FakeSettingsHost final : public SettingsHost {
 public:
  FakeSettingsHost() {
    std::string error;
    own_ = platform::ResourceModule::parse(kOwnScript, "own.rc", error);
    languages_ = std::make_unique<LanguageList>(*own_, "/nonexistent");
    languages_->build();
  }

  // Replaces the property list, as a new list from the phone does.
  void setList(const std::vector<protocol::PropertyListBuilder::Entry>& entries) {
    bytes_.assign(16384, 0);
    protocol::PropertyListBuilder b(bytes_.data(), bytes_.size());
    for (const auto& e : entries) b.add(e);
    bytes_.resize(b.size());
    list_.clear();
    list_.reserve(64);
    protocol::parsePropertyList(bytes_.data(), bytes_.size(), list_);
  }
  // A value report from the phone.
  void report(uint32_t key, uint32_t index) { protocol::applyValueReport(list_, key, index); }

  settings::DeviceSettings settings() override { return current; }
  void apply(const settings::DeviceSettings& s) override {
    current = s;
    applied.push_back(s);
  }
  void readProperties(
      const std::function<void(const std::vector<protocol::PropertyEntry>&)>& reader) override {
    reader(list_);
  }
  bool setProperty(uint32_t key, uint32_t index) override {
    sent.emplace_back(key, index);
    return protocol::applyValueReport(list_, key, index);
  }
  void connect() override { ++connects; }
  void showAbout() override { ++abouts; }
  const LanguageList& languages() override { return *languages_; }
  uint16_t selectLanguage(uint32_t index) override {
    languages_->select(index, locales_);
    return languages_->selectedId();
  }
  std::u16string text(uint32_t id) override {
    const std::u16string* t = own_->string(id);
    return t ? *t : std::u16string();
  }

  settings::DeviceSettings current;
  std::vector<settings::DeviceSettings> applied;
  std::vector<std::pair<uint32_t, uint32_t>> sent;
  int connects = 0;
  int abouts = 0;

 private:
  std::unique_ptr<platform::ResourceModule> own_;
  std::unique_ptr<LanguageList> languages_;
  NoLocales locales_;
  std::vector<uint8_t> bytes_;
  std::vector<protocol::PropertyEntry> list_;
};

using Item = protocol::PropertyListBuilder::Item;
using Entry = protocol::PropertyListBuilder::Entry;

}  // namespace dialogs::testing
