// A window for the screen tests: covers the whole X screen with a picture read from a
// binary PPM file, prints every button press and key press it receives, and shows
// another picture when a line "show FILE" arrives on standard input.
//   screen_test_window FILE.ppm
// Prints "ready" once the picture is on the screen, "button N at X,Y" and "key NAME".
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <unistd.h>

#include <bit>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Picture {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
};

bool readPpm(const std::string& path, Picture& p) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int maxValue = 0;
  in >> magic >> p.width >> p.height >> maxValue;
  in.get();
  if (!in || magic != "P6" || maxValue != 255 || p.width <= 0 || p.height <= 0 || p.width > 4096 ||
      p.height > 4096)
    return false;
  p.rgb.resize(static_cast<size_t>(p.width) * p.height * 3);
  in.read(reinterpret_cast<char*>(p.rgb.data()), static_cast<std::streamsize>(p.rgb.size()));
  return static_cast<bool>(in);
}

unsigned long scaled(unsigned value, unsigned long mask) {
  const int shift = std::countr_zero(mask);
  const int bits = std::popcount(mask);
  const unsigned long v = bits >= 8 ? value << (bits - 8) : value >> (8 - bits);
  return (v << shift) & mask;
}

void draw(Display* d, Window w, GC gc, const Picture& p) {
  const int screen = DefaultScreen(d);
  Visual* visual = DefaultVisual(d, screen);
  XImage* image = XCreateImage(d, visual, static_cast<unsigned>(DefaultDepth(d, screen)), ZPixmap, 0, nullptr,
                               static_cast<unsigned>(p.width), static_cast<unsigned>(p.height), 32, 0);
  image->data = static_cast<char*>(std::calloc(static_cast<size_t>(image->bytes_per_line) * p.height, 1));
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const unsigned char* c = &p.rgb[(static_cast<size_t>(y) * p.width + x) * 3];
      XPutPixel(image, x, y, scaled(c[0], visual->red_mask) | scaled(c[1], visual->green_mask) |
                                 scaled(c[2], visual->blue_mask));
    }
  XPutImage(d, w, gc, image, 0, 0, 0, 0, static_cast<unsigned>(p.width), static_cast<unsigned>(p.height));
  XDestroyImage(image);
  XSync(d, False);
}

}  // namespace

int main(int argc, char** argv) {
  Picture picture;
  if (argc != 2 || !readPpm(argv[1], picture)) {
    std::fprintf(stderr, "usage: screen_test_window FILE.ppm (binary PPM, 8 bits)\n");
    return 2;
  }
  Display* d = XOpenDisplay(nullptr);
  if (!d) {
    std::fprintf(stderr, "screen_test_window: no display\n");
    return 1;
  }
  const int screen = DefaultScreen(d);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixel = BlackPixel(d, screen);
  attributes.event_mask = ButtonPressMask | KeyPressMask | ExposureMask;
  const Window w = XCreateWindow(d, RootWindow(d, screen), 0, 0, static_cast<unsigned>(DisplayWidth(d, screen)),
                                 static_cast<unsigned>(DisplayHeight(d, screen)), 0, CopyFromParent,
                                 InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel | CWEventMask,
                                 &attributes);
  GC gc = XCreateGC(d, w, 0, nullptr);
  XMapRaised(d, w);
  // Wait until the window is on the screen before drawing.
  for (XEvent e;;) {
    XNextEvent(d, &e);
    if (e.type == Expose) break;
  }
  XSetInputFocus(d, w, RevertToParent, CurrentTime);
  draw(d, w, gc, picture);
  std::printf("ready\n");
  std::fflush(stdout);

  std::string line;
  bool input = true;
  for (;;) {
    while (XPending(d)) {
      XEvent e;
      XNextEvent(d, &e);
      if (e.type == ButtonPress) {
        std::printf("button %u at %d,%d\n", e.xbutton.button, e.xbutton.x, e.xbutton.y);
      } else if (e.type == KeyPress) {
        const KeySym sym = XLookupKeysym(&e.xkey, 0);
        const char* name = XKeysymToString(sym);
        std::printf("key %s\n", name ? name : "?");
      } else if (e.type == Expose && e.xexpose.count == 0) {
        draw(d, w, gc, picture);
      }
      std::fflush(stdout);
    }
    pollfd fds[2] = {{ConnectionNumber(d), POLLIN, 0}, {input ? STDIN_FILENO : -1, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) break;
    if (fds[0].revents & (POLLERR | POLLHUP)) break;
    if (fds[1].revents & (POLLIN | POLLHUP)) {
      char buffer[512];
      const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
      if (n <= 0) {
        // End of input: keep showing the picture until ended.
        input = false;
        continue;
      }
      line.append(buffer, static_cast<size_t>(n));
      for (size_t at; (at = line.find('\n')) != std::string::npos; line.erase(0, at + 1)) {
        const std::string command = line.substr(0, at);
        if (command.rfind("show ", 0) == 0 && readPpm(command.substr(5), picture)) {
          draw(d, w, gc, picture);
          std::printf("shown\n");
        } else {
          std::printf("unknown: %s\n", command.c_str());
        }
        std::fflush(stdout);
      }
    }
  }
  XCloseDisplay(d);
  return 0;
}
