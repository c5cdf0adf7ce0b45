#include "sources/module_loader.h"

namespace sources {

std::unique_ptr<platform::Module> SystemModuleLoader::load(std::string_view name) {
  return platform::loadModule(name);
}

std::unique_ptr<platform::Module> SystemModuleLoader::loadBesideProgram(std::string_view name) {
  // The program's own folder, then the installed module folder; never the library path.
  for (const std::string& folder : platform::moduleDirectories())
    if (auto module = platform::loadModuleFrom(folder, name)) return module;
  return nullptr;
}

std::unique_ptr<platform::Module> FolderModuleLoader::load(std::string_view name) {
  for (const std::string& folder : folders_)
    if (auto module = platform::loadModuleFrom(folder, name)) return module;
  return nullptr;
}

}  // namespace sources
