// Any resource script: the reader either rejects it with a message or yields a module
// whose strings load within their buffers.
#include <cstdint>
#include <string>

#include "platform/resources.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  auto module = platform::ResourceModule::parse(
      std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.rc", error);
  if (!module) {
    if (error.rfind("fuzz.rc:", 0) != 0) __builtin_trap();
    return 0;
  }
  char16_t buffer[8];
  for (const auto& [id, text] : module->strings()) {
    const size_t n = module->loadString(id, buffer, 8);
    if (n > 7 || buffer[n] != 0 || n != std::min<size_t>(text.size(), 7)) __builtin_trap();
  }
  for (const auto& [id, dialog] : module->dialogs())
    for (const auto& c : dialog.controls) dialog.control(c.id);
  return 0;
}
