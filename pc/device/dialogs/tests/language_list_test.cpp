#include "dialogs/language_list.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "fake_settings_host.h"

namespace dialogs {
namespace {

namespace fs = std::filesystem;

class Locales final : public LocaleSource {
 public:
  std::optional<uint16_t> userUi, systemUi, userDefault, systemDefault;
  std::optional<uint16_t> userUiLanguage() const override { return userUi; }
  std::optional<uint16_t> systemUiLanguage() const override { return systemUi; }
  std::optional<uint16_t> userDefaultLanguage() const override { return userDefault; }
  std::optional<uint16_t> systemDefaultLanguage() const override { return systemDefault; }
};

std::string script(const char* text) {
  return std::string("STRINGTABLE\nBEGIN\n  105 \"") + text + "\"\nEND\n";
}

class LanguageListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("dialogs-lang-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir / "Lang");
    std::string error;
    own = platform::ResourceModule::parse(script("Settings"), "own.rc", error);
    ASSERT_TRUE(own) << error;
  }
  void TearDown() override { fs::remove_all(dir); }
  void write(const std::string& name, const std::string& text) {
    std::ofstream(dir / "Lang" / name) << text;
  }
  // The shipped German module.
  void shipGerman() {
    fs::copy_file(fs::path(VISTREL_RESOURCES_DIR) / "Lang" / "res0407.rc", dir / "Lang" / "res0407.rc");
  }
  std::u16string title(const LanguageList& list) { return *list.module().string(105); }

  fs::path dir;
  std::unique_ptr<platform::ResourceModule> own;
  std::vector<std::string> problems;
  Locales locales;
};

TEST_F(LanguageListTest, ASwissGermanInterfaceFallsBackToTheGermanModule) {
  shipGerman();
  LanguageList list(*own, dir.string());
  list.build();
  ASSERT_EQ(list.count(), 3u);
  EXPECT_EQ(list.id(0), 0);
  EXPECT_EQ(list.id(1), 1033);
  EXPECT_EQ(list.id(2), 0x0407);

  // Automatic on a German interface: the German module.
  locales.userUi = 0x0407;
  list.select(0, locales);
  EXPECT_EQ(list.loadedLanguage(), 0x0407);
  EXPECT_EQ(title(list), u"Einstellungen");

  // 0x0807 is tried as 0x0807, then 0x0007, then 0x0407.
  EXPECT_TRUE(list.load(0x0807));
  EXPECT_EQ(list.loadedLanguage(), 0x0407);
  locales.userUi = 0x0807;
  list.select(0, locales);
  EXPECT_EQ(list.loadedLanguage(), 0x0407);

  // A language whose primary and main forms are missing too falls to the next candidate,
  // and at the end to the built-in language.
  locales.userUi = 0x080c;
  locales.systemUi = std::nullopt;
  list.select(0, locales);
  EXPECT_TRUE(list.ownModuleInUse());
  EXPECT_EQ(list.loadedLanguage(), 1033);
  locales.systemDefault = 0x0c07;  // Austrian German: 0x0c07, 0x0007, 0x0407
  list.select(0, locales);
  EXPECT_EQ(list.loadedLanguage(), 0x0407);

  // The built-in entry, and an entry chosen by its id.
  list.select(1, locales);
  EXPECT_TRUE(list.ownModuleInUse());
  list.selectId(0x0407, locales);
  EXPECT_EQ(list.selected(), 2u);
  list.selectId(0x0410, locales);  // not in the list: automatic
  EXPECT_EQ(list.selected(), 0u);
}

TEST_F(LanguageListTest, PrimaryLanguageAloneIsTriedWhenTheMainFormWasAsked) {
  write("res0007.rc", script("Primary"));
  LanguageList list(*own, dir.string());
  list.build();
  EXPECT_TRUE(list.load(0x0407));
  EXPECT_EQ(list.loadedLanguage(), 0x0007);
  EXPECT_FALSE(list.load(0x0419));  // 0x0419, then 0x0019; sub-language 1 ends there
}

TEST_F(LanguageListTest, DamagedOrMissingModulesFallBackAndADamagedOneIsReported) {
  write("res0407.rc", "STRINGTABLE\nBEGIN\n 105 \"unterminated\nEND\n");
  write("res7fff.rc", script("Unknown language"));
  LanguageList list(*own, dir.string(), [&](const std::string& m) { problems.push_back(m); });
  list.build();
  ASSERT_EQ(list.count(), 4u);
  EXPECT_EQ(languageName(list.id(2)), u"Deutsch");
  EXPECT_EQ(languageName(list.id(3)), u"32767 - ???");

  list.select(2, locales);  // damaged, nothing else offered: built-in
  EXPECT_TRUE(list.ownModuleInUse());
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("res0407.rc:"), std::string::npos) << problems[0];

