#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include "memory_key_store.h"

namespace settings {
namespace {

using platform::testing::MemoryKeyStoreStorage;

class SettingsStoreTest : public ::testing::Test {
 protected:
  SettingsStoreTest() : keyStore_(platform::testing::makeMemoryKeyStore(state_)), store_(*keyStore_) {
    store_.setMainPath(kSettingsPath);
  }
  void setText(const std::string& body) {
    state_->text = "[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n" + body;
  }

  std::shared_ptr<MemoryKeyStoreStorage::State> state_;
  std::unique_ptr<platform::KeyStore> keyStore_;
  SettingsStore store_;
};

TEST_F(SettingsStoreTest, EmptyStoreGivesDefaultsAndTheFirstSaveCreatesTheKeys) {
  SettingChoice choices[3] = {{0, 10, u"a"}, {0, 20, u"b"}, {0, 30, u"c"}};
  SourceSetting quality{.textId = 23, .name = u"Quality", .current = 2, .count = 3, .choices = choices};
  SourceSetting zoom{.textId = 59, .name = u"Zoom", .current = 1, .count = 4, .base = 1, .step = 1};
  quality.next = &zoom;

  EXPECT_FALSE(store_.OpenKey(nullptr, false));
  loadSettingList(store_, &quality, u"Camera");
  EXPECT_EQ(quality.current, -1);
  EXPECT_EQ(zoom.current, -1);
  EXPECT_FALSE(readDword(store_.OpenKey(nullptr, false), u"Crashed"));
  EXPECT_EQ(state_->updates, 0);  // reading creates nothing

  quality.current = 2;
  saveSettingList(store_, &quality, u"Camera");
  auto key = store_.OpenKey(u"Camera", false);
  ASSERT_TRUE(key);
  EXPECT_EQ(readDword(key, u"Quality"), 2u);
  EXPECT_EQ(readDword(key, u"Zoom"), 0xFFFFFFFFu);  // default stays -1 on disk
  EXPECT_TRUE(store_.OpenKey(nullptr, false));  // the main key came with it
  EXPECT_NE(state_->text.find("\"Zoom\"=dword:ffffffff"), std::string::npos);

  loadSettingList(store_, &quality, u"Camera");
  EXPECT_EQ(quality.current, 2);
  EXPECT_EQ(zoom.current, -1);
  EXPECT_EQ(settingValue(quality), 30);
  EXPECT_EQ(settingValue(zoom), 1);
}

TEST_F(SettingsStoreTest, LoadedIndexIsCheckedAsUnsignedAgainstTheCount) {
  struct Case {
    const char* stored;
    int32_t expected;
  };
  const Case cases[] = {
      {"dword:00000000", 0},  {"dword:00000003", 3}, {"dword:00000004", -1},  // count is 4
      {"dword:ffffffff", -1}, {"dword:fffffffe", -1}, {"dword:80000000", -1},
      {"hex(4):01,00", -1},    // 2 bytes: not a DWORD, ignored
      {"hex:02,00,00,00", 2},  // 4 bytes of another type still count
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    setText(std::string("\"Zoom\"=") + c.stored + "\n");
    SourceSetting zoom{.textId = 59, .name = u"Zoom", .current = 1, .count = 4};
    loadSettingList(store_, &zoom, nullptr);
    EXPECT_EQ(zoom.current, c.expected);
  }
}

TEST_F(SettingsStoreTest, NoMainPathMeansNoKey) {
  SettingsStore unset(*keyStore_);
  EXPECT_FALSE(unset.OpenKey(nullptr, true));
  writeDword(unset.OpenKey(nullptr, true), u"Crashed", 1);
  EXPECT_TRUE(state_->text.empty());
}

TEST_F(SettingsStoreTest, StringsStayWithinTheCapacity) {
  setText("\"Mode\"=\"Network\"\n\"Odd\"=hex(1):41,00,42,00\n");
  auto key = store_.OpenKey(nullptr, false);
  char16_t buffer[8];
  EXPECT_EQ(readString(key, u"Mode", buffer, 8), 7u);  // 7 characters and the zero fit
  EXPECT_EQ(std::u16string(buffer), u"Network");
  buffer[0] = u'x';
  EXPECT_EQ(readString(key, u"Mode", buffer, 7), 0u);  // too large: fails as a whole
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(readString(key, u"Missing", buffer, 8), 0u);
  EXPECT_EQ(readString(key, u"Odd", buffer, 8), 2u);  // no terminator stored
  EXPECT_EQ(std::u16string(buffer), u"AB");
  EXPECT_EQ(readString(key, u"Odd", buffer, 2), 1u);  // fits in bytes; the zero takes the last place
  EXPECT_EQ(readString(key, u"Mode", 129), u"Network");
}

TEST_F(SettingsStoreTest, RefusedWritesAreSilentNoOps) {
  state_->refuseWrites = true;
  EXPECT_FALSE(store_.OpenKey(u"FTP", true));
  writeDword(store_.OpenKey(u"FTP", true), u"Port", 21);
  SourceSetting zoom{.textId = 59, .name = u"Zoom", .current = 1, .count = 4};
  saveSettingList(store_, &zoom, u"Camera");
  EXPECT_TRUE(state_->text.empty());
}

// The first keys of a run would otherwise be 1 and 2, which the PC's tap and key
// commands use in the same word.
TEST(SourceSettingTest, KeysAreUniqueAndNeverACommandCode) {
  const uint32_t a = newSettingKey(), b = newSettingKey();
  EXPECT_GT(a, 2u);
  EXPECT_GT(b, 2u);
  EXPECT_NE(a, b);
}

}  // namespace
}  // namespace settings
