#include "lookout/viewer_settings.h"

#include <cstring>

namespace lookout {

ViewerSettings readViewerSettings(platform::KeyStore& store) {
  ViewerSettings settings;
  std::unique_ptr<platform::RegistryKey> key = store.openKey(kViewerKey);
  if (!key) return settings;
  platform::RegistryValue value;
  if (key->queryValue(kKeepActualSizeValue, value) && value.data.size() == 4) {
    uint32_t v = static_cast<uint32_t>(value.data[0]) | static_cast<uint32_t>(value.data[1]) << 8 |
                 static_cast<uint32_t>(value.data[2]) << 16 |
                 static_cast<uint32_t>(value.data[3]) << 24;
    if (v == 0 || v == 1) settings.keepActualSize = v;
  }
  // A string that does not fit the room is unreadable, so the folder stays empty.
  if (key->queryValue(kFolderValue, value) &&
      (value.type == platform::kRegSz || value.type == platform::kRegExpandSz) &&
      value.data.size() <= kFolderCapacityChars * 2) {
    std::u16string folder;
    for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
      char16_t c = static_cast<char16_t>(value.data[i] | value.data[i + 1] << 8);
      if (c == 0) break;
      folder.push_back(c);
    }
    settings.folder = std::move(folder);
  }
  return settings;
}

void writeViewerSettings(platform::KeyStore& store, const ViewerSettings& settings) {
  std::unique_ptr<platform::RegistryKey> key = store.createKey(kViewerKey);
  if (!key) return;
  key->setDword(kKeepActualSizeValue, settings.keepActualSize);
  key->setString(kFolderValue, settings.folder);
  key->flush();
}

}  // namespace lookout
