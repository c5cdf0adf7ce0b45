#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// The per-machine settings store: the HKEY_LOCAL_MACHINE half of a registry, kept in one
// text file in the format of `.reg` files so that a person can read and edit it:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\Software\Orvane\Vistrel]
//   "Crashed"=dword:00000000
//   "Source"=";Camera;"
//   "Short"=hex(4):01,00
//
// Keys are backslash paths below HKEY_LOCAL_MACHINE, compared without regard to case.
// Every value keeps its type and its exact byte size: a REG_DWORD of 2 bytes stays 2
// bytes (written as hex(4):..), a REG_SZ keeps its terminating zero. Lines the store does
// not understand are reported once and written back unchanged.
//
// Opening a key reads the file afresh and the key then answers queries from that
// snapshot. Every change is a read-modify-write of the whole file under an exclusive lock,
// replaced atomically, so several processes can share one file and lose nothing. A change
// the file system refuses fails quietly (the call returns false, nothing is printed).
//
// Threading: a KeyStore and its keys may be used from several threads; each call is
// atomic towards the others.

inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;

// The environment variable that points a process at another store file.
inline constexpr const char* kKeyStoreEnvironment = "VISTREL_KEY_STORE";

// Limits on what is read: a larger file is refused as a whole (not read, not replaced), a
// longer line (hex continuations included) is reported and kept as it is.
inline constexpr size_t kKeyStoreMaxFileBytes = size_t{4} << 20;
inline constexpr size_t kKeyStoreMaxLineBytes = size_t{64} << 10;

struct RegistryValue {
  uint32_t type = kRegNone;
  std::vector<uint8_t> data;
};

// Where the text of the store lives. The file implementation is the real one; tests use
// an in-memory one (platform/testing/memory_key_store.h).
class KeyStoreStorage {
 public:
  virtual ~KeyStoreStorage() = default;
  // The whole text; an absent store is an empty text and true. False when it exists but
  // cannot be read; `problem` then says why when the user should hear of it (something
  // that is not a regular file, a file above kKeyStoreMaxFileBytes), else stays empty.
  virtual bool read(std::string& text, std::string& problem) = 0;
  // Holds an exclusive lock across: read the current text, call `edit` on it, and, when
  // `edit` returns true, replace the stored text atomically with the edited one. False
  // when the lock, the read or the replacement failed; `problem` as for read.
  virtual bool update(const std::function<bool(std::string& text)>& edit,
                      std::string& problem) = 0;
  // Makes the last replacement durable (as a registry flush does).
  virtual bool flush() = 0;
  // Name used in messages about bad lines (the file path).
  virtual std::string name() const = 0;
};

// A file-backed storage at `path`. The lock is a separate file `path` + ".lock" in the
// same folder; the replacement is written beside the file and renamed over it. A new
// file gets mode 0600 (it may hold passwords); an existing file keeps its mode.
std::unique_ptr<KeyStoreStorage> openKeyStoreFile(const std::string& path);

// The file used when nothing else is asked for: $VISTREL_KEY_STORE when set and not
// empty; else /var/lib/vistrel/registry.reg when that folder (or /var/lib, to create it
// in) is writable by this process; else $XDG_CONFIG_HOME/vistrel/registry.reg, with
// $HOME/.config in place of an unset $XDG_CONFIG_HOME.
std::string defaultKeyStorePath();

class KeyStore;
struct KeyStoreDocument;

// An open key. Queries answer from the snapshot read when the key was opened (or
// refreshed by the key's own last change); changes go to the store at once.
class RegistryKey {
 public:
  RegistryKey(KeyStore& store, std::u16string path, std::shared_ptr<const KeyStoreDocument> doc);
  ~RegistryKey();

  const std::u16string& path() const { return path_; }

