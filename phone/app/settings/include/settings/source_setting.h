#pragma once

#include <cstdint>

namespace settings {

// One label/value pair of a setting with a choice table.
struct SettingChoice {
  uint32_t textId = 0;            // text id of the label; 0 = none
  int32_t value = 0;
  const char16_t* label = nullptr;  // from the text table when textId is not 0, else fixed or null
};

// A setting of a capture source or of the capture context. The fields keep the order of
// the 40-byte record that travels to the PC as a property descriptor; here they have
// their native types (the wire form is written field by field by the link).
//
// The value is choices[i].value when `choices` is set, else base + i * step, where i is
// `current`, or `defaultIndex` while `current` is -1.
struct SourceSetting {
  uint32_t textId = 0;            // text id of the display name; 0 = none
  const char16_t* name = nullptr;  // display name, filled from the text table at start-up
  int32_t current = -1;           // index of the chosen value; -1 = use defaultIndex
  int32_t defaultIndex = 0;
  uint32_t count = 0;             // number of values
  const SettingChoice* choices = nullptr;  // `count` entries, or null
  int32_t base = 0;
  int32_t step = 0;
  SourceSetting* next = nullptr;  // next setting of the same owner
  uint32_t key = 0;               // unique among all settings of the run (see newSettingKey)
};

// A fresh key for a setting record, unique within the run and never 0, 1 or 2 (the PC's
// command codes of a tap and a key press travel in the same word). Thread-safe.
uint32_t newSettingKey();

// `current`, or `defaultIndex` while `current` is -1.
int32_t effectiveIndex(const SourceSetting& setting);

// The value at `effectiveIndex`. A choice index outside the table gives 0.
int32_t settingValue(const SourceSetting& setting);

}  // namespace settings
