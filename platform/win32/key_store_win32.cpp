// The key store on Windows is the system registry. The key store hands its storage a
// text and gets an edited text back; this storage makes that text from the registry keys
// below its scope and writes the edited keys and values back, under a named mutex so that
// programs changing settings at the same time lose nothing.
//
//   the machine's store:  HKEY_LOCAL_MACHINE, keys below "Software\Orvane" (the product's
//                         own keys, "Software\Orvane\Vistrel" and its sub-keys)
//   VISTREL_KEY_STORE=K:  HKEY_CURRENT_USER\K stands in for HKEY_LOCAL_MACHINE, every key
//                         below it (tests and separate installations keep apart so)

#include <windows.h>

#include <cstdlib>

#include "platform/key_store.h"
#include "wide.h"

namespace platform {
namespace {

constexpr REGSAM kView = KEY_WOW64_64KEY;
constexpr wchar_t kMachineScope[] = L"Software\\Orvane";

class RegKey {
 public:
  RegKey() = default;
  ~RegKey() {
    if (h_ != nullptr) RegCloseKey(h_);
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  HKEY* out() { return &h_; }
  HKEY get() const { return h_; }

 private:
  HKEY h_ = nullptr;
};

std::u16string units(std::wstring_view w) { return std::u16string(w.begin(), w.end()); }

std::wstring join(const std::wstring& a, const std::wstring& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + L"\\" + b;
}

bool lowerEqual(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
    if (x != y) return false;
  }
  return true;
}

// `path` lies at or below `top` (path comparison without regard to case).
bool within(std::u16string_view path, std::u16string_view top) {
  if (top.empty()) return true;
  if (path.size() < top.size() || !lowerEqual(path.substr(0, top.size()), top)) return false;
  return path.size() == top.size() || path[top.size()] == u'\\';
}

class RegistryStorage final : public KeyStoreStorage {
 public:
  // Keys of the store are the keys below root\base; only those below `scope` (a path
  // below base, or empty for all) are read and may be written.
  RegistryStorage(HKEY root, std::wstring base, std::wstring scope, std::string name)
      : root_(root), base_(std::move(base)), scope_(std::move(scope)), name_(std::move(name)) {
    // One lock for every program that writes this store.
    std::wstring lockName = L"VistrelKeyStore_" + win32::wide(name_);
    for (wchar_t& c : lockName)
      if (c == L'\\') c = L'_';
    lock_ = CreateMutexW(nullptr, FALSE, lockName.c_str());
  }
  ~RegistryStorage() override {
    if (lock_ != nullptr) CloseHandle(lock_);
  }

  bool read(std::string& text, std::string& problem) override {
    std::vector<KeyStoreKey> keys;
    if (!collect(keys, problem)) return false;
    text = keys.empty() ? std::string() : keyStoreText(keys);
    return true;
  }

  bool update(const std::function<bool(std::string& text)>& edit, std::string& problem) override {
    if (lock_ == nullptr) return false;
    const DWORD waited = WaitForSingleObject(lock_, INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return false;
    const bool ok = updateLocked(edit, problem);
    ReleaseMutex(lock_);
    return ok;
  }

  bool flush() override {
    RegKey key;
    if (RegOpenKeyExW(root_, base_.empty() ? nullptr : base_.c_str(), 0, KEY_READ | kView, key.out()) !=
        ERROR_SUCCESS)
      return true;  // nothing written yet, nothing to make durable
    return RegFlushKey(key.get()) == ERROR_SUCCESS;
  }

  std::string name() const override { return name_; }

 private:
  std::wstring registryPath(std::u16string_view storePath) const {
    return join(base_, std::wstring(storePath.begin(), storePath.end()));
  }

  // Every key below the scope, parents first, with its values.
  bool collect(std::vector<KeyStoreKey>& keys, std::string& problem) const {
    if (scope_.empty()) {
      RegKey base;
      const LSTATUS rc = RegOpenKeyExW(root_, base_.c_str(), 0, KEY_READ | kView, base.out());
      if (rc == ERROR_FILE_NOT_FOUND) return true;
      if (rc != ERROR_SUCCESS) return false;
      std::vector<std::wstring> children;
      if (!subKeys(base.get(), children)) return false;
      for (const std::wstring& child : children)
        if (!walk(child, keys, problem)) return false;
      return true;
    }
    return walk(scope_, keys, problem);
  }

  static bool subKeys(HKEY key, std::vector<std::wstring>& names) {
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
      DWORD length = 256;
      const LSTATUS rc = RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) return true;
      if (rc != ERROR_SUCCESS) return false;
      names.emplace_back(name, length);
    }
  }

