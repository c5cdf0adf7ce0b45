#include "platform/module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

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

std::unique_ptr<Module> loadModuleFrom(std::string_view directory, std::string_view name) {
  std::string file = moduleFileName(name);
  if (file.find('/') != std::string::npos && !directory.empty()) return nullptr;
  std::string path(directory);
  path += '/';
  path += file;
  if (access(path.c_str(), R_OK) != 0) return nullptr;
  return openPath(path);
}

std::unique_ptr<Module> loadModule(std::string_view name) {
  const std::string directory = programDirectory();
  if (!directory.empty()) {
    if (auto module = loadModuleFrom(directory, name)) return module;
  }
  // A bare file name goes through the loader's search path (LD_LIBRARY_PATH, system
  // folders); a name with a folder is taken as that path.
  return openPath(moduleFileName(name));
}

}  // namespace platform
