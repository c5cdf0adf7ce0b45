#include "lookout/viewer_settings.h"

#include <cstring>

#include "platform/byte_order.h"

namespace lookout {

ViewerSettings readViewerSettings(platform::KeyStore& store) {
  ViewerSettings settings;
  std::unique_ptr<platform::RegistryKey> key = store.openKey(kViewerKey);
  if (!key) return settings;
  platform::RegistryValue value;
  if (key->queryValue(kKeepActualSizeValue, value) && value.data.size() == 4) {
    const uint32_t v = platform::load32(value.data.data());
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
