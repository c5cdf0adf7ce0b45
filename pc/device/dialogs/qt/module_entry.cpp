// The window module's exports.
#include "dialog_windows.h"

extern "C" __attribute__((visibility("default"))) uint32_t VistrelShowDialog(
    const dialogs::DialogRequest* request) {
  return dialogs::qt::ShowDialog(request);
}

extern "C" __attribute__((visibility("default"))) uint32_t VistrelShowMessage(
    const dialogs::MessageRequest* request) {
  return dialogs::qt::ShowMessage(request);
}
