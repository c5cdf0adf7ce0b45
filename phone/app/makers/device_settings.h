#pragma once

// Building the device settings of a maker camera and finding one in its list.

#include <cstddef>
#include <cstdint>

#include "platform/byte_order.h"
#include "settings/source_setting.h"

namespace makers {

// A setting of `count` values base + i * step.
inline settings::SourceSetting steppedSetting(uint32_t textId, int32_t defaultIndex, uint32_t count,
                                              int32_t base = 0, int32_t step = 1) {
  settings::SourceSetting s;
  s.textId = textId;
  s.defaultIndex = defaultIndex;
  s.count = count;
  s.base = base;
  s.step = step;
  s.key = settings::newSettingKey();
  return s;
}

// A setting over a choice table.
template <size_t N>
settings::SourceSetting choiceSetting(uint32_t textId, int32_t defaultIndex,
                                      const settings::SettingChoice (&choices)[N]) {
  settings::SourceSetting s;
  s.textId = textId;
  s.defaultIndex = defaultIndex;
  s.count = N;
  s.choices = choices;
  s.key = settings::newSettingKey();
  return s;
}

// Links `count` settings in array order; returns the head (null for none).
inline settings::SourceSetting* linkSettings(settings::SourceSetting* first, size_t count) {
  for (size_t i = 0; i + 1 < count; ++i) first[i].next = &first[i + 1];
  if (count > 0) first[count - 1].next = nullptr;
  return count > 0 ? first : nullptr;
}

// Index of `setting` in the array, or `count` when it is not one of them.
inline size_t indexOf(const settings::SourceSetting* setting, const settings::SourceSetting* first,
                      size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (setting == &first[i]) return i;
  return count;
}


}  // namespace makers
