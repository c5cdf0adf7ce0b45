// The entry table's dialogs and language module over the process's engine.
#include "dialogs/device_dialogs.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <new>

#include "dialogs/dialog_module.h"
#include "dialogs/settings_page.h"
#include "engine/camera_engine.h"
#include "platform/help.h"
#include "platform/module.h"
#include "platform/resources.h"
#include "platform/utf16.h"

#ifdef VISTREL_BUILTIN_DIALOG_WINDOWS
#include <string_view>

#include "dialog_windows_win32.h"
#endif

namespace dialogs {

extern const char* const kBuiltinOwnModule;

namespace {

void report(const std::string& message) { std::fprintf(stderr, "vistrel: %s\n", message.c_str()); }

// The library's state for its dialogs: its own module, the language list, the window
// module. Made on first use; its storage is never destroyed, so that a launcher thread
// still reporting while the process exits finds it. The language modules are freed when
// the library unloads (releaseLanguages).
struct DialogState {
  std::mutex mutex;
  std::string directory;
  std::unique_ptr<platform::ResourceModule> own;
  std::unique_ptr<LanguageList> languages;
  std::unique_ptr<platform::Module> windows;
  bool windowsTried = false;
};

DialogState& state() {
  alignas(DialogState) static unsigned char storage[sizeof(DialogState)];
  static DialogState* s = new (storage) DialogState();
  return *s;
}

// The own module: "device.rc" beside the library when it reads, else the built-in copy.
std::unique_ptr<platform::ResourceModule> loadOwn(const std::string& directory) {
  std::string error;
  std::unique_ptr<platform::ResourceModule> module;
  if (!directory.empty()) {
    module = platform::ResourceModule::load(directory + "/device.rc", error);
    if (module) return module;
  }
  std::string builtinError;
  module = platform::ResourceModule::parse(kBuiltinOwnModule, "device.rc (built in)", builtinError);
  if (!error.empty() && error.find("cannot be read") == std::string::npos) report(error + "; the built-in texts serve");
  return module;
}

// Called with the state's lock held: the language list, made and loaded on first use
// with the "Language" setting `language`. (The engine's lock is never taken under the
// state's: the engine asks for its texts while it holds its own.)
void ensureLanguages(DialogState& s, uint16_t language) {
  if (s.languages) return;
  s.directory = platform::moduleDirectoryOf(reinterpret_cast<const void*>(&ensureLanguages));
  s.own = loadOwn(s.directory);
  s.languages = std::make_unique<LanguageList>(*s.own, s.directory, report);
  s.languages->build();
  s.languages->selectId(language, systemLocaleSource());
}

uint16_t languageSetting(engine::CameraEngine& engine) { return static_cast<uint16_t>(engine.settings().language); }

// The window module's entry `name`, loading the module the first time when `load` is set;
// null without it. Called with the state's lock held.
void* windowEntry(DialogState& s, const char* name, bool load) {
#ifdef VISTREL_BUILTIN_DIALOG_WINDOWS
  // The windows are part of the library. Its messages stay in the log: a system message
  // box would hold the reporting thread until the user closed it.
  (void)s;
  (void)load;
  return std::string_view(name) == kDialogEntryName ? reinterpret_cast<void*>(&win32::showDialog) : nullptr;
#else
  if (!s.windowsTried && load) {
    s.windowsTried = true;
    s.windows = platform::loadModuleFrom(s.directory, kDialogModuleName);
    if (!s.windows) report("the dialogs' window module " + platform::moduleFileName(kDialogModuleName) +
                           " is missing beside the library");
  }
  return s.windows ? s.windows->symbol(name) : nullptr;
#endif
}

class EngineHost final : public SettingsHost {
 public:
  EngineHost(engine::CameraEngine& engine, DialogState& state, void* parent)
      : engine_(engine), state_(state), parent_(parent) {}

