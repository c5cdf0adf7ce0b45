#pragma once

// OpenKey keeps the name the device program's settings are reached by.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/key_store.h"
#include "settings/source_setting.h"

namespace settings {

// The main key of the device program below HKEY_LOCAL_MACHINE.
inline constexpr std::u16string_view kSettingsPath = u"Software\\Orvane\\Vistrel";

using Key = std::unique_ptr<platform::RegistryKey>;

// Access to the device program's settings: the main key `SettingsKey` with one sub-key
// per capture source and per delivery target. Every read that fails leaves the caller's
// default; every write is fire-and-forget (a refused write changes nothing and says
// nothing).
//
// Threading: the window thread and the targets' threads may use it at once.
class SettingsStore {
 public:
  explicit SettingsStore(platform::KeyStore& store);

  // Sets the main path once at start-up (normally kSettingsPath).
  void setMainPath(std::u16string_view path);
  const std::u16string& mainPath() const { return mainPath_; }

  // The main key, or its sub-key `subKey` when not null. For writing the key is created
  // when missing; for reading it is only opened. Null when no main path is set or the
  // store fails.
  Key OpenKey(const char16_t* subKey, bool forWriting) const;

  // Makes every write so far durable.
  void flush(const Key& key) const;

  platform::KeyStore& keyStore() const { return store_; }

 private:
  platform::KeyStore& store_;
  std::u16string mainPath_;
};

// The value counts only when it exists and is exactly 4 bytes; its type is not looked at.
std::optional<uint32_t> readDword(const Key& key, std::u16string_view name);

// Reads a string of at most `capacityChars` characters including the terminating zero
// into `buffer` (which then always ends with a zero) and returns its length in
// characters. A missing value, or one larger than the capacity, gives an empty string
// and 0.
size_t readString(const Key& key, std::u16string_view name, char16_t* buffer,
                  size_t capacityChars);

// Convenience over readString: nothing when the read gives 0 characters.
std::u16string readString(const Key& key, std::u16string_view name, size_t capacityChars);

// REG_DWORD of 4 bytes and REG_SZ with its terminating zero; results are not checked.
void writeDword(const Key& key, std::u16string_view name, uint32_t value);
void writeString(const Key& key, std::u16string_view name, std::u16string_view text);

// Sets every `current` to -1, reads each setting's DWORD named by its display name from
// `subKey` (or the main key), then resets every index that is not below its setting's
// count (compared unsigned, so -1 stays -1) to -1.
void loadSettingList(const SettingsStore& store, SourceSetting* list, const char16_t* subKey);

// Writes each setting's `current` as a DWORD named by its display name.
void saveSettingList(const SettingsStore& store, const SourceSetting* list,
                     const char16_t* subKey);

}  // namespace settings
