// The store text as a list of keys, the form in which a structured store (the Windows
// registry) takes and gives it.

#include <gtest/gtest.h>

#include "platform/key_store.h"

namespace platform {
namespace {

std::vector<std::u16string> paths(const std::vector<KeyStoreKey>& keys) {
  std::vector<std::u16string> out;
  for (const auto& k : keys) out.push_back(k.path);
  return out;
}

TEST(KeyStoreKeys, ParentsComeFirstAndRepeatedSectionsMerge) {
  const std::string text =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel\\lookout]\n"
      "\"Width\"=dword:00000280\n\n"
      "[HKEY_CURRENT_USER\\Elsewhere]\n"
      "\"Ignored\"=dword:00000001\n\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n"
      "\"Port\"=dword:000007ff\n\n"
      "[HKEY_LOCAL_MACHINE\\software\\orvane\\vistrel\\LOOKOUT]\n"
      "\"width\"=dword:00000140\n"
      "\"Name\"=\"x\"\n";
  std::vector<std::string> problems;
  const auto keys = keyStoreKeys(text, "test", problems);
  EXPECT_EQ(paths(keys), (std::vector<std::u16string>{u"Software", u"Software\\Orvane",
                                                      u"Software\\Orvane\\Vistrel",
                                                      u"Software\\Orvane\\Vistrel\\lookout"}));
  ASSERT_EQ(keys[3].values.size(), 2u);
  EXPECT_EQ(keys[3].values[0].first, u"Width");
  EXPECT_EQ(keys[3].values[0].second.data, (std::vector<uint8_t>{0x40, 0x01, 0, 0})) << "the later one wins";
  EXPECT_EQ(keys[3].values[1].second.type, kRegSz);
  ASSERT_EQ(keys[2].values.size(), 1u);
  EXPECT_TRUE(keys[0].values.empty());
}

TEST(KeyStoreKeys, TextOfKeysReadsBackAsTheSameKeys) {
  std::vector<KeyStoreKey> keys{
      {u"Software\\Orvane\\Vistrel",
       {{u"", RegistryValue{kRegSz, {'a', 0, 0, 0}}},
        {u"Short", RegistryValue{kRegDword, {1, 0}}},
        {u"Blob", RegistryValue{kRegBinary, {}}}}},
      {u"Software\\Orvane\\Vistrel\\device", {}},
  };
  std::vector<std::string> problems;
  const auto back = keyStoreKeys(keyStoreText(keys), "test", problems);
  EXPECT_TRUE(problems.empty());
  ASSERT_EQ(back.size(), 4u);  // the two parents are keys too
  EXPECT_EQ(back[2].path, keys[0].path);
  ASSERT_EQ(back[2].values.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(back[2].values[i].first, keys[0].values[i].first);
    EXPECT_EQ(back[2].values[i].second.type, keys[0].values[i].second.type);
    EXPECT_EQ(back[2].values[i].second.data, keys[0].values[i].second.data);
  }
  EXPECT_EQ(back[3].path, keys[1].path);
  EXPECT_TRUE(keyStoreKeys("", "test", problems).empty());
}

}  // namespace
}  // namespace platform
