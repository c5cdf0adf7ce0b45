#include "platform/named_objects.h"

#include "platform/local_peer.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

// Every named object is a file in the shared-memory folder (/dev/shm):
//   <prefix><name>            shared memory
//   <prefix><name>.mutex      a process-shared robust mutex
//   <prefix><name>.event      two words waited on with futexes
//   <prefix><name>.presence   an empty file that holders keep read-locked
// Files are made for the owning user alone (0600, whatever the umask); with the shared
// group setting (platform/local_peer.h) they belong to that group and its members may read
// and write them too (0660).

namespace platform {
namespace {

constexpr const char* kFolder = "/dev/shm/";
constexpr const char* kMutexSuffix = ".mutex";
constexpr const char* kEventSuffix = ".event";
constexpr const char* kPresenceSuffix = ".presence";

std::string objectPath(std::string_view name, const char* suffix) {
  return std::string(kFolder) + namedObjectName(name) + suffix;
}

// Gives a new object file the access the setting asks for: the owner alone, or the owner
// and the shared group. A group the creator cannot give leaves the file private.
bool setAccess(int fd) {
  if (const std::optional<uint32_t> group = sharedGroup()) {
    if (fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(*group)) == 0) {
      return fchmod(fd, 0660) == 0;
    }
  }
  return fchmod(fd, 0600) == 0;
}

// Whether the file behind `fd` still holds `sizeBytes`: a file that another process
// shrank would kill whoever touches the lost pages of its mapping (SIGBUS).
bool coversMapping(int fd, size_t sizeBytes) {
  struct stat st {};
  return fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) >= sizeBytes;
}

// A mapped file, unmapped and closed on destruction.
struct Mapping {
  int fd = -1;
  void* address = nullptr;
  size_t sizeBytes = 0;

  Mapping() = default;
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  Mapping(Mapping&& other) noexcept { *this = std::move(other); }
  Mapping& operator=(Mapping&& other) noexcept {
    std::swap(fd, other.fd);
    std::swap(address, other.address);
    std::swap(sizeBytes, other.sizeBytes);
    return *this;
  }
  ~Mapping() {
    if (address != nullptr) munmap(address, sizeBytes);
    if (fd >= 0) close(fd);
  }
  bool valid() const { return address != nullptr; }
  bool intact() const { return valid() && coversMapping(fd, sizeBytes); }
};

bool mapFile(int fd, size_t sizeBytes, Mapping& out) {
  void* address = mmap(nullptr, sizeBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (address == MAP_FAILED) {
    close(fd);
    return false;
  }
  out.fd = fd;
  out.address = address;
  out.sizeBytes = sizeBytes;
  return true;
}

// Opens the object file at `path`, or creates it ready for use. A new object is built
// under a private temporary name (zero-filled, then `init` runs on it) and linked into
// place in one step, so no other process ever opens a half-made object. Opening without
// O_CREAT first also matters: in a sticky world-writable folder the kernel refuses
// O_CREAT on another user's existing file (fs.protected_regular).
template <typename Init>
Mapping openOrCreateMapped(const std::string& path, size_t sizeBytes, Init init) {
  static std::atomic<uint32_t> counter{0};
  Mapping mapping;
  if (sizeBytes == 0) return mapping;
  for (int attempt = 0; attempt < 4; ++attempt) {
    int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      struct stat st {};
      if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
          static_cast<uint64_t>(st.st_size) < sizeBytes) {
        close(fd);
        return mapping;
      }
      mapFile(fd, sizeBytes, mapping);
      return mapping;
    }
    if (errno != ENOENT) return mapping;

    // Appended piece by piece: a chain of operator+ trips a false -Wrestrict in GCC 12.
    std::string temporary = path;
    temporary.append(".new.").append(std::to_string(getpid())).append(".");
    temporary.append(std::to_string(counter.fetch_add(1)));
    fd = open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return mapping;
    if (!setAccess(fd) || ftruncate(fd, static_cast<off_t>(sizeBytes)) != 0) {
      close(fd);
      unlink(temporary.c_str());
      return mapping;
    }
    Mapping fresh;
    if (!mapFile(fd, sizeBytes, fresh)) {
      unlink(temporary.c_str());
      return mapping;
    }
    if (!init(fresh.address)) {
      unlink(temporary.c_str());
      return mapping;
    }
    const int linked = link(temporary.c_str(), path.c_str());
    const int linkError = errno;
    unlink(temporary.c_str());
    if (linked == 0) return fresh;
    if (linkError != EEXIST) return mapping;
    // Another process published its object first: use that one.
  }
  return mapping;
}

