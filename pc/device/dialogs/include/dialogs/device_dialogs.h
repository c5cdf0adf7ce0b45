#pragma once

namespace engine {
class CameraEngine;
}
namespace platform {
class ResourceModule;
}

namespace dialogs {

// The entry table's dialogs and language module for the process's engine: the language
// list is built and the language of the "Language" setting loaded on first use.
//
// Threading: ShowSettings and ShowAbout run on the caller's window thread; the language
// module may be asked for from any thread.
void ShowSettings(engine::CameraEngine& engine, void* parent);
void ShowAbout(engine::CameraEngine& engine, void* parent);
// The loaded language module, or the library's own module; valid while the library is
// loaded.
const platform::ResourceModule* ResourceModule(engine::CameraEngine& engine);

}  // namespace dialogs
