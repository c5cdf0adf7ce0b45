// Any settings file: reading never crashes, and writing a value back keeps every value
// that could be read before, byte for byte.
#include <cstdint>
#include <map>
#include <string>

#include "memory_key_store.h"
#include "platform/key_store.h"

namespace {

std::map<std::u16string, platform::RegistryValue> snapshot(platform::KeyStore& store,
                                                           const std::u16string& path) {
  std::map<std::u16string, platform::RegistryValue> out;
  auto key = store.openKey(path);
  if (!key) return out;
  for (const auto& name : key->valueNames()) {
    platform::RegistryValue v;
    if (!key->queryValue(name, v)) __builtin_trap();
    out[name] = v;
  }
  return out;
}

bool isProbe(const std::u16string& name) {
  static const std::u16string probe = u"fuzzprobe";
  if (name.size() != probe.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char16_t c = name[i];
    if (c >= u'A' && c <= u'Z') c += 32;
    if (c != probe[i]) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State> state;
  std::vector<std::string> messages;
  auto store = platform::testing::makeMemoryKeyStore(state, &messages);
  state->text.assign(reinterpret_cast<const char*>(data), size);
  const std::u16string path = u"Software\\Orvane\\Vistrel";
  const auto before = snapshot(*store, path);
  if (auto orvane = store->openKey(u"Software\\Orvane")) orvane->subKeyNames();

  auto key = store->createKey(path);
  if (!key || !key->setDword(u"FuzzProbe", 1)) __builtin_trap();
  const auto after = snapshot(*store, path);
  for (const auto& [name, value] : before) {
    if (isProbe(name)) continue;
    auto it = after.find(name);
    if (it == after.end() || it->second.type != value.type || it->second.data != value.data)
      __builtin_trap();
  }
  // A second identical write changes nothing more: the written text is stable.
  const std::string written = state->text;
  if (!key->setDword(u"FuzzProbe", 1) || state->text != written) __builtin_trap();
  return 0;
}
