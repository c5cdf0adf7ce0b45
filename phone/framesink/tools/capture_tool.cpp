// framesink-capture: opens the camera through the framesink module, as the device
// program does, lists what it offers and writes pictures to files.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "framesink/framesink_table.h"
#include "framesink/test_pattern.h"
#include "platform/module.h"

namespace {

const char kHelp[] =
    "Usage: framesink-capture [options]\n"
    "Opens the camera through framesink.so (beside this program), as the device program\n"
    "does, and writes pictures to files.\n"
    "\n"
    "  --device SEL     camera to use: auto, v4l2, test-pattern or a device path\n"
    "                   (sets VISTREL_FRAMESINK_DEVICE for this run)\n"
    "  --list           print the capture and still formats and the control ranges\n"
    "  --size WxH       picture size (default: the camera's first format)\n"
    "  --format F       UYVY, YV12, IYUV, NV12 or IJPG (default: the first at that size)\n"
    "  --frames N       pictures to write (default 5)\n"
    "  --still          take still pictures one by one instead of the capture stream\n"
    "  --brightness N   set picture control 0 (brightness) first\n"
    "  --out DIR        folder for the files (default: the current folder)\n"
    "  --help           this text\n"
    "\n"
    "Files: frame-0001.uyvy / .yv12 / .jpg ... as delivered, and for UYVY and YV12 also\n"
    "frame-0001.ppm to look at. Test-pattern pictures print their stamp (frame number and\n"
    "time stamp read back from the picture).\n";

uint32_t fourcc(const std::string& s) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4 && i < s.size(); ++i) v |= uint32_t(uint8_t(s[i])) << (8 * i);
  return v;
}

std::string formatName(uint32_t code) {
  if (code == 0xE436EB7Bu) return "RGB565";
  if (code == 0xE436EB7Cu) return "RGB555";
  if (code == 0xE436EB7Du) return "RGB24";
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(char((code >> (8 * i)) & 0xFF));
  return s;
}

struct Picture {
  std::vector<uint8_t> bytes;
};

struct Collector {
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<Picture> pictures;
  size_t wanted = 0;
};

void collect(uint8_t* data, uint32_t size, void* user) {
  auto* c = static_cast<Collector*>(user);
  std::lock_guard<std::mutex> lock(c->mutex);
  if (c->pictures.size() >= c->wanted) return;
  c->pictures.push_back({std::vector<uint8_t>(data, data + size)});
  c->arrived.notify_all();
}

bool writeFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

// A viewable copy of a UYVY or YV12 picture.
bool writePpm(const std::string& path, const std::vector<uint8_t>& p, uint32_t w, uint32_t h, uint32_t format) {
  const bool uyvy = format == fourcc("UYVY");
  if (p.size() < size_t(w) * h * (uyvy ? 2 : 1) + (uyvy ? 0 : size_t(w) * h / 2)) return false;
  std::vector<uint8_t> rgb(size_t(w) * h * 3);
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      int Y, U, V;
      if (uyvy) {
        const uint8_t* pair = &p[(size_t(y) * w + (x & ~1u)) * 2];
        Y = pair[(x & 1) ? 3 : 1];
        U = pair[0];
        V = pair[2];
      } else {
        const size_t c = size_t(y / 2) * (w / 2) + x / 2;
        Y = p[size_t(y) * w + x];
        V = p[size_t(w) * h + c];
        U = p[size_t(w) * h + size_t(w / 2) * (h / 2) + c];
      }
      const int c = Y - 16, d = U - 128, e = V - 128;
      auto clamp = [](int v) { return uint8_t(std::clamp(v, 0, 255)); };
      uint8_t* o = &rgb[(size_t(y) * w + x) * 3];
      o[0] = clamp((298 * c + 409 * e + 128) >> 8);
      o[1] = clamp((298 * c - 100 * d - 208 * e + 128) >> 8);
      o[2] = clamp((298 * c + 516 * d + 128) >> 8);
    }
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fprintf(f, "P6\n%u %u\n255\n", w, h);
  const bool ok = std::fwrite(rgb.data(), 1, rgb.size(), f) == rgb.size();
  return std::fclose(f) == 0 && ok;
}

