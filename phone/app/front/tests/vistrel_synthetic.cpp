// The device program over the synthetic test camera, for the end-to-end test and the
// benchmark on machines without a camera.
#include "front/program.h"
#include "synthetic_camera.h"

int main(int argc, char** argv) {
  return front::runVistrel(argc, argv, [](const sources::DeviceInfo&, sources::ModuleLoader&,
                                          platform::DeviceProbe&,
                                          const front::SourceContext&) {
    sources::SourceList list;
    list.append(std::make_unique<testing_sources::SyntheticCamera>());
    return list;
  });
}
