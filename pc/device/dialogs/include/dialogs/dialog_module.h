#pragma once

#include <cstdint>
#include <string>

#include "platform/resources.h"

namespace dialogs {

class SettingsHost;

// The library's windows live in a module of their own, loaded from the library's folder
// when a dialog is first shown, so that programs without a display (the service) never
// load a toolkit. The library passes each request through the module's one entry.
inline constexpr char kDialogModuleName[] = "device_dialogs";
inline constexpr char kDialogEntryName[] = "VistrelShowDialog";

struct DialogRequest {
  uint32_t size = sizeof(DialogRequest);  // checked by the module
  int templateId = 0;                     // 102 (settings frame with page 103) or 104 (About)
  void* parent = nullptr;                 // the caller's window (a QWidget), or null
  SettingsHost* host = nullptr;
  // Where the templates come from: the language module, then the own module for what
  // it lacks.
  const platform::ResourceModule* dialogModule = nullptr;
  const platform::ResourceModule* ownModule = nullptr;
  std::string iconPath;  // the icon file of resource 101; empty when there is none
};

// The template `id`: from the dialog (language) module, else from the own module.
inline const platform::DialogTemplate* findTemplate(const platform::ResourceModule* dialogModule,
                                                    const platform::ResourceModule* ownModule, int id) {
  if (dialogModule != nullptr) {
    if (const platform::DialogTemplate* t = dialogModule->dialog(static_cast<uint32_t>(id))) return t;
  }
  return ownModule != nullptr ? ownModule->dialog(static_cast<uint32_t>(id)) : nullptr;
}
inline const platform::DialogTemplate* findTemplate(const DialogRequest& request, int id) {
  return findTemplate(request.dialogModule, request.ownModule, id);
}

// 1 when the dialog was shown (and has ended), 0 when the process has no window system.
using DialogEntry = uint32_t (*)(const DialogRequest* request);

// A message box of the library (the engine's messages).
inline constexpr char kMessageEntryName[] = "VistrelShowMessage";

struct MessageRequest {
  uint32_t size = sizeof(MessageRequest);  // checked by the module
  std::string title;                       // UTF-8
  std::string text;                        // UTF-8
  uint32_t flags = 0;                      // the box's style: 0x10 error, 0x30 warning, 0x40 information
};

// 1 when the box was put up (the call does not wait for it to be closed), 0 when the
// process has no window system.
using MessageEntry = uint32_t (*)(const MessageRequest* request);

}  // namespace dialogs
