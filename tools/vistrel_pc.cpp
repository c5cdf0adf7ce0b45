// vistrel-pc: uses the PC library the way the viewer and the service do — loaded by name,
// through its entry table only — and writes the frames it gets, decoded and rendered, as
// BMP pictures (and optionally the JPEG frames themselves).
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "decoder/bmp_file.h"
#include "decoder/render_geometry.h"
#include "entries/device_entry_table.h"
#include "platform/module.h"
#include "vistrel_version.h"

namespace {

constexpr const char* kUsage = R"(Usage: vistrel-pc [options]

Loads the PC library (device.ax, found beside this program) and uses it through its
entry table, as the viewer and the service do. Without --serve it opens as a client of
a running server (the service, or another vistrel-pc --serve) and, when none runs,
receives from the phone by itself. Each frame it gets is decoded, turned and mirrored
as the settings say, rendered at the output size and written as DIR/frame-NNNNNN.bmp.

Options:
  -s, --serve          serve: own the phone link and share frames with other programs
  -S, --size WxH       output size (1..4096 each; default: the program's settings)
  -n, --frames N       exit after N frames (default: run until stopped)
  -o, --out DIR        folder for the pictures (default: pc-frames; created if missing)
      --jpeg           also write each JPEG frame as DIR/frame-NNNNNN.jpg
      --no-files       write nothing, only count frames
  -t, --seconds N      exit after N seconds
  -q, --quiet          print only the summary
  -h, --help           show this text
  --version            print the version

Settings (port, size, rotation, mirror) come from the machine's settings store; the
variable VISTREL_KEY_STORE names another store file.
Exit status: 0 done, 1 bad option or unusable folder, 2 the library could not be
loaded or opened.
)";

std::atomic<bool> gStop{false};
void onSignal(int) { gStop = true; }

bool writeFile(const std::string& path, const uint8_t* a, size_t an, const uint8_t* b, size_t bn) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(a, 1, an, f) == an && (bn == 0 || std::fwrite(b, 1, bn, f) == bn);
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (vistrel::printVersionIfAsked("vistrel-pc", argc, argv)) return 0;
  bool serve = false, jpeg = false, files = true, quiet = false;
  unsigned long width = 0, height = 0, maxFrames = 0, seconds = 0;
  std::string out = "pc-frames";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto need = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "vistrel-pc: %s needs a value (see --help)\n", a.c_str());
        std::exit(1);
      }
      return argv[++i];
    };
    auto number = [&](unsigned long& v) {
      const char* s = need();
      char* end = nullptr;
      v = std::strtoul(s, &end, 10);
      if (end == s || *end != 0) {
        std::fprintf(stderr, "vistrel-pc: %s needs a number\n", a.c_str());
        std::exit(1);
      }
    };
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "-s" || a == "--serve") {
      serve = true;
    } else if (a == "-S" || a == "--size") {
      if (std::sscanf(need(), "%lux%lu", &width, &height) != 2 || width < 1 || height < 1 ||
          width > 4096 || height > 4096) {
        std::fprintf(stderr, "vistrel-pc: --size needs WxH with both in 1..4096\n");
        return 1;
      }
    } else if (a == "-n" || a == "--frames") {
      number(maxFrames);
    } else if (a == "-t" || a == "--seconds") {
      number(seconds);
    } else if (a == "-o" || a == "--out") {
      out = need();
    } else if (a == "--jpeg") {
      jpeg = true;
    } else if (a == "--no-files") {
      files = false;
    } else if (a == "-q" || a == "--quiet") {
      quiet = true;
    } else {
      std::fprintf(stderr, "vistrel-pc: unknown option %s (see --help)\n", a.c_str());
      return 1;
    }
  }
  if (files && ::mkdir(out.c_str(), 0755) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "vistrel-pc: cannot create folder %s: %s\n", out.c_str(),
                 std::strerror(errno));
    return 1;
  }

  std::unique_ptr<platform::Module> module = platform::loadModule("device.ax");
  auto getData = module ? reinterpret_cast<DeviceGetDataFunction>(module->symbol("DllGetData"))
                        : nullptr;
  DeviceEntryTable t{};
  if (getData == nullptr || (getData(&t) & 0xFF) == 0) {
    std::fprintf(stderr, "vistrel-pc: cannot load %s\n", platform::moduleSearchText("device.ax").c_str());
    return 2;
  }
  if ((t.Open(serve ? 1 : 0) & 0xFF) == 0) {
    std::fprintf(stderr, "vistrel-pc: cannot open the camera engine%s\n",
                 serve ? " as the serving process" : "");
    return 2;
  }
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  if (width != 0) t.SetOutputSize(static_cast<uint32_t>(width), static_cast<uint32_t>(height));
  std::printf("opened%s; waiting for frames\n", serve ? " as the serving process" : "");
  std::fflush(stdout);

  std::vector<uint8_t> picture;
  unsigned long frames = 0, refused = 0, waits = 0;
  while (!gStop && (maxFrames == 0 || frames < maxFrames) &&
         (seconds == 0 || waits < seconds * 5)) {
    const int32_t r = t.WaitFrame(200);
    ++waits;
    if (r != 0) continue;
    uint8_t* jpegBytes = nullptr;
    const uint32_t n = t.GetFrame(&jpegBytes);
    if (n == 0) continue;
    if (serve) {  // the serving process keeps no frame buffer: it only counts
      ++frames;
      if (!quiet) std::printf("frame %lu: %u bytes published\n", frames, n);
      continue;
    }
    uint32_t w = 0, h = 0;
    if ((t.DecodeJpeg(jpegBytes, n, &w, &h) & 0xFF) == 0) {
      ++refused;
      continue;
    }
    // The output size is the engine's; render into a buffer of the size asked for, or of
    // the settings' default when none was.
    const uint32_t W = width != 0 ? static_cast<uint32_t>(width) : 0;
    const uint32_t H = height != 0 ? static_cast<uint32_t>(height) : 0;
    const uint32_t outW = W != 0 ? W : 320, outH = H != 0 ? H : 240;
    if (W == 0) t.SetOutputSize(outW, outH);
    picture.resize(decoder::imageSize(outW, outH));
    if ((t.RenderFrame(picture.data()) & 0xFF) == 0) {
      ++refused;
      continue;
    }
    ++frames;
    if (files) {
      char name[64];
      std::snprintf(name, sizeof name, "/frame-%06lu", frames);
      std::array<uint8_t, decoder::kBmpHeaderSize> header{};
      decoder::bmpHeader(outW, outH, &header);
      const std::string base = out + name;
      if (!writeFile(base + ".bmp", header.data(), header.size(), picture.data(), picture.size()) ||
          (jpeg && !writeFile(base + ".jpg", jpegBytes, n, nullptr, 0))) {
        std::fprintf(stderr, "vistrel-pc: cannot write %s: %s\n", base.c_str(), std::strerror(errno));
        t.Close();
        return 1;
      }
    }
    if (!quiet) std::printf("frame %lu: %ux%u JPEG, %u bytes -> %ux%u picture\n", frames, w, h, n, outW, outH);
    std::fflush(stdout);
  }
  t.Close();
  std::printf("summary: %lu frames, %lu refused\n", frames, refused);
  return 0;
}
