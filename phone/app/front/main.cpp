// vistrel: the device program. Captures the camera (or the screen, or the microphone),
// compresses the pictures and streams them to the PC. This build has no window front: it
// always runs headless.
#include "front/program.h"

int main(int argc, char** argv) {
  front::ProgramExtras extras;
  extras.previewConverter = &front::makePreviewConverter;
  return front::runVistrel(argc, argv, &front::buildDeviceSources, extras);
}