  bool walk(const std::wstring& path, std::vector<KeyStoreKey>& keys, std::string& problem) const {
    RegKey key;
    const LSTATUS rc = RegOpenKeyExW(root_, registryPath(units(path)).c_str(), 0, KEY_READ | kView, key.out());
    if (rc == ERROR_FILE_NOT_FOUND) return true;  // removed meanwhile, or never made
    if (rc != ERROR_SUCCESS) return false;
    KeyStoreKey entry{units(path), {}};
    std::vector<wchar_t> name(16384);
    std::vector<uint8_t> data;
    size_t total = 0;
    for (DWORD i = 0;; ++i) {
      DWORD nameLength = static_cast<DWORD>(name.size());
      DWORD type = 0, size = 0;
      LSTATUS v = RegEnumValueW(key.get(), i, name.data(), &nameLength, nullptr, &type, nullptr, &size);
      if (v == ERROR_NO_MORE_ITEMS) break;
      if (v != ERROR_SUCCESS) return false;
      if (size > kKeyStoreMaxFileBytes || (total += size) > kKeyStoreMaxFileBytes) {
        problem = name_ + ": larger than " + std::to_string(kKeyStoreMaxFileBytes) +
                  " bytes; settings are not read from it";
        return false;
      }
      data.resize(size);
      nameLength = static_cast<DWORD>(name.size());
      v = RegEnumValueW(key.get(), i, name.data(), &nameLength, nullptr, &type, data.data(), &size);
      if (v != ERROR_SUCCESS) return false;
      data.resize(size);
      entry.values.emplace_back(std::u16string(name.data(), name.data() + nameLength), RegistryValue{type, data});
    }
    keys.push_back(std::move(entry));
    std::vector<std::wstring> children;
    if (!subKeys(key.get(), children)) return false;
    for (const std::wstring& child : children)
      if (!walk(path + L"\\" + child, keys, problem)) return false;
    return true;
  }

  bool updateLocked(const std::function<bool(std::string& text)>& edit, std::string& problem) {
    std::vector<KeyStoreKey> before;
    if (!collect(before, problem)) return false;
    std::string text = before.empty() ? std::string() : keyStoreText(before);
    if (!edit(text)) return true;
    std::vector<std::string> problems;
    const std::vector<KeyStoreKey> after = keyStoreKeys(text, name_, problems);
    const std::u16string scope = units(scope_);
    // Keys outside the scope are refused as a whole; the scope's parents pass unchanged.
    for (const KeyStoreKey& key : after) {
      if (!within(key.path, scope) && !(within(scope, key.path) && key.values.empty())) return false;
    }
    const auto keep = [&](const std::u16string& path) {
      for (const KeyStoreKey& key : after)
        if (lowerEqual(key.path, path)) return true;
      return false;
    };
    bool ok = true;
    for (const KeyStoreKey& key : before) {
      if (keep(key.path)) continue;
      const LSTATUS rc = RegDeleteTreeW(root_, registryPath(key.path).c_str());
      ok = ok && (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND);
    }
    for (const KeyStoreKey& key : after) {
      if (!within(key.path, scope)) continue;
      ok = writeKey(key) && ok;
    }
    return ok;
  }

  bool writeKey(const KeyStoreKey& entry) {
    RegKey key;
    if (RegCreateKeyExW(root_, registryPath(entry.path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE | kView, nullptr, key.out(), nullptr) != ERROR_SUCCESS)
      return false;
    // Values that the edit removed.
    std::vector<std::wstring> stale;
    std::vector<wchar_t> name(16384);
    for (DWORD i = 0;; ++i) {
      DWORD length = static_cast<DWORD>(name.size());
      const LSTATUS rc = RegEnumValueW(key.get(), i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
      if (rc != ERROR_SUCCESS) break;
      const std::u16string found(name.data(), name.data() + length);
      bool kept = false;
      for (const auto& [valueName, value] : entry.values) kept = kept || lowerEqual(valueName, found);
      if (!kept) stale.emplace_back(name.data(), length);
    }
    bool ok = true;
    for (const std::wstring& valueName : stale) ok = RegDeleteValueW(key.get(), valueName.c_str()) == ERROR_SUCCESS && ok;
    for (const auto& [valueName, value] : entry.values) {
      const std::wstring n = win32::wide(valueName);
      ok = RegSetValueExW(key.get(), n.c_str(), 0, value.type, value.data.data(),
                          static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS &&
           ok;
    }
    return ok;
  }

  HKEY root_;
  std::wstring base_;
  std::wstring scope_;
  std::string name_;
  HANDLE lock_ = nullptr;
};

std::wstring testRoot() {
  const char* env = std::getenv(kKeyStoreEnvironment);
  return env != nullptr && *env != '\0' ? win32::wide(env) : std::wstring();
}

}  // namespace

std::unique_ptr<KeyStoreStorage> openMachineKeyStorage() {
  const std::wstring test = testRoot();
  if (!test.empty())
    return std::make_unique<RegistryStorage>(HKEY_CURRENT_USER, test, L"", defaultKeyStorePath());
  return std::make_unique<RegistryStorage>(HKEY_LOCAL_MACHINE, L"", kMachineScope, defaultKeyStorePath());
}

std::string defaultKeyStorePath() {
  const std::wstring test = testRoot();
  if (!test.empty()) return "HKEY_CURRENT_USER\\" + win32::narrow(test);
  return "HKEY_LOCAL_MACHINE\\" + win32::narrow(kMachineScope);
}

}  // namespace platform
