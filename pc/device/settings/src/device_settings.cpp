#include "settings/device_settings.h"

#include <cstring>

#include "platform/key_store.h"

namespace settings {
namespace {

void readDword(const platform::RegistryKey& key, std::u16string_view name, uint32_t& out) {
  platform::RegistryValue value;
  if (!key.queryValue(name, value)) return;
  if (value.data.size() != 4) return;  // another size: keep the default
  out = static_cast<uint32_t>(value.data[0]) | (static_cast<uint32_t>(value.data[1]) << 8) |
        (static_cast<uint32_t>(value.data[2]) << 16) | (static_cast<uint32_t>(value.data[3]) << 24);
}

}  // namespace

std::u16string programKeyPath(std::u16string_view baseName) {
  std::u16string path(kBaseKey);
  if (!baseName.empty()) {
    path += u'\\';
    path += baseName;
  }
  return path;
}

DeviceSettings readDeviceSettings(platform::KeyStore& store, std::u16string_view baseName) {
  DeviceSettings s;
  if (auto key = store.openKey(programKeyPath(baseName))) {
    readDword(*key, u"Width", s.width);
    readDword(*key, u"Height", s.height);
    readDword(*key, u"Rotation", s.rotation);
    readDword(*key, u"Mirror", s.mirror);
    readDword(*key, u"ConnectAtStartup", s.connectAtStartup);
  }
  if (auto key = store.openKey(kBaseKey)) {
    readDword(*key, u"Language", s.language);
    readDword(*key, u"Port", s.port);
  }
  return s;
}

void writeDeviceSettings(platform::KeyStore& store, std::u16string_view baseName,
                         const DeviceSettings& s) {
  if (auto key = store.createKey(programKeyPath(baseName))) {
    key->setDword(u"Width", s.width);
    key->setDword(u"Height", s.height);
    key->setDword(u"Rotation", s.rotation);
    key->setDword(u"Mirror", s.mirror);
    key->setDword(u"ConnectAtStartup", s.connectAtStartup);
  }
  if (auto key = store.createKey(kBaseKey)) {
    key->setDword(u"Language", s.language);
    key->setDword(u"Port", s.port);
  }
}

}  // namespace settings
