#include "texts/language_table.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "memory_key_store.h"

namespace texts {
namespace {

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "vistrel-texts-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() { fs::remove_all(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::u16string text(const char16_t* t) { return t ? std::u16string(t) : u"<none>"; }

class LanguageTableTest : public ::testing::Test {
 protected:
  LanguageTableTest()
      : keyStore_(platform::testing::makeMemoryKeyStore(state_)),
        store_(*keyStore_),
        own_(builtinModule()),
        program_(dir_.path() + "/vistrel") {
    store_.setMainPath(settings::kSettingsPath);
  }

  void setMain(const std::string& body) {
    state_->text = "[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n" + body;
  }
  void installGerman() {
    fs::copy_file(std::string(VISTREL_RESOURCES_DIR) + "/vistrel.0407.mui",
                  program_ + ".0407.mui");
  }
  void writeTranslation(uint16_t id, const std::string& script) {
    std::ofstream(translationModulePath(program_, id)) << script;
  }
  std::unique_ptr<LanguageTable> table() {
    auto t = std::make_unique<LanguageTable>(
        store_, program_, [this](const std::string& m) { messages_.push_back(m); });
    t->LoadLanguageList(*own_);
    return t;
  }
  std::optional<uint32_t> currentLanguage() {
    return settings::readDword(store_.OpenKey(nullptr, false), u"Current Language");
  }

