// The device program's sources when the camera behind framesink is not part of the
// build: every camera row is a placeholder; the sound source is real.
#include "front/program.h"
#include "sources/placeholder_sources.h"
#include "sources/sound_source.h"
#include "sources/source_builder.h"

namespace front {

namespace {
class DeviceSourceFactory final : public sources::PlaceholderSourceFactory {
 public:
  explicit DeviceSourceFactory(const SourceContext& context) : context_(context) {}
  std::unique_ptr<sources::CaptureSource> sound(const sources::DeviceInfo&) override {
    return sources::makeSoundSource(context_.store, context_.text);
  }

 private:
  const SourceContext& context_;
};
}  // namespace

sources::SourceList buildDeviceSourceList(const sources::DeviceInfo& device, sources::ModuleLoader& modules,
                                          platform::DeviceProbe& probe, const SourceContext& context,
                                          sources::BuildNotes* notes) {
  DeviceSourceFactory factory(context);
  return sources::buildSourceList(device, modules, probe, factory, notes);
}

// Without the camera pipeline the context's own conversion (5-6-5 frames) stays.
std::unique_ptr<core::PreviewConverter> makePreviewConverter(const sources::DeviceInfo&) { return nullptr; }

}  // namespace front
