#include "lookout/viewer_texts.h"

#include <string>
#include <vector>

#include "platform/module.h"

namespace lookout {

extern const char* const kBuiltinOwnModule;

std::u16string ModuleTexts::text(uint32_t id) const {
  if (module_ == nullptr) return {};
  char16_t buffer[kTextCapacityChars];
  size_t n = module_->loadString(id, buffer, kTextCapacityChars);
  return std::u16string(buffer, n);
}

std::unique_ptr<platform::ResourceModule> loadOwnModule(std::string& error) {
  error.clear();
  // The program's folder in the build tree, the installed module folder otherwise.
  std::vector<std::string> folders = platform::moduleDirectories();
  std::string dir = platform::folderHolding(folders, "lookout.rc");
  if (dir.empty() && !folders.empty()) dir = folders.front();  // names the missing file
  if (!dir.empty()) {
    std::string fileError;
    auto module = platform::ResourceModule::load(dir + "/lookout.rc", fileError);
    if (module) return module;
    error = fileError;
  }
  std::string builtinError;
  auto module = platform::ResourceModule::parse(kBuiltinOwnModule, "lookout.rc (built in)",
                                                builtinError);
  if (!module && error.empty()) error = builtinError;
  return module;
}

const platform::ResourceModule* resolveResourceModule(void* handle,
                                                      const platform::ResourceModule* own) {
  if (handle != nullptr) return static_cast<const platform::ResourceModule*>(handle);
  return own;
}

}  // namespace lookout