// Opens or creates a plain (empty) file in the object folder for locking.
int openOrCreateFile(const std::string& path) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
      fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd < 0 && errno == EEXIST) continue;
      if (fd >= 0) setAccess(fd);
    }
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      return -1;
    }
    return fd;
  }
  return -1;
}

// ---- shared memory ----

class PosixSharedMemory final : public SharedMemory {
 public:
  explicit PosixSharedMemory(Mapping mapping) : mapping_(std::move(mapping)) {}
  uint8_t* data() override { return static_cast<uint8_t*>(mapping_.address); }
  size_t size() const override { return mapping_.sizeBytes; }
  bool intact() const override { return mapping_.intact(); }
  bool read(size_t offset, void* destination, size_t sizeBytes) const override {
    if (offset > mapping_.sizeBytes || sizeBytes > mapping_.sizeBytes - offset) return false;
    auto* out = static_cast<uint8_t*>(destination);
    while (sizeBytes > 0) {
      const ssize_t n = pread(mapping_.fd, out, sizeBytes, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;  // the file ends early: it was shrunk
      out += n;
      offset += static_cast<size_t>(n);
      sizeBytes -= static_cast<size_t>(n);
    }
    return true;
  }
  bool sameObject(const SharedMemory& other) const override {
    const auto* posix = dynamic_cast<const PosixSharedMemory*>(&other);
    struct stat mine {}, theirs {};
    return posix != nullptr && fstat(mapping_.fd, &mine) == 0 && fstat(posix->mapping_.fd, &theirs) == 0 &&
           mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino;
  }

 private:
  Mapping mapping_;
};

// ---- mutex ----

constexpr uint32_t kMutexMagic = 0x5854554D;  // "MUTX"

struct MutexBlock {
  uint32_t magic;
  uint32_t version;
  pthread_mutex_t mutex;
};

bool initMutexBlock(void* address) {
  auto* block = static_cast<MutexBlock*>(address);
  pthread_mutexattr_t attributes;
  if (pthread_mutexattr_init(&attributes) != 0) return false;
  bool ok = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
            pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
            pthread_mutex_init(&block->mutex, &attributes) == 0;
  pthread_mutexattr_destroy(&attributes);
  block->magic = kMutexMagic;
  block->version = 1;
  return ok;
}

class PosixNamedMutex final : public NamedMutex {
 public:
  explicit PosixNamedMutex(Mapping mapping) : mapping_(std::move(mapping)) {}

  void lock() override {
    held_ = false;
    // A shrunk file: go on without exclusion rather than fault on the lost page.
    if (!mapping_.intact()) return;
    pthread_mutex_t* mutex = &block()->mutex;
    const int rc = pthread_mutex_lock(mutex);
    if (rc == 0) {
      held_ = true;
    } else if (rc == EOWNERDEAD) {
      // The holder died; the lock is ours and the guarded data may be half-written,
      // which its readers bound anyway.
      pthread_mutex_consistent(mutex);
      held_ = true;
    } else {
      // Only a mutex overwritten by someone else ends here (ENOTRECOVERABLE, EINVAL): go
      // on without exclusion rather than block for ever.
      held_ = false;
    }
  }

  void unlock() override {
    if (!held_) return;
    held_ = false;
    if (!mapping_.intact()) return;
    pthread_mutex_unlock(&block()->mutex);
  }

