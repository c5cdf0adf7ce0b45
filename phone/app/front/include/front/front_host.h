#pragma once

// What the program's start needs of a front: the main window's view, the "Connecting..."
// dialog's host, the popups behind the soft keys, the modal dialogs opened from the menu,
// and the message loop. The headless front (program.cpp) and the window front (qt/)
// implement it.
//
// Threading: the window thread, except WindowView::invalidate and
// ConnectingHost::statusChanged, which other threads call.

#include <functional>
#include <memory>
#include <string>

#include "core/capture_context.h"
#include "front/single_instance.h"
#include "sources/device_info.h"
#include "targets/network_target.h"
#include "texts/language_table.h"
#include "ui/menu_builder.h"
#include "ui/menu_view.h"

namespace targets {
class FtpTarget;
}

namespace front {

class FrontHost : public core::WindowView, public targets::ConnectingHost, public ui::MenuView {
 public:
  // Everything the front drives, built by the program's start once the front exists.
  struct Program {
    core::CaptureContext* context = nullptr;
    texts::LanguageTable* language = nullptr;
    const sources::DeviceInfo* device = nullptr;
    ui::MenuBuilder* menu = nullptr;
    InstanceChannel* channel = nullptr;
    int signalFd = -1;  // readable when the process was asked to end; see takeEndRequest
    // A second copy's command line; the answer it gets.
    std::function<HandOverAnswer(const HandOverMessage&)> onHandOver;
    std::function<void()> onTimer;  // after each timer step
    // Once the window was created and first activated (the sources run): the command
    // line's settings and its command for the target.
    std::function<void()> started;
  };

  // The soft-key text that means capture runs ("Stop").
  std::u16string stopText;
  bool quiet = false;

  // The link's settings dialog (600) over `owner`; 0 where there is no window.
  virtual int runNetworkSettings(targets::NetworkTarget& target, void* owner) = 0;
  // The FTP uploader's settings dialog (604) over `owner`; 0 where there is no window.
  virtual int runFtpSettings(targets::FtpTarget& target, void* owner) = 0;
  // The dialogs the menu opens.
  virtual void runSettingsPanel(sources::CaptureSource& source) = 0;
  virtual void runLanguageDialog() = 0;
  virtual void runAbout() = 0;
  // The owner handed to a target's settings dialog.
  virtual void* owner() = 0;

  // Runs the main window until it closes (the window is created and activated here);
  // the exit code.
  virtual int run(Program& program) = 0;
};

// A window front that may or may not be built in.
struct WindowFront {
  // Whether a display can be opened (without opening it).
  std::function<bool()> displayAvailable;
  std::function<std::unique_ptr<FrontHost>(int& argc, char** argv, const std::string& programDirectory)>
      create;
};

// Takes one pending request to end from `signalFd` (call when it is readable).
void takeEndRequest(int signalFd);

}  // namespace front
