#include "sources/device_info.h"

#include "platform/utf16.h"

namespace sources {
namespace {

bool contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

bool IsPxa27x(const platform::ProcessorInfo& processor) {
  return (contains(processor.core, "PXA") || contains(processor.name, "PXA")) &&
         (contains(processor.core, "27") || contains(processor.name, "27"));
}

DeviceInfo ProbeDevice(platform::DeviceProbe& probe, ModuleLoader& modules) {
  DeviceInfo info;

  if (auto oem = probe.oemInfo()) {
    std::u16string text = platform::utf8ToUtf16Lossy(*oem);
    if (text.size() > DeviceInfo::kMaxOemChars) text.resize(DeviceInfo::kMaxOemChars);
    // A cut between the two halves of a surrogate pair leaves no half behind.
    if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();
    info.oemTextAsReturned = text;
    for (char16_t& c : text)
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    info.oemText = std::move(text);
  }

  info.osMajorVersion = probe.osMajorVersion().value_or(0);

  const auto platformType = probe.platformType();
  info.isSmartphone = !platformType || *platformType == "SmartPhone";

  if (auto processor = probe.processor()) {
    info.processor = *processor;
    info.hasPxa27x = IsPxa27x(*processor);
  }

  if (info.hasPxa27x) {
    if (auto module = modules.LoadBesideProgram(kJpegpressModuleName)) {
      auto getData = reinterpret_cast<DllGetDataFunction>(module->symbol("DllGetData"));
      JpegEncoderTable table{};
      if (getData != nullptr && getData(&table) != 0) {
        info.jpegpress = table;
        info.jpegpressModule_ = std::move(module);
      }
    }
  }
  return info;
}

}  // namespace sources