  settings::DeviceSettings settings() override { return engine_.settings(); }
  void apply(const settings::DeviceSettings& s) override { engine_.applySettings(s); }
  void readProperties(
      const std::function<void(const std::vector<protocol::PropertyEntry>&)>& reader) override {
    engine_.readProperties(reader);
  }
  bool setProperty(uint32_t key, uint32_t index) override { return engine_.setPhoneProperty(key, index); }
  void connect() override { engine_.connectPhone(); }
  void showAbout() override { ShowAbout(engine_, parent_); }
  const LanguageList& languages() override { return *state_.languages; }
  uint16_t selectLanguage(uint32_t index) override {
    std::lock_guard lock(state_.mutex);
    state_.languages->select(index, systemLocaleSource());
    return state_.languages->selectedId();
  }
  std::u16string text(uint32_t id) override {
    std::lock_guard lock(state_.mutex);
    if (const std::u16string* t = state_.languages->module().string(id)) return *t;
    if (const std::u16string* t = state_.own->string(id)) return *t;
    return {};
  }

 private:
  engine::CameraEngine& engine_;
  DialogState& state_;
  void* parent_;
};

void show(engine::CameraEngine& engine, void* parent, int templateId) {
  DialogState& s = state();
  DialogRequest request;
  DialogEntry entry = nullptr;
  const uint16_t language = languageSetting(engine);
  {
    std::lock_guard lock(s.mutex);
    ensureLanguages(s, language);
    entry = reinterpret_cast<DialogEntry>(windowEntry(s, kDialogEntryName, true));
    request.dialogModule = &s.languages->module();
    request.ownModule = s.own.get();
    if (const std::string* icon = s.own->icon(kIconResource)) {
      std::vector<std::string> folders{s.directory};
      for (const std::string& d : platform::dataDirectories()) folders.push_back(d);
      const std::string folder = platform::folderHolding(folders, *icon);
      if (!folder.empty()) request.iconPath = folder + "/" + *icon;
    }
  }
  if (entry == nullptr) return;
  EngineHost host(engine, s, parent);
  request.templateId = templateId;
  request.parent = parent;
  request.host = &host;
  if (entry(&request) == 0) report("the dialogs need a program with a window");
}

}  // namespace

void ShowSettings(engine::CameraEngine& engine, void* parent) { show(engine, parent, kFrameTemplate); }

void ShowAbout(engine::CameraEngine& engine, void* parent) { show(engine, parent, kAboutTemplate); }

PageResources pageResources(engine::CameraEngine& engine, void* parent) {
  DialogState& s = state();
  const uint16_t language = languageSetting(engine);
  PageResources resources;
  {
    std::lock_guard lock(s.mutex);
    ensureLanguages(s, language);
    resources.pageTemplate = findTemplate(&s.languages->module(), s.own.get(), kPageTemplate);
  }
  resources.host = std::make_unique<EngineHost>(engine, s, parent);
  resources.title = resources.host->text(kPageTitleText);
  return resources;
}

const platform::ResourceModule* ResourceModule(engine::CameraEngine& engine) {
  DialogState& s = state();
  const uint16_t language = languageSetting(engine);
  std::lock_guard lock(s.mutex);
  ensureLanguages(s, language);
  return &s.languages->module();
}

void LibraryHooks::showMessage(const std::string& title, const std::string& text, uint32_t flags) {
  engine::EngineHooks::showMessage(title, text, flags);  // the log keeps it too
  DialogState& s = state();
  MessageEntry entry = nullptr;
  {
    std::lock_guard lock(s.mutex);
    // A program whose windows the library already shows (the dialogs' module is loaded)
    // gets a box; the library loads no toolkit into a program for a message.
    entry = reinterpret_cast<MessageEntry>(windowEntry(s, kMessageEntryName, false));
  }
  if (entry == nullptr) return;
  MessageRequest request;
  request.title = title;
  request.text = text;
  request.flags = flags;
  entry(&request);
}

std::string LibraryHooks::text(uint32_t id, const char* english) {
  DialogState& s = state();
  std::lock_guard lock(s.mutex);
  if (s.languages) {
    if (const std::u16string* t = s.languages->module().string(id)) return platform::utf16ToUtf8Lossy(*t);
    if (const std::u16string* t = s.own->string(id)) return platform::utf16ToUtf8Lossy(*t);
  }
  return english;
}

void releaseLanguages() {
  DialogState& s = state();
  std::lock_guard lock(s.mutex);
  s.languages.reset();
  s.own.reset();
  std::string().swap(s.directory);
}

LibraryHooks& libraryHooks() {
  // Never destroyed: a launcher thread may still report while the process exits.
  alignas(LibraryHooks) static unsigned char storage[sizeof(LibraryHooks)];
  static LibraryHooks* hooks = new (storage) LibraryHooks();
  return *hooks;
}

}  // namespace dialogs
