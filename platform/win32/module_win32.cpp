// Modules through LoadLibrary/GetProcAddress. On Windows a module's file name is the
// product's own name ("device.ax", "jpegpress.dll"); programs and modules are installed
// in one folder, so the program's folder is the only module and data folder.

#include <windows.h>

#include "platform/module.h"
#include "platform/resources.h"
#include "wide.h"

namespace platform {
namespace {

class LibraryModule final : public Module {
 public:
  explicit LibraryModule(HMODULE handle) : handle_(handle) {}
  ~LibraryModule() override { FreeLibrary(handle_); }
  LibraryModule(const LibraryModule&) = delete;
  LibraryModule& operator=(const LibraryModule&) = delete;

  void* symbol(const char* name) const override {
    return reinterpret_cast<void*>(GetProcAddress(handle_, name));
  }

 private:
  HMODULE handle_;
};

std::unique_ptr<Module> openPath(const std::wstring& path, DWORD flags) {
  // A module that cannot be loaded is reported by the result, never by a system dialog.
  DWORD previous = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous);
  HMODULE handle = LoadLibraryExW(path.c_str(), nullptr, flags);
  SetThreadErrorMode(previous, nullptr);
  if (handle == nullptr) return nullptr;
  return std::make_unique<LibraryModule>(handle);
}

bool readable(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(win32::wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// The path of the module file `module` (null: the program), or empty.
std::string moduleFilePath(HMODULE module) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return win32::narrow(buffer);
    }
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::string folderOf(std::string path) {
  size_t cut = path.size();
  while (cut > 0 && !isSeparator(path[cut - 1])) --cut;
  if (cut == 0) return {};
  path.resize(cut - 1);
  return path;
}

}  // namespace

std::string moduleFileName(std::string_view name) { return std::string(name); }

std::string programFilePath() { return moduleFilePath(nullptr); }

std::string programDirectory() { return folderOf(programFilePath()); }

std::string moduleDirectoryOf(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCWSTR>(address), &module)) {
    return {};
  }
  return folderOf(moduleFilePath(module));
}

bool keepModuleLoaded(const void* address) {
  HMODULE module = nullptr;
  return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            static_cast<LPCWSTR>(address), &module) != FALSE;
}

std::vector<std::string> moduleDirectories() {
  std::string own = programDirectory();
  if (own.empty()) return {};
  return {own};
}

std::vector<std::string> dataDirectories() { return moduleDirectories(); }

std::string folderHolding(const std::vector<std::string>& folders, std::string_view fileName) {
  for (const std::string& folder : folders) {
    if (readable(folder + "\\" + std::string(fileName))) return folder;
  }
  return {};
}

std::unique_ptr<Module> loadModuleFrom(std::string_view directory, std::string_view name) {
  if (name.find_first_of("\\/") != std::string_view::npos && !directory.empty()) return nullptr;
  const std::string path = std::string(directory) + "\\" + std::string(name);
  if (!readable(path)) return nullptr;
  // The module's own folder is searched for the modules it needs in turn.
  return openPath(win32::wide(path), LOAD_WITH_ALTERED_SEARCH_PATH);
}

std::unique_ptr<Module> loadModule(std::string_view name) {
  for (const std::string& directory : moduleDirectories()) {
    if (auto module = loadModuleFrom(directory, name)) return module;
  }
  return openPath(win32::wide(name), 0);
}

std::string moduleSearchText(std::string_view name) {
  const std::vector<std::string> folders = moduleDirectories();
  std::string text = std::string(name) + " (looked in ";
  for (const std::string& folder : folders) text += folder + " and ";
  return text + "the system's search path)";
}

}  // namespace platform
