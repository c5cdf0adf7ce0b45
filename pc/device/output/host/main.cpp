// vistrel-camera: the phone as a camera in the user's session. Opens the engine (client
// when a serving process runs, else stand-alone and listening for the phone), publishes
// the PipeWire camera node "Vistrel" and, with --device, writes the same pictures to a
// v4l2loopback device. Stops on SIGINT or SIGTERM.

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "camera_outputs.h"
#include "output/camera_controls.h"
#include "engine/service_link.h"
#include "output/capture_pin.h"
#include "output/engine_link.h"
#include "output/v4l2_output.h"
#include "platform/socket.h"
#include "pipewire_camera.h"
#include "vistrel_version.h"
#include "warden/service_control_link.h"

namespace {

constexpr char kUsage[] =
    "Usage: vistrel-camera [options]\n"
    "The phone as a camera: publishes the PipeWire camera \"Vistrel\" that video programs\n"
    "list and open. Before the first phone frame it shows moving colour bars, afterwards\n"
    "the phone's pictures, turned and mirrored as the settings say. When a serving process\n"
    "(the service) runs, the camera shows the frames it publishes; otherwise it listens\n"
    "for the phone itself on the settings' port. When the phone has been silent for 2 s,\n"
    "the camera goes on showing its last picture, dimmed and marked \"NO SIGNAL\", until\n"
    "the phone is back. The phone's camera properties are the node's controls: list them\n"
    "with pw-cli enum-params NODE PropInfo; a value (the index of one of the property's\n"
    "values) set with pw-cli set-param NODE Props '{ params = [ \"Effect\" 2 ] }' goes\n"
    "to the phone.\n"
    "\n"
    "  -d, --device PATH    also write the pictures to a v4l2loopback device\n"
    "                       (for example /dev/video10) for every V4L2 program\n"
    "  -f, --format NAME    picture format on that device: yuyv (default), bgr24, rgb24,\n"
    "                       bgrx, rgbx, i420\n"
    "      --no-pipewire    publish no PipeWire node (only with --device)\n"
    "  -n, --name NAME      PipeWire node name (default Vistrel)\n"
    "  -b, --bind ADDRESS   local address to listen on for the phone when receiving by\n"
    "                       itself: numeric IPv4 or IPv6, 127.0.0.1 or ::1 for this\n"
    "                       machine only (default: the \"ListenAddress\" setting, else\n"
    "                       0.0.0.0, every IPv4 network)\n"
    "      --stall-without-signal\n"
    "                       deliver no pictures while the phone is silent (programs then\n"
    "                       keep showing the last one, and may take the camera for hung)\n"
    "  -h, --help           show this text\n"
    "  --version            print the version\n"
    "\n"
    "Settings (\"Width\", \"Height\", \"Rotation\", \"Mirror\") are read from the key\n"
    "\"Software\\Orvane\\Vistrel\\vistrel-camera\" of the key store; \"Port\" from the key\n"
    "above it. Try: gst-launch-1.0 pipewiresrc target-object=Vistrel num-buffers=1 !\n"
    "videoconvert ! pngenc ! filesink location=cam.png\n";

void say(const std::string& text) { std::fprintf(stderr, "vistrel-camera: %s\n", text.c_str()); }

// The node's controls and the phone's property list kept in step: values programs chose
// go to the phone (through the engine, as the settings page sends them), and the list (a
// new one, or a value the phone reported) is shown again when it changed.
class ControlSync {
 public:
  void step(output::EngineLink& link, output::PipeWireCamera& camera) {
    engine::CameraEngine* engine = link.engine();
    if (engine == nullptr) return;
    const auto chosen = camera.takeChosenValues();
    for (const auto& [key, index] : chosen) {
      if (!engine->setPhoneProperty(key, index))
        say("the value " + std::to_string(index) + " of property " + std::to_string(key) + " could not be sent");
    }
    if (chosen.empty() && ++ticks_ % 10 != 0) return;  // the list is read every 200 ms
    std::vector<output::CameraControl> controls;
    engine->readProperties(
        [&](const std::vector<protocol::PropertyEntry>& list) { controls = output::controlsFromProperties(list); });
    if (controls == shown_) return;
    shown_ = controls;
    camera.setControls(std::move(controls));
  }