void printRanges(const FramesinkTable& t, int32_t which, uint32_t count, const char* title) {
  std::printf("%s:\n", title);
  for (uint32_t p = 0; p < count; ++p) {
    RangeEntry r{};
    r.property = p;
    t.SinkGetRanges(&r, 1, which);
    if (r.result != kSinkOk) continue;
    std::printf("  property %u: %d..%d step %d default %d flags %u\n", p, r.minimum, r.maximum, r.step,
                r.defaultValue, r.capabilityFlags);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string device, out = ".", formatText;
  uint32_t width = 0, height = 0, frames = 5;
  bool list = false, still = false, haveBrightness = false;
  int32_t brightness = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "framesink-capture: %s needs a value\n", a.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (a == "--device") {
      device = value();
    } else if (a == "--list") {
      list = true;
    } else if (a == "--size") {
      if (std::sscanf(value(), "%ux%u", &width, &height) != 2) {
        std::fprintf(stderr, "framesink-capture: --size wants WxH\n");
        return 2;
      }
    } else if (a == "--format") {
      formatText = value();
    } else if (a == "--frames") {
      frames = static_cast<uint32_t>(std::strtoul(value(), nullptr, 10));
    } else if (a == "--still") {
      still = true;
    } else if (a == "--brightness") {
      brightness = static_cast<int32_t>(std::strtol(value(), nullptr, 10));
      haveBrightness = true;
    } else if (a == "--out") {
      out = value();
    } else {
      std::fprintf(stderr, "framesink-capture: unknown option %s (see --help)\n", a.c_str());
      return 2;
    }
  }
  if (!device.empty()) setenv(kFramesinkDeviceEnvironment, device.c_str(), 1);

  auto module = platform::loadModule(kFramesinkModuleName);
  if (!module) {
    std::fprintf(stderr, "framesink-capture: framesink.so not found beside the program\n");
    return 1;
  }
  auto getData = reinterpret_cast<FramesinkGetDataFunction>(module->symbol("DllGetData"));
  FramesinkTable t{};
  if (!getData || getData(&t) == 0) {
    std::fprintf(stderr, "framesink-capture: framesink.so gave no table\n");
    return 1;
  }
  const uint32_t mask = t.SinkOpen(kSinkPreview | kSinkCapture | kSinkStill);
  if (mask == 0) {
    std::fprintf(stderr, "framesink-capture: no camera (SinkOpen failed)\n");
    return 1;
  }
  std::printf("connected categories: %u\n", mask);
  const uint32_t category = still ? kSinkStill : kSinkCapture;

  FormatEntry formats[16];
  uint32_t count = 16;
  if (!t.SinkGetFormats(formats, &count, category) || count == 0) {
    std::fprintf(stderr, "framesink-capture: the camera lists no formats\n");
    t.SinkClose();
    return 1;
  }
  if (list) {
    for (uint32_t cat : {kSinkCapture, kSinkStill}) {
      FormatEntry f[16];
      uint32_t n = 16;
      if (!(mask & cat) || !t.SinkGetFormats(f, &n, cat)) continue;
      std::printf("%s formats:\n", cat == kSinkCapture ? "capture" : "still");
      for (uint32_t i = 0; i < n; ++i)
        std::printf("  %dx%d %s\n", f[i].width, f[i].height, formatName(f[i].format).c_str());
    }
    printRanges(t, kSinkCameraControls, 7, "camera controls");
    printRanges(t, kSinkPictureControls, 10, "picture controls");
  }

  const FormatEntry* chosen = nullptr;
  for (uint32_t i = 0; i < count && !chosen; ++i) {
    const bool sizeOk = width == 0 || (uint32_t(formats[i].width) == width && uint32_t(formats[i].height) == height);
    const bool formatOk = formatText.empty() || formats[i].format == fourcc(formatText);
    if (sizeOk && formatOk) chosen = &formats[i];
  }
  if (!chosen) {
    std::fprintf(stderr, "framesink-capture: the camera has no such format\n");
    t.SinkClose();
    return 1;
  }
  if (!t.SinkSetFormat(chosen, category)) {
    std::fprintf(stderr, "framesink-capture: SinkSetFormat failed\n");
    t.SinkClose();
    return 1;
  }
  if (haveBrightness) {
    ValueEntry v{kPictureBrightness, brightness, kControlManual, 0};
    t.SinkGetSetValues(&v, 1, kSinkPictureControls, 1);
    std::printf("brightness %d: result 0x%08x\n", brightness, v.result);
  }
  if (frames == 0) {
    t.SinkClose();
    return 0;
  }

  Collector collector;
  collector.wanted = frames;
  const SampleCallback callback{collect, &collector};
  bool ok = true;
  if (still) {
    for (uint32_t i = 0; i < frames && ok; ++i) {
      ok = t.SinkTriggerStill(&callback) != 0;
      std::unique_lock<std::mutex> lock(collector.mutex);
      ok = ok && collector.arrived.wait_for(lock, std::chrono::seconds(10),
                                             [&] { return collector.pictures.size() > i; });
    }
  } else {
    ok = t.SinkSetCallback(&callback, kSinkCapture) && t.SinkSetState(kSinkRunning);
    std::unique_lock<std::mutex> lock(collector.mutex);
    ok = ok && collector.arrived.wait_for(lock, std::chrono::seconds(10),
                                           [&] { return collector.pictures.size() >= frames; });
  }
  t.SinkSetState(kSinkStopped);
  t.SinkClose();

  const std::string name = formatName(chosen->format);
  std::string ext = name;
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  if (name == "IJPG") ext = "jpg";
  const uint32_t w = uint32_t(chosen->width), h = uint32_t(chosen->height);
  std::lock_guard<std::mutex> lock(collector.mutex);
  uint32_t n = 0;
  for (const Picture& p : collector.pictures) {
    char base[32];
    std::snprintf(base, sizeof base, "/frame-%04u", ++n);
    const std::string path = out + base + "." + ext;
    if (!writeFile(path, p.bytes.data(), p.bytes.size())) {
      std::fprintf(stderr, "framesink-capture: cannot write %s\n", path.c_str());
      return 1;
    }
    std::printf("frame %u: %ux%u %s, %zu bytes -> %s", n, w, h, name.c_str(), p.bytes.size(), path.c_str());
    framesink::TestPatternStamp stamp;
    if (framesink::readTestPatternStamp(p.bytes.data(), uint32_t(p.bytes.size()), w, h, chosen->format, stamp))
      std::printf(" (stamp: frame %u at %u ms)", stamp.frameNumber, stamp.timestampMs);
    if (name == "UYVY" || name == "YV12") writePpm(out + base + ".ppm", p.bytes, w, h, chosen->format);
    std::printf("\n");
  }
  if (!ok) {
    std::fprintf(stderr, "framesink-capture: %u of %u pictures arrived\n", n, frames);
    return 1;
  }
  return 0;
}
