#include "protocol/property_list.h"

#include <cstdio>

#include "platform/byte_order.h"
#include "protocol/stream_header.h"

namespace protocol {

using platform::load16;
using platform::load32;
using platform::store16;
using platform::store32;

namespace {

uint32_t alignUp4(uint32_t v) { return (v + 3u) & ~3u; }

// A zero-terminated UTF-16LE string at `offset` inside an entry of `size` bytes.
bool readWireString(const uint8_t* entry, uint32_t size, uint32_t offset, WireString& out) {
  out = {};
  if (offset == 0) return true;
  if (offset >= size) return false;
  for (uint32_t at = offset; at + 2 <= size; at += 2) {
    if (entry[at] == 0 && entry[at + 1] == 0) {
      out.data = entry + offset;
      out.chars = (at - offset) / 2;
      return true;
    }
  }
  return false;  // not terminated inside the entry
}

size_t u16len(const char16_t* s) {
  size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

std::u16string decimal(int32_t v) {
  char text[16];
  const int n = std::snprintf(text, sizeof text, "%d", v);
  return std::u16string(text, text + n);
}

}  // namespace

std::u16string WireString::toU16() const {
  std::u16string s;
  s.reserve(chars);
  for (uint32_t i = 0; i < chars; ++i) s.push_back(static_cast<char16_t>(load16(data + 2 * i)));
  return s;
}

PropertyItem PropertyEntry::item(uint32_t index) const {
  PropertyItem it;
  const uint8_t* p = items + static_cast<size_t>(index) * kPropertyItemSize;
  it.own = load32(p);
  it.value = static_cast<int32_t>(load32(p + 4));
  // Labels were checked while parsing; an invalid one cannot remain here.
  readWireString(bytes, size, load32(p + 8), it.label);
  return it;
}

bool PropertyEntry::selectable(uint32_t index) const {
  if (index >= count) return false;
  if (items == nullptr) return true;
  for (uint32_t i = 0; i < count; ++i) {
    if (load32(items + i * kPropertyItemSize + 8) != 0) {
      return load32(items + static_cast<size_t>(index) * kPropertyItemSize + 8) != 0;
    }
  }
  return true;
}

uint32_t PropertyEntry::selectableCount() const {
  if (items == nullptr) return count;
  uint32_t labelled = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (load32(items + i * kPropertyItemSize + 8) != 0) ++labelled;
  }
  return labelled > 0 ? labelled : count;
}

bool PropertyEntry::offered() const {
  return name.present() && count >= 2 && selectableCount() != 1;
}

std::u16string PropertyEntry::itemText(uint32_t index) const {
  if (items != nullptr && index < count) {
    const PropertyItem it = item(index);
    if (it.label.present()) return it.label.toU16();
  }
  if (count == 2 && index < 2) return index == 0 ? u"Off" : u"On";
  if (items != nullptr && index < count) return decimal(item(index).value);
  return decimal(static_cast<int32_t>(static_cast<uint32_t>(base) +
                                      static_cast<uint32_t>(step) * index));
}

void parsePropertyList(const uint8_t* payload, size_t size, std::vector<PropertyEntry>& out) {
  out.clear();
  size_t at = 0;
  while (size - at >= 4) {
    const uint8_t* e = payload + at;
    PropertyEntry entry;
    entry.bytes = e;
    entry.size = load32(e);
    if (entry.size == 0 || entry.size > kMaxPropertyEntrySize || entry.size > size - at) break;
    if (entry.size < kPropertyEntryFixedSize) break;  // too short to hold its own fields
    entry.tag = load32(e + 4);
    const uint32_t nameOffset = load32(e + 8);
    entry.current = load32(e + 12);
    entry.defaultIndex = load32(e + 16);
    entry.count = load32(e + 20);
    const uint32_t itemsOffset = load32(e + 24);
    entry.base = static_cast<int32_t>(load32(e + 28));
    entry.step = static_cast<int32_t>(load32(e + 32));
    entry.next = load32(e + 36);
    entry.key = load32(e + 40);
    if (entry.count == 0) break;
    if (!readWireString(e, entry.size, nameOffset, entry.name)) break;
    if (itemsOffset != 0) {
      const uint64_t end = itemsOffset + static_cast<uint64_t>(entry.count) * kPropertyItemSize;
      if (end > entry.size) break;
      entry.items = e + itemsOffset;
      bool labelsOk = true;
      for (uint32_t i = 0; i < entry.count && labelsOk; ++i) {
        WireString label;
        labelsOk = readWireString(e, entry.size, load32(entry.items + i * kPropertyItemSize + 8),
                                  label);
      }
      if (!labelsOk) break;
    }
    out.push_back(entry);
    at += entry.size;
  }
}

bool applyValueReport(std::vector<PropertyEntry>& list, uint32_t key, uint32_t index) {
  for (PropertyEntry& e : list) {
    if (e.key != key) continue;
    if (index >= e.count) return false;
    e.current = index;
    store32(const_cast<uint8_t*>(e.bytes) + 12, index);
    return true;
  }
  return false;
}

bool PropertyListBuilder::add(const Entry& in) {
  // Lay the entry out first, then write it only when it fits.
  uint32_t free = kPropertyEntryFixedSize;
  uint32_t nameOffset = 0;
  size_t nameChars = 0;
  if (in.name != nullptr) {
    nameChars = u16len(in.name);
    nameOffset = free;
    free = alignUp4(free + static_cast<uint32_t>((nameChars + 1) * 2));
  }
  uint32_t itemsOffset = 0;
  if (in.items != nullptr) {
    itemsOffset = free;
    free = alignUp4(free + in.count * kPropertyItemSize);
    for (uint32_t i = 0; i < in.count; ++i) {
      if (in.items[i].label != nullptr) {
        free = alignUp4(free + static_cast<uint32_t>((u16len(in.items[i].label) + 1) * 2));
      }
    }
  }
  if (free > capacity_ - used_) return false;

  uint8_t* e = buffer_ + used_;
  for (uint32_t i = 0; i < free; ++i) e[i] = 0;
  store32(e + 0, free);
  store32(e + 4, in.tag);
  store32(e + 8, nameOffset);
  store32(e + 12, in.current);
  store32(e + 16, in.defaultIndex);
  store32(e + 20, in.count);
  store32(e + 24, itemsOffset);
  store32(e + 28, static_cast<uint32_t>(in.base));
  store32(e + 32, static_cast<uint32_t>(in.step));
  store32(e + 36, in.next);
  store32(e + 40, in.key);
  auto writeString = [e](uint32_t offset, const char16_t* s, size_t chars) {
    for (size_t c = 0; c < chars; ++c) store16(e + offset + 2 * c, static_cast<uint16_t>(s[c]));
  };
  if (in.name != nullptr) writeString(nameOffset, in.name, nameChars);
  if (in.items != nullptr) {
    uint32_t labelAt = alignUp4(itemsOffset + in.count * kPropertyItemSize);
    for (uint32_t i = 0; i < in.count; ++i) {
      uint8_t* it = e + itemsOffset + i * kPropertyItemSize;
      store32(it, in.items[i].own);
      store32(it + 4, static_cast<uint32_t>(in.items[i].value));
      if (in.items[i].label != nullptr) {
        const size_t chars = u16len(in.items[i].label);
        store32(it + 8, labelAt);
        writeString(labelAt, in.items[i].label, chars);
        labelAt = alignUp4(labelAt + static_cast<uint32_t>((chars + 1) * 2));
      }
    }
  }
  used_ += free;
  return true;
}

}  // namespace protocol