 private:
  unsigned ticks_ = 0;
  std::vector<output::CameraControl> shown_;
};

struct Args {
  std::string device;
  std::string format = "yuyv";
  bool pipewire = true;
  std::string name = "Vistrel";
  std::string bind;  // empty: the "ListenAddress" setting
  bool noSignalPictures = true;
};

std::optional<Args> parse(int argc, char** argv, int* exitCode) {
  Args a;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "vistrel-camera: %s needs a value\n", arg.c_str());
        return false;
      }
      *out = argv[++i];
      return true;
    };
    bool ok = true;
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      *exitCode = 0;
      return std::nullopt;
    } else if (arg == "-d" || arg == "--device") {
      ok = value(&a.device);
    } else if (arg == "-f" || arg == "--format") {
      ok = value(&a.format);
    } else if (arg == "--no-pipewire") {
      a.pipewire = false;
    } else if (arg == "-n" || arg == "--name") {
      ok = value(&a.name);
    } else if (arg == "-b" || arg == "--bind") {
      ok = value(&a.bind);
      if (ok && !platform::isListenAddress(a.bind)) {
        std::fprintf(stderr, "vistrel-camera: --bind needs a numeric IPv4 or IPv6 address, not %s\n",
                     a.bind.c_str());
        ok = false;
      }
    } else if (arg == "--stall-without-signal") {
      a.noSignalPictures = false;
    } else {
      std::fprintf(stderr, "vistrel-camera: unknown option %s (see --help)\n", arg.c_str());
      ok = false;
    }
    if (!ok) {
      *exitCode = 2;
      return std::nullopt;
    }
  }
  if (!output::parseV4l2Format(a.format)) {
    std::fprintf(stderr, "vistrel-camera: unknown format %s (see --help)\n", a.format.c_str());
    *exitCode = 2;
    return std::nullopt;
  }
  if (!a.pipewire && a.device.empty()) {
    std::fprintf(stderr, "vistrel-camera: --no-pipewire needs --device\n");
    *exitCode = 2;
    return std::nullopt;
  }
  return a;
}

}  // namespace

int main(int argc, char** argv) {
  if (vistrel::printVersionIfAsked("vistrel-camera", argc, argv)) return 0;
  int exitCode = 0;
  const auto args = parse(argc, argv, &exitCode);
  if (!args) return exitCode;

  // Every thread made from here on leaves these signals to the main loop below.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  engine::setServiceLink(&warden::serviceControlLink());
  engine::CameraEngine::Options engineOptions;
  engineOptions.bindAddress = args->bind;
  output::EngineLink link(engineOptions, say);
  link.open();

  const std::shared_ptr<platform::V4l2Io> v4l2Io = platform::systemV4l2Io();
  std::unique_ptr<output::V4l2Output> v4l2;
  if (!args->device.empty()) {
    v4l2 = std::make_unique<output::V4l2Output>(*v4l2Io, args->device,
                                                *output::parseV4l2Format(args->format));
    std::string error;
    if (!v4l2->open(&error) || !v4l2->configure(link.outputWidth(), link.outputHeight(), &error)) {
      say(error);
      return 1;
    }
    say("writing " + args->format + " pictures to " + args->device);
  }

  output::PipeWireCamera::Options pwOptions;
  pwOptions.nodeName = args->name;
  pwOptions.description = args->name;
  pwOptions.maxWidth = link.settingsWidth();
  pwOptions.maxHeight = link.settingsHeight();
  std::unique_ptr<output::PipeWireCamera> pipewire;
  if (args->pipewire) {
    pipewire = std::make_unique<output::PipeWireCamera>();
    std::string error;
    if (!pipewire->start(pwOptions, &error)) {
      say(error);
      return 1;
    }
    say("camera \"" + args->name + "\" published, up to " + std::to_string(pwOptions.maxWidth) +
        "x" + std::to_string(pwOptions.maxHeight));
  }

  output::CameraOutputs outputs(link, pipewire.get(), v4l2.get());
  output::CapturePin pin(link, outputs);
  if (!args->noSignalPictures) pin.setNoSignalAfterMs(0);
  output::CommandQueue commands;
  std::thread streaming;
  bool running = false;
  auto startStreaming = [&] {
    pin.setState(output::FilterState::kRunning);
    outputs.restartClock();
    streaming = std::thread([&] { pin.run(commands); });
    running = true;
  };
  auto stopStreaming = [&] {
    pin.setState(output::FilterState::kStopped);
    commands.post(output::ThreadCommand::kStop);  // seen within one 40 ms frame wait
    streaming.join();
    running = false;
  };

  ControlSync controlSync;
  bool stop = false;
  while (!stop) {
    const timespec tick{0, 20 * 1000 * 1000};
    siginfo_t info;
    const int sig = sigtimedwait(&stopSignals, &info, &tick);
    if (sig == SIGINT || sig == SIGTERM) {
      say(std::string("stopping (") + (sig == SIGINT ? "SIGINT" : "SIGTERM") + ")");
      stop = true;
      break;
    }
    if (pipewire && pipewire->failed()) {
      if (running) stopStreaming();
      say("reconnecting to PipeWire");
      std::string error;
      if (!pipewire->start(pwOptions, &error)) {
        say(error);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        continue;
      }
    }
    if (pipewire) {
      if (auto size = pipewire->takeNegotiatedSize()) {
        const bool wasRunning = running;
        if (running) stopStreaming();
        const output::HResult hr = pin.setFormat(output::buildMediaType(size->first, size->second));
        if (output::failed(hr)) say("the pin refused the size");
        if (wasRunning) startStreaming();
      }
    }
    if (pipewire) controlSync.step(link, *pipewire);
    const bool wanted = (pipewire && pipewire->streaming()) || v4l2 != nullptr;
    if (wanted && !running) {
      startStreaming();
    } else if (!wanted && running) {
      stopStreaming();
    }
  }
  if (running) stopStreaming();
  if (pipewire) {
    const auto s = pipewire->stats();
    say("pictures sent " + std::to_string(s.sent) + ", dropped for want of a buffer " +
        std::to_string(s.noBuffer));
    pipewire->stop();
  }
  if (v4l2) v4l2->close();
  return 0;
}
