#include "lookout/viewer_settings.h"

#include <gtest/gtest.h>

#include "memory_key_store.h"

namespace lookout {
namespace {

std::unique_ptr<platform::KeyStore> storeWith(std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State>& state,
                                              const std::string& values) {
  auto store = platform::testing::makeMemoryKeyStore(state);
  state->text = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n" +
                values;
  return store;
}

TEST(ViewerSettings, KeepActualSizeAcceptsOnly4Byte0Or1) {
  struct Case {
    const char* line;
    uint32_t expected;
  } cases[] = {
      {"", 1},
      {"\"KeepActualSize\"=dword:00000000\n", 0},
      {"\"KeepActualSize\"=dword:00000001\n", 1},
      {"\"KeepActualSize\"=dword:00000002\n", 1},
      {"\"KeepActualSize\"=dword:ffffffff\n", 1},
      {"\"KeepActualSize\"=hex(4):00,00\n", 1},           // 2 bytes
      {"\"KeepActualSize\"=hex(4):00,00,00,00,00\n", 1},  // 5 bytes
  };
  for (const Case& c : cases) {
    std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State> state;
    auto store = storeWith(state, c.line);
    EXPECT_EQ(readViewerSettings(*store).keepActualSize, c.expected) << c.line;
  }
}

TEST(ViewerSettings, FolderMustFitItsRoom) {
  std::string fits(260, 'a'), tooLong(261, 'b');
  struct Case {
    std::string line;
    std::u16string expected;
  } cases[] = {
      {"", u""},
      {"\"Folder\"=\"/home/me/Pictures\"\n", u"/home/me/Pictures"},
      {"\"Folder\"=\"" + fits + "\"\n", std::u16string(260, u'a')},
      {"\"Folder\"=\"" + tooLong + "\"\n", u""},
      {"\"Folder\"=dword:00000001\n", u""},
  };
  for (const Case& c : cases) {
    std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State> state;
    auto store = storeWith(state, c.line);
    EXPECT_EQ(readViewerSettings(*store).folder, c.expected) << c.line;
  }
}

TEST(ViewerSettings, WrittenAtExitIntoAKeyMadeWhenMissing) {
  std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State> state;
  auto store = platform::testing::makeMemoryKeyStore(state);
  EXPECT_EQ(readViewerSettings(*store).keepActualSize, 1u);  // no key: defaults
  writeViewerSettings(*store, ViewerSettings{0, u"/tmp/shots"});
  ViewerSettings back = readViewerSettings(*store);
  EXPECT_EQ(back.keepActualSize, 0u);
  EXPECT_EQ(back.folder, u"/tmp/shots");
  EXPECT_NE(state->text.find("\"KeepActualSize\"=dword:00000000"), std::string::npos) << state->text;
  // A refused write is silent.
  state->refuseWrites = true;
  writeViewerSettings(*store, ViewerSettings{1, u"/elsewhere"});
  EXPECT_EQ(readViewerSettings(*store).folder, u"/tmp/shots");
}

}  // namespace
}  // namespace lookout
