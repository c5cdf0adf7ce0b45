#include "platform/module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

// Where the installed module and data folders are, relative to the installed programs'
// folder; the build passes the values of this installation's layout.
#ifndef VISTREL_MODULES_FROM_PROGRAMS
#define VISTREL_MODULES_FROM_PROGRAMS "../lib/vistrel"
#endif
#ifndef VISTREL_DATA_FROM_PROGRAMS
#define VISTREL_DATA_FROM_PROGRAMS "../share/vistrel"
#endif

namespace platform {
namespace {

class DlModule final : public Module {
 public:
  explicit DlModule(void* handle) : handle_(handle) {}
  ~DlModule() override { dlclose(handle_); }
  DlModule(const DlModule&) = delete;
  DlModule& operator=(const DlModule&) = delete;

  void* symbol(const char* name) const override { return dlsym(handle_, name); }

 private:
  void* handle_;
};

std::unique_ptr<Module> openPath(const std::string& path) {
  // RTLD_LOCAL: two modules may export the same entry name (every module has DllGetData).
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  return std::make_unique<DlModule>(handle);
}

}  // namespace

std::string moduleFileName(std::string_view name) {
  const size_t slash = name.find_last_of('/');
  const size_t base = slash == std::string_view::npos ? 0 : slash + 1;
  const size_t dot = name.find_last_of('.');
  std::string file(name.substr(0, dot != std::string_view::npos && dot > base ? dot : name.size()));
  file += ".so";
  return file;
}

std::string programDirectory() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return {};
  std::string path(buffer, static_cast<size_t>(length));
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {};
  path.resize(slash);
  return path;
}

std::string moduleDirectoryOf(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
  std::error_code error;
  std::string path = std::filesystem::weakly_canonical(info.dli_fname, error).string();
  if (error) path = info.dli_fname;
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return programDirectory();  // the program itself
  return path.substr(0, slash == 0 ? 1 : slash);
}

bool keepModuleLoaded(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return false;
  // Already loaded: this only marks it as never to be unloaded (the handle's reference
  // stays with it).
  return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}

std::unique_ptr<Module> loadModuleFrom(std::string_view directory, std::string_view name) {
  std::string file = moduleFileName(name);
  if (file.find('/') != std::string::npos && !directory.empty()) return nullptr;
  std::string path(directory);
  path += '/';
  path += file;
  if (access(path.c_str(), R_OK) != 0) return nullptr;
  return openPath(path);
}

namespace {

std::vector<std::string> searchFolders(std::string_view fromPrograms) {
  std::vector<std::string> folders;
  const std::string own = programDirectory();
  if (own.empty()) return folders;
  folders.push_back(own);
  std::error_code error;
  const std::filesystem::path installed =
      std::filesystem::weakly_canonical(std::filesystem::path(own) / fromPrograms, error);
  if (error || !std::filesystem::is_directory(installed, error)) return folders;
  std::string text = installed.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  if (text != own) folders.push_back(text);
  return folders;
}

}  // namespace

std::vector<std::string> moduleDirectories() { return searchFolders(VISTREL_MODULES_FROM_PROGRAMS); }

std::vector<std::string> dataDirectories() { return searchFolders(VISTREL_DATA_FROM_PROGRAMS); }

std::string folderHolding(const std::vector<std::string>& folders, std::string_view fileName) {
  for (const std::string& folder : folders) {
    const std::string path = folder + "/" + std::string(fileName);
    if (access(path.c_str(), R_OK) == 0) return folder;
  }
  return {};
}

std::unique_ptr<Module> loadModule(std::string_view name) {
  for (const std::string& directory : moduleDirectories()) {
    if (auto module = loadModuleFrom(directory, name)) return module;
  }
  // A bare file name goes through the loader's search path (LD_LIBRARY_PATH, system
  // folders); a name with a folder is taken as that path.
  return openPath(moduleFileName(name));
}

std::string moduleSearchText(std::string_view name) {
  const std::vector<std::string> folders = moduleDirectories();
  std::string text = moduleFileName(name) + " (looked in ";
  for (size_t i = 0; i < folders.size(); ++i) text += folders[i] + (i + 1 < folders.size() ? ", " : " and ");
  return text + "the library path)";
}

}  // namespace platform
