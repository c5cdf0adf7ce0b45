// vistrel-receive: a stand-alone frame server for trying the phone link without the
// viewer. Writes every frame handed over to a numbered JPEG file, prints the phone's
// property lists and value reports, counts sound blocks, and sends taps, keys and property
// choices.
#include <poll.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "decoder/bmp_file.h"
#include "decoder/jpeg_decoder.h"
#include "decoder/render_geometry.h"
#include "platform/socket.h"
#include "platform/utf16.h"
#include "protocol/property_list.h"
#include "protocol/stream_header.h"
#include "server/frame_receiver.h"
#include "server/property_store.h"
#include "vistrel_version.h"

namespace {

constexpr const char* kUsage = R"(Usage: vistrel-receive [options]

Runs the PC end of the phone link on its own: listens for the phone on a TCP port,
greets it, and for every video frame handed over writes the JPEG picture to
DIR/frame-NNNNNN.jpg. Property lists from the phone are printed as readable text
(name, key, values, current choice), and so is each report of a changed value: a
line "value report: key K = index I" with the property's name and the value's label;
sound blocks are counted. Without the
virtual microphone running, sound is dropped.

Options:
  -p, --port N        TCP port to listen on (default 2047)
  -b, --bind ADDR     local address to listen on: numeric IPv4 or IPv6 (default
                      0.0.0.0, every IPv4 address; 127.0.0.1 or ::1 for this
                      machine only, :: for every address)
  -o, --out DIR       folder for the frame files (default: frames; created if missing)
  -n, --frames N      exit after N frames were written (default: run until stopped)
      --no-files      count frames but write no files
      --bmp WxH       also write each frame rendered at WxH (1..3072 each) as a
                      bottom-up 24-bit BMP, DIR/frame-NNNNNN.bmp, the way the camera
                      shows it
      --rotation R    with --bmp: turn the picture R quarter turns counter-clockwise
                      (0..3)
      --mirror        with --bmp: flip the picture left to right
      --tap X,Y       send a tap once a connected phone sends frames (X, Y in 0..65535)
      --key CODE      send a key press (virtual-key code) likewise
      --set KEY=INDEX send a property choice likewise
  -q, --quiet         print only property lists, value reports and the final summary
  -h, --help          show this text
  --version           print the version

While running, lines on standard input send commands to the phone:
  tap X Y | key CODE | set KEY INDEX | props | status | quit

Ends on "quit", end of input (when input is not a terminal it is ignored), Ctrl-C, or
after --frames. Exit status: 0 done, 1 could not start (bad option, folder unusable).
)";

std::atomic<bool> gStop{false};
void onSignal(int) { gStop = true; }

struct Pending {
  uint32_t code;
  uint32_t argument;
};

void printProperties(const server::PropertyStore& store) {
  store.read([](const std::vector<protocol::PropertyEntry>& list) {
    std::printf("properties: %zu entries\n", list.size());
    for (const protocol::PropertyEntry& e : list) {
      const uint32_t current = e.currentIndex();
      std::printf("  [key %u] %s%s\n", e.key,
                  e.name.present() ? platform::utf16ToUtf8Lossy(e.name.toU16()).c_str() : "(no name)",
                  e.offered() ? "" : "  (not offered)");
      const uint32_t shown = e.count < 32 ? e.count : 32;
      std::string values;
      for (uint32_t i = 0; i < shown; ++i) {
        if (!e.selectable(i)) continue;
        values += (i == current ? " *" : "  ") + std::to_string(i) + "=" + platform::utf16ToUtf8Lossy(e.itemText(i));
      }
      if (shown < e.count) values += "  ... (" + std::to_string(e.count) + " values)";
      std::printf("   %s\n   current index %u\n", values.c_str(), current);
    }
  });
  std::fflush(stdout);
}

struct Context {
  server::PropertyStore properties;
  std::atomic<uint32_t> audioBlocks{0};
  std::atomic<uint64_t> audioBytes{0};
};

