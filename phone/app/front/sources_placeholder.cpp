// The device program's sources when the camera behind framesink is not part of the
// build: every row is a placeholder.
#include "front/program.h"
#include "sources/placeholder_sources.h"
#include "sources/source_builder.h"

namespace front {

sources::SourceList BuildDeviceSources(const sources::DeviceInfo& device, sources::ModuleLoader& modules,
                                       platform::DeviceProbe& probe, const SourceContext&) {
  sources::PlaceholderSourceFactory factory;
  return sources::BuildSourceList(device, modules, probe, factory);
}

}  // namespace front
