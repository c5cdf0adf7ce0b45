// lookout.exe: the viewer on Windows. Shows the phone camera's live picture as the library
// delivers it, saves snapshots, and passes clicks and keys to the phone. All camera work
// goes through the library's entry table, opened as a client.
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "lookout/device_binding.h"
#include "lookout/viewer_presenter.h"
#include "lookout/viewer_settings.h"
#include "lookout/viewer_texts.h"
#include "lookout_window_win32.h"
#include "platform/clock.h"
#include "platform/key_store.h"
#include "platform/module.h"
#include "platform/resources.h"
#include "vistrel_version.h"

namespace {

// A program of the window subsystem has no console of its own: --help and --version
// write to the console of the program that started it, when there is one.
void useParentConsole() {
  if (AttachConsole(ATTACH_PARENT_PROCESS)) {
    (void)std::freopen("CONOUT$", "w", stdout);
    (void)std::freopen("CONOUT$", "w", stderr);
  }
}

// Icon resource 132 of the viewer's own module: a PNG picture beside the program.
HICON loadIcon(const platform::ResourceModule* own) {
  if (own == nullptr) return nullptr;
  const std::string* name = own->icon(132);
  if (name == nullptr) return nullptr;
  const std::string dir = platform::folderHolding(platform::dataDirectories(), *name);
  if (dir.empty()) return nullptr;
  std::ifstream in(dir + "/" + *name, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty() || bytes.size() > (1u << 20)) return nullptr;
  return CreateIconFromResourceEx(bytes.data(), static_cast<DWORD>(bytes.size()), TRUE, 0x00030000,
                                  0, 0, LR_DEFAULTCOLOR);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "/?") == 0 ||
        std::strcmp(argv[i], "--version") == 0) {
      useParentConsole();
      break;
    }
  }
  if (vistrel::printVersionIfAsked("lookout", argc, argv)) return 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "/?") == 0) {
      std::printf(
          "Usage: lookout.exe\n"
          "       lookout.exe --help | --version\n"
          "Shows the phone camera's picture that the service receives (or receives it\n"
          "itself when the service does not run). F8 saves the current picture as a dated\n"
          "JPEG in the snapshot folder; clicks and the keys Backspace, Enter, End, the\n"
          "arrows, Print, the digits and F1-F4 go to the phone.\n"
          "Settings \"KeepActualSize\" and \"Folder\" live in HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel.\n");
      std::fflush(stdout);
      return 0;
    }
  }

  // Without the library there is nothing to show: end with code 1 and say why (on the
  // starting program's console, if any), so that a broken installation is not taken for
  // a viewer the user closed.
  lookout::DeviceBinding binding;
  std::string why;
  if (!lookout::bindDevice(platform::loadModule, binding, why)) {
    useParentConsole();
    std::fprintf(stderr, "lookout: %s\n", why.c_str());
    return 1;
  }
  const DeviceEntryTable& table = binding.table;

  lookout::ViewerSettings settings = lookout::readViewerSettings(platform::KeyStore::machine());
  std::string error;
  std::unique_ptr<platform::ResourceModule> own = lookout::loadOwnModule(error);
  if (!error.empty()) std::fprintf(stderr, "lookout: %s\n", error.c_str());
  lookout::ModuleTexts ownTexts(own.get());
  lookout::ModuleTexts texts(lookout::resolveResourceModule(table.GetResourceModule(), own.get()));

  // The folder browser's new style needs OLE on this thread.
  const bool ole = SUCCEEDED(OleInitialize(nullptr));

  lookout::LookoutWindowWin32 window;
  if (!window.create(ownTexts.text(lookout::kClassText), loadIcon(own.get()))) {
    table.Close();
    return 0;
  }
  auto* presenter = new lookout::ViewerPresenter(table, window, ownTexts, texts,
                                                 platform::systemClock(), settings);
  window.attach(presenter);
  presenter->initialize();
  if (!presenter->startFrameThread()) {
    table.Close();
    return 0;
  }
  ShowWindow(window.handle(), SW_SHOWNORMAL);
  UpdateWindow(window.handle());

  MSG message;
  int code = 0;
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      code = static_cast<int>(message.wParam);
      break;
    }
    if (got < 0) break;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }

  bool ended = presenter->shutdown();
  lookout::writeViewerSettings(platform::KeyStore::machine(), presenter->settings());
  window.attach(nullptr);
  if (ended) {
    delete presenter;
  } else {
    // A frame thread stuck in the library keeps what it uses: the presenter and the
    // library stay until the process ends.
    (void)binding.module.release();
  }
  if (ole) OleUninitialize();
  return code;
}
