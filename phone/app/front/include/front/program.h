#pragma once

// The device program's start: the single running copy, loading, the main window (here
// the headless front) and the message loop.

#include <functional>
#include <memory>

#include "core/capture_context.h"
#include "front/front_host.h"
#include "platform/device_probe.h"
#include "settings/settings_store.h"
#include "sources/device_info.h"
#include "sources/module_loader.h"
#include "sources/source_builder.h"
#include "sources/source_list.h"

namespace front {

// What a source needs from the program: the settings store and the current texts.
struct SourceContext {
  const settings::SettingsStore* store = nullptr;
  std::function<const char16_t*(uint32_t textId)> text;
};

// Builds the capture sources of this device (the device program uses buildSourceList
// with its factory of real sources).
using SourceBuilder = std::function<sources::SourceList(
    const sources::DeviceInfo& device, sources::ModuleLoader& modules, platform::DeviceProbe& probe,
    const SourceContext& context)>;

// The device program's own sources: buildSourceList with the real sources that are
// built in (every row when the camera pipeline is part of the build, else placeholders
// for the cameras and the screen). `notes`, when given, receives one line per row tried
// (vistrel-probe prints them).
sources::SourceList buildDeviceSourceList(const sources::DeviceInfo& device, sources::ModuleLoader& modules,
                                          platform::DeviceProbe& probe, const SourceContext& context,
                                          sources::BuildNotes* notes);
inline sources::SourceList buildDeviceSources(const sources::DeviceInfo& device, sources::ModuleLoader& modules,
                                              platform::DeviceProbe& probe, const SourceContext& context) {
  return buildDeviceSourceList(device, modules, probe, context, nullptr);
}

// The preview conversion of the program's camera pipeline (null where the pipeline is
// not built: the context then converts 5-6-5 frames only). Chosen in CMake like
// buildDeviceSources.
std::unique_ptr<core::PreviewConverter> makePreviewConverter(const sources::DeviceInfo& device);

// What a program build adds to the start: the camera pipeline's preview conversion and
// the window front, where they are built in.
struct ProgramExtras {
  std::function<std::unique_ptr<core::PreviewConverter>(const sources::DeviceInfo& device)> previewConverter;
  const WindowFront* window = nullptr;
};

// Runs the program with its command line; returns the exit code. The window front runs
// when a display is available (or --window), else the headless one (or --headless).
int runVistrel(int argc, char** argv, const SourceBuilder& buildSources,
               const ProgramExtras& extras = {});

// The command line as one text: the arguments after the program name joined by blanks.
std::u16string commandLineText(int argc, char** argv);

}  // namespace front
