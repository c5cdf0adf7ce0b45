#pragma once

#include <cstdint>
#include <string>

namespace engine {

// What the engine reaches outside itself: a message box, the phone launcher and the
// service's reload request. The defaults suit a program without a display: the message
// goes to standard error and the parts this build does not have say "not available on
// this build" there. Programs and later parts replace them with setHooks().
//
// Threading: called from the thread that called the engine's entry, unless a hook says
// otherwise.
class EngineHooks {
 public:
  virtual ~EngineHooks() = default;

  // A message box: title, text (UTF-8), the box's style flags. May be called from any
  // thread (a failed launch reports from the launcher's thread).
  virtual void showMessage(const std::string& title, const std::string& text, uint32_t flags);
  // Text `id` of the PC text table in the current language (UTF-8); `english` when no
  // language texts are at hand.
  virtual std::string text(uint32_t id, const char* english);
  // Starts the phone program on a docked phone with the launch number: the port to
  // connect to in the low 16 bits, plus 65536 to make it connect again at once.
  virtual bool startPhoneLauncher(uint32_t number);
  // Asks the running service to read the settings again, through the installed
  // ServiceLink (service_link.h). False when no service runs or no link is installed.
  virtual bool requestServiceReload();
};

// The hooks in effect (the defaults until setHooks). The engine does not own them; they
// must outlive every engine call.
EngineHooks& hooks();
void setHooks(EngineHooks* hooks);

}  // namespace engine
