#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/key_store.h"

namespace lookout {

// The viewer's two values under the product's base key, read at start, written at exit.
inline constexpr std::u16string_view kViewerKey = u"Software\\Orvane\\Vistrel";
inline constexpr std::u16string_view kKeepActualSizeValue = u"KeepActualSize";
inline constexpr std::u16string_view kFolderValue = u"Folder";
// "Folder" is read into room for 261 characters, its terminating zero included.
inline constexpr size_t kFolderCapacityChars = 261;

struct ViewerSettings {
  uint32_t keepActualSize = 1;  // 1: the window follows the picture size
  std::u16string folder;        // snapshots; empty: none chosen yet
};

// "KeepActualSize" counts only as a 4-byte 0 or 1; "Folder" only as a string that fits its
// room. Anything else, or a missing key, leaves the default.
ViewerSettings readViewerSettings(platform::KeyStore& store);
// Creates the key when needed; a refused write is silent.
void writeViewerSettings(platform::KeyStore& store, const ViewerSettings& settings);

}  // namespace lookout
