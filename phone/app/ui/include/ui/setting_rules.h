#pragma once

// The rules by which a person edits a capture source's settings, shared by the setting
// editor and the headless settings command so that both change values the same way.
//
// A numeric setting has no choice table and more than two values: it steps with "-" and
// "+". Every other setting is a choice setting: a two-valued one toggles, one with a
// table is picked from its labels.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "settings/source_setting.h"

namespace ui {

using TextFunction = std::function<const char16_t*(uint32_t textId)>;

bool isNumericSetting(const settings::SourceSetting& setting);

// The setting's numeric settings (or its choice settings), in list order from `head`.
std::vector<settings::SourceSetting*> numericSettings(settings::SourceSetting* head);
std::vector<settings::SourceSetting*> choiceSettings(settings::SourceSetting* head);

// Steps a numeric setting's index by -1 or +1 (current -1 first becomes the default
// index). False, and nothing changed, at either end.
bool stepSetting(settings::SourceSetting& setting, int delta);

// The value at the setting's current (or default) index as a signed decimal number.
std::u16string settingValueText(const settings::SourceSetting& setting);

// A choice's label: its text id's text, else its fixed label; empty when it has none.
std::u16string choiceLabel(const settings::SettingChoice& choice, const TextFunction& text);

// Whether the setting is shown as one item (no table, or a table whose first entry has
// no label) rather than as a submenu of its choices.
bool isSingleItemChoice(const settings::SourceSetting& setting, const TextFunction& text);

// How a setting's value reads for a person: the choice's label, else the value. Choices
// that share a label are told apart by their position ("640x480 (2)").
std::u16string valueLabel(const settings::SourceSetting& setting, int32_t index,
                          const TextFunction& text);

// Reads `value` as an index of `setting`: a choice setting takes a label (as valueLabel
// shows it, case-insensitive; a label's first word picks the first label it begins, so
// "640x480" picks "640x480 UYVY") or an index; a numeric one takes a value (base + index *
// step). False with `error` set when the value names nothing.
bool parseSettingValue(const settings::SourceSetting& setting, const std::u16string& value,
                       const TextFunction& text, int32_t& index, std::string& error);

}  // namespace ui
