#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace procs {

// The table of processes that have the PC library loaded, shared by all of them: which
// program each is, and whether it receives frames itself. 10 entries, at most 9 in use;
// a process that finds 9 works without an entry. Entries of processes that died are
// dropped, so a crash never leaves a stale "receiver" behind.
//
// Threading: one thread at a time per object.
class ProcessTable {
 public:
  static constexpr int kEntries = 10;
  static constexpr int kMaxRegistered = 9;
  static constexpr int kPathChars = 262;  // with the terminator

  // Opens the shared table (named "_VistrelProcTable_"); `executablePath` is this
  // process's program file. Without a usable shared store every query answers as if the
  // table were empty and registerProcess() fails.
  explicit ProcessTable(std::u16string executablePath);
  ~ProcessTable();  // unregisters

  // Appends this process (id = next id, receiving 0). False when the table holds 9
  // entries or is not available.
  bool registerProcess();
  void unregisterProcess();
  void setReceiving(bool receiving);
  // The executable path of the first other registered process whose receiving flag is 1.
  std::optional<std::u16string> findOtherReceiver();

  bool registered() const;
  uint32_t id() const;
  // The program's base name: file name without folder and without anything from its last
  // "." on; empty while not registered.
  std::u16string baseName() const;

  // The base-name rule on its own: "/opt/x/my.app.exe" -> "my.app"; "C:\a\lookout.exe" ->
  // "lookout" (both separators count).
  static std::u16string baseNameOf(std::u16string_view path);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace procs
