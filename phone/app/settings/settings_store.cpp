#include <cstring>

#include "platform/byte_order.h"
#include "settings/settings_store.h"

namespace settings {

SettingsStore::SettingsStore(platform::KeyStore& store) : store_(store) {}

void SettingsStore::setMainPath(std::u16string_view path) { mainPath_ = path; }

Key SettingsStore::OpenKey(const char16_t* subKey, bool forWriting) const {
  if (mainPath_.empty()) return nullptr;
  std::u16string path = mainPath_;
  if (subKey) {
    path += u'\\';
    path += subKey;
  }
  return forWriting ? store_.createKey(path) : store_.openKey(path);
}

void SettingsStore::flush(const Key& key) const {
  if (key) key->flush();
}

std::optional<uint32_t> readDword(const Key& key, std::u16string_view name) {
  platform::RegistryValue v;
  if (!key || !key->queryValue(name, v) || v.data.size() != 4) return std::nullopt;
  return platform::load32(v.data.data());
}

size_t readString(const Key& key, std::u16string_view name, char16_t* buffer,
                  size_t capacityChars) {
  if (!buffer || capacityChars == 0) return 0;
  buffer[0] = 0;
  platform::RegistryValue v;
  // The capacity counts bytes at the store: a value that does not fit fails as a whole.
  if (!key || !key->queryValue(name, v) || v.data.size() > capacityChars * 2) return 0;
  const size_t chars = v.data.size() / 2;
  size_t length = 0;
  while (length < chars) {
    const char16_t c = static_cast<char16_t>(v.data[2 * length] | (v.data[2 * length + 1] << 8));
    if (c == 0) break;
    buffer[length++] = c;
  }
  // A stored text without its terminating zero that fills the buffer loses its last
  // character to the terminator rather than running past the buffer.
  if (length == capacityChars) --length;
  buffer[length] = 0;
  return length;
}

std::u16string readString(const Key& key, std::u16string_view name, size_t capacityChars) {
  std::u16string buffer(capacityChars, u'\0');
  const size_t length = readString(key, name, buffer.data(), capacityChars);
  buffer.resize(length);
  return buffer;
}

void writeDword(const Key& key, std::u16string_view name, uint32_t value) {
  if (key) key->setDword(name, value);
}

void writeString(const Key& key, std::u16string_view name, std::u16string_view text) {
  if (key) key->setString(name, text);
}

void loadSettingList(const SettingsStore& store, SourceSetting* list, const char16_t* subKey) {
  for (SourceSetting* s = list; s; s = s->next) s->current = -1;
  if (Key key = store.OpenKey(subKey, false)) {
    for (SourceSetting* s = list; s; s = s->next) {
      if (!s->name) continue;
      if (auto v = readDword(key, s->name)) s->current = static_cast<int32_t>(*v);
    }
  }
  for (SourceSetting* s = list; s; s = s->next)
    if (static_cast<uint32_t>(s->current) >= s->count) s->current = -1;
}

void saveSettingList(const SettingsStore& store, const SourceSetting* list,
                     const char16_t* subKey) {
  Key key = store.OpenKey(subKey, true);
  if (!key) return;
  for (const SourceSetting* s = list; s; s = s->next)
    if (s->name) writeDword(key, s->name, static_cast<uint32_t>(s->current));
}

}  // namespace settings
