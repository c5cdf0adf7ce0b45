// streamfeed: a stand-in phone for trying and testing the PC end of the link. Connects,
// checks the greeting, sends a property list, JPEG frames (generated, or files), sound
// blocks and keep-alives the way the phone does, and prints the commands the PC sends.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "protocol/property_list.h"
#include "protocol/stream_header.h"
#include "vistrel_version.h"

namespace {

constexpr const char* kUsage = R"(Usage: streamfeed [options] [FILE.jpg ...]

Acts as a phone: connects to the PC end of the link, expects the greeting "high",
sends a property list, then video frames and (with --audio) sound blocks, and
prints every command the PC sends back. Without files it sends generated test
pictures (a moving gradient with the frame number as a bar pattern).

Options:
  -H, --host HOST      PC to connect to (default 127.0.0.1)
  -p, --port N         port (default 2047)
  -n, --frames N       frames to send (default 10; files are repeated as needed)
  -r, --rate FPS       frames per second (default 10)
  -s, --size WxH       size of generated pictures (default 320x240)
      --audio          send 8000 Hz mono sound (a 440 Hz tone) between frames
      --garbage        put stray bytes and keep-alives between messages
      --no-properties  send no property list
      --linger MS      keep the connection open this long after the last frame,
                       printing commands (default 500)
      --save DIR       also write each frame sent, as a complete JPEG file, to
                       DIR/sent-NNNNNN.jpg (DIR must exist)
  -h, --help           show this text
  --version            print the version

Exit status: 0 sent everything, 1 bad option or file, 2 no connection or no greeting.
)";

std::vector<uint8_t> encodeTestPicture(int width, int height, int number) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = static_cast<uint8_t>((x + number * 4) & 0xFF);
      p[1] = static_cast<uint8_t>((y * 255) / (height > 1 ? height - 1 : 1));
      p[2] = static_cast<uint8_t>(((x / 16 + y / 16) & 1) ? 200 : 60);
      // The frame number as a row of 16 bits along the top.
      if (y < 12 && x < 16 * 12) {
        const int bit = x / 12;
        const uint8_t v = ((number >> (15 - bit)) & 1) ? 255 : 0;
        p[0] = p[1] = p[2] = v;
      }
    }
  }
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long memSize = 0;
  jpeg_mem_dest(&c, &mem, &memSize);
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 75, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = &rgb[static_cast<size_t>(c.next_scanline) * width * 3];
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  std::vector<uint8_t> out(mem, mem + memSize);
  jpeg_destroy_compress(&c);
  std::free(mem);
  return out;
}

std::vector<uint8_t> messageOf(uint32_t type, const uint8_t* payload, size_t size) {
  protocol::StreamHeader h;
  h.length = static_cast<uint32_t>(protocol::kHeaderSize + size);
  h.setMessage(type, h.timestampMs());
  std::vector<uint8_t> m(protocol::kHeaderSize + size);
  protocol::encodeHeader(h, m.data());
  std::memcpy(m.data() + protocol::kHeaderSize, payload, size);
  return m;
}

std::vector<uint8_t> propertyList() {
  std::vector<uint8_t> buf(2048);
  protocol::PropertyListBuilder b(buf.data(), buf.size());
  const protocol::PropertyListBuilder::Item effects[3] = {
      {0, 0, u"None"}, {0, 1, u"Mono"}, {0, 2, u"Sepia"}};
  b.add({.name = u"Effect", .current = 0, .count = 3, .items = effects, .key = 0x101});
  b.add({.name = u"Zoom", .current = protocol::kCurrentUseDefault, .defaultIndex = 0, .count = 4,
         .base = 100, .step = 50, .key = 0x102});
  b.add({.name = u"Flash", .current = 0, .count = 2, .key = 0x103});
  buf.resize(b.size());
  return buf;
}

}  // namespace

