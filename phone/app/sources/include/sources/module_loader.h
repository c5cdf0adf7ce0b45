#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/module.h"

namespace sources {

// How the device program finds its run-time modules, so that a test or a user can point
// it at another folder. Names keep the product's spelling ("jpegpress.dll").
class ModuleLoader {
 public:
  virtual ~ModuleLoader() = default;
  // A library of the device maker: the program's folder first, then the system's search.
  virtual std::unique_ptr<platform::Module> load(std::string_view name) = 0;
  // One of the program's own modules: from the program's folder or the installed module
  // folder, never from the system's search path.
  virtual std::unique_ptr<platform::Module> loadBesideProgram(std::string_view name) = 0;
};

// The running program's folder and the system's search path.
class SystemModuleLoader final : public ModuleLoader {
 public:
  std::unique_ptr<platform::Module> load(std::string_view name) override;
  std::unique_ptr<platform::Module> loadBesideProgram(std::string_view name) override;
};

// The given folders only, in order, for both kinds of module.
class FolderModuleLoader final : public ModuleLoader {
 public:
  explicit FolderModuleLoader(std::vector<std::string> folders) : folders_(std::move(folders)) {}
  std::unique_ptr<platform::Module> load(std::string_view name) override;
  std::unique_ptr<platform::Module> loadBesideProgram(std::string_view name) override {
    return load(name);
  }

 private:
  std::vector<std::string> folders_;
};

}  // namespace sources
