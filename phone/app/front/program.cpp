#include "front/program.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "core/capture_context.h"
#include "front/command_line.h"
#include "front/front_host.h"
#include "front/settings_command.h"
#include "front/single_instance.h"
#include "platform/help.h"
#include "platform/key_store.h"
#include "platform/module.h"
#include "platform/utf16.h"
#include "platform/wake.h"
#include "settings/settings_store.h"
#include "targets/ftp_target.h"
#include "targets/network_target.h"
#include "texts/language_table.h"
#include "texts/text_ids.h"
#include "ui/menu_bars.h"
#include "ui/menu_builder.h"
#include "vistrel_version.h"

namespace front {

void takeEndRequest(int signalFd) { platform::takeEndRequest(signalFd); }

namespace {

std::string utf8(const std::u16string& s) { return platform::utf16ToUtf8Lossy(s); }

// The main window without a display: messages go to standard error, the timer and the
// hand-over of a second copy are served by a wait loop, and the "Connecting..." dialog,
// with nobody to press Cancel, reports the attempts and answers at once.
class HeadlessFront final : public FrontHost {
 public:
  explicit HeadlessFront(std::string helpDirectory) : helpDirectory_(std::move(helpDirectory)) {}

  void setCommandText(int command, const std::u16string& text) override {
    if (command != core::kCommandSoftKey) return;
    const bool capturing = text == stopText;
    if (capturing != capturingShown_) {
      std::fprintf(stderr, "vistrel: capture %s\n", capturing ? "started" : "stopped");
      capturingShown_ = capturing;
    }
  }
  void showMessage(const std::u16string& text, const std::u16string& caption) override {
    if (caption.empty()) {
      std::fprintf(stderr, "vistrel: %s\n", utf8(text).c_str());
    } else {
      std::fprintf(stderr, "vistrel: %s: %s\n", utf8(caption).c_str(), utf8(text).c_str());
    }
  }
  void setWaitCursor(bool) override {}
  void invalidate() override {}
  void startTimer(uint32_t, uint32_t ms) override {
    timerMs_ = ms;
    nextTimer_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  }
  void stopTimer(uint32_t) override { timerMs_ = 0; }
  // Without a desktop session there is no idle inhibitor to ask.
  void resetIdleTimer() override {}
  uint32_t displayRotationDegrees() override { return 0; }
  void clientSize(int32_t& width, int32_t& height) override {
    width = 320;
    height = 240;
  }
  void drawPreview(const core::PreviewBitmap&) override {}
  void fill(uint32_t) override {}
  void postCommandReceived() override { posted_.push_back(kCommandReceived); }
  // From the link's sending thread: wakes the wait loop.
  void postPropertyCommands() override { wake_.notify(); }
  void rebuildMenu() override {}
  bool openHelp(const std::u16string& topic) override {
    return texts::OpenHelp(topic, helpDirectory_);
  }
  void closeWindow() override { posted_.push_back(kClose); }
  void postQuit(int code) override {
    quit_ = true;
    quitCode_ = code;
  }

  // Nobody sees the popups or the dialogs.
  void setButtonMenu(int, const ui::Menu&) override {}
  void openButtonMenu(int) override {}
  int runNetworkSettings(targets::NetworkTarget&, void*) override { return 0; }
  int runFtpSettings(targets::FtpTarget&, void*) override { return 0; }
  void runSettingsPanel(sources::CaptureSource&) override {}
  void runLanguageDialog() override {}
  void runAbout() override {}
  void* owner() override { return nullptr; }

  int runConnecting(targets::ConnectingDialog&) override { return 1; }
  void statusChanged(targets::ConnectingDialog& dialog) override {
    if (quiet) return;
    const uint32_t attempts = dialog.attempts();
    const uint32_t address = dialog.address();
    std::lock_guard lock(statusMutex_);
    // Every change of address, and the attempts sparingly.
    if (address != shownAddress_ || attempts == 1 || (attempts != 0 && attempts % 20 == 0)) {
      std::fprintf(stderr, "vistrel: Connecting... IP: %s Attempt: %u\n",
                   utf8(targets::dottedAddress(address)).c_str(), attempts);
      shownAddress_ = address;
    }
  }

