#include "output/camera_controls.h"

#include <algorithm>

#include "platform/utf16.h"

namespace output {
namespace {

// The property's name as a control name: UTF-8, cut at a character boundary, never empty.
std::string controlName(const protocol::PropertyEntry& e) {
  std::string name = platform::utf16ToUtf8Lossy(e.name.toU16());
  if (name.size() > kMaxControlName) {
    size_t end = kMaxControlName;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
    name.resize(end);
  }
  if (name.empty()) name = "Property " + std::to_string(e.key);
  return name;
}

bool Named(const std::vector<CameraControl>& controls, const std::string& name) {
  return std::any_of(controls.begin(), controls.end(), [&](const CameraControl& c) { return c.name == name; });
}

}  // namespace

size_t paramBytes(const CameraControl& c) {
  // An object with five properties and the pair in Props: headers, the name three times
  // (each string padded to 8 bytes); each value: its int in the choice, and an int and
  // a string among the labels.
  size_t bytes = 256 + 3 * (c.name.size() + 8);
  for (const auto& v : c.values) bytes += 40 + v.second.size();
  return bytes;
}

std::vector<CameraControl> controlsFromProperties(const std::vector<protocol::PropertyEntry>& list) {
  std::vector<CameraControl> controls;
  size_t bytes = 0;
  for (const protocol::PropertyEntry& e : list) {
    if (!e.offered()) continue;
    if (std::any_of(controls.begin(), controls.end(), [&](const CameraControl& c) { return c.key == e.key; }))
      continue;
    CameraControl c;
    c.key = e.key;
    c.count = e.count;
    c.current = e.currentIndex();
    c.range = e.items == nullptr && e.count > kMaxChoiceValues;
    const std::string base = controlName(e);
    c.name = base;
    for (int n = 2; Named(controls, c.name); ++n) c.name = base + " (" + std::to_string(n) + ")";
    // An item array lies inside its entry, so a choice has a few hundred values at most.
    for (uint32_t i = 0; !c.range && i < e.count; ++i) {
      if (!e.selectable(i)) continue;
      c.values.emplace_back(i, platform::utf16ToUtf8Lossy(e.itemText(i)));
    }
    bytes += paramBytes(c);
    if (bytes > kMaxControlsBytes) break;
    controls.push_back(std::move(c));
  }
  return controls;
}

std::optional<std::pair<uint32_t, uint32_t>> chooseControl(const std::vector<CameraControl>& controls,
                                                           std::string_view name, int64_t value) {
  const auto c = std::find_if(controls.begin(), controls.end(), [&](const CameraControl& o) { return o.name == name; });
  if (c == controls.end() || value < 0) return std::nullopt;
  if (c->range) {
    if (value >= c->count) return std::nullopt;
    return std::make_pair(c->key, static_cast<uint32_t>(value));
  }
  for (const auto& [index, text] : c->values) {
    if (index == value) return std::make_pair(c->key, index);
  }
  return std::nullopt;
}

}  // namespace output
