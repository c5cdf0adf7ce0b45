#include <atomic>

#include "settings/source_setting.h"

namespace settings {

namespace {
// The PC's commands share one word with the keys: 1 is a tap, 2 a key press, any other
// value a setting's key.
constexpr uint32_t kLastCommandCode = 2;
}  // namespace

uint32_t newSettingKey() {
  static std::atomic<uint32_t> next{0};
  uint32_t key;
  do {
    key = next.fetch_add(1, std::memory_order_relaxed) + 1;
  } while (key <= kLastCommandCode);
  return key;
}

int32_t effectiveIndex(const SourceSetting& setting) {
  return setting.current == -1 ? setting.defaultIndex : setting.current;
}

int32_t settingValue(const SourceSetting& setting) {
  const int32_t index = effectiveIndex(setting);
  if (setting.choices) {
    if (index < 0 || static_cast<uint32_t>(index) >= setting.count) return 0;
    return setting.choices[index].value;
  }
  // Wrap-around arithmetic as the 32-bit words of the record do.
  return static_cast<int32_t>(static_cast<uint32_t>(setting.base) +
                              static_cast<uint32_t>(index) * static_cast<uint32_t>(setting.step));
}

}  // namespace settings