  int run(Program& program) override {
    core::CaptureContext& context = *program.context;
    InstanceChannel& channel = *program.channel;
    // The window comes up and is active at once.
    context.onCreate();
    context.onActivate(true, false);
    if (program.started) program.started();
    while (!quit_) {
      while (!posted_.empty() && !quit_) {
        const int message = posted_.front();
        posted_.pop_front();
        if (message == kCommandReceived) context.onCommandReceived();
        if (message == kClose) context.onDestroy();
      }
      if (quit_) break;
      int waitMs = -1;
      if (timerMs_ != 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              nextTimer_ - std::chrono::steady_clock::now())
                              .count();
        waitMs = left < 0 ? 0 : static_cast<int>(left);
      }
      const int fds[3] = {channel.fd(), program.signalFd, wake_.fd()};
      bool ready[3];
      const int r = platform::waitReadable(fds, ready, 3, waitMs);
      if (r > 0 && ready[2]) {
        wake_.drain();
        context.onPropertyCommands();
      }
      if (r > 0 && ready[1]) {
        takeEndRequest(program.signalFd);
        context.onDestroy();  // a request to end: close the window as the Exit command does
        continue;
      }
      if (r > 0 && ready[0]) {
        HandOverMessage message;
        if (channel.receive(message, 1000)) channel.reply(program.onHandOver(message));
      }
      if (timerMs_ != 0 && std::chrono::steady_clock::now() >= nextTimer_) {
        nextTimer_ += std::chrono::milliseconds(timerMs_);
        if (nextTimer_ < std::chrono::steady_clock::now()) {
          nextTimer_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(timerMs_);
        }
        context.onTimer(core::kTimerId);
        if (program.onTimer) program.onTimer();
      }
    }
    return quitCode_;
  }

 private:
  static constexpr int kCommandReceived = 1;
  static constexpr int kClose = 2;
  std::string helpDirectory_;
  std::deque<int> posted_;
  platform::WakeUp wake_;  // the property commands' wake-up
  bool quit_ = false;
  int quitCode_ = 0;
  uint32_t timerMs_ = 0;
  std::chrono::steady_clock::time_point nextTimer_;
  bool capturingShown_ = false;
  std::mutex statusMutex_;
  uint32_t shownAddress_ = 0xFFFFFFFFu;
};

}  // namespace

std::u16string commandLineText(int argc, char** argv) {
  return platform::utf8ToUtf16Lossy(joinArguments(std::vector<std::string>(argv + 1, argv + argc)));
}

namespace {
constexpr const char kUsage[] = R"(Usage: vistrel [OPTION]... [-pPORT]

The device program: captures the camera (or the screen, or the microphone), compresses
the pictures to JPEG and streams them to the PC over one TCP connection. With a display
it opens its window: the preview, "Start"/"Stop" (Enter) and "Menu" (F2) with the
sources, the target ("Mode"), their settings, the language and "About"; Ctrl+Q ends it.
Without a display it runs headless: given -p or --start it starts capturing at once;
otherwise it previews and waits for a -p handed over by a later start.

Front:
  --window        open the window (an error when there is no display)
  --headless      run without a window even where a display is available
The window opens when DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM is set and this
vistrel was built with its window front; settings commands (below) never open it.

Capture:
  -pPORT          connect to the PC on PORT and start capturing (as the PC's launcher
                  does); PORT + 65536 forces a reconnection
  --start         start capturing with the current target at once
  -q, --quiet     no "connected to" and status lines (errors are still shown)

Settings (the same rules as the menus and the setting editor):
  --settings      list every source's and target's settings with their values and
                  choices, the enabled sources (*) and the current target (*)
  --set "Source/Name=value"
                  change one setting, for example --set "Camera/Resolution=640x480",
                  --set "Camera/Quality=Best", --set "Network/RemoteIP=192.168.1.20",
                  --set "Network/RemoteIPAuto=off". A choice is given by its label (as
                  --settings shows it) or its index from 0; a number setting by value
  --enable NAME   enable a source (a camera or the screen disables the other cameras)
  --disable NAME  disable a source
  --target NAME   make NAME the current target
Without -p or --start, settings options change the saved settings and end. When a copy
of vistrel is already running, the whole command line goes to it: it applies the
settings at once (a camera setting changed while capturing reaches the PC), and what it
says (messages, the --settings listing) is printed by the later start.

  -h, --help      show this text
  --version       print the version

Headless, a source that cannot start (unplugged, busy) stays enabled and is tried again
at the next start of capture. A run that ends without saving (crash, kill -9) is
counted; after 3 such runs in a row the camera sources start disabled, and the program
says how to enable them again.

The PC is reached as "localhost" unless the settings' "Network" key names another host.
With "Mode"="FTP" in the settings the device uploads a picture to an FTP server at an
interval instead (settings key "FTP"), and starts doing so at once.
Settings live in the machine's settings file (VISTREL_KEY_STORE names another file).
The camera is the first V4L2 capture device ("framesink: no camera found" when there is
none); VISTREL_FRAMESINK_DEVICE=test-pattern picks the built-in test-pattern camera;
VISTREL_DEVICE names a file that presents another device. Ctrl-C ends the program and
saves its settings. See docs/device-program.md.
)";

