// vistrel: the device program with its window front. It opens its window where a display
// is available (or with --window) and runs headless otherwise (or with --headless).
#include "front/program.h"
#include "vistrel_window.h"

#include <QApplication>

int main(int argc, char** argv) {
  front::ProgramExtras extras;
  extras.previewConverter = &front::makePreviewConverter;
  extras.window = &front::qtWindowFront();
  const int code = front::runVistrel(argc, argv, &front::buildDeviceSources, extras);
  front::qtApplication().reset();
  return code;
}