  // False when the value does not exist; `out` then holds no data.
  bool queryValue(std::u16string_view name, RegistryValue& out) const;
  // Stores exactly `sizeBytes` bytes with the given type.
  bool setValue(std::u16string_view name, uint32_t type, const void* data, size_t sizeBytes);
  // REG_DWORD of 4 bytes, little-endian.
  bool setDword(std::u16string_view name, uint32_t value);
  // REG_SZ with its terminating zero.
  bool setString(std::u16string_view name, std::u16string_view text);
  bool deleteValue(std::u16string_view name);

  // Names in file order.
  std::vector<std::u16string> valueNames() const;
  std::vector<std::u16string> subKeyNames() const;

  // Relative paths; nullptr when missing (open) or refused (create).
  std::unique_ptr<RegistryKey> openSubKey(std::u16string_view relativePath) const;
  std::unique_ptr<RegistryKey> createSubKey(std::u16string_view relativePath) const;

  // Makes every change so far durable.
  bool flush();

 private:
  KeyStore& store_;
  std::u16string path_;
  mutable std::mutex mutex_;
  std::shared_ptr<const KeyStoreDocument> doc_;
};

class KeyStore {
 public:
  // Receives one line per problem found while reading, e.g.
  // "/var/lib/vistrel/registry.reg:12: unreadable line kept as it is: ...".
  using Diagnostics = std::function<void(const std::string& message)>;

  // `diagnostics` defaults to standard error.
  explicit KeyStore(std::unique_ptr<KeyStoreStorage> storage, Diagnostics diagnostics = {});
  ~KeyStore();
  KeyStore(const KeyStore&) = delete;
  KeyStore& operator=(const KeyStore&) = delete;

  // The store of this machine (see defaultKeyStorePath), created on first use.
  static KeyStore& machine();

  // `path` below HKEY_LOCAL_MACHINE, such as u"Software\\Orvane\\Vistrel". nullptr when
  // the key does not exist, the path is not valid or the store cannot be read.
  std::unique_ptr<RegistryKey> openKey(std::u16string_view path);
  // Opens the key, creating it and its missing parents. nullptr when the store refuses.
  std::unique_ptr<RegistryKey> createKey(std::u16string_view path);
  // Removes the key with every sub-key. False when it did not exist or the store refused.
  bool deleteKey(std::u16string_view path);

 private:
  friend class RegistryKey;
  std::shared_ptr<const KeyStoreDocument> load();
  // Applies `change` to a fresh copy under the lock; returns the written document or
  // nullptr. `change` returns false to leave the store untouched.
  std::shared_ptr<const KeyStoreDocument> modify(
      const std::function<bool(KeyStoreDocument& doc)>& change);
  void report(const std::vector<std::string>& problems);
  bool flush();

  std::unique_ptr<KeyStoreStorage> storage_;
  Diagnostics diagnostics_;
  std::mutex mutex_;
  std::set<std::string> reported_;
};

// Splits and checks a key path: non-empty parts, no empty part between backslashes.
bool splitKeyPath(std::u16string_view path, std::vector<std::u16string>& parts);

// The storage KeyStore::machine() uses: on Linux the file of defaultKeyStorePath(); on
// Windows the system registry itself (see docs/windows.md).
std::unique_ptr<KeyStoreStorage> openMachineKeyStorage();

// One key of a store text with its values in order, for storages that keep keys and
// values in a structured store of their own (the Windows registry) and hand the key store
// its text form.
struct KeyStoreKey {
  std::u16string path;  // below HKEY_LOCAL_MACHINE
  std::vector<std::pair<std::u16string, RegistryValue>> values;
};
// Every key the text holds (also those that exist only through their sub-keys), parents
// before their sub-keys; keys written twice are merged. `problems` as for reading.
std::vector<KeyStoreKey> keyStoreKeys(const std::string& text, const std::string& name,
                                      std::vector<std::string>& problems);
// The text of a store that holds exactly `keys`.
std::string keyStoreText(const std::vector<KeyStoreKey>& keys);

}  // namespace platform
