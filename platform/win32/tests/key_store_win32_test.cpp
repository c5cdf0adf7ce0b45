// The key store on the Windows registry, checked against the registry itself.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "platform/key_store.h"

namespace platform {
namespace {

std::wstring pidText() { return std::to_wstring(GetCurrentProcessId()); }

// Raw registry read: type and bytes of a value, or false.
bool rawValue(HKEY root, const std::wstring& key, const wchar_t* name, DWORD& type, std::vector<uint8_t>& data) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &h) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  bool ok = RegQueryValueExW(h, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
  data.resize(size);
  ok = ok && RegQueryValueExW(h, name, nullptr, &type, data.data(), &size) == ERROR_SUCCESS;
  data.resize(size);
  RegCloseKey(h);
  return ok;
}

bool keyPresent(HKEY root, const std::wstring& key) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}

// A store under HKEY_CURRENT_USER\Software\VistrelTests\<pid>, as VISTREL_KEY_STORE asks.
class TestRootStore : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = L"Software\\VistrelTests\\" + pidText();
    const std::string env = "Software\\VistrelTests\\" + std::to_string(GetCurrentProcessId());
    _putenv_s(kKeyStoreEnvironment, env.c_str());
  }
  void TearDown() override {
    _putenv_s(kKeyStoreEnvironment, "");
    RegDeleteTreeW(HKEY_CURRENT_USER, root_.c_str());
  }
  std::wstring root_;
};

TEST_F(TestRootStore, ValuesLandInTheRegistryWithTheirTypesAndExactSizes) {
  EXPECT_EQ(defaultKeyStorePath(), "HKEY_CURRENT_USER\\Software\\VistrelTests\\" +
                                       std::to_string(GetCurrentProcessId()));
  {
    KeyStore store(openMachineKeyStorage());
    auto key = store.createKey(u"Software\\Orvane\\Vistrel");
    ASSERT_NE(key, nullptr);
    EXPECT_TRUE(key->setDword(u"Port", 2047));
    EXPECT_TRUE(key->setString(u"Language", u"Fran\u00e7ais"));
    const uint8_t shortWord[2] = {1, 0};
    EXPECT_TRUE(key->setValue(u"Short", kRegDword, shortWord, 2));
    EXPECT_TRUE(key->flush());
  }
  const std::wstring path = root_ + L"\\Software\\Orvane\\Vistrel";
  DWORD type = 0;
  std::vector<uint8_t> data;
  ASSERT_TRUE(rawValue(HKEY_CURRENT_USER, path, L"Port", type, data));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(data, (std::vector<uint8_t>{0xFF, 0x07, 0, 0}));
  ASSERT_TRUE(rawValue(HKEY_CURRENT_USER, path, L"Short", type, data));
  EXPECT_EQ(data.size(), 2u) << "a 2-byte word keeps its size";
  ASSERT_TRUE(rawValue(HKEY_CURRENT_USER, path, L"Language", type, data));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(data.size(), 2u * 9) << "eight characters and the terminating zero";

  // A fresh store reads the same values back.
  KeyStore again(openMachineKeyStorage());
  auto key = again.openKey(u"software\\orvane\\VISTREL");
  ASSERT_NE(key, nullptr);
  RegistryValue v;
  ASSERT_TRUE(key->queryValue(u"Short", v));
  EXPECT_EQ(v.type, kRegDword);
  EXPECT_EQ(v.data, (std::vector<uint8_t>{1, 0}));
  ASSERT_TRUE(key->queryValue(u"Language", v));
  EXPECT_EQ(v.data.size(), 18u);
}

