#pragma once

// In-memory Win32 dialog templates made from the parsed resource scripts, so that the
// dialogs on Windows come from the same scripts (and translations) as everywhere else.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/resources.h"

namespace dialogs::win32 {

// The value of one style name ("WS_TABSTOP", "CBS_DROPDOWNLIST", ...) or number ("0x80",
// "12"); nothing for a name the front does not know.
std::optional<uint32_t> styleValue(std::string_view name);

// An extended dialog template (the layout DialogBoxIndirectParamW and
// CreateDialogIndirectParamW read) for `dialog`: the styles of the script with the
// defaults each control statement implies, the font when one is given, the caption and
// the controls in their order. The bytes are aligned for the dialog functions when the
// vector's storage is (it always is: the allocation is at least 8-byte aligned).
std::vector<uint8_t> makeDialogTemplate(const platform::DialogTemplate& dialog);

}  // namespace dialogs::win32
