// Feeds arbitrary bytes to the property-list reader and touches everything it hands
// back, so that any reference outside the input is caught by the address sanitizer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/property_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> copy(data, data + size);  // exact-size buffer: overreads are caught
  std::vector<protocol::PropertyEntry> list;
  list.reserve(512);
  protocol::parsePropertyList(copy.data(), copy.size(), list);
  size_t sink = 0;
  for (const auto& e : list) {
    sink += e.name.toU16().size();
    sink += e.offered() ? 1 : 0;
    const uint32_t n = e.count < 64 ? e.count : 64;
    for (uint32_t i = 0; i < n; ++i) sink += e.itemText(i).size();
    sink += e.itemText(e.currentIndex()).size();
  }
  if (!list.empty()) protocol::applyValueReport(list, list.back().key, 0);
  return sink == 0xFFFFFFFF ? 1 : 0;
}