// Headless, a run must end without saving this many times in a row before the camera
// sources start disabled.
constexpr uint32_t kHeadlessCrashedRuns = 3;
constexpr auto kStatusInterval = std::chrono::seconds(5);
// The answer to a second copy whose settings were (partly) refused; 1 is the usual one.
constexpr uint32_t kHandOverRefused = 2;

void printMessages(const std::vector<std::string>& messages) {
  for (const std::string& m : messages) std::fprintf(stderr, "vistrel: %s\n", m.c_str());
}

// "connected to" once per link, and every few seconds what went out.
class StatusReporter {
 public:
  explicit StatusReporter(core::CaptureContext& context) : context_(context) {}

  void tick() {
    auto* network = dynamic_cast<targets::NetworkTarget*>(context_.currentTarget);
    const bool up = context_.capturing() && network && network->linkUp();
    if (up && !linked_) {
      const int32_t port = network->portOverride();
      std::fprintf(stderr, "vistrel: connected to %s:%u\n",
                   utf8(targets::dottedAddress(network->connectingDialog().address())).c_str(),
                   static_cast<unsigned>(port > 0 ? static_cast<uint32_t>(port) & 0xFFFF
                                                  : network->remotePort));
    } else if (!up && linked_ && context_.capturing()) {
      std::fprintf(stderr, "vistrel: connection lost; connecting again\n");
    }
    linked_ = up;
    const auto now = std::chrono::steady_clock::now();
    // Pictures dropped by the link were fetched but never sent.
    const uint64_t dropped = network ? network->framesDropped() : 0;
    const uint64_t frames = context_.framesFetched.load() - dropped;
    const uint64_t bytes = context_.bytesFetched.load() - (network ? network->bytesDropped() : 0);
    if (!context_.capturing()) {
      last_ = now, frames_ = frames, bytes_ = bytes;
      return;
    }
    const double seconds = std::chrono::duration<double>(now - last_).count();
    if (seconds < std::chrono::duration<double>(kStatusInterval).count()) return;
    std::fprintf(stderr, "vistrel: sent %llu frames, %.1f frames/s, %.0f kbit/s, %llu frames dropped\n",
                 static_cast<unsigned long long>(frames), (frames - frames_) / seconds,
                 (bytes - bytes_) * 8.0 / 1000.0 / seconds, static_cast<unsigned long long>(dropped));
    last_ = now, frames_ = frames, bytes_ = bytes;
  }

 private:
  core::CaptureContext& context_;
  bool linked_ = false;
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
  uint64_t frames_ = 0, bytes_ = 0;
};

}  // namespace

bool chooseWindowFront(const CommandLine& commandLine, const WindowFront* window, std::string& error) {
  if (commandLine.headless || commandLine.settingsOnly()) return false;
  const bool built = window && window->create && window->displayAvailable;
  if (commandLine.window) {
    if (!built) {
      error = "--window: this vistrel was built without its window front (Qt 6 Widgets)";
    } else if (!window->displayAvailable()) {
      error = "--window: no display to open the window on (DISPLAY, WAYLAND_DISPLAY and "
              "QT_QPA_PLATFORM are not set)";
    }
    return error.empty();
  }
  return built && window->displayAvailable();
}