// One value report as the store took it: the key, the index and, when the list has that
// key, its name and the value's label.
void printValueReport(const server::PropertyStore& store, uint32_t key, uint32_t index) {
  std::string known = "  (no property with this key)";
  store.read([&](const std::vector<protocol::PropertyEntry>& list) {
    for (const protocol::PropertyEntry& e : list) {
      if (e.key != key) continue;
      const std::string name = e.name.present() ? platform::utf16ToUtf8Lossy(e.name.toU16()) : "(no name)";
      known = index < e.count ? " (" + name + ": " + platform::utf16ToUtf8Lossy(e.itemText(index)) + ")"
                              : " (" + name + ": out of range, ignored)";
      break;
    }
  });
  std::printf("value report: key %u = index %u%s\n", key, index, known.c_str());
  std::fflush(stdout);
}

void onMessage(void* context, server::FrameReceiver& receiver) {
  auto* ctx = static_cast<Context*>(context);
  const server::RingMessage m = receiver.latestMessage();
  if (m.isAudio()) {
    ++ctx->audioBlocks;
    ctx->audioBytes += m.length - protocol::kHeaderSize;
  }
  server::PropertyStore::onMessage(&ctx->properties, receiver);
  // A header-only message from the phone is a report of a changed value.
  if (m.length == protocol::kHeaderSize)
    printValueReport(ctx->properties, m.header.reportKey(), m.header.reportIndex());
}

