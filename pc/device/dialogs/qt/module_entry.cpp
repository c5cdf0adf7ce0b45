// The window module's exports.
#include "dialog_windows.h"

extern "C" __attribute__((visibility("default"))) uint32_t VistrelShowDialog(
    const dialogs::DialogRequest* request) {
  return dialogs::qt::showDialog(request);
}

extern "C" __attribute__((visibility("default"))) uint32_t VistrelShowMessage(
    const dialogs::MessageRequest* request) {
  return dialogs::qt::showMessage(request);
}
