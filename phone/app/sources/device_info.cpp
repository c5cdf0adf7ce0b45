#include "sources/device_info.h"

#include <algorithm>

#include "platform/utf16.h"

namespace sources {
namespace {

bool contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

// Whether the space-separated list `features` holds `feature` as a whole word.
bool hasFeature(std::string_view features, std::string_view feature) {
  while (!features.empty()) {
    const size_t end = std::min(features.find_first_of(" \t"), features.size());
    if (features.substr(0, end) == feature) return true;
    features.remove_prefix(std::min(end + 1, features.size()));
  }
  return false;
}

}  // namespace

bool isPxa27x(const platform::ProcessorInfo& processor) {
  return (contains(processor.core, "PXA") || contains(processor.name, "PXA")) &&
         (contains(processor.core, "27") || contains(processor.name, "27"));
}

JpegpressKernels jpegpressKernelsFor(const platform::ProcessorInfo& processor) {
  const std::string& arch = processor.architecture;
  if (arch == "x86_64" || arch == "amd64")
    // jpegpress's AVX2 table also uses BMI1, BMI2 and LZCNT (listed as "abm").
    return hasFeature(processor.features, "avx2") && hasFeature(processor.features, "bmi1") &&
                   hasFeature(processor.features, "bmi2") && hasFeature(processor.features, "abm")
               ? JpegpressKernels::kAvx2
               : JpegpressKernels::kSse2;
  if (arch == "aarch64" || arch == "arm64") return JpegpressKernels::kNeon;
  if (isPxa27x(processor)) return JpegpressKernels::kPortable;
  return JpegpressKernels::kNone;
}

const char* jpegpressKernelsName(JpegpressKernels kernels) {
  switch (kernels) {
    case JpegpressKernels::kPortable: return "portable";
    case JpegpressKernels::kSse2: return "sse2";
    case JpegpressKernels::kAvx2: return "avx2";
    case JpegpressKernels::kNeon: return "neon";
    case JpegpressKernels::kNone: break;
  }
  return "none";
}

DeviceInfo probeDevice(platform::DeviceProbe& probe, ModuleLoader& modules) {
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
    info.hasPxa27x = isPxa27x(*processor);
    info.jpegpressKernels = jpegpressKernelsFor(*processor);
  }

  if (info.jpegpressKernels != JpegpressKernels::kNone) {
    if (auto module = modules.loadBesideProgram(kJpegpressModuleName)) {
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