  // A module for a language the system does not know still loads.
  list.select(3, locales);
  EXPECT_EQ(list.loadedLanguage(), 0x7fff);
  EXPECT_EQ(title(list), u"Unknown language");

  // The module file gone: silent, the built-in language.
  fs::remove(dir / "Lang" / "res0407.rc");
  problems.clear();
  list.load(0x0407);
  EXPECT_TRUE(problems.empty());
}

TEST_F(LanguageListTest, AModuleHandedOutStaysValidAfterAnotherLanguageIsChosen) {
  shipGerman();
  write("res040c.rc", script("Paramètres"));
  LanguageList list(*own, dir.string());
  list.build();
  list.selectId(0x0407, locales);
  const platform::ResourceModule* german = &list.module();
  list.selectId(0x040c, locales);
  EXPECT_EQ(title(list), u"Param\u00e8tres");
  EXPECT_EQ(*german->string(105), u"Einstellungen");  // still readable
  list.selectId(0x0407, locales);
  EXPECT_EQ(&list.module(), german);
}

TEST_F(LanguageListTest, TakesOnlyWellFormedNamesAndAtMost64Entries) {
  for (const char* name : {"res0000.rc", "res04G7.rc", "res0C07.rc", "res407.rc", "res04070.rc",
                           "res0409.rc", "other.rc", "res0407.dll"}) {
    write(name, script("x"));
  }
  {
    LanguageList list(*own, dir.string());
    list.build();
    EXPECT_EQ(list.count(), 2u);  // none of them; 0409 is the built-in language
  }
  for (int id = 1; id <= 70; ++id) {
    char name[16];
    std::snprintf(name, sizeof name, "res%04x.rc", 0x0400 + id);
    write(name, script("x"));
  }
  LanguageList list(*own, dir.string());
  list.build();
  EXPECT_EQ(list.count(), 64u);
  std::set<uint16_t> ids;
  for (uint32_t i = 2; i < list.count(); ++i) ids.insert(list.id(i));
  EXPECT_EQ(ids.size(), 62u);
  EXPECT_EQ(list.id(2), 0x0401);
  EXPECT_EQ(list.id(63), 0x0401 + 62);  // 1033 (0x0409) is skipped on the way
}

TEST(LocaleNames, BecomeLanguageIds) {
  const std::pair<const char*, std::optional<uint16_t>> cases[] = {
      {"de_CH.UTF-8", 0x0807}, {"de_DE.UTF-8", 0x0407}, {"de", 0x0407}, {"de_AT@euro", 0x0c07},
      {"en_US.UTF-8", 0x0409}, {"en_GB", 0x0809},       {"pt_BR", 0x0416}, {"fr_CA.UTF-8", 0x0c0c},
      {"C", std::nullopt},     {"POSIX", std::nullopt}, {"", std::nullopt}, {"xx_YY", std::nullopt}};
  for (const auto& [name, id] : cases) EXPECT_EQ(languageIdOfLocale(name), id) << name;
}

// The shipped modules: the German one has every text and every control of the own one.
TEST(ShippedModules, GermanIsCompleteAndDiffersFromEnglish) {
  std::string error;
  auto english = platform::ResourceModule::load(std::string(VISTREL_RESOURCES_DIR) + "/device.rc", error);
  ASSERT_TRUE(english) << error;
  auto german = platform::ResourceModule::load(std::string(VISTREL_RESOURCES_DIR) + "/Lang/res0407.rc", error);
  ASSERT_TRUE(german) << error;
  EXPECT_EQ(german->language(), 0x0407);
  for (const auto& [id, text] : english->strings()) {
    const std::u16string* translated = german->string(id);
    ASSERT_NE(translated, nullptr) << "string " << id;
  }
  EXPECT_EQ(*german->string(1019), u"Einstellungen");
  for (uint32_t dialog : {102u, 103u, 104u}) {
    const platform::DialogTemplate* e = english->dialog(dialog);
    const platform::DialogTemplate* g = german->dialog(dialog);
    ASSERT_NE(e, nullptr);
    ASSERT_NE(g, nullptr);
    for (const platform::DialogControl& c : e->controls) {
      if (c.id < 0) continue;
      EXPECT_NE(g->control(c.id), nullptr) << "dialog " << dialog << " control " << c.id;
    }
  }
  // The texts the viewer reads and the page's strings are there in English.
  for (uint32_t id : {105u, 106u, 107u, 109u, 110u, 200u, 205u, 210u, 1019u, 1020u}) {
    EXPECT_NE(english->string(id), nullptr) << id;
  }
}

}  // namespace
}  // namespace dialogs
