// orvaneaudio-feed: feeds the microphone through its control device, the way the frame
// server does. Plays a sine, or raw PCM (s16le, mono, 8000 Hz) read from standard input,
// in blocks at real-time rate.
//
//   orvaneaudio-feed --sine 440 [--amplitude 8000] [--seconds 3] [--block-ms 20]
//   some-decoder | orvaneaudio-feed --stdin [--block-ms 20]

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "orvaneaudio/feed_control.h"
#include "platform/device_io.h"
#include "vistrel_version.h"

namespace {

const char kHelp[] =
    "Usage: orvaneaudio-feed --sine HZ [--amplitude A] [--seconds S] [--block-ms MS]\n"
    "   or: orvaneaudio-feed --stdin [--block-ms MS]\n"
    "Feeds the microphone (the running orvaneaudio) through its control device, the way\n"
    "the frame server does, in blocks at real-time rate: a sine, or raw PCM (s16le, mono,\n"
    "8000 Hz) read from standard input.\n"
    "\n"
    "  --sine HZ         play a sine of HZ\n"
    "  --amplitude A     its amplitude (default 8000)\n"
    "  --seconds S       how long (default 3)\n"
    "  --stdin           play what standard input gives until it ends\n"
    "  --block-ms MS     block length (default 20)\n"
    "  -h, --help        show this text\n"
    "  --version         print the version\n";

}  // namespace

int main(int argc, char** argv) {
  if (vistrel::printVersionIfAsked("orvaneaudio-feed", argc, argv)) return 0;
  using namespace orvaneaudio;
  double hz = 0;
  double amplitude = 8000;
  double seconds = 3;
  int blockMs = 20;
  bool fromStdin = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : "0"; };
    if (a == "--sine") hz = std::atof(next());
    else if (a == "--amplitude") amplitude = std::atof(next());
    else if (a == "--seconds") seconds = std::atof(next());
    else if (a == "--block-ms") blockMs = std::atoi(next());
    else if (a == "--stdin") fromStdin = true;
    else if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else {
      std::fprintf(stderr, "usage: orvaneaudio-feed (--sine HZ [--amplitude A] [--seconds S] | --stdin) [--block-ms MS] (see --help)\n");
      return 2;
    }
  }
  if (blockMs <= 0 || (!fromStdin && hz <= 0)) {
    std::fprintf(stderr, "orvaneaudio-feed: nothing to feed\n");
    return 2;
  }
  auto device = platform::openDevice(kDevicePath);
  if (!device) {
    std::fprintf(stderr, "orvaneaudio-feed: %s is not served (is orvaneaudio running?)\n", kDevicePath);
    return 1;
  }
  const size_t samplesPerBlock = kSampleRateHz * static_cast<size_t>(blockMs) / 1000;
  std::vector<uint8_t> block(samplesPerBlock * 2);
  const size_t totalSamples = static_cast<size_t>(seconds * kSampleRateHz);
  size_t sample = 0;
  auto due = std::chrono::steady_clock::now();
  for (;;) {
    size_t bytes = 0;
    if (fromStdin) {
      while (bytes < block.size()) {
        const ssize_t n = ::read(0, block.data() + bytes, block.size() - bytes);
        if (n <= 0) break;
        bytes += static_cast<size_t>(n);
      }
    } else {
      for (size_t i = 0; i < samplesPerBlock && sample < totalSamples; ++i, ++sample) {
        const double v = amplitude * std::sin(2 * M_PI * hz * static_cast<double>(sample) / kSampleRateHz);
        const auto s = static_cast<int16_t>(std::lround(v));
        block[bytes++] = static_cast<uint8_t>(s);
        block[bytes++] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
      }
    }
    if (bytes == 0) break;
    if (!device->control(IOCTL_AUDIO_FEED_WRITE, block.data(), static_cast<uint32_t>(bytes), nullptr, 0, nullptr)) {
      std::fprintf(stderr, "orvaneaudio-feed: the device refused a block (status 0x%08X)\n",
                   device->lastStatus());
    }
    due += std::chrono::microseconds(static_cast<int64_t>(bytes / 2) * 1'000'000 / kSampleRateHz);
    std::this_thread::sleep_until(due);
  }
  return 0;
}
