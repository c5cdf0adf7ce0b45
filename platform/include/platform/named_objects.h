#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// Objects shared between processes by name, for the PC library that several programs load
// at once. They are made for the owning user alone, or for a shared group when the
// machine-wide setting names one (platform/local_peer.h). Whoever may open them may write
// them, so their contents are untrusted and every reader bounds what it reads; the files
// may even be shrunk under a mapping, so nothing here faults on that.
//
// A name such as "_VistrelOBJ1_" is the object's name in every process. The environment
// variable VISTREL_OBJECT_PREFIX, when set, is put in front of every name so that tests
// (and separate installations) keep their objects apart.
//
// None of these objects is left in a state that blocks others when a process dies,
// however it dies.

// The full system name of a named object, with the prefix applied.
std::string namedObjectName(std::string_view name);

// Removes every object of any kind under `name` from the system namespace (processes
// that have one open keep using it). For tests and clean-up only, never while other
// programs may still come to open the name.
void removeNamedObject(std::string_view name);

// Named shared memory, created zero-filled when missing, else opened.
// Threading: data() may be used from any thread; the caller guards the contents.
class SharedMemory {
 public:
  virtual ~SharedMemory() = default;
  static std::unique_ptr<SharedMemory> openOrCreate(std::string_view name, size_t sizeBytes);
  // Opens the object another process made; null when there is none, when it holds fewer
  // than `sizeBytes` bytes, or when its owner is not one this process trusts (the local
  // peer rule, platform/local_peer.h). Never creates.
  static std::unique_ptr<SharedMemory> openExisting(std::string_view name, size_t sizeBytes);
  virtual uint8_t* data() = 0;
  virtual size_t size() const = 0;
  // True while the object still holds all size() bytes. Another process may shrink it,
  // and touching data() past the new end kills the process (SIGBUS): check this before
  // every use of data(), under the lock that guards the contents.
  virtual bool intact() const = 0;
  // Copies `sizeBytes` at `offset` out of the object without touching the mapping: false,
  // and no fault, when the object does not hold them (any more).
  virtual bool read(size_t offset, void* destination, size_t sizeBytes) const = 0;
  // True when `other` maps the very same object (not merely one of the same name: an
  // object removed and made again is another one). False when the system cannot tell.
  virtual bool sameObject(const SharedMemory& other) const = 0;
};

// A named mutex that survives its holder: when a process dies while holding it, the next
// lock() succeeds (and the data it guards must be treated as possibly half-written). A
// mutex whose object was overwritten or shrunk by someone else gives no exclusion.
// Threading: lock/unlock in pairs on one thread; not recursive.
class NamedMutex {
 public:
  virtual ~NamedMutex() = default;
  static std::unique_ptr<NamedMutex> openOrCreate(std::string_view name);
  virtual void lock() = 0;
  virtual void unlock() = 0;
};

// A named manual-reset event. pulse() releases every process/thread waiting at that
// moment and leaves the event non-signalled, so a later waiter does not see it.
// Threading: any thread.
class NamedEvent {
 public:
  virtual ~NamedEvent() = default;
  static std::unique_ptr<NamedEvent> openOrCreate(std::string_view name);
  virtual void set() = 0;
  virtual void reset() = 0;
  virtual void pulse() = 0;
  // True when signalled or pulsed within timeoutMs (0xFFFFFFFF = for ever).
  virtual bool wait(uint32_t timeoutMs) = 0;
};

// A marker whose existence other processes can test: it exists while at least one live
// process holds one under that name, and stops existing when the last holder releases
// it or dies.
class PresenceMarker {
 public:
  virtual ~PresenceMarker() = default;
  // Null only when the system refuses (no shared memory folder, ...).
  static std::unique_ptr<PresenceMarker> create(std::string_view name);
  static bool exists(std::string_view name);
};

// Identity of a live process: pid plus its start time, so a reused pid is not taken for
// the process that died.
struct ProcessIdentity {
  uint32_t pid = 0;
  uint64_t startTicks = 0;
};
ProcessIdentity currentProcess();
bool processAlive(const ProcessIdentity& process);
// The absolute path of the running program's executable file.
std::string executablePath();

}  // namespace platform