TEST_F(TestRootStore, SeesWhatOthersWroteAndRemovesValuesAndTrees) {
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (root_ + L"\\Software\\Orvane\\Vistrel\\lookout").c_str(), 0,
                            nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr, &h, nullptr),
            ERROR_SUCCESS);
  const DWORD width = 640;
  RegSetValueExW(h, L"Width", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&width), sizeof width);
  RegCloseKey(h);

  KeyStore store(openMachineKeyStorage());
  auto key = store.openKey(u"Software\\Orvane\\Vistrel\\lookout");
  ASSERT_NE(key, nullptr);
  RegistryValue v;
  ASSERT_TRUE(key->queryValue(u"Width", v));
  EXPECT_EQ(v.data, (std::vector<uint8_t>{0x80, 0x02, 0, 0}));
  auto parent = store.openKey(u"Software\\Orvane\\Vistrel");
  ASSERT_NE(parent, nullptr);
  EXPECT_EQ(parent->subKeyNames(), std::vector<std::u16string>{u"lookout"});

  EXPECT_TRUE(key->setDword(u"Height", 480));
  EXPECT_TRUE(key->deleteValue(u"Width"));
  DWORD type = 0;
  std::vector<uint8_t> data;
  const std::wstring path = root_ + L"\\Software\\Orvane\\Vistrel\\lookout";
  EXPECT_FALSE(rawValue(HKEY_CURRENT_USER, path, L"Width", type, data));
  EXPECT_TRUE(rawValue(HKEY_CURRENT_USER, path, L"Height", type, data));

  EXPECT_TRUE(store.deleteKey(u"Software\\Orvane\\Vistrel"));
  EXPECT_FALSE(keyPresent(HKEY_CURRENT_USER, root_ + L"\\Software\\Orvane\\Vistrel"));
  EXPECT_EQ(store.openKey(u"Software\\Orvane\\Vistrel\\lookout"), nullptr);
}

TEST_F(TestRootStore, WritersInParallelLoseNothing) {
  constexpr int kEach = 15;
  auto writer = [](char16_t tag) {
    KeyStore store(openMachineKeyStorage());
    auto key = store.createKey(u"Software\\Orvane\\Vistrel");
    ASSERT_NE(key, nullptr);
    for (int i = 0; i < kEach; ++i) {
      std::u16string name(1, tag);
      name += static_cast<char16_t>(u'a' + i);
      EXPECT_TRUE(key->setDword(name, static_cast<uint32_t>(i)));
    }
  };
  std::thread a(writer, u'A');
  std::thread b(writer, u'B');
  a.join();
  b.join();
  KeyStore store(openMachineKeyStorage());
  auto key = store.openKey(u"Software\\Orvane\\Vistrel");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->valueNames().size(), 2u * kEach);
}

// Without VISTREL_KEY_STORE the store is HKEY_LOCAL_MACHINE, and only the product's own
// keys below "Software\Orvane" may be written.
TEST(MachineStore, WritesBelowSoftwareOrvaneOfTheLocalMachineOnly) {
  const char* env = std::getenv(kKeyStoreEnvironment);
  ASSERT_TRUE(env == nullptr || *env == '\0');
  EXPECT_EQ(defaultKeyStorePath(), "HKEY_LOCAL_MACHINE\\Software\\Orvane");
  const std::wstring sub = L"Test" + pidText();
  const std::u16string path = u"Software\\Orvane\\Vistrel\\" + std::u16string(sub.begin(), sub.end());
  KeyStore store(openMachineKeyStorage());
  auto key = store.createKey(path);
  ASSERT_NE(key, nullptr);
  EXPECT_TRUE(key->setDword(u"Rotation", 90));
  DWORD type = 0;
  std::vector<uint8_t> data;
  EXPECT_TRUE(rawValue(HKEY_LOCAL_MACHINE, L"Software\\Orvane\\Vistrel\\" + sub, L"Rotation", type, data));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));

  const std::u16string outside = u"Software\\Elsewhere" + std::u16string(sub.begin(), sub.end());
  EXPECT_EQ(store.createKey(outside), nullptr);
  EXPECT_FALSE(keyPresent(HKEY_LOCAL_MACHINE, L"Software\\Elsewhere" + sub));

  EXPECT_TRUE(store.deleteKey(path));
  EXPECT_FALSE(keyPresent(HKEY_LOCAL_MACHINE, L"Software\\Orvane\\Vistrel\\" + sub));
}

}  // namespace
}  // namespace platform