int runVistrel(int argc, char** argv, const SourceBuilder& buildSources, const ProgramExtras& extras) {
  if (vistrel::printVersionIfAsked("vistrel", argc, argv)) return 0;
  const std::vector<std::string> args(argv + 1, argv + argc);
  CommandLine commandLine;
  std::string error;
  if (!parseCommandLine(args, commandLine, error)) {
    std::fprintf(stderr, "vistrel: %s\n", error.c_str());
    return 2;
  }
  if (commandLine.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const bool windowed = chooseWindowFront(commandLine, extras.window, error);
  if (!error.empty()) {
    std::fprintf(stderr, "vistrel: %s\n", error.c_str());
    return 1;
  }
  const std::string programPath = texts::defaultProgramPath();
  const texts::Diagnostics toStderr = [](const std::string& m) {
    std::fprintf(stderr, "vistrel: %s\n", m.c_str());
  };

  // 1-2: one running copy; a second start hands its command line over and ends.
  std::unique_ptr<platform::ResourceModule> own = texts::loadOwnModule(programPath, toStderr);
  char16_t title[101] = {}, windowClass[101] = {};
  own->loadString(texts::kStringWindowTitle, title, 101);
  own->loadString(texts::kStringWindowClass, windowClass, 101);
  const std::string name = instanceName(windowClass, title);
  std::unique_ptr<InstanceChannel> channel = InstanceChannel::claim(name);
  if (!channel) {
    uint32_t answer = 0;
    std::string output, errors;
    if (!handOver(name, commandLineText(argc, argv), 5000, &answer, &output, &errors)) {
      std::fprintf(stderr, "vistrel: another copy runs but did not answer\n");
      return 1;
    }
    if (!commandLine.changes.empty() || commandLine.list) {
      std::fprintf(stderr, "vistrel: handed to the running copy\n");
    }
    std::fputs(errors.c_str(), stderr);
    std::fputs(output.c_str(), stdout);
    if (answer == kHandOverRefused) {
      std::fprintf(stderr, "vistrel: the running copy refused a change\n");
      return 1;
    }
    return 0;
  }

  // 3-4: command text, device, settings, language, sources and targets.
  std::unique_ptr<FrontHost> host = windowed ? extras.window->create(argc, argv, texts::helpDirectory())
                                             : std::make_unique<HeadlessFront>(texts::helpDirectory());
  FrontHost& window = *host;
  window.quiet = commandLine.quiet;
  const int endRequests = platform::installEndRequests();
  if (endRequests < 0) return 1;

  const platform::ProbeDiagnostics probeNotes = [](const std::string& m) {
    std::fprintf(stderr, "vistrel: %s\n", m.c_str());
  };
  std::unique_ptr<platform::DeviceProbe> probe = platform::systemDeviceProbe(probeNotes);
  sources::SystemModuleLoader modules;
  const sources::DeviceInfo device = sources::probeDevice(*probe, modules);

  settings::SettingsStore store(platform::KeyStore::machine());
  store.setMainPath(settings::kSettingsPath);
  texts::LanguageTable language(store, programPath, toStderr);
  language.LoadLanguageList(*own);
  window.stopText = language.Text(texts::kTextStop) ? language.Text(texts::kTextStop) : u"";

  std::unique_ptr<core::PreviewConverter> converter =
      extras.previewConverter ? extras.previewConverter(device) : nullptr;
  core::CaptureContext::Options options;
  options.store = &store;
  options.text = [&language](uint32_t id) { return language.Text(id); };
  options.view = &window;
  options.converter = converter.get();
  options.smartphone = device.isSmartphone;
  if (!windowed) {
    // Nobody is there to enable a source again from a menu.
    options.keepFailedSourcesEnabled = true;
    options.crashedRunsBeforeDisabling = kHeadlessCrashedRuns;
  }
  core::CaptureContext context(options);
  const std::u16string targetText = platform::utf8ToUtf16Lossy(joinArguments(commandLine.rest));
  if (!targetText.empty()) context.commandText = std::make_unique<std::u16string>(targetText);

  SourceContext sourceContext;
  sourceContext.store = &store;
  sourceContext.text = options.text;
  context.sources = buildSources(device, modules, *probe, sourceContext);
  targets::NetworkTarget::Options networkOptions;
  networkOptions.connecting = &window;
  networkOptions.text = options.text;
  networkOptions.runSettings = [&window](targets::NetworkTarget& target, void* owner) {
    return window.runNetworkSettings(target, owner);
  };
  context.targets.push_back(std::make_unique<targets::NetworkTarget>(store, networkOptions));
  // The FTP uploader's worker reports its error and, with "Power safe", switches the
  // sources itself (the headless window thread does not touch them while capturing).
  targets::FtpTarget::Options ftpOptions;
  ftpOptions.showError = [&window](const std::u16string& text, const std::u16string& caption) {
    window.showMessage(text, caption);
  };
  ftpOptions.sourcesOff = [&context] {
    context.StartSources(false);
    context.stopStartedSources();
  };
  ftpOptions.runSettings = [&window](targets::FtpTarget& target, void* owner) {
    return window.runFtpSettings(target, owner);
  };
  ftpOptions.sourcesOn = [&context] {
    context.StartSources(false);
    context.StartSources(true);
  };
  context.targets.push_back(std::make_unique<targets::FtpTarget>(store, ftpOptions));
  context.loadState();
  if (context.camerasDisabledByCrashes && !windowed) {
    std::fprintf(stderr,
                 "vistrel: the last %u runs ended without saving (crashed or killed); the camera "
                 "sources start disabled. Enable one again with: vistrel --enable Camera\n",
                 context.crashedRuns);
  } else if (context.crashedRuns > 0 && !windowed) {
    std::fprintf(stderr,
                 "vistrel: the last run ended without saving (crashed or killed); %u such runs in a "
                 "row so far, the camera sources start disabled after %u\n",
                 context.crashedRuns, kHeadlessCrashedRuns);
  }

  ui::MenuBuilder::Hooks menuHooks;
  menuHooks.languageCount = [&language] { return language.count(); };
  menuHooks.setWaitCursor = [&window](bool wait) { window.setWaitCursor(wait); };
  menuHooks.runSettingsPanel = [&window](sources::CaptureSource& s) { window.runSettingsPanel(s); };
  menuHooks.runLanguageDialog = [&window] { window.runLanguageDialog(); };
  menuHooks.runAbout = [&window] { window.runAbout(); };
  menuHooks.destroyWindow = [&window] { window.closeWindow(); };
  menuHooks.owner = window.owner();
  ui::MenuBuilder menu(context, window, menuHooks);

  const TargetFields fields = deviceTargetFields;
  FrontHost::Program program;
  program.context = &context;
  program.language = &language;
  program.device = &device;
  program.menu = &menu;
  program.channel = channel.get();
  program.signalFd = endRequests;
  int exitCode = 0;

  // Once the window is up and active: settings given on the command line, the listing,
  // and 8: the command line's command for the target.
  program.started = [&] {
    std::vector<std::string> messages;
    const bool applied = applySettingChanges(context, menu, commandLine.changes, fields, messages);
    printMessages(messages);
    if (commandLine.list) std::fputs(listSettings(context, fields).c_str(), stdout);
    if (commandLine.settingsOnly()) {
      exitCode = applied ? 0 : 1;
      context.onDestroy();  // saves everything, as the Exit command does
      return;
    }
    if (context.currentTarget && context.commandText && !context.commandText->empty()) {
      if (context.currentTarget->Command(context.commandText->c_str(), 0) && !context.capturing()) {
        context.ToggleCapture();
      }
    }
    // Without a display nobody presses Start: the FTP uploader, which waits for no PC to
    // hand it a port, starts at once.
    if (!windowed && context.currentTarget &&
        context.currentTarget->Name() == std::u16string_view(u"FTP") && !context.capturing()) {
      context.ToggleCapture();
    }
    if (commandLine.start && !context.capturing()) context.ToggleCapture();
  };

  // A later start's command line: its settings first, then the rest for the target.
  // What it prints comes back to the later start, which prints it on its own output; the
  // messages are also printed here, where they say what this copy did.
  program.onHandOver = [&](const HandOverMessage& message) -> HandOverAnswer {
    CommandLine handed;
    std::string problem;
    if (!parseCommandLine(splitArguments(utf8(message.text)), handed, problem)) {
      std::fprintf(stderr, "vistrel: handed-over command line: %s\n", problem.c_str());
      return {kHandOverRefused, {}, "vistrel: the running copy: " + problem + "\n"};
    }
    const bool ours = !handed.changes.empty() || handed.list || handed.start || handed.quiet;
    std::vector<std::string> messages;
    const bool ok = applySettingChanges(context, menu, handed.changes, fields, messages);
    printMessages(messages);
    HandOverAnswer answer{ok ? 1u : kHandOverRefused, {}, {}};
    for (const std::string& m : messages) answer.errors += "vistrel: " + m + "\n";
    if (handed.list) answer.output = listSettings(context, fields);
    if (!ours) {
      context.onCopyData(message.hasData ? message.text.c_str() : nullptr, message.text.size());
    } else if (!handed.rest.empty()) {
      const std::u16string rest = platform::utf8ToUtf16Lossy(joinArguments(handed.rest));
      context.onCopyData(rest.c_str(), rest.size());
    }
    if (handed.start && !context.capturing()) context.ToggleCapture();
    return answer;
  };
  StatusReporter status(context);
  if (!commandLine.quiet) program.onTimer = [&status] { status.tick(); };

  // 5-7 and 9: the window and the message loop.
  const int code = window.run(program);
  context.commandText.reset();
  return exitCode != 0 ? exitCode : code;
}

}  // namespace front