 private:
  MutexBlock* block() { return static_cast<MutexBlock*>(mapping_.address); }
  Mapping mapping_;
  bool held_ = false;
};

// ---- event ----

// The event's shared words. All-zero is the initial state: not signalled.
struct EventWords {
  std::atomic<uint32_t> generation;  // advanced by every set and pulse
  std::atomic<uint32_t> signalled;
};
static_assert(sizeof(std::atomic<uint32_t>) == 4 && std::atomic<uint32_t>::is_always_lock_free);

long futexWait(std::atomic<uint32_t>* word, uint32_t expected, const timespec* relative) {
  return syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT, expected, relative,
                 nullptr, 0);
}

void futexWakeAll(std::atomic<uint32_t>* word) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE, INT_MAX, nullptr, nullptr,
          0);
}

uint64_t monotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}

class PosixNamedEvent final : public NamedEvent {
 public:
  explicit PosixNamedEvent(Mapping mapping) : mapping_(std::move(mapping)) {}

  void set() override {
    if (!mapping_.intact()) return;
    words()->signalled.store(1, std::memory_order_release);
    words()->generation.fetch_add(1, std::memory_order_acq_rel);
    futexWakeAll(&words()->generation);
  }

  void reset() override {
    if (mapping_.intact()) words()->signalled.store(0, std::memory_order_release);
  }

  void pulse() override {
    if (!mapping_.intact()) return;
    words()->signalled.store(0, std::memory_order_release);
    words()->generation.fetch_add(1, std::memory_order_acq_rel);
    futexWakeAll(&words()->generation);
  }

  bool wait(uint32_t timeoutMs) override {
    if (!mapping_.intact()) return false;
    EventWords* w = words();
    if (w->signalled.load(std::memory_order_acquire) != 0) return true;
    // A waiter counts from the moment it reads the generation: any set or pulse after
    // that moves it on, however late this thread gets to run.
    const uint32_t start = w->generation.load(std::memory_order_acquire);
    if (w->signalled.load(std::memory_order_acquire) != 0) return true;
    const bool forever = timeoutMs == 0xFFFFFFFFu;
    const uint64_t deadline = monotonicNs() + static_cast<uint64_t>(timeoutMs) * 1000000ull;
    for (;;) {
      timespec relative{};
      const timespec* relativePointer = nullptr;
      if (!forever) {
        const uint64_t now = monotonicNs();
        if (now >= deadline) return false;
        const uint64_t left = deadline - now;
        relative.tv_sec = static_cast<time_t>(left / 1000000000ull);
        relative.tv_nsec = static_cast<long>(left % 1000000000ull);
        relativePointer = &relative;
      }
      futexWait(&w->generation, start, relativePointer);
      if (w->generation.load(std::memory_order_acquire) != start) return true;
      if (w->signalled.load(std::memory_order_acquire) != 0) return true;
    }
  }

 private:
  EventWords* words() { return static_cast<EventWords*>(mapping_.address); }
  Mapping mapping_;
};

// ---- presence marker ----

class PosixPresenceMarker final : public PresenceMarker {
 public:
  explicit PosixPresenceMarker(int fd) : fd_(fd) {}
  ~PosixPresenceMarker() override { close(fd_); }  // releases this holder's lock

 private:
  int fd_;
};

// ---- processes ----

// State letter and start time (clock ticks after boot) from /proc/<pid>/stat.
bool readProcessStat(const std::string& statPath, char& state, uint64_t& startTicks) {
  std::ifstream file(statPath);
  if (!file) return false;
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // The program name (field 2) is in parentheses and may hold spaces or ")".
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream fields(text.substr(close + 1));
  std::string field;
  // Fields 3 (state) to 22 (start time).
  for (int index = 3; index <= 22; ++index) {
    if (!(fields >> field)) return false;
    if (index == 3) state = field.empty() ? '?' : field[0];
  }
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(field.c_str(), &end, 10);
  if (errno != 0 || end == field.c_str() || *end != '\0') return false;
  startTicks = value;
  return true;
}

}  // namespace

std::string namedObjectName(std::string_view name) {
  const char* prefix = std::getenv("VISTREL_OBJECT_PREFIX");
  std::string full = prefix != nullptr ? prefix : "";
  full.append(name);
  // One file name in one folder: no separators, no NUL, never "." or "..".
  for (char& c : full) {
    if (c == '/' || c == '\0') c = '_';
  }
  if (full.empty() || full == "." || full == "..") full.insert(0, "_");
  return full;
}

