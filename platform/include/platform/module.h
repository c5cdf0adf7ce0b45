#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A run-time module (shared library) loaded by name, the way the product's programs load
// their optional parts ("jpegpress.dll", "framesink.dll", "device.ax").
//
// Names keep the product's own spelling; on this platform a name is looked up as the same
// base name with the ".so" suffix ("jpegpress.dll" -> "jpegpress.so"), first in the folder
// of the running program (the build tree keeps every program and module there), then in
// the installed module folder, then through the system's library search path.
//
// Threading: loading and symbol lookup may run on any thread. A module stays loaded until
// its object is destroyed; pointers taken from it must not outlive it.
class Module {
 public:
  virtual ~Module() = default;
  // Address of the exported symbol `name`, or null when the module has none.
  virtual void* symbol(const char* name) const = 0;
};

// The file name a module name stands for on this platform: the suffix after the last dot
// of the last path element is replaced by "so" (added when there is none).
std::string moduleFileName(std::string_view name);

// Folder of the running program, without a trailing slash; empty when unknown.
std::string programDirectory();

// Folder of the loaded module (program or shared library) that holds `address`, without a
// trailing slash; empty when unknown. A library finds the files that sit beside it this way.
std::string moduleDirectoryOf(const void* address);

// Keeps the loaded module that holds `address` in the process until the process ends
// (a later unload request leaves it loaded). False when no module holds it.
bool keepModuleLoaded(const void* address);

// Folders that hold the modules, resource scripts and translations of the running program,
// in search order: the program's own folder, then the installed module folder
// (<prefix>/lib/vistrel). The installed folder is found relative to the program, so an
// installation moved to another prefix keeps working. Folders that do not exist are left
// out.
std::vector<std::string> moduleDirectories();

// Folders that hold the program's data files (help, pictures), in search order: the
// program's own folder, then the installed data folder (<prefix>/share/vistrel), found
// relative to the program. Folders that do not exist are left out.
std::vector<std::string> dataDirectories();

// The first of `folders` that holds a readable file `fileName`, without a trailing slash;
// empty when none does.
std::string folderHolding(const std::vector<std::string>& folders, std::string_view fileName);

// Loads `name` from the first of moduleDirectories() that holds it, else through the
// system search path. Null when the module is missing or cannot be loaded (a missing
// module removes only its feature).
std::unique_ptr<Module> loadModule(std::string_view name);

// Says where loadModule looks, for messages about a missing module:
// "device.so (looked in /a/bin, /a/lib/vistrel and the library path)".
std::string moduleSearchText(std::string_view name);

// Loads `name` from `directory` only. Null when it is missing or cannot be loaded.
std::unique_ptr<Module> loadModuleFrom(std::string_view directory, std::string_view name);

}  // namespace platform
