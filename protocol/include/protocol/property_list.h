#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace protocol {

// The phone's camera properties travel as a list of entries laid end to end. Each entry:
//   0 size (multiple of 4)   4 tag   8 name offset   12 current (-1 = use default)
//   16 default   20 count   24 items offset (0 = numeric range)   28 base   32 step
//   36 next (sender's link word)   40 key   44... name, item array, label strings
// Offsets count from the entry's first byte; strings are UTF-16LE and zero-terminated.
// Bytes 4..43 are the sender's 40-byte property descriptor, copied unchanged.
inline constexpr uint32_t kPropertyEntryFixedSize = 44;
inline constexpr uint32_t kPropertyItemSize = 12;
inline constexpr uint32_t kCurrentUseDefault = 0xFFFFFFFFu;

// A UTF-16LE string inside a received entry: position and length in characters.
struct WireString {
  const uint8_t* data = nullptr;  // null = absent
  uint32_t chars = 0;
  bool present() const { return data != nullptr; }
  std::u16string toU16() const;
};

struct PropertyItem {
  uint32_t own = 0;     // sender's own word, not interpreted
  int32_t value = 0;
  WireString label;     // absent = no label
};

// One parsed entry. Every reference points into the buffer it was parsed from, which
// must outlive it; all of them were checked to lie inside the entry.
struct PropertyEntry {
  const uint8_t* bytes = nullptr;  // the entry's first byte
  uint32_t size = 0;
  uint32_t tag = 0;
  WireString name;
  uint32_t current = kCurrentUseDefault;
  uint32_t defaultIndex = 0;
  uint32_t count = 0;
  const uint8_t* items = nullptr;  // null = numeric range (base + step x index)
  int32_t base = 0;
  int32_t step = 0;
  uint32_t next = 0;               // sender's link word as received
  uint32_t key = 0;

  PropertyItem item(uint32_t index) const;  // index < count and items != null

  // The chosen index: `current`, or `defaultIndex` while current is -1.
  uint32_t currentIndex() const { return current == kCurrentUseDefault ? defaultIndex : current; }
  // Whether the value at `index` can be chosen: every index when there is no item array
  // or no item has a label, otherwise only labelled items.
  bool selectable(uint32_t index) const;
  uint32_t selectableCount() const;
  // Offered for display: named, at least two values, and not exactly one selectable.
  bool offered() const;
  // The display text of the value at `index`: its label, else "Off"/"On" for a
  // two-valued property, else the number.
  std::u16string itemText(uint32_t index) const;
};

// Parses `size` bytes of a property-list payload into `out` (cleared first), keeping the
// entries in the order they came. Stops, keeping what came before, at the first entry
// whose size is 0, below the fixed part, above 8192, or past the payload, whose count is
// 0, or whose name, item array or labels do not lie (terminated) inside the entry.
// `out` should have capacity reserved by the caller so that parsing does not allocate.
void parsePropertyList(const uint8_t* payload, size_t size, std::vector<PropertyEntry>& out);

// Sets `current` of the first entry with `key` to `index` when index < count, both in the
// parsed entry and in its bytes. False when no entry changed.
bool applyValueReport(std::vector<PropertyEntry>& list, uint32_t key, uint32_t index);

// Builds a property-list payload in a caller-owned buffer, entry by entry, with the
// layout the PC reads: name at 44, then the item array, then the labels, each start
// aligned to 4.
class PropertyListBuilder {
 public:
  struct Item {
    uint32_t own = 0;
    int32_t value = 0;
    const char16_t* label = nullptr;  // null = no label
  };
  struct Entry {
    uint32_t tag = 0;
    const char16_t* name = nullptr;  // null = no name
    uint32_t current = kCurrentUseDefault;
    uint32_t defaultIndex = 0;
    uint32_t count = 0;
    const Item* items = nullptr;     // null = numeric range; else `count` items
    int32_t base = 0;
    int32_t step = 0;
    uint32_t next = 0;
    uint32_t key = 0;
  };

  PropertyListBuilder(uint8_t* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}

  // Appends one entry; false (and nothing written) when it does not fit.
  bool add(const Entry& entry);
  size_t size() const { return used_; }

 private:
  uint8_t* buffer_;
  size_t capacity_;
  size_t used_ = 0;
};

}  // namespace protocol