  TempFolder dir_;
  std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State> state_;
  std::unique_ptr<platform::KeyStore> keyStore_;
  settings::SettingsStore store_;
  std::unique_ptr<platform::ResourceModule> own_;
  std::string program_;
  std::vector<std::string> messages_;
};

TEST_F(LanguageTableTest, LanguagesValueIsReadInEntriesOfFiveCharacters) {
  struct Case {
    const char* languages;  // null: no value
    std::vector<uint16_t> ids;
  };
  const std::string tooLong(300, '0');
  const Case cases[] = {
      {"0407,040c", {0, 0x0407, 0x040c}},
      {"0407", {0, 0x0407}},
      {"zz07,0407", {0, 0x0407}},
      {"04070407", {0, 0x0407}},  // the second entry would end at 9, not before the length 9
      {"0000;0407;", {0, 0x0407}},
      {" 40c", {0, 0x040c}},      // blanks are skipped
      {"040", {0}},                // not a whole entry
      {"", {0}},
      {nullptr, {0}},
      {tooLong.c_str(), {0}},      // larger than 520 bytes: the read fails
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.languages ? c.languages : "(none)");
    setMain(c.languages ? std::string("\"Languages\"=\"") + c.languages + "\"\n" : "");
    auto t = table();
    std::vector<uint16_t> ids;
    for (uint32_t i = 0; i < t->count(); ++i) ids.push_back(t->id(i));
    EXPECT_EQ(ids, c.ids);
    EXPECT_EQ(t->current(), 0u);
  }
}

TEST(LanguageHexTest, DigitsFromTheEnd) {
  EXPECT_EQ(parseLanguageHex(u"0407"), 0x0407);
  EXPECT_EQ(parseLanguageHex(u"040C"), 0x040c);
  EXPECT_EQ(parseLanguageHex(u"zz07"), 0);
  EXPECT_EQ(parseLanguageHex(u"4 0 7"), 0x0407);
  EXPECT_EQ(parseLanguageHex(u"12345"), 0x2345);               // truncated to 16 bits
  EXPECT_EQ(parseLanguageHex(u"fffffffff0407"), 0x0407);       // digits past bit 31 add nothing
  EXPECT_EQ(parseLanguageHex(u""), 0);
}

TEST_F(LanguageTableTest, BuiltInTexts) {
  auto t = table();
  EXPECT_EQ(text(t->Text(9)), u"Camera+");
  EXPECT_EQ(text(t->Text(11)), u"Camera");
  EXPECT_EQ(text(t->Text(10)), u"Screen");
  EXPECT_EQ(text(t->Text(21)), u"Source");
  EXPECT_EQ(text(t->Text(68)), u"Mode");
  EXPECT_EQ(text(t->Text(76)), u"Restart the program for the changes to take effect.");
  EXPECT_EQ(text(t->Text(1)), u"MAX");
  EXPECT_EQ(text(t->Text(70)), u"Sound");
  EXPECT_EQ(text(t->Text(50)), u"Normal");
  EXPECT_EQ(text(t->Text(5)), u"Normal");
  EXPECT_EQ(t->Text(0), nullptr);
  EXPECT_EQ(t->Text(20), nullptr);
  EXPECT_EQ(t->Text(73), nullptr);
  EXPECT_EQ(t->Text(77), nullptr);
  EXPECT_EQ(t->Text(0xFFFFFFFF), nullptr);
  for (uint32_t id = 9; id <= 76; ++id) {
    if (textResourceId(id)) {
      EXPECT_NE(text(t->Text(id)), u"") << "text id " << id;
    }
  }
  EXPECT_FALSE(t->languageModuleLoaded());
  EXPECT_EQ(&t->dialogModule(), own_.get());
  EXPECT_EQ(currentLanguage(), 0u);  // written on every load
  EXPECT_EQ(own_->string(kStringWindowTitle) ? *own_->string(kStringWindowTitle) : u"", u"Vistrel");
  EXPECT_EQ(own_->string(kStringWindowClass) ? *own_->string(kStringWindowClass) : u"", u"VISTREL");
}

TEST_F(LanguageTableTest, GermanModuleIsFoundBesideTheProgram) {
  EXPECT_EQ(translationModulePath("/opt/vistrel/vistrel", 0x0407), "/opt/vistrel/vistrel.0407.mui");
  EXPECT_EQ(translationModulePath("Vistrel.exe", 0x040c), "Vistrel.exe.040c.mui");
  installGerman();
  setMain("\"Languages\"=\"0407,040c\"\n\"Current Language\"=dword:00000407\n");
  auto t = table();
  EXPECT_EQ(t->current(), 1u);
  ASSERT_TRUE(t->languageModuleLoaded());
  EXPECT_EQ(text(t->Text(9)), u"Kamera+");
  EXPECT_EQ(text(t->Text(21)), u"Quelle");
  EXPECT_EQ(text(t->Text(70)), u"Sound");  // fixed texts stay
  EXPECT_EQ(t->dialogModule().dialog(605)->caption, u"Allgemeine Einstellungen");
  EXPECT_EQ(t->ownModule().dialog(603), own_->dialog(603));
  EXPECT_EQ(currentLanguage(), 0x0407u);
  EXPECT_TRUE(messages_.empty());

  // French is listed but not installed: silently the built-in texts.
  t->LoadLanguage(2);
  EXPECT_FALSE(t->languageModuleLoaded());
  EXPECT_EQ(text(t->Text(21)), u"Source");
  EXPECT_EQ(currentLanguage(), 0x040cu);
  EXPECT_TRUE(messages_.empty());

  t->LoadLanguage(99);  // out of range: the built-in language
  EXPECT_EQ(t->current(), 0u);
  EXPECT_EQ(currentLanguage(), 0u);
}

TEST_F(LanguageTableTest, CurrentLanguageNotListedSelectsTheBuiltInOne) {
  installGerman();
  setMain("\"Languages\"=\"0407\"\n\"Current Language\"=dword:0000040c\n");
  auto t = table();
  EXPECT_EQ(t->current(), 0u);
  EXPECT_EQ(text(t->Text(21)), u"Source");
  setMain("\"Languages\"=\"0407\"\n\"Current Language\"=hex(4):07,04\n");  // 2 bytes: missing
  EXPECT_EQ(table()->current(), 0u);
}

TEST_F(LanguageTableTest, BrokenOrOversizedTranslationsNeverOverflow) {
  setMain("\"Languages\"=\"0407,040c,0410\"\n");
  // 0407: malformed script; 040c: every text 150 characters; 0410: one long text.
  writeTranslation(0x0407, "STRINGTABLE\nBEGIN\n  154 \"Quelle\"\n  155 Aufl\n END\n");
  std::string big = "STRINGTABLE\nBEGIN\n";
  std::set<uint32_t> resources;
  for (uint32_t id = 0; id <= kLastTextId; ++id)
    if (uint32_t r = textResourceId(id)) resources.insert(r);
  for (uint32_t r : resources) big += "  " + std::to_string(r) + " \"" + std::string(150, 'x') + "\"\n";
  writeTranslation(0x040c, big + "END\n");
  writeTranslation(0x0410, "STRINGTABLE\nBEGIN\n  154 \"" + std::string(150, 'y') + "\"\nEND\n");
  auto t = table();

  t->LoadLanguage(1);
  EXPECT_FALSE(t->languageModuleLoaded());
  EXPECT_EQ(text(t->Text(21)), u"Source");
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_NE(messages_[0].find("vistrel.0407.mui:4:"), std::string::npos) << messages_[0];

  t->LoadLanguage(2);
  EXPECT_FALSE(t->languageModuleLoaded());
  EXPECT_EQ(text(t->Text(21)), u"Source");
  EXPECT_LE(t->poolUsed(), LanguageTable::kPoolChars);
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_NE(messages_[1].find("do not fit"), std::string::npos) << messages_[1];
  EXPECT_EQ(currentLanguage(), 0x040cu);  // the choice is kept

  t->LoadLanguage(3);
  EXPECT_TRUE(t->languageModuleLoaded());
  EXPECT_EQ(text(t->Text(21)), std::u16string(100, u'y'));  // at most 100 characters
  EXPECT_EQ(text(t->Text(22)), u"");  // missing from the translation: empty
}

TEST_F(LanguageTableTest, SwitchingLanguageMovesTheSourceValueToTheTranslatedName) {
  installGerman();
  setMain("\"Languages\"=\"0407\"\n");
  auto t = table();
  // An exit in English.
  settings::writeString(store_.OpenKey(nullptr, true), t->Text(kTextSource), u";Camera;");
  // The user picks German in General Settings; the program closes and saves again.
  t->LoadLanguage(1);
  settings::writeString(store_.OpenKey(nullptr, true), t->Text(kTextSource), u";Kamera;");
  // The next start reads it from "Quelle".
  auto next = table();
  ASSERT_EQ(text(next->Text(kTextSource)), u"Quelle");
  EXPECT_EQ(settings::readString(store_.OpenKey(nullptr, false), next->Text(kTextSource), 129),
            u";Kamera;");
  EXPECT_NE(state_->text.find("\"Quelle\"=\";Kamera;\""), std::string::npos);
}

class NoLocales final : public LocaleInfo {
 public:
  std::optional<LocaleNames> names(uint16_t id) const override {
    if (id == 0x0410) return LocaleNames{u"", u"Italian"};
    return std::nullopt;
  }
};

TEST(LanguageNameTest, NativeThenLanguageNameThenNumber) {
  NoLocales none;
  EXPECT_EQ(languageDisplayName(0, none), u"Default");
  EXPECT_EQ(languageDisplayName(1031, none), u"1031 - ???");
  EXPECT_EQ(languageDisplayName(0x0410, none), u"Italian");
  EXPECT_EQ(languageDisplayName(0x0407, systemLocaleInfo()), u"Deutsch");
  EXPECT_EQ(languageDisplayName(0x040c, systemLocaleInfo()), u"fran\u00e7ais");
  EXPECT_EQ(languageDisplayName(0x7777, systemLocaleInfo()), u"30583 - ???");
}

}  // namespace
}  // namespace texts
