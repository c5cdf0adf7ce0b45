// vistrel: the device program. Captures the camera (or the screen, or the microphone),
// compresses the pictures and streams them to the PC.
#include "front/program.h"
#include "sources/placeholder_sources.h"
#include "sources/source_builder.h"

int main(int argc, char** argv) {
  return front::RunVistrel(argc, argv, [](const sources::DeviceInfo& device, sources::ModuleLoader& modules,
                                          platform::DeviceProbe& probe) {
    sources::PlaceholderSourceFactory factory;
    return sources::BuildSourceList(device, modules, probe, factory);
  });
}