bool parseUnsigned(const std::string& s, uint32_t& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long v = std::strtoul(s.c_str(), &end, 0);
  if (errno != 0 || *end != 0 || v > 0xFFFFFFFFul) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

bool parsePair(const std::string& s, char sep, uint32_t& a, uint32_t& b) {
  const size_t at = s.find(sep);
  return at != std::string::npos && parseUnsigned(s.substr(0, at), a) &&
         parseUnsigned(s.substr(at + 1), b);
}

// One line of standard input; false on "quit".
bool handleLine(const std::string& line, server::FrameReceiver& receiver, Context& ctx) {
  std::istringstream in(line);
  std::string word, a, b;
  in >> word >> a >> b;
  uint32_t x = 0, y = 0;
  if (word.empty()) return true;
  if (word == "quit" || word == "exit") return false;
  if (word == "tap" && parseUnsigned(a, x) && parseUnsigned(b, y) && x <= 0xFFFF && y <= 0xFFFF) {
    receiver.sendCommand(protocol::CMD_TAP, protocol::tapArgument(static_cast<uint16_t>(x),
                                                                  static_cast<uint16_t>(y)));
  } else if (word == "key" && parseUnsigned(a, x)) {
    receiver.sendCommand(protocol::CMD_KEY, x);
  } else if (word == "set" && parseUnsigned(a, x) && parseUnsigned(b, y)) {
    if (!ctx.properties.choose(x, y)) std::printf("note: no property %u with a value %u\n", x, y);
    receiver.sendCommand(x, y);
  } else if (word == "props") {
    printProperties(ctx.properties);
  } else if (word == "status") {
    std::printf("%s, audio blocks %u\n", receiver.connected() ? "connected" : "not connected",
                ctx.audioBlocks.load());
  } else {
    std::printf("unknown command: %s (try: tap X Y | key CODE | set KEY INDEX | props | quit)\n",
                line.c_str());
  }
  std::fflush(stdout);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (vistrel::printVersionIfAsked("vistrel-receive", argc, argv)) return 0;
  uint32_t port = 2047;
  std::string bind = "0.0.0.0";
  std::string out = "frames";
  uint32_t maxFrames = 0;
  bool writeFiles = true;
  bool quiet = false;
  uint32_t bmpWidth = 0, bmpHeight = 0, rotation = 0;
  bool mirror = false;
  std::vector<Pending> onConnect;

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "vistrel-receive: %s needs a value (see --help)\n", name);
        std::exit(1);
      }
      return argv[++i];
    };
    uint32_t a = 0, b = 0;
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "-p" || arg == "--port") {
      if (!parseUnsigned(value("--port"), port) || port == 0 || port > 65535) {
        std::fprintf(stderr, "vistrel-receive: the port must be 1..65535\n");
        return 1;
      }
    } else if (arg == "-b" || arg == "--bind") {
      bind = value("--bind");
      if (!platform::isListenAddress(bind)) {
        std::fprintf(stderr, "vistrel-receive: --bind needs a numeric IPv4 or IPv6 address, not %s\n",
                     bind.c_str());
        return 1;
      }
    } else if (arg == "-o" || arg == "--out") {
      out = value("--out");
    } else if (arg == "-n" || arg == "--frames") {
      if (!parseUnsigned(value("--frames"), maxFrames)) {
        std::fprintf(stderr, "vistrel-receive: --frames needs a number\n");
        return 1;
      }
    } else if (arg == "--no-files") {
      writeFiles = false;
    } else if (arg == "--bmp") {
      if (std::sscanf(value("--bmp").c_str(), "%ux%u", &bmpWidth, &bmpHeight) != 2 ||
          bmpWidth < 1 || bmpHeight < 1 || bmpWidth > 3072 || bmpHeight > 3072) {
        std::fprintf(stderr, "vistrel-receive: --bmp needs WxH with both in 1..3072\n");
        return 1;
      }
    } else if (arg == "--rotation") {
      if (!parseUnsigned(value("--rotation"), rotation) || rotation > 3) {
        std::fprintf(stderr, "vistrel-receive: --rotation needs 0, 1, 2 or 3\n");
        return 1;
      }
    } else if (arg == "--mirror") {
      mirror = true;
    } else if (arg == "--tap") {
      if (!parsePair(value("--tap"), ',', a, b) || a > 0xFFFF || b > 0xFFFF) {
        std::fprintf(stderr, "vistrel-receive: --tap needs X,Y with both in 0..65535\n");
        return 1;
      }
      onConnect.push_back({protocol::CMD_TAP, protocol::tapArgument(static_cast<uint16_t>(a),
                                                                    static_cast<uint16_t>(b))});
    } else if (arg == "--key") {
      if (!parseUnsigned(value("--key"), a)) {
        std::fprintf(stderr, "vistrel-receive: --key needs a key code\n");
        return 1;
      }
      onConnect.push_back({protocol::CMD_KEY, a});
    } else if (arg == "--set") {
      if (!parsePair(value("--set"), '=', a, b)) {
        std::fprintf(stderr, "vistrel-receive: --set needs KEY=INDEX\n");
        return 1;
      }
      onConnect.push_back({a, b});
    } else if (arg == "-q" || arg == "--quiet") {
      quiet = true;
    } else {
      std::fprintf(stderr, "vistrel-receive: unknown option %s (see --help)\n", arg.c_str());
      return 1;
    }
  }
  if (writeFiles && ::mkdir(out.c_str(), 0755) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "vistrel-receive: cannot create folder %s: %s\n", out.c_str(),
                 std::strerror(errno));
    return 1;
  }

  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::signal(SIGPIPE, SIG_IGN);

  Context ctx;
  server::FrameReceiver::Options options;
  options.listener.bindAddress = bind;
  server::FrameReceiver receiver(options);
  // A value report is printed on its own line (onMessage); a new list in full.
  ctx.properties.setChangeListener([&ctx](bool replaced) {
    if (replaced) printProperties(ctx.properties);
  });
  receiver.setMessageCallback(&onMessage, &ctx);
  receiver.setPort(static_cast<uint16_t>(port));
  receiver.start();
  receiver.enableListening();
  // Say "listening" only once the socket really listens. A phone may connect at once: the
  // listening socket then closes, and waiting on would keep its frames from the loop below.
  for (int i = 0; i < 40 && receiver.listeningPort() == 0 && !receiver.connected(); ++i) {
    ::usleep(50000);
  }
  if (receiver.listeningPort() == 0 && !receiver.connected()) {
    std::printf("not listening yet: is port %u in use by another program? (retrying)\n", port);
  } else {
    std::printf("listening on %s port %u; frames go to %s\n", bind.c_str(), port,
                writeFiles ? out.c_str() : "(not written)");
  }
  if (!receiver.audioDeviceOpen()) std::printf("virtual microphone not running: sound is dropped\n");
  std::fflush(stdout);

  std::vector<uint8_t> frame(protocol::kMaxVideoPayload);
  decoder::JpegDecoder jpegDecoder;
  std::vector<uint8_t> picture(bmpWidth != 0 ? decoder::imageSize(bmpWidth, bmpHeight) : 0);
  uint32_t written = 0, refused = 0, connections = 0;
  bool wasConnected = false;
  // The commands of --tap/--key/--set go out with the first frame of a connection: a phone
  // sends its property list before its frames, and a new list drops the commands still
  // waiting to be sent, so commands queued at the moment of connecting could be lost.
  bool commandsDue = false;
  bool stdinOpen = true;
  std::string lineBuffer;
  uint32_t lastPortWarning = 0;
  while (!gStop && (maxFrames == 0 || written < maxFrames)) {
    const int wait = receiver.waitForFrame(200);
    if (wait == server::kWaitFrameReady) {
      if (commandsDue) {
        commandsDue = false;
        for (const Pending& p : onConnect) receiver.sendCommand(p.code, p.argument);
      }
      const uint32_t n = receiver.latestJpeg(frame.data());
      if (n == 0) {
        ++refused;  // overwritten while it was copied
      } else {
        ++written;
        if (writeFiles) {
          char name[64];
          std::snprintf(name, sizeof name, "/frame-%06u.jpg", written);
          const std::string path = out + name;
          FILE* f = std::fopen(path.c_str(), "wb");
          if (f == nullptr || std::fwrite(frame.data(), 1, n, f) != n || std::fclose(f) != 0) {
            std::fprintf(stderr, "vistrel-receive: cannot write %s: %s\n", path.c_str(),
                         std::strerror(errno));
            return 1;
          }
          if (!quiet) std::printf("frame %u: %u bytes -> %s\n", written, n, path.c_str());
          if (bmpWidth != 0) {
            std::snprintf(name, sizeof name, "/frame-%06u.bmp", written);
            const std::string bmpPath = out + name;
            std::array<uint8_t, decoder::kBmpHeaderSize> header{};
            if (!jpegDecoder.decode(frame.data(), n, picture.data(), picture.size(), bmpWidth,
                                    bmpHeight, rotation, mirror) ||
                !decoder::bmpHeader(bmpWidth, bmpHeight, &header)) {
              std::printf("frame %u: could not be decoded; no picture written\n", written);
            } else {
              FILE* b = std::fopen(bmpPath.c_str(), "wb");
              const bool ok = b != nullptr && std::fwrite(header.data(), 1, header.size(), b) == header.size() &&
                              std::fwrite(picture.data(), 1, picture.size(), b) == picture.size();
              if (b == nullptr || std::fclose(b) != 0 || !ok) {
                std::fprintf(stderr, "vistrel-receive: cannot write %s\n", bmpPath.c_str());
                return 1;
              }
            }
          }
        } else if (!quiet) {
          std::printf("frame %u: %u bytes\n", written, n);
        }
      }
    } else if (wait == server::kWaitNotAFrame) {
      const server::RingMessage m = receiver.latestMessage();
      // A wake after a frame already written also reports "not a frame" while that frame
      // is still the newest message: only a frame that is not intact counts as refused.
      if (m.hasType(protocol::MSG_VIDEO_JPEG) && receiver.latestJpeg(nullptr) == 0) ++refused;
    }
    const bool isConnected = receiver.connected();
    if (isConnected != wasConnected) {
      wasConnected = isConnected;
      if (isConnected) {
        ++connections;
        std::printf("phone connected\n");
        commandsDue = true;
      } else {
        std::printf("phone disconnected\n");
      }
    }
    if (!isConnected && receiver.listeningPort() == 0 && ++lastPortWarning == 25) {
      std::printf("still not listening: is port %u in use by another program?\n", port);
    }
    if (stdinOpen) {
      pollfd p{STDIN_FILENO, POLLIN, 0};
      if (::poll(&p, 1, 0) > 0) {
        char buf[512];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
          stdinOpen = false;
        } else {
          lineBuffer.append(buf, static_cast<size_t>(n));
          size_t nl;
          while ((nl = lineBuffer.find('\n')) != std::string::npos) {
            const std::string line = lineBuffer.substr(0, nl);
            lineBuffer.erase(0, nl + 1);
            if (!handleLine(line, receiver, ctx)) gStop = true;
          }
        }
      }
    }
    std::fflush(stdout);
  }
  receiver.stop();
  std::printf("summary: %u frames written, %u refused, %u audio blocks (%llu bytes), %u connections\n",
              written, refused, ctx.audioBlocks.load(),
              static_cast<unsigned long long>(ctx.audioBytes.load()), connections);
  return 0;
}
