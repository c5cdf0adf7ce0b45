// vistrel-render: renders a JPEG file (for example a frame saved by vistrel-receive) the way
// the virtual camera shows it, and writes the picture as a BMP file that any image viewer
// opens. For looking at the renderer's output by eye.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "decoder/bmp_file.h"
#include "decoder/jpeg_decoder.h"
#include "decoder/render_geometry.h"
#include "vistrel_version.h"

namespace {

constexpr const char* kUsage = R"(Usage: vistrel-render [options] INPUT.jpg OUTPUT.bmp
Renders INPUT.jpg turned, mirrored and fitted into an output picture and writes it as a
24-bit BMP file.
  --size WxH       output size (default: the picture's size after turning)
  --rotation R     0..3 quarter turns counter-clockwise (default 0)
  --mirror         flip the shown picture left to right
  --bars           draw the colour bars instead (needs --size)
  -h, --help       show this text
  --version        print the version
)";

bool readFile(const char* path, std::vector<uint8_t>* bytes) {
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes->insert(bytes->end(), buf, buf + n);
  const bool ok = std::ferror(f) == 0;
  std::fclose(f);
  return ok;
}

bool writeBmp(const char* path, const std::vector<uint8_t>& picture, uint32_t W, uint32_t H) {
  std::array<uint8_t, decoder::kBmpHeaderSize> header;
  if (!decoder::bmpHeader(W, H, &header)) return false;
  FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size() &&
                  std::fwrite(picture.data(), 1, picture.size(), f) == picture.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (vistrel::printVersionIfAsked("vistrel-render", argc, argv)) return 0;
  uint32_t W = 0, H = 0, rotation = 0;
  bool mirror = false, bars = false;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--size" && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%ux%u", &W, &H) != 2 || W == 0 || H == 0 || W > 4096 ||
          H > 4096) {
        std::fprintf(stderr, "vistrel-render: bad size %s\n", argv[i]);
        return 2;
      }
    } else if (arg == "--rotation" && i + 1 < argc) {
      rotation = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
      if (rotation > 3) {
        std::fprintf(stderr, "vistrel-render: rotation must be 0..3\n");
        return 2;
      }
    } else if (arg == "--mirror") {
      mirror = true;
    } else if (arg == "--bars") {
      bars = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (!arg.empty() && arg[0] == '-') {
      std::fputs(kUsage, stderr);
      return 2;
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.size() != (bars ? 1u : 2u) || (bars && W == 0)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const char* out = files.back();
  std::vector<uint8_t> picture;
  if (bars) {
    picture.resize(decoder::imageSize(W, H));
    decoder::drawColourBars(picture.data(), picture.size(), W, H, 0);
  } else {
    std::vector<uint8_t> jpeg;
    if (!readFile(files[0], &jpeg)) {
      std::fprintf(stderr, "vistrel-render: cannot read %s: %s\n", files[0], std::strerror(errno));
      return 1;
    }
    decoder::JpegDecoder dec;
    uint32_t w = 0, h = 0;
    if (!dec.decodeHeader(jpeg.data(), jpeg.size(), &w, &h)) {
      std::fprintf(stderr, "vistrel-render: %s is not a JPEG picture it can read\n", files[0]);
      return 1;
    }
    if (W == 0) {
      W = (rotation & 1) ? h : w;
      H = (rotation & 1) ? w : h;
    }
    picture.resize(decoder::imageSize(W, H));
    if (!dec.render(mirror, picture.data(), picture.size(), W, H, rotation)) {
      std::fprintf(stderr, "vistrel-render: %s could not be rendered at %ux%u\n", files[0], W, H);
      return 1;
    }
  }
  if (!writeBmp(out, picture, W, H)) {
    std::fprintf(stderr, "vistrel-render: cannot write %s\n", out);
    return 1;
  }
  std::printf("%s: %ux%u rotation %u%s\n", out, W, H, rotation, mirror ? " mirrored" : "");
  return 0;
}