namespace {

void printCommands(platform::TcpSocket& s, std::vector<uint8_t>& pending) {
  uint8_t buf[256];
  while (s.waitReadable(0) == platform::TcpSocket::kReady) {
    const long n = s.receive(buf, sizeof buf);
    if (n <= 0) return;
    pending.insert(pending.end(), buf, buf + n);
  }
  // Commands are found by their magic pair, like the phone does.
  size_t at = 0;
  while (pending.size() - at >= protocol::kHeaderSize) {
    if (!protocol::isMagicAt(&pending[at])) {
      ++at;
      continue;
    }
    const protocol::StreamHeader h = protocol::decodeHeader(&pending[at]);
    if (h.commandCode() == protocol::CMD_TAP) {
      std::printf("command: tap x=%u y=%u\n", h.commandArgument() & 0xFFFF,
                  h.commandArgument() >> 16);
    } else if (h.commandCode() == protocol::CMD_KEY) {
      std::printf("command: key %u\n", h.commandArgument());
    } else {
      std::printf("command: set property %u to index %u\n", h.commandCode(), h.commandArgument());
    }
    at += protocol::kHeaderSize;
  }
  pending.erase(pending.begin(), pending.begin() + static_cast<long>(at));
  std::fflush(stdout);
}

bool parseNumber(const char* s, long& out) {
  char* end = nullptr;
  out = std::strtol(s, &end, 10);
  return end != s && *end == 0 && out >= 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (vistrel::printVersionIfAsked("streamfeed", argc, argv)) return 0;
  std::string host = "127.0.0.1";
  long port = 2047, frames = 10, rate = 10, width = 320, height = 240, linger = 500;
  bool audio = false, garbage = false, properties = true;
  std::string saveDir;
  std::vector<std::vector<uint8_t>> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto need = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "streamfeed: %s needs a value (see --help)\n", a.c_str());
        std::exit(1);
      }
      return argv[++i];
    };
    bool ok = true;
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "-H" || a == "--host") {
      host = need();
    } else if (a == "-p" || a == "--port") {
      ok = parseNumber(need(), port) && port > 0 && port < 65536;
    } else if (a == "-n" || a == "--frames") {
      ok = parseNumber(need(), frames);
    } else if (a == "-r" || a == "--rate") {
      ok = parseNumber(need(), rate) && rate > 0 && rate <= 1000;
    } else if (a == "-s" || a == "--size") {
      ok = std::sscanf(need(), "%ldx%ld", &width, &height) == 2 && width > 0 && height > 0 &&
           width <= 4096 && height <= 4096;
    } else if (a == "--audio") {
      audio = true;
    } else if (a == "--garbage") {
      garbage = true;
    } else if (a == "--no-properties") {
      properties = false;
    } else if (a == "--save") {
      saveDir = need();
    } else if (a == "--linger") {
      ok = parseNumber(need(), linger);
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "streamfeed: unknown option %s (see --help)\n", a.c_str());
      return 1;
    } else {
      std::ifstream f(a, std::ios::binary);
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), {});
      if (!f.good() && !f.eof()) ok = false;
      if (bytes.size() < 12 || bytes[0] != 0xFF || bytes[1] != 0xD8) {
        std::fprintf(stderr, "streamfeed: %s is not a JPEG file\n", a.c_str());
        return 1;
      }
      files.push_back(std::move(bytes));
    }
    if (!ok) {
      std::fprintf(stderr, "streamfeed: bad value for %s (see --help)\n", a.c_str());
      return 1;
    }
  }

  platform::TcpSocket s = platform::TcpSocket::connect(host, static_cast<uint16_t>(port), 4096);
  if (!s.valid()) {
    std::fprintf(stderr, "streamfeed: cannot connect to %s port %ld\n", host.c_str(), port);
    return 2;
  }
  s.setNoDelay(true);
  uint8_t greeting[4];
  size_t got = 0;
  while (got < 4 && s.waitReadable(2048) == platform::TcpSocket::kReady) {
    const long n = s.receive(greeting + got, 4 - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got != 4 || std::memcmp(greeting, protocol::kGreeting, 4) != 0) {
    std::fprintf(stderr, "streamfeed: no greeting from the PC within 2048 ms\n");
    return 2;
  }
  std::printf("connected to %s port %ld\n", host.c_str(), port);

  std::vector<uint8_t> commands;
  long framesSent = 0;
  auto sendAll = [&](const std::vector<uint8_t>& m) {
    if (!s.sendAll(m.data(), m.size(), 5000)) {
      printCommands(s, commands);  // what the PC said before it went
      std::fprintf(stderr, "streamfeed: the PC stopped taking data after %ld frames\n", framesSent);
      std::exit(2);
    }
  };
  if (properties) {
    const std::vector<uint8_t> list = propertyList();
    sendAll(messageOf(protocol::MSG_PROPERTY_LIST, list.data(), list.size()));
  }
  const auto period = std::chrono::microseconds(1000000 / rate);
  auto next = std::chrono::steady_clock::now();
  uint32_t samplePhase = 0;
  const long samplesPerFrame = 8000 / rate;
  for (long f = 0; f < frames; ++f) {
    std::vector<uint8_t> jpeg = files.empty()
                                    ? encodeTestPicture(static_cast<int>(width),
                                                        static_cast<int>(height), static_cast<int>(f))
                                    : files[static_cast<size_t>(f) % files.size()];
    if (!saveDir.empty()) {
      char name[32];
      std::snprintf(name, sizeof name, "/sent-%06ld.jpg", f + 1);
      std::ofstream(saveDir + name, std::ios::binary)
          .write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
    }
    std::memset(jpeg.data(), 0, 10);  // the phone never sends the JFIF start
    if (garbage) sendAll({0, 0, 0, 0, 0xCF, 0x47, 0x09, 0x00, 0x13});
    sendAll(messageOf(protocol::MSG_VIDEO_JPEG, jpeg.data(), jpeg.size()));
    ++framesSent;
    if (audio) {
      // Sound goes half a frame period after the picture, as the phone's own sound
      // thread would send it, not glued to the frame.
      std::this_thread::sleep_until(next + period / 2);
      std::vector<uint8_t> pcm(static_cast<size_t>(samplesPerFrame) * 2);
      for (long i = 0; i < samplesPerFrame; ++i, ++samplePhase) {
        const auto v = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * samplePhase / 8000.0));
        pcm[2 * i] = static_cast<uint8_t>(v & 0xFF);
        pcm[2 * i + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
      }
      sendAll(messageOf(protocol::MSG_AUDIO, pcm.data(), pcm.size()));
    }
    printCommands(s, commands);
    next += period;
    std::this_thread::sleep_until(next);
  }
  // Keep-alives complete the last message on the PC side, and keep the link open while
  // commands may still come.
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(linger);
  const uint8_t keepAlive[4] = {0, 0, 0, 0};
  do {
    // The PC may end the link first; the frames are out by now, so that is no failure.
    if (!s.sendAll(keepAlive, sizeof keepAlive, 1000)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    printCommands(s, commands);
  } while (std::chrono::steady_clock::now() < end);
  std::printf("sent %ld frames\n", frames);
  return 0;
}
