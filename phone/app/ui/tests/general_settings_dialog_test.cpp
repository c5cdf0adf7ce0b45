#include "ui/general_settings_dialog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "fake_dialog_view.h"
#include "memory_key_store.h"

namespace ui {
namespace {

namespace fs = std::filesystem;

class Locales final : public texts::LocaleInfo {
 public:
  std::optional<texts::LocaleNames> names(uint16_t id) const override {
    if (id == 0x0407) return texts::LocaleNames{u"Deutsch", u"German"};
    return std::nullopt;
  }
};

class GeneralSettingsDialogTest : public ::testing::Test {
 protected:
  GeneralSettingsDialogTest()
      : keyStore_(platform::testing::makeMemoryKeyStore(state_)), store_(*keyStore_),
        own_(texts::builtinModule()) {
    std::string pattern = (fs::temp_directory_path() / "vistrel-ui-XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
    fs::copy_file(std::string(VISTREL_RESOURCES_DIR) + "/vistrel.0407.mui", dir_ + "/vistrel.0407.mui");
    store_.setMainPath(settings::kSettingsPath);
    state_->text =
        "[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n\"Languages\"=\"0407,0410\"\n";
    languages_ = std::make_unique<texts::LanguageTable>(store_, dir_ + "/vistrel",
                                                        [](const std::string&) {});
    languages_->LoadLanguageList(*own_);
    dialog_ = std::make_unique<GeneralSettingsDialog>(
        *languages_, locales_, view_,
        GeneralSettingsDialog::Hooks{[this] { ++closeRequests_; },
                                     [this](std::u16string_view t) {
                                       helpTopics_.emplace_back(t);
                                       return true;
                                     }});
  }
  ~GeneralSettingsDialogTest() override { fs::remove_all(dir_); }

  std::optional<uint32_t> currentLanguage() {
    return settings::readDword(store_.OpenKey(nullptr, false), u"Current Language");
  }
  int selection() const { return view_.listSelection(GeneralSettingsDialog::kLanguageList); }

  std::string dir_;
  std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State> state_;
  std::unique_ptr<platform::KeyStore> keyStore_;
  settings::SettingsStore store_;
  std::unique_ptr<platform::ResourceModule> own_;
  std::unique_ptr<texts::LanguageTable> languages_;
  Locales locales_;
  testing::FakeDialogView view_;
  std::unique_ptr<GeneralSettingsDialog> dialog_;
  int closeRequests_ = 0;
  std::vector<std::u16string> helpTopics_;
};

TEST_F(GeneralSettingsDialogTest, OpenListsEveryLanguageAndSelectsTheCurrentOne) {
  dialog_->onInitDialog();
  EXPECT_EQ(view_.lists[1056].items,
            (std::vector<std::u16string>{u"Default", u"Deutsch", u"1040 - ???"}));
  EXPECT_EQ(selection(), 0);
  EXPECT_EQ(view_.menuButtons[1], u"Done");
}

TEST_F(GeneralSettingsDialogTest, LeftAndRightWrapAroundTheList) {
  dialog_->onInitDialog();
  struct Step {
    DialogKey key;
    int selection;
    bool handled;
  };
  const Step steps[] = {
      {DialogKey::kRight, 2, true},  // before the first: the last
      {DialogKey::kLeft, 0, true},   // after the last: the first
      {DialogKey::kLeft, 1, true},   {DialogKey::kRight, 0, true},
      {DialogKey::kAction, 0, true},  // swallowed
      {DialogKey::kUp, 0, false},    {DialogKey::kOther, 0, false},
  };
  for (const auto& s : steps) {
    EXPECT_EQ(dialog_->onListKey(s.key), s.handled);
    EXPECT_EQ(selection(), s.selection);
  }
}

TEST_F(GeneralSettingsDialogTest, DoneWithoutChangeOnlyEndsTheDialog) {
  dialog_->onInitDialog();
  const int updates = state_->updates;
  dialog_->onCommand(kDoneButton);
  EXPECT_EQ(view_.endResults, std::vector<int>{kDialogDone});
  EXPECT_EQ(view_.menuBarDestroyed, 1);
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_EQ(closeRequests_, 0);
  EXPECT_EQ(state_->updates, updates);  // no language loaded, nothing written
}

TEST_F(GeneralSettingsDialogTest, DoneWithAnotherLanguageLoadsItAndAsksForARestart) {
  dialog_->onInitDialog();
  dialog_->onListKey(DialogKey::kLeft);  // Deutsch
  dialog_->onCommand(kDoneButton);
  EXPECT_EQ(currentLanguage(), 0x0407u);
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].first,
            u"Starten Sie das Programm neu, damit die \u00c4nderungen wirksam werden.");
  EXPECT_EQ(view_.messages[0].second, u"");
  EXPECT_EQ(closeRequests_, 1);
  EXPECT_EQ(view_.endResults, std::vector<int>{kDialogDone});
  EXPECT_EQ(view_.menuBarDestroyed, 1);
  EXPECT_EQ(std::u16string(languages_->Text(texts::kTextSource)), u"Quelle");
}

TEST_F(GeneralSettingsDialogTest, CloseHelpAndSize) {
  dialog_->onInitDialog();
  dialog_->onListKey(DialogKey::kLeft);
  dialog_->onClose();
  EXPECT_EQ(view_.endResults, std::vector<int>{kDialogClosed});
  EXPECT_EQ(currentLanguage(), 0u);  // closing is not choosing
  dialog_->onHelp();
  EXPECT_EQ(helpTopics_, std::vector<std::u16string>{u"Main_Contents"});
  dialog_->onSize();
  EXPECT_EQ(view_.layouts, 1);
  dialog_->onCommand(40003);  // not ours
  EXPECT_EQ(view_.endResults.size(), 1u);
}

}  // namespace
}  // namespace ui
