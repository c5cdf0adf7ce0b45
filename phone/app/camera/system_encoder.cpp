#include "camera/system_encoder.h"

#include <mutex>

namespace camera {

SystemEncoderBinding SystemEncoderBinding::bind(sources::ModuleLoader& loader) {
  SystemEncoderBinding binding;
  const auto take = [&](std::unique_ptr<platform::Module> module, const char* entry) {
    if (!module) return false;
    void* address = module->symbol(entry);
    if (!address) return false;
    binding.factory_ = reinterpret_cast<SystemEncoderFactory>(address);
    binding.module_ = std::move(module);
    return true;
  };
  if (!take(loader.load(kSystemEncoderModuleName), kSystemEncoderEntryName))
    take(loader.loadBesideProgram(kFallbackEncoderModuleName), kFallbackEncoderEntryName);
  return binding;
}

SystemEncoderFactory processSystemEncoder(sources::ModuleLoader& loader) {
  static std::once_flag once;
  static SystemEncoderBinding* binding = nullptr;  // lives until the process ends
  std::call_once(once, [&] { binding = new SystemEncoderBinding(SystemEncoderBinding::bind(loader)); });
  return binding->factory();
}

}  // namespace camera
