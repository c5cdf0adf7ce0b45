#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/engine_hooks.h"

namespace engine {
class CameraEngine;
}
namespace platform {
class ResourceModule;
struct DialogTemplate;
}

namespace dialogs {

class SettingsHost;

// The entry table's dialogs and language module for the process's engine: the language
// list is built and the language of the "Language" setting loaded on first use.
//
// Threading: ShowSettings and ShowAbout run on the caller's window thread; the language
// module may be asked for from any thread. ShowSettings and ShowAbout keep the entry
// table's spelling.
void ShowSettings(engine::CameraEngine& engine, void* parent);
void ShowAbout(engine::CameraEngine& engine, void* parent);
// What a window of the library that holds the settings page (the filter's property page)
// needs: the page's host over `engine` (its About button shows the About box over
// `parent`), the page's template and its title (text 105), from the language module or
// the library's own. The template stays valid while the library is loaded; it is null
// when neither module has one.
struct PageResources {
  std::unique_ptr<SettingsHost> host;
  const platform::DialogTemplate* pageTemplate = nullptr;
  std::u16string title;
};
PageResources pageResources(engine::CameraEngine& engine, void* parent);

// The loaded language module, or the library's own module; valid while the library is
// loaded.
const platform::ResourceModule* ResourceModule(engine::CameraEngine& engine);
// Frees the language list and the own module: called when the library unloads, after its
// engine is gone. Nothing handed out may be used then, since the code that reads it goes
// with the library.
void releaseLanguages();

// The library's engine hooks: the engine's texts come from the current language module
// (the own module's for what it lacks; English until the language is loaded, which
// ResourceModule does), and a message goes to standard error and, in a program whose
// dialogs the library has shown, into a message box as well.
//
// Threading: any thread; a box is shown on the program's window thread without waiting.
class LibraryHooks final : public engine::EngineHooks {
 public:
  void showMessage(const std::string& title, const std::string& text, uint32_t flags) override;
  std::string text(uint32_t id, const char* english) override;
};
LibraryHooks& libraryHooks();

}  // namespace dialogs
