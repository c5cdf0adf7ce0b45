// vistrel-probe: what the device program finds on this machine, or on a presented device.
//
//   vistrel-probe [--device FILE] [--modules DIR]... [--program PATH]
//
// Prints the probe result (OEM text, OS major version, platform type, processor, whether
// jpegpress was bound and which kernels it runs), one line per candidate source saying
// what was found, and the source list with display names and kinds. The sources are the
// device program's own (the same factory), built but never started. --device presents the device described in
// FILE (see docs/sources.md; the variable VISTREL_DEVICE does the same); --modules makes
// the modules come from the given folders only; --program names the `vistrel` program
// whose texts give the display names (default: `vistrel` beside this tool).

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "front/program.h"
#include "platform/device_probe.h"
#include "platform/module.h"
#include "platform/utf16.h"
#include "sources/sound_source.h"
#include "sources/source_builder.h"
#include "texts/language_table.h"
#include "texts/text_ids.h"
#include "vistrel_version.h"

namespace {

const char kHelp[] =
    "Usage: vistrel-probe [--device FILE] [--modules DIR]... [--program PATH]\n"
    "Prints what the device program finds on this machine: the device (OEM text, OS major\n"
    "version, platform type, processor, whether jpegpress was bound), one line per\n"
    "candidate capture source, and the source list with display names and kinds.\n"
    "\n"
    "  --device FILE   present the device described in FILE (\"oem = ...\",\n"
    "                  \"processor = PXA270\", ...); the variable VISTREL_DEVICE does the same\n"
    "  --modules DIR   take the modules from DIR only (may be given more than once)\n"
    "  --program PATH  the vistrel program whose texts give the display names\n"
    "                  (default: the installed one)\n"
    "  -h, --help      show this text\n"
    "  --version       print the version\n"
    "See docs/sources.md.\n";

int usage() {
  std::cerr << "usage: vistrel-probe [--device FILE] [--modules DIR]... [--program PATH] (see --help)\n";
  return 2;
}

std::string utf8(std::u16string_view text) { return platform::utf16ToUtf8Lossy(text); }

std::string displayName(const platform::ResourceModule& own, uint32_t textId) {
  if (const char16_t* fixed = texts::fixedText(textId)) return utf8(fixed);
  if (const std::u16string* text = own.string(texts::textResourceId(textId))) return utf8(*text);
  return "(text " + std::to_string(textId) + ")";
}

const char* kindName(sources::SourceKind kind) {
  switch (kind) {
    case sources::SourceKind::kCamera: return "camera";
    case sources::SourceKind::kScreen: return "screen";
    case sources::SourceKind::kSound: return "sound";
  }
  return "?";
}

// Whether jpegpress is bound and which kernels it runs: those it has for the processor,
// unless VISTREL_JPEGPRESS_PORTABLE makes it take its portable ones.
std::string jpegpressState(const sources::DeviceInfo& device) {
  if (device.jpegpressKernels == sources::JpegpressKernels::kNone)
    return "not loaded (no kernels for this processor)";
  if (!device.jpegpressBound()) return "not bound";
  std::string kernels = sources::jpegpressKernelsName(device.jpegpressKernels);
  const char* forced = std::getenv("VISTREL_JPEGPRESS_PORTABLE");
  if (forced != nullptr && *forced != '\0' && std::strcmp(forced, "0") != 0 &&
      kernels != "portable")
    kernels = "portable (VISTREL_JPEGPRESS_PORTABLE is set; " + kernels + " available)";
  return "bound, " + kernels + " kernels";
}

}  // namespace

int main(int argc, char** argv) {
  if (vistrel::printVersionIfAsked("vistrel-probe", argc, argv)) return 0;
  std::string deviceFile;
  std::string program;
  std::vector<std::string> folders;
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << kHelp;
      return 0;
    }
    if (std::strcmp(argv[i], "--device") == 0 && hasValue) deviceFile = argv[++i];
    else if (std::strcmp(argv[i], "--modules") == 0 && hasValue) folders.push_back(argv[++i]);
    else if (std::strcmp(argv[i], "--program") == 0 && hasValue) program = argv[++i];
    else return usage();
  }
  if (program.empty()) {
    program = texts::defaultProgramPath();
  }

  const platform::ProbeDiagnostics toStderr = [](const std::string& m) { std::cerr << m << '\n'; };
  std::unique_ptr<platform::DeviceProbe> probe =
      deviceFile.empty() ? platform::systemDeviceProbe(toStderr)
                         : platform::presentedDeviceFromFile(platform::machineDeviceProbe(),
                                                             deviceFile, toStderr);
  sources::SystemModuleLoader systemModules;
  sources::FolderModuleLoader folderModules(folders);
  sources::ModuleLoader& modules =
      folders.empty() ? static_cast<sources::ModuleLoader&>(systemModules) : folderModules;

  const sources::DeviceInfo device = sources::probeDevice(*probe, modules);
  std::cout << "device\n"
            << "  OEM text:         \"" << utf8(device.oemText) << "\"\n"
            << "  as returned:      \"" << utf8(device.oemTextAsReturned) << "\"\n"
            << "  OS major version: " << device.osMajorVersion << '\n'
            << "  Smartphone:       " << (device.isSmartphone ? "yes" : "no") << '\n'
            << "  processor:        core \"" << device.processor.core << "\", name \""
            << device.processor.name << "\"\n"
            << "  architecture:     \"" << device.processor.architecture << "\"\n"
            << "  PXA27x:           " << (device.hasPxa27x ? "yes" : "no") << '\n'
            << "  jpegpress:        " << jpegpressState(device) << '\n';

  // The program's own sources, without a settings store: the tool saves nothing.
  sources::BuildNotes notes;
  const sources::SourceList list =
      front::buildDeviceSourceList(device, modules, *probe, front::SourceContext{}, &notes);
  std::cout << "candidates\n";
  for (const std::string& line : notes) std::cout << "  " << line << '\n';

  auto own = texts::loadOwnModule(program, {});
  std::cout << "sources\n";
  int number = 1;
  for (sources::CaptureSource& source : list) {
    const sources::SourceKind kind = source.Kind();
    std::cout << "  " << number++ << ". " << displayName(*own, source.NameTextId()) << " (kind "
              << static_cast<uint32_t>(kind) << ", " << kindName(kind) << ")";
    if (auto* sound = dynamic_cast<sources::SoundSource*>(&source)) {
      std::cout << ": capture device \"" << (sound->device().empty() ? "default" : sound->device())
                << "\", " << (sound->deviceFound() ? "found" : "not found, not enabled by default");
    }
    std::cout << '\n';
  }
  return 0;
}
