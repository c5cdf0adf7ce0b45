// The window module's one export.
#include "dialog_windows.h"

extern "C" __attribute__((visibility("default"))) uint32_t VistrelShowDialog(
    const dialogs::DialogRequest* request) {
  return dialogs::qt::ShowDialog(request);
}
