#pragma once

#include <cstdint>

#include "procs/process_table.h"

namespace procs {

// The bytes of the shared table. The first part keeps the record layout every program
// of the family reads (10 entries of 532 bytes, then the count and the next id); the
// owners that follow tie each entry to a live process so that entries of dead processes
// can be dropped. Any local user can write these bytes: readers copy them out first and
// bound every field of the copy.
struct SharedEntry {
  uint32_t id;
  uint32_t receiving;  // 1 = this process receives frames itself
  char16_t path[ProcessTable::kPathChars];
};
static_assert(sizeof(SharedEntry) == 532);

struct SharedOwner {
  uint32_t pid;
  uint32_t reserved;
  uint64_t startTicks;
};

struct SharedTable {
  SharedEntry entries[ProcessTable::kEntries];
  uint32_t count;
  uint32_t nextId;
  SharedOwner owners[ProcessTable::kEntries];
};
static_assert(sizeof(SharedTable) == 10 * 532 + 8 + 10 * 16);

inline constexpr const char* kProcessTableName = "_VistrelProcTable_";

}  // namespace procs
