#include "procs/process_table.h"

#include <algorithm>
#include <cstring>

#include "platform/named_objects.h"
#include "process_table_layout.h"

namespace procs {

// Every operation takes the table's named mutex, copies the shared bytes out, repairs the
// copy (count bounded, paths terminated, entries of dead processes dropped), works on the
// copy and writes it back when it changed. A process that dies while holding the mutex
// leaves at worst a half-written table, which the next repair makes whole again.
struct ProcessTable::Impl {
  std::u16string path;  // at most kPathChars - 1 characters
  std::unique_ptr<platform::SharedMemory> memory;
  std::unique_ptr<platform::NamedMutex> mutex;
  platform::ProcessIdentity self;
  bool registered = false;
  uint32_t id = 0;
  std::u16string baseName;

  bool available() const { return memory != nullptr && mutex != nullptr; }

  // Runs `work(table)` on a repaired copy of the shared table under the mutex; `work`
  // returns true when it changed the copy.
  template <typename Work>
  void withTable(Work work) {
    mutex->lock();
    SharedTable table;
    // Copied out through the object, and written back only while it is whole: a table
    // that someone shrank reads as empty instead of killing this process.
    if (!memory->read(0, &table, sizeof table)) std::memset(&table, 0, sizeof table);
    bool changed = repair(table);
    if (work(table)) changed = true;
    if (changed && memory->intact()) std::memcpy(memory->data(), &table, sizeof table);
    mutex->unlock();
  }

  static bool repair(SharedTable& table) {
    bool changed = false;
    if (table.count > static_cast<uint32_t>(kEntries)) {
      table.count = kEntries;
      changed = true;
    }
    uint32_t kept = 0;
    for (uint32_t i = 0; i < table.count; ++i) {
      SharedEntry& entry = table.entries[i];
      if (entry.path[kPathChars - 1] != u'\0') {
        entry.path[kPathChars - 1] = u'\0';
        changed = true;
      }
      const SharedOwner& owner = table.owners[i];
      if (!platform::processAlive({owner.pid, owner.startTicks})) {
        changed = true;
        continue;
      }
      if (kept != i) {
        table.entries[kept] = entry;
        table.owners[kept] = owner;
      }
      ++kept;
    }
    if (kept != table.count) {
      clearFrom(table, kept);
      table.count = kept;
    }
    return changed;
  }

  static void clearFrom(SharedTable& table, uint32_t first) {
    for (uint32_t i = first; i < static_cast<uint32_t>(kEntries); ++i) {
      table.entries[i] = SharedEntry{};
      table.owners[i] = SharedOwner{};
    }
  }

  // The index of this process's entry, or count when it has none.
  uint32_t findSelf(const SharedTable& table) const {
    for (uint32_t i = 0; i < table.count; ++i) {
      if (table.entries[i].id == id && table.owners[i].pid == self.pid &&
          table.owners[i].startTicks == self.startTicks) {
        return i;
      }
    }
    return table.count;
  }

  static std::u16string pathOf(const SharedEntry& entry) {
    const char16_t* end = std::find(entry.path, entry.path + kPathChars, u'\0');
    return std::u16string(entry.path, end);
  }
};

ProcessTable::ProcessTable(std::u16string executablePath) : impl_(std::make_unique<Impl>()) {
  impl_->path = std::move(executablePath);
  // Stored as the entry holds it: cut at its terminator and at the record's size.
  impl_->path = impl_->path.substr(0, impl_->path.find(u'\0'));
  if (impl_->path.size() > static_cast<size_t>(kPathChars - 1)) {
    impl_->path.resize(kPathChars - 1);
  }
  impl_->self = platform::currentProcess();
  impl_->memory = platform::SharedMemory::openOrCreate(kProcessTableName, sizeof(SharedTable));
  impl_->mutex = platform::NamedMutex::openOrCreate(kProcessTableName);
}

ProcessTable::~ProcessTable() { unregisterProcess(); }

bool ProcessTable::registerProcess() {
  Impl& impl = *impl_;
  if (impl.registered) return true;
  if (!impl.available()) return false;
  bool added = false;
  impl.withTable([&](SharedTable& table) {
    if (table.count >= static_cast<uint32_t>(kMaxRegistered)) return false;
    SharedEntry& entry = table.entries[table.count];
    entry = SharedEntry{};
    entry.id = table.nextId;
    entry.receiving = 0;
    std::copy(impl.path.begin(), impl.path.end(), entry.path);
    table.owners[table.count] = SharedOwner{impl.self.pid, 0, impl.self.startTicks};
    impl.id = entry.id;
    ++table.count;
    ++table.nextId;
    added = true;
    return true;
  });
  if (!added) return false;
  impl.registered = true;
  impl.baseName = baseNameOf(impl.path);
  return true;
}

void ProcessTable::unregisterProcess() {
  Impl& impl = *impl_;
  if (!impl.registered) return;
  impl.registered = false;
  impl.baseName.clear();
  impl.withTable([&](SharedTable& table) {
    const uint32_t index = impl.findSelf(table);
    if (index == table.count) return false;
    for (uint32_t i = index + 1; i < table.count; ++i) {
      table.entries[i - 1] = table.entries[i];
      table.owners[i - 1] = table.owners[i];
    }
    --table.count;
    Impl::clearFrom(table, table.count);
    return true;
  });
}

void ProcessTable::setReceiving(bool receiving) {
  Impl& impl = *impl_;
  if (!impl.registered) return;
  impl.withTable([&](SharedTable& table) {
    const uint32_t index = impl.findSelf(table);
    if (index == table.count) return false;
    table.entries[index].receiving = receiving ? 1 : 0;
    return true;
  });
}

std::optional<std::u16string> ProcessTable::findOtherReceiver() {
  Impl& impl = *impl_;
  if (!impl.available()) return std::nullopt;
  std::optional<std::u16string> found;
  impl.withTable([&](SharedTable& table) {
    const uint32_t self = impl.registered ? impl.findSelf(table) : table.count;
    for (uint32_t i = 0; i < table.count; ++i) {
      if (i == self) continue;
      if (table.entries[i].receiving == 1) {
        found = Impl::pathOf(table.entries[i]);
        break;
      }
    }
    return false;
  });
  return found;
}

bool ProcessTable::registered() const { return impl_->registered; }

uint32_t ProcessTable::id() const { return impl_->id; }

std::u16string ProcessTable::baseName() const { return impl_->baseName; }

std::u16string ProcessTable::baseNameOf(std::u16string_view path) {
  const size_t separator = path.find_last_of(u"/\\");
  std::u16string_view name =
      separator == std::u16string_view::npos ? path : path.substr(separator + 1);
  const size_t dot = name.rfind(u'.');
  if (dot != std::u16string_view::npos) name = name.substr(0, dot);
  return std::u16string(name);
}

}  // namespace procs
