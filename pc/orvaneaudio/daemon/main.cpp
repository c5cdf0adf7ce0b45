// orvaneaudio: the virtual microphone. Hosts the feed ring and its control device, and
// shows the ring to audio programs as a PipeWire source node (and to ALSA programs
// through the orvaneaudio PCM plugin).

#include <signal.h>
#include <time.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "microphone_host.h"
#include "orvaneaudio/feed_control.h"
#include "pipewire_source.h"
#include "platform/device_io.h"
#include "shared_ring.h"
#include "vistrel_version.h"

namespace {

void usage(FILE* to) {
  std::fprintf(to,
               "Usage: orvaneaudio [--node-name NAME] [--description TEXT] [--no-pipewire]\n"
               "                   [--no-alsa]\n"
               "Serves the control device %s and shows what it is fed as a microphone:\n"
               "a PipeWire source node and the ring the ALSA PCM \"orvaneaudio\" reads.\n"
               "\n"
               "  --node-name NAME     name of the PipeWire node (default orvaneaudio)\n"
               "  --description TEXT   its description (default \"Vistrel Microphone\")\n"
               "  --no-pipewire        do not publish the PipeWire node\n"
               "  --no-alsa            do not offer the ring to the ALSA plugin\n"
               "  -h, --help           show this text\n"
               "  --version            print the version\n"
               "Record with: pw-record --target orvaneaudio --rate 8000 --channels 1 out.wav\n"
               "         or: arecord -D orvaneaudio -f S16_LE -r 8000 -c 1 out.wav\n",
               orvaneaudio::kDevicePath);
}

}  // namespace

int main(int argc, char** argv) {
  if (vistrel::printVersionIfAsked("orvaneaudio", argc, argv)) return 0;
  using namespace orvaneaudio;
  PipeWireSource::Options pw;
  bool usePipeWire = true;
  bool useAlsa = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--node-name" && i + 1 < argc) {
      pw.nodeName = argv[++i];
    } else if (arg == "--description" && i + 1 < argc) {
      pw.description = argv[++i];
    } else if (arg == "--no-pipewire") {
      usePipeWire = false;
    } else if (arg == "--no-alsa") {
      useAlsa = false;
    } else {
      const bool help = arg == "--help" || arg == "-h";
      usage(help ? stdout : stderr);
      return help ? 0 : 2;
    }
  }

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  std::string error;
  std::unique_ptr<SharedRing> shared;
  if (useAlsa) {
    shared = SharedRing::create(&error);
    if (!shared) {
      std::fprintf(stderr, "orvaneaudio: no ring for the ALSA plugin: %s\n", error.c_str());
      return 1;
    }
  }
  SharedRing* sharedRaw = shared.get();
  MicrophoneHost host(shared ? shared->ring() : nullptr, [sharedRaw, &host] {
    if (sharedRaw != nullptr) sharedRaw->publish(host.ring());
  });
  // The registry's streams live in the host's ring: end the registry before the host.
  struct RegistryStop {
    SharedRing* shared;
    ~RegistryStop() {
      if (shared != nullptr) shared->stop();
    }
  } registryStop{sharedRaw};
  if (shared && !shared->serve(host.ring(), &error)) {
    std::fprintf(stderr, "orvaneaudio: ALSA streams not served: %s\n", error.c_str());
    return 1;
  }
  if (!host.serve(kDevicePath, &error)) {
    std::fprintf(stderr, "orvaneaudio: %s\n", error.c_str());
    return 1;
  }
  std::unique_ptr<PipeWireSource> source;
  if (usePipeWire) {
    source = PipeWireSource::start(host.ring(), pw, &error);
    if (!source) {
      std::fprintf(stderr, "orvaneaudio: %s; trying again every 2 s\n", error.c_str());
    }
  }
  std::fprintf(stderr, "orvaneaudio: serving %s (@%s)%s%s%s\n", kDevicePath,
               platform::deviceEndpointName(kDevicePath).c_str(),
               source ? ", PipeWire node " : "", source ? pw.nodeName.c_str() : "",
               shared ? ", ALSA plugin streams" : "");

  // PipeWire may start after us, or restart under us: the node comes back by itself
  // (tried every 2 s), while the control device and the ALSA streams carry on.
  const timespec poll{0, 200'000'000};
  int sincePipeWireTry = 0;
  for (;;) {
    const int sig = sigtimedwait(&signals, nullptr, &poll);
    if (sig == SIGINT || sig == SIGTERM) break;
    if (source && !source->alive()) {
      std::fprintf(stderr, "orvaneaudio: lost the connection to PipeWire\n");
      source.reset();
      sincePipeWireTry = 0;
    }
    if (usePipeWire && !source && ++sincePipeWireTry >= 10) {
      sincePipeWireTry = 0;
      source = PipeWireSource::start(host.ring(), pw, &error);
      if (source) std::fprintf(stderr, "orvaneaudio: PipeWire node %s is back\n", pw.nodeName.c_str());
    }
  }
  return 0;
}
