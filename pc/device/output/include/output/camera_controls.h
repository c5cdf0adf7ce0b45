#pragma once

// The phone's camera properties as a camera node's controls. Each property the PC lists
// (named, at least two values, not exactly one selectable value) becomes one control
// named after it. A control's value is always an index into the property's values: the
// number a set-property command carries to the phone. Two forms:
//  - a choice: a property with an item array, or with at most kMaxChoiceValues values;
//    its selectable indices, each with its display text ("Off"/"On", the label, or the
//    number);
//  - a range: a numeric range (no item array) of more values: every index from 0 to
//    count - 1, without texts (base and step tell the phone's number of an index).
// Choosing a value of a control means sending the phone the set-property command with the
// property's key and that index.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/property_list.h"

namespace output {

// A numeric range of up to this many values is offered as a choice with texts.
inline constexpr uint32_t kMaxChoiceValues = 64;
// Bounds for a hostile list: a name is cut to this many bytes (at a character boundary),
// and the controls' params stay within kMaxControlsBytes (paramBytes): the properties
// from the first one that does not fit on are left out.
inline constexpr size_t kMaxControlName = 128;
inline constexpr size_t kMaxControlsBytes = 65536;

struct CameraControl {
  uint32_t key = 0;       // the property's key on the wire
  std::string name;       // UTF-8; unique among the controls (a repeated name gets " (2)", ...)
  uint32_t current = 0;   // the property's current index
  bool range = false;     // a range: 0 .. count - 1; else a choice of `values`
  uint32_t count = 0;     // the property's number of values
  std::vector<std::pair<uint32_t, std::string>> values;  // a choice: selectable index, its text

  bool operator==(const CameraControl&) const = default;
};

// A bound of the bytes the control takes in the node's params (its PropInfo and its
// pair in Props).
size_t paramBytes(const CameraControl& control);

// The controls for a property list, in its order. A key that came earlier in the list
// is not repeated (the phone's key names one property).
std::vector<CameraControl> controlsFromProperties(const std::vector<protocol::PropertyEntry>& list);

// The key and index a value chosen for the control `name` stands for; nothing when no
// control has that name or the value is not one of its indices.
std::optional<std::pair<uint32_t, uint32_t>> chooseControl(const std::vector<CameraControl>& controls,
                                                           std::string_view name, int64_t value);

}  // namespace output
