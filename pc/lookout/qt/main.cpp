// lookout: the viewer. Shows the phone camera's live picture as the library delivers it,
// saves snapshots, and passes clicks and keys to the phone. All camera work goes through
// the library's entry table, opened as a client.
#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>
#include <cstring>
#include <memory>

#include "lookout/viewer_session.h"
#include "lookout_window.h"
#include "platform/clock.h"
#include "platform/key_store.h"
#include "platform/module.h"
#include "vistrel_version.h"

namespace {

// SIGTERM and SIGINT end the viewer as closing its window does, so that the settings are
// still written: the handler only writes a byte that the window thread reads.
int gSignalPipe[2] = {-1, -1};

void onSignal(int) {
  char c = 1;
  ssize_t ignored = ::write(gSignalPipe[1], &c, 1);
  (void)ignored;
}

}  // namespace

int main(int argc, char** argv) {
  if (vistrel::printVersionIfAsked("lookout", argc, argv)) return 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf(
          "Usage: lookout [Qt options]\n"
          "       lookout --help | --version\n"
          "Shows the phone camera's picture that the serving program receives (or receives\n"
          "it itself when none runs). F8 saves the current picture as a dated JPEG in the\n"
          "snapshot folder; clicks and the keys Backspace, Enter, End/#, the arrows, *, the\n"
          "digits and F1-F4 go to the phone.\n"
          "Settings \"KeepActualSize\" and \"Folder\" live in the machine key store\n"
          "(VISTREL_KEY_STORE names another file).\n");
      return 0;
    }
  }

  // Without the library there is nothing to show: say why and end with code 1, so that a
  // broken installation is not taken for a viewer the user closed.
  lookout::ViewerSession session;
  std::string why, error;
  if (!session.open(why, error)) {
    std::fprintf(stderr, "lookout: %s\n", why.c_str());
    return 1;
  }
  if (!error.empty()) std::fprintf(stderr, "lookout: %s\n", error.c_str());
  const platform::ResourceModule* own = session.ownModule();
  const lookout::ViewerTexts& ownTexts = session.ownTexts();

  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromStdU16String(ownTexts.text(lookout::kClassText)));
  QApplication::setDesktopFileName("vistrel-lookout");

  lookout::LookoutWindow window;
  if (own) {
    if (const std::string* icon = own->icon(132)) {
      // Pictures are data: beside the program in the build tree, share/vistrel installed.
      std::string dir = platform::folderHolding(platform::dataDirectories(), *icon);
      if (!dir.empty()) window.setWindowIcon(QIcon(QString::fromStdString(dir + "/" + *icon)));
    }
  }
  if (window.windowIcon().isNull()) window.setWindowIcon(QIcon::fromTheme("vistrel-lookout"));

  lookout::ViewerPresenter& presenter = session.makePresenter(window);
  window.attach(&presenter);
  presenter.initialize();
  if (!presenter.startFrameThread()) {
    std::fprintf(stderr, "lookout: cannot start the frame thread\n");
    window.attach(nullptr);
    session.close();
    return 0;
  }
  std::unique_ptr<QSocketNotifier> signalNotifier;
  if (::pipe(gSignalPipe) == 0) {
    signalNotifier = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
    QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, &window, [&window] { window.close(); });
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
  }
  window.show();
  int code = app.exec();
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGINT, SIG_DFL);

  window.attach(nullptr);
  if (!session.close()) std::fprintf(stderr, "lookout: the frame thread did not end in time\n");
  return code;
}
