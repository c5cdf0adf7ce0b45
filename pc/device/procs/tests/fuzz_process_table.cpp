// Any local user can write the shared process table: whatever its bytes, a program that
// registers, looks up and leaves must neither crash nor read outside the table.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/named_objects.h"
#include "process_table_layout.h"
#include "procs/process_table.h"

namespace {

std::unique_ptr<platform::SharedMemory>& sharedTable() {
  static std::unique_ptr<platform::SharedMemory> memory = [] {
    const std::string prefix = "vistrel-fuzz-" + std::to_string(getpid()) + "-";
    setenv("VISTREL_OBJECT_PREFIX", prefix.c_str(), 1);
    std::atexit([] { platform::removeNamedObject(procs::kProcessTableName); });
    return platform::SharedMemory::openOrCreate(procs::kProcessTableName,
                                                sizeof(procs::SharedTable));
  }();
  return memory;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto& memory = sharedTable();
  if (!memory) return 0;
  // The first byte chooses what this process does, the next two which records have a
  // live owner (this process, so that they are kept); the rest becomes the records,
  // count and next id.
  if (size < 3) return 0;
  const uint8_t actions = data[0];
  const unsigned live = data[1] | (data[2] << 8);
  data += 3;
  size -= 3;
  procs::SharedTable table{};
  std::memcpy(&table, data, std::min(size, offsetof(procs::SharedTable, owners)));
  const platform::ProcessIdentity self = platform::currentProcess();
  for (int i = 0; i < procs::ProcessTable::kEntries; ++i) {
    if (live & (1u << i)) table.owners[i] = procs::SharedOwner{self.pid, 0, self.startTicks};
  }
  std::memcpy(memory->data(), &table, sizeof table);

  procs::ProcessTable process(u"/opt/vistrel/fuzz.exe");
  if (actions & 1) process.registerProcess();
  if (actions & 2) process.setReceiving(true);
  const auto other = process.findOtherReceiver();
  if (other && other->size() >= static_cast<size_t>(procs::ProcessTable::kPathChars)) abort();
  procs::SharedTable after;
  std::memcpy(&after, memory->data(), sizeof after);
  if (after.count > static_cast<uint32_t>(procs::ProcessTable::kEntries)) abort();
  if (actions & 4) process.unregisterProcess();
  return 0;
}
