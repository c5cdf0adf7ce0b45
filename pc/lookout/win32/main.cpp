// lookout.exe: the viewer on Windows. Shows the phone camera's live picture as the library
// delivers it, saves snapshots, and passes clicks and keys to the phone. All camera work
// goes through the library's entry table, opened as a client.
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "lookout/viewer_session.h"
#include "lookout_window_win32.h"
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
  lookout::ViewerSession session;
  std::string why, error;
  if (!session.open(why, error)) {
    useParentConsole();
    std::fprintf(stderr, "lookout: %s\n", why.c_str());
    return 1;
  }
  if (!error.empty()) std::fprintf(stderr, "lookout: %s\n", error.c_str());

  // The folder browser's new style needs OLE on this thread.
  const bool ole = SUCCEEDED(OleInitialize(nullptr));

  lookout::LookoutWindowWin32 window;
  if (!window.create(session.ownTexts().text(lookout::kClassText), lookout::loadViewerIcon(session.ownModule()))) {
    session.close();
    return 0;
  }
  lookout::ViewerPresenter& presenter = session.makePresenter(window);
  window.attach(&presenter);
  presenter.initialize();
  if (!presenter.startFrameThread()) {
    window.attach(nullptr);
    session.close();
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

  window.attach(nullptr);
  session.close();
  if (ole) OleUninitialize();
  return code;
}
