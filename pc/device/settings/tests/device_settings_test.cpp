#include <gtest/gtest.h>

#include "memory_key_store.h"
#include "platform/key_store.h"
#include "settings/device_settings.h"

namespace settings {
namespace {

struct Store {
  std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State> state =
      std::make_shared<platform::testing::MemoryKeyStoreStorage::State>();
  platform::KeyStore store{std::make_unique<platform::testing::MemoryKeyStoreStorage>(state)};
};

TEST(DeviceSettings, EmptyStoreGivesDefaults) {
  Store s;
  const DeviceSettings d = readDeviceSettings(s.store, u"lookout");
  EXPECT_EQ(d, DeviceSettings{});
  EXPECT_EQ(d.port, 2047u);
  EXPECT_EQ(d.width, 320u);
  EXPECT_EQ(d.height, 240u);
  EXPECT_EQ(d.connectAtStartup, 1u);
}

TEST(DeviceSettings, ProgramsKeepTheirOwnPictureAndShareThePort) {
  Store s;
  DeviceSettings viewer;
  viewer.rotation = 1;
  viewer.port = 3000;
  writeDeviceSettings(s.store, u"lookout", viewer);
  DeviceSettings conf;
  conf.rotation = 3;
  conf.mirror = 1;
  conf.width = 640;
  conf.port = 3001;  // the port is shared: the last writer wins for everyone
  writeDeviceSettings(s.store, u"conf", conf);

  const DeviceSettings a = readDeviceSettings(s.store, u"lookout");
  const DeviceSettings b = readDeviceSettings(s.store, u"conf");
  EXPECT_EQ(a.rotation, 1u);
  EXPECT_EQ(a.mirror, 0u);
  EXPECT_EQ(b.rotation, 3u);
  EXPECT_EQ(b.width, 640u);
  EXPECT_EQ(a.port, 3001u);
  EXPECT_EQ(b.port, 3001u);
  EXPECT_NE(s.state->text.find("[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel\\lookout]"),
            std::string::npos);
  EXPECT_NE(s.state->text.find("[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel\\conf]"),
            std::string::npos);
}

TEST(DeviceSettings, OnlyFourByteValuesAreTaken) {
  Store s;
  auto key = s.store.createKey(programKeyPath(u"my.app"));
  ASSERT_TRUE(key);
  const uint8_t two[2] = {0x80, 0x02};
  key->setValue(u"Width", platform::kRegDword, two, sizeof two);
  key->setDword(u"Height", 480);
  const uint8_t eight[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  key->setValue(u"Rotation", platform::kRegBinary, eight, sizeof eight);
  const DeviceSettings d = readDeviceSettings(s.store, u"my.app");
  EXPECT_EQ(d.width, 320u) << "a 2-byte Width is ignored";
  EXPECT_EQ(d.height, 480u);
  EXPECT_EQ(d.rotation, 0u);
}

TEST(DeviceSettings, KeyPaths) {
  EXPECT_EQ(programKeyPath(u"my.app"), u"Software\\Orvane\\Vistrel\\my.app");
  EXPECT_EQ(programKeyPath(u""), u"Software\\Orvane\\Vistrel")
      << "a process without a table entry uses the base key";
}

TEST(DeviceSettings, RefusedWritesAreSilent) {
  Store s;
  s.state->refuseWrites = true;
  DeviceSettings d;
  d.port = 5000;
  writeDeviceSettings(s.store, u"x", d);
  EXPECT_EQ(readDeviceSettings(s.store, u"x").port, 2047u);
}

TEST(DeviceSettings, ListenAddressIsAShortStringInTheBaseKey) {
  struct Case {
    const char* what;
    bool asString;
    std::u16string text;
    std::string listenOn;
  };
  const Case cases[] = {
      {"missing: every IPv4 address", false, u"", "0.0.0.0"},
      {"loopback only", true, u"127.0.0.1", "127.0.0.1"},
      {"IPv6 loopback", true, u"::1", "::1"},
      {"one interface's address", true, u"192.168.7.1", "192.168.7.1"},
      {"empty string", true, u"", "0.0.0.0"},
      {"not an address is kept as it is (never listened on)", true, u"foo", "foo"},
      {"too long is ignored", true, std::u16string(81, u'1'), "0.0.0.0"},
  };
  for (const Case& c : cases) {
    Store s;
    auto base = s.store.createKey(kBaseKey);
    if (c.asString) {
      base->setString(u"ListenAddress", c.text);
    } else {
      base->setDword(u"ListenAddress", 0x0100007F);  // a number is no address string
    }
    const DeviceSettings d = readDeviceSettings(s.store, u"lookout");
    EXPECT_EQ(listenAddressOf(d), c.listenOn) << c.what;
    writeDeviceSettings(s.store, u"lookout", d);
    EXPECT_EQ(readDeviceSettings(s.store, u"lookout"), d) << c.what << ": kept by a write";
  }
}

}  // namespace
}  // namespace settings
