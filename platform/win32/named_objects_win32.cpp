// Named objects as the system's own: a file mapping on the paging file, a mutex, a
// manual-reset event. Every one is created with a null access list, so that the service's
// account and every user's programs can open what another made. The system removes an
// object when its last handle closes, so a process that dies leaves nothing behind, and a
// mutex whose holder died is handed to the next waiter ("abandoned", taken as acquired).
//
// Objects of different kinds share one namespace on Windows. Each object gets its exact
// name; when that name is already taken by an object of another kind (the process table's
// memory and its mutex share a name), the kind's own suffix is added.
//
// The names live in the machine-wide namespace ("Global\"), so that the service in the
// services' session and the programs of the users' sessions reach the same objects. A
// program that may not make an object there (a file mapping in the global namespace
// needs the right to create global objects, which plain users of another session lack)
// uses its session's own namespace ("Local\") instead; objects that already exist in the
// global namespace are opened there by everyone.

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/named_objects.h"
#include "platform/resources.h"
#include "wide.h"

namespace platform {
namespace {

class NullAccessList {
 public:
  NullAccessList() {
    InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor_, TRUE, nullptr, FALSE);
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
  }
  SECURITY_ATTRIBUTES* get() { return &attributes_; }

 private:
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

class Handle {
 public:
  explicit Handle(HANDLE h = nullptr) : h_(h) {}
  ~Handle() {
    if (h_ != nullptr) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

constexpr const wchar_t* kNamespaces[] = {L"Global\\", L"Local\\"};

// Creates (or opens) the object of one kind under `name`: in the global namespace, else in
// the session's own when this program may not make it there; under the exact name, else
// name + suffix when another kind holds the exact name.
template <typename Create>
HANDLE createNamed(std::string_view name, const wchar_t* suffix, Create create) {
  const std::wstring base = win32::wide(namedObjectName(name));
  NullAccessList access;
  for (const wchar_t* space : kNamespaces) {
    std::wstring full(space);
    full += base;
    HANDLE h = create(access.get(), full.c_str());
    if (h == nullptr && GetLastError() == ERROR_INVALID_HANDLE) {
      full += suffix;
      h = create(access.get(), full.c_str());
    }
    if (h != nullptr || GetLastError() != ERROR_ACCESS_DENIED) return h;
  }
  return nullptr;
}

// Opens an existing object of one kind under `name` (global namespace first, the
// session's own next; exact name, then name + suffix). Null when none can be opened;
// `denied` tells whether one exists that this program may not open.
template <typename Open>
HANDLE openNamed(std::string_view name, const wchar_t* suffix, Open open, bool* denied = nullptr) {
  const std::wstring base = win32::wide(namedObjectName(name));
  if (denied != nullptr) *denied = false;
  for (const wchar_t* space : kNamespaces) {
    std::wstring full(space);
    full += base;
    for (int attempt = 0; attempt < 2; ++attempt, full += suffix) {
      if (HANDLE h = open(full.c_str())) return h;
      if (GetLastError() == ERROR_ACCESS_DENIED && denied != nullptr) *denied = true;
    }
  }
  return nullptr;
}

class Win32SharedMemory final : public SharedMemory {
 public:
  Win32SharedMemory(HANDLE mapping, uint8_t* view, size_t sizeBytes)
      : mapping_(mapping), view_(view), size_(sizeBytes) {}
  ~Win32SharedMemory() override { UnmapViewOfFile(view_); }
  uint8_t* data() override { return view_; }
  size_t size() const override { return size_; }
  // A section never shrinks while it is mapped.
  bool intact() const override { return true; }
  bool read(size_t offset, void* destination, size_t sizeBytes) const override {
    if (offset > size_ || sizeBytes > size_ - offset) return false;
    std::memcpy(destination, view_ + offset, sizeBytes);
    return true;
  }
  // Two views of a section cannot be told apart here.
  bool sameObject(const SharedMemory&) const override { return false; }

 private:
  Handle mapping_;
  uint8_t* view_;
  size_t size_;
};

class Win32NamedMutex final : public NamedMutex {
 public:
  explicit Win32NamedMutex(HANDLE h) : mutex_(h) {}
  void lock() override {
    // WAIT_ABANDONED: the last holder died holding it; the mutex is ours now.
    WaitForSingleObject(mutex_.get(), INFINITE);
  }
  void unlock() override { ReleaseMutex(mutex_.get()); }

 private:
  Handle mutex_;
};

class Win32NamedEvent final : public NamedEvent {
 public:
  explicit Win32NamedEvent(HANDLE h) : event_(h) {}
  void set() override { SetEvent(event_.get()); }
  void reset() override { ResetEvent(event_.get()); }
  void pulse() override { PulseEvent(event_.get()); }
  bool wait(uint32_t timeoutMs) override {
    return WaitForSingleObject(event_.get(), timeoutMs) == WAIT_OBJECT_0;
  }

 private:
  Handle event_;
};

class Win32PresenceMarker final : public PresenceMarker {
 public:
  explicit Win32PresenceMarker(HANDLE h) : mutex_(h) {}

 private:
  Handle mutex_;
};

constexpr wchar_t kMappingSuffix[] = L" mapping";
constexpr wchar_t kMutexSuffix[] = L" mutex";
constexpr wchar_t kEventSuffix[] = L" event";

uint64_t creationTime(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

}  // namespace

std::string namedObjectName(std::string_view name) {
  const char* prefix = std::getenv("VISTREL_OBJECT_PREFIX");
  std::string full = prefix != nullptr ? prefix : "";
  full.append(name);
  // A backslash would name a namespace ("Global\"), a NUL would end the name.
  for (char& c : full) {
    if (c == '\\' || c == '\0') c = '_';
  }
  if (full.empty()) full = "_";
  return full;
}

void removeNamedObject(std::string_view) {
  // Nothing to do: the system removes an object with the last handle to it.
}

// Maps all of `mapping` and takes it when it holds at least `sizeBytes` (an existing
// mapping keeps the size its creator gave it); else closes it.
static std::unique_ptr<SharedMemory> mapWhole(HANDLE mapping, size_t sizeBytes) {
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  MEMORY_BASIC_INFORMATION info{};
  if (view == nullptr || VirtualQuery(view, &info, sizeof info) == 0 || info.RegionSize < sizeBytes) {
    if (view != nullptr) UnmapViewOfFile(view);
    CloseHandle(mapping);
    return nullptr;
  }
  return std::make_unique<Win32SharedMemory>(mapping, static_cast<uint8_t*>(view), sizeBytes);
}

std::unique_ptr<SharedMemory> SharedMemory::openOrCreate(std::string_view name, size_t sizeBytes) {
  if (sizeBytes == 0) return nullptr;
  const uint64_t size = sizeBytes;
  HANDLE mapping = createNamed(name, kMappingSuffix, [&](SECURITY_ATTRIBUTES* sa, const wchar_t* n) {
    return CreateFileMappingW(INVALID_HANDLE_VALUE, sa, PAGE_READWRITE, static_cast<DWORD>(size >> 32),
                              static_cast<DWORD>(size), n);
  });
  if (mapping == nullptr) return nullptr;
  return mapWhole(mapping, sizeBytes);
}

std::unique_ptr<SharedMemory> SharedMemory::openExisting(std::string_view name, size_t sizeBytes) {
  if (sizeBytes == 0) return nullptr;
  HANDLE mapping = openNamed(name, kMappingSuffix, [](const wchar_t* n) {
    return OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, n);
  });
  if (mapping == nullptr) return nullptr;
  return mapWhole(mapping, sizeBytes);
}

std::unique_ptr<NamedMutex> NamedMutex::openOrCreate(std::string_view name) {
  HANDLE h = createNamed(name, kMutexSuffix, [](SECURITY_ATTRIBUTES* sa, const wchar_t* n) {
    return CreateMutexW(sa, FALSE, n);
  });
  if (h == nullptr) return nullptr;
  return std::make_unique<Win32NamedMutex>(h);
}

std::unique_ptr<NamedEvent> NamedEvent::openOrCreate(std::string_view name) {
  HANDLE h = createNamed(name, kEventSuffix, [](SECURITY_ATTRIBUTES* sa, const wchar_t* n) {
    return CreateEventW(sa, TRUE, FALSE, n);
  });
  if (h == nullptr) return nullptr;
  return std::make_unique<Win32NamedEvent>(h);
}

// The marker is a named mutex that nobody owns: it exists while a handle to it is open.
std::unique_ptr<PresenceMarker> PresenceMarker::create(std::string_view name) {
  HANDLE h = createNamed(name, kMutexSuffix, [](SECURITY_ATTRIBUTES* sa, const wchar_t* n) {
    return CreateMutexW(sa, FALSE, n);
  });
  if (h == nullptr) return nullptr;
  return std::make_unique<Win32PresenceMarker>(h);
}

bool PresenceMarker::exists(std::string_view name) {
  bool denied = false;
  HANDLE h = openNamed(name, kMutexSuffix, [](const wchar_t* n) { return OpenMutexW(SYNCHRONIZE, FALSE, n); },
                       &denied);
  if (h != nullptr) CloseHandle(h);
  // A marker made by another account that this one may not open still exists.
  return h != nullptr || denied;
}

ProcessIdentity currentProcess() {
  ProcessIdentity self;
  self.pid = GetCurrentProcessId();
  self.startTicks = creationTime(GetCurrentProcess());
  return self;
}

bool processAlive(const ProcessIdentity& process) {
  if (process.pid == 0) return false;
  HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process.pid);
  if (h == nullptr) {
    // Another account's process: it lives, but its start time cannot be read.
    return GetLastError() == ERROR_ACCESS_DENIED;
  }
  DWORD code = 0;
  const bool running = GetExitCodeProcess(h, &code) && code == STILL_ACTIVE;
  const uint64_t started = creationTime(h);
  CloseHandle(h);
  return running && started == process.startTicks;
}

std::string executablePath() { return programFilePath(); }

}  // namespace platform