void removeNamedObject(std::string_view name) {
  for (const char* suffix : {"", kMutexSuffix, kEventSuffix, kPresenceSuffix}) {
    unlink(objectPath(name, suffix).c_str());
  }
}

std::unique_ptr<SharedMemory> SharedMemory::openExisting(std::string_view name,
                                                         size_t sizeBytes) {
  if (sizeBytes == 0) return nullptr;
  const int fd = open(objectPath(name, "").c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) < sizeBytes ||
      !peerTrusted(PeerIdentity{0, st.st_uid, st.st_gid})) {
    close(fd);
    return nullptr;
  }
  Mapping mapping;
  if (!mapFile(fd, sizeBytes, mapping)) return nullptr;
  return std::make_unique<PosixSharedMemory>(std::move(mapping));
}

std::unique_ptr<SharedMemory> SharedMemory::openOrCreate(std::string_view name,
                                                         size_t sizeBytes) {
  Mapping mapping =
      openOrCreateMapped(objectPath(name, ""), sizeBytes, [](void*) { return true; });
  if (!mapping.valid()) return nullptr;
  return std::make_unique<PosixSharedMemory>(std::move(mapping));
}

std::unique_ptr<NamedMutex> NamedMutex::openOrCreate(std::string_view name) {
  Mapping mapping =
      openOrCreateMapped(objectPath(name, kMutexSuffix), sizeof(MutexBlock), initMutexBlock);
  if (!mapping.valid()) return nullptr;
  const auto* block = static_cast<const MutexBlock*>(mapping.address);
  if (block->magic != kMutexMagic || block->version != 1) return nullptr;
  return std::make_unique<PosixNamedMutex>(std::move(mapping));
}

std::unique_ptr<NamedEvent> NamedEvent::openOrCreate(std::string_view name) {
  Mapping mapping = openOrCreateMapped(objectPath(name, kEventSuffix), sizeof(EventWords),
                                       [](void*) { return true; });
  if (!mapping.valid()) return nullptr;
  return std::make_unique<PosixNamedEvent>(std::move(mapping));
}

std::unique_ptr<PresenceMarker> PresenceMarker::create(std::string_view name) {
  const int fd = openOrCreateFile(objectPath(name, kPresenceSuffix));
  if (fd < 0) return nullptr;
  // A read lock on an open file description: many holders share it, it is not passed
  // to programs this one starts (close-on-exec), and the kernel drops it when the last
  // descriptor closes, including when the holder is killed.
  struct flock lock {};
  lock.l_type = F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  if (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    close(fd);
    return nullptr;
  }
  return std::make_unique<PosixPresenceMarker>(fd);
}

bool PresenceMarker::exists(std::string_view name) {
  const std::string path = objectPath(name, kPresenceSuffix);
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  // Asks whether a write lock could be taken, which any holder's read lock prevents;
  // nothing is locked by asking.
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  const int rc = fcntl(fd, F_OFD_GETLK, &lock);
  close(fd);
  return rc == 0 && lock.l_type != F_UNLCK;
}

ProcessIdentity currentProcess() {
  ProcessIdentity self;
  self.pid = static_cast<uint32_t>(getpid());
  char state = '?';
  readProcessStat("/proc/self/stat", state, self.startTicks);
  return self;
}

bool processAlive(const ProcessIdentity& process) {
  if (process.pid == 0 || process.pid > static_cast<uint32_t>(INT_MAX)) return false;
  char state = '?';
  uint64_t startTicks = 0;
  if (!readProcessStat("/proc/" + std::to_string(process.pid) + "/stat", state, startTicks)) {
    // /proc may hide other users' processes (hidepid): then the kernel still tells a
    // live process (EPERM, or success) from a missing one, without the start time.
    return kill(static_cast<pid_t>(process.pid), 0) == 0 || errno == EPERM;
  }
  // A zombie has already released everything it held.
  if (state == 'Z' || state == 'X' || state == 'x') return false;
  return startTicks == process.startTicks;
}

std::string executablePath() {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<size_t>(length));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace platform
