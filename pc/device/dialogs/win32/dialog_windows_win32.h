#pragma once

// The Win32 fronts of the PC library's dialogs: the settings frame (102) with the settings
// page (103) inside it, and the About box (104), made from the resource scripts' templates
// (in-memory dialog templates) and driven by their presenters.
//
// Threading: each dialog runs modally on the calling thread, which becomes its window
// thread.

#include <cstdint>

#include "dialogs/dialog_module.h"

namespace dialogs::win32 {

// Shows the requested dialog modally over `request->parent` (a window handle, or null);
// 1 when it was shown and has ended, 0 when the request is not valid or the window could
// not be made.
uint32_t showDialog(const DialogRequest* request);

}  // namespace dialogs::win32
