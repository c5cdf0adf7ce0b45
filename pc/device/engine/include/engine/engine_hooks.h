#pragma once

#include <cstdint>
#include <string>

namespace engine {

// What the engine reaches outside itself: a message box, the phone launcher, the
// service's reload request, and the dialogs with their language module. The defaults
// suit a program without a display: the message goes to standard error and the parts
// this build does not have say "not available on this build" there. Programs and later
// parts replace them with setHooks().
//
// Threading: called from the thread that called the engine's entry.
class EngineHooks {
 public:
  virtual ~EngineHooks() = default;

  // A message box: title, text (UTF-8), the box's style flags.
  virtual void showMessage(const std::string& title, const std::string& text, uint32_t flags);
  // Starts the phone program on a docked phone, asking it to connect to `port`.
  virtual bool startPhoneLauncher(uint16_t port);
  // Asks the running service to read the settings again (its user control code 128,
  // sent to the service's control endpoint). False when no service runs.
  virtual bool requestServiceReload();
  // Modal dialogs; `parent` is the caller's window or null.
  virtual void showAbout(void* parent);
  virtual void showSettings(void* parent);
  // The loaded language module, or null for the library itself.
  virtual void* resourceModule();
};

// The hooks in effect (the defaults until setHooks). The engine does not own them; they
// must outlive every engine call.
EngineHooks& hooks();
void setHooks(EngineHooks* hooks);

}  // namespace engine
