// A device presented by a small text file over the machine's own answers.

#include <charconv>
#include <fstream>
#include <sstream>

#include "platform/device_probe.h"

namespace platform {
namespace {

constexpr std::string_view kFailed = "(failed)";

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

// A presented answer: not given (ask the base), given as failing, or given.
template <typename T>
struct Presented {
  bool given = false;
  std::optional<T> value;
  void set(std::optional<T> v) {
    given = true;
    value = std::move(v);
  }
};

bool parseNumber(std::string_view text, uint32_t& out) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
  return error == std::errc() && end == text.data() + text.size();
}

// "WIDTHxHEIGHTxBITS"
bool parseScreen(std::string_view text, FrameBufferDescription& out) {
  uint32_t parts[3] = {};
  for (int i = 0; i < 3; ++i) {
    const size_t x = i < 2 ? text.find('x') : text.size();
    if (x == std::string_view::npos || !parseNumber(text.substr(0, x), parts[i])) return false;
    text.remove_prefix(i < 2 ? x + 1 : x);
  }
  out = FrameBufferDescription{};
  out.width = parts[0];
  out.height = parts[1];
  out.bitsPerPixel = parts[2];
  out.xStrideBytes = static_cast<int32_t>(parts[2] / 8);
  out.yStrideBytes = static_cast<int32_t>(static_cast<uint64_t>(parts[0]) * parts[2] / 8);
  return true;
}

class PresentedDevice final : public DeviceProbe {
 public:
  PresentedDevice(std::unique_ptr<DeviceProbe> base, std::string_view text,
                  const ProbeDiagnostics& diagnostics)
      : base_(std::move(base)) {
    std::istringstream lines{std::string(text)};
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
      ++number;
      const std::string_view content = trim(line);
      if (content.empty() || content.front() == '#') continue;
      if (!take(content) && diagnostics)
        diagnostics("device file line " + std::to_string(number) + ": ignored: " + line);
    }
  }

  std::optional<std::string> oemInfo() override {
    return oem_.given ? oem_.value : base_->oemInfo();
  }
  std::optional<uint32_t> osMajorVersion() override {
    return os_.given ? os_.value : base_->osMajorVersion();
  }
  std::optional<std::string> platformType() override {
    return platform_.given ? platform_.value : base_->platformType();
  }
  std::optional<ProcessorInfo> processor() override {
    Presented<std::string>* const parts[] = {&core_, &name_, &architecture_, &features_};
    bool allGiven = true, anyGiven = false;
    for (const Presented<std::string>* part : parts) {
      if (part->given && !part->value) return std::nullopt;
      allGiven = allGiven && part->given;
      anyGiven = anyGiven || part->given;
    }
    if (!anyGiven) return base_->processor();
    ProcessorInfo info;
    if (!allGiven) {
      if (auto own = base_->processor()) info = *own;
    }
    if (core_.given) info.core = *core_.value;
    if (name_.given) info.name = *name_.value;
    if (architecture_.given) info.architecture = *architecture_.value;
    if (features_.given) info.features = *features_.value;
    return info;
  }
  std::optional<FrameBufferDescription> rawFrameBuffer() override {
    return screen_.given ? std::nullopt : base_->rawFrameBuffer();
  }
  std::optional<FrameBufferDescription> displayInformation() override {
    return screen_.given ? std::nullopt : base_->displayInformation();
  }
  std::optional<FrameBufferDescription> displayProperties() override {
    return screen_.given ? screen_.value : base_->displayProperties();
  }
  std::optional<std::string> streamDrivers() override {
    return drivers_.given ? drivers_.value : base_->streamDrivers();
  }
  std::optional<std::string> cameraLibraries() override {
    return libraries_.given ? libraries_.value : base_->cameraLibraries();
  }

 private:
  bool take(std::string_view line) {
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) return false;
    const std::string_view key = trim(line.substr(0, equals));
    const std::string_view value = trim(line.substr(equals + 1));
    const bool failed = value == kFailed;
    auto text = [&](Presented<std::string>& answer) {
      answer.set(failed ? std::nullopt : std::optional<std::string>(value));
      return true;
    };
    if (key == "oem") return text(oem_);
    if (key == "platform") return text(platform_);
    if (key == "processor") return text(name_);
    if (key == "processor-core") return text(core_);
    if (key == "processor-architecture") return text(architecture_);
    if (key == "processor-features") return text(features_);
    if (key == "stream-drivers") return text(drivers_);
    if (key == "camera-libraries") return text(libraries_);
    if (key == "os-major") {
      uint32_t major = 0;
      if (failed) os_.set(std::nullopt);
      else if (parseNumber(value, major)) os_.set(major);
      else return false;
      return true;
    }
    if (key == "screen") {
      FrameBufferDescription screen;
      if (failed) screen_.set(std::nullopt);
      else if (parseScreen(value, screen)) screen_.set(screen);
      else return false;
      return true;
    }
    return false;
  }

  std::unique_ptr<DeviceProbe> base_;
  Presented<std::string> oem_, platform_, core_, name_, architecture_, features_, drivers_,
      libraries_;
  Presented<uint32_t> os_;
  Presented<FrameBufferDescription> screen_;
};

}  // namespace

std::unique_ptr<DeviceProbe> presentedDevice(std::unique_ptr<DeviceProbe> base,
                                             std::string_view text,
                                             const ProbeDiagnostics& diagnostics) {
  return std::make_unique<PresentedDevice>(std::move(base), text, diagnostics);
}

std::unique_ptr<DeviceProbe> presentedDeviceFromFile(std::unique_ptr<DeviceProbe> base,
                                                     const std::string& path,
                                                     const ProbeDiagnostics& diagnostics) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in || in.bad()) {
    if (diagnostics) diagnostics("device file " + path + ": cannot be read; this machine is used");
    return base;
  }
  return presentedDevice(std::move(base), text.str(), diagnostics);
}

}  // namespace platform
