#include "settings/device_settings.h"

#include <cstring>

#include "platform/byte_order.h"
#include "platform/key_store.h"
#include "platform/utf16.h"

namespace settings {
namespace {

void readDword(const platform::RegistryKey& key, std::u16string_view name, uint32_t& out) {
  platform::RegistryValue value;
  if (!key.queryValue(name, value)) return;
  if (value.data.size() != 4) return;  // another size: keep the default
  out = platform::load32(value.data.data());
}

// A string value (UTF-16LE with or without its terminating zero) of at most `maxChars`.
void readString(const platform::RegistryKey& key, std::u16string_view name, size_t maxChars,
                std::u16string& out) {
  platform::RegistryValue value;
  if (!key.queryValue(name, value) || value.type != platform::kRegSz) return;
  if (value.data.size() % 2 != 0 || value.data.size() > (maxChars + 1) * 2) return;
  std::u16string text;
  for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8));
    if (c == 0) break;
    text += c;
  }
  if (text.size() <= maxChars) out = std::move(text);
}

}  // namespace

std::string listenAddressOf(const DeviceSettings& settings) {
  if (settings.listenAddress.empty()) return "0.0.0.0";
  return platform::utf16ToUtf8Lossy(settings.listenAddress);
}

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
    readString(*key, u"ListenAddress", kMaxListenAddressChars, s.listenAddress);
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
