// The X server as a screen: the root window with every visible window on it, read
// through the shared-memory extension (MIT-SHM) where the server offers it and shares
// memory with this process, else with plain GetImage. Input goes in through XTest.
//
// A server that goes away must not end the program (Xlib's default): the fatal-error
// handlers only mark the connection broken, the calls that follow fail, and the reader
// reports that it can no longer read.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/XTest.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "screen_readers.h"

namespace platform {
namespace {

// The error code of the last failed request on this thread (Xlib calls the handler on
// the thread whose call received the error).
thread_local int tLastError = 0;

int onError(Display*, XErrorEvent* event) {
  tLastError = event->error_code;
  return 0;
}
int onFatalError(Display*) { return 0; }
void onFatalErrorExit(Display*, void* broken) {
  static_cast<std::atomic<bool>*>(broken)->store(true);
}

// One connection to $DISPLAY that survives the server's end.
class Connection {
 public:
  static std::unique_ptr<Connection> open() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') return nullptr;
    static std::once_flag handlers;
    std::call_once(handlers, [] {
      XSetErrorHandler(onError);
      XSetIOErrorHandler(onFatalError);
    });
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return nullptr;
    return std::unique_ptr<Connection>(new Connection(display));
  }
  ~Connection() {
    // A broken connection is closed too: Xlib then only frees its memory.
    XCloseDisplay(display_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  Display* display() const { return display_; }
  bool broken() const { return broken_.load(); }
  // Waits for the server to process everything sent; false on an error or a lost server.
  bool sync() {
    tLastError = 0;
    XSync(display_, False);
    return !broken() && tLastError == 0;
  }

 private:
  explicit Connection(Display* display) : display_(display) {
    XSetIOErrorExitHandler(display_, onFatalErrorExit, &broken_);
  }
  Display* const display_;
  std::atomic<bool> broken_{false};
};

class DisplayServerReader final : public ScreenReader {
 public:
  explicit DisplayServerReader(std::unique_ptr<Connection> connection)
      : connection_(std::move(connection)), display_(connection_->display()),
        root_(DefaultRootWindow(display_)) {
    useShm_ = XShmQueryExtension(display_) == True;
  }
  ~DisplayServerReader() override { dropImage(); }
  DisplayServerReader(const DisplayServerReader&) = delete;
  DisplayServerReader& operator=(const DisplayServerReader&) = delete;

  bool read(ScreenImage& out) override {
    if (connection_->broken()) return false;
    XWindowAttributes root{};
    tLastError = 0;
    if (!XGetWindowAttributes(display_, root_, &root) || connection_->broken() || root.width <= 0 ||
        root.height <= 0)
      return false;
    const auto width = static_cast<uint32_t>(root.width), height = static_cast<uint32_t>(root.height);
    if (image_ && (width != imageWidth_ || height != imageHeight_)) dropImage();
    if (useShm_ && !readShared(width, height)) {
      if (connection_->broken()) return false;
      // The server cannot share memory with this process (another machine, another IPC
      // namespace): plain requests from now on.
      dropImage();
      useShm_ = false;
    }
    if (!useShm_) {
      dropImage();
      tLastError = 0;
      image_ = XGetImage(display_, root_, 0, 0, width, height, AllPlanes, ZPixmap);
      if (!image_ || connection_->broken()) return false;
      imageWidth_ = width;
      imageHeight_ = height;
    }
    if (image_->byte_order != LSBFirst || (image_->bits_per_pixel != 16 && image_->bits_per_pixel != 24 &&
                                           image_->bits_per_pixel != 32))
      return false;
    const uint64_t rowBytes = uint64_t{imageWidth_} * static_cast<uint32_t>(image_->bits_per_pixel / 8);
    if (image_->bytes_per_line < 0 || static_cast<uint64_t>(image_->bytes_per_line) < rowBytes) return false;
    out.pixels = reinterpret_cast<const uint8_t*>(image_->data);
    out.width = imageWidth_;
    out.height = imageHeight_;
    out.strideBytes = static_cast<uint32_t>(image_->bytes_per_line);
    out.layout.bitsPerPixel = static_cast<uint32_t>(image_->bits_per_pixel);
    out.layout.redMask = static_cast<uint32_t>(image_->red_mask);
    out.layout.greenMask = static_cast<uint32_t>(image_->green_mask);
    out.layout.blueMask = static_cast<uint32_t>(image_->blue_mask);
    return true;
  }

  ScreenKind kind() const override { return ScreenKind::kDisplayServer; }
  const char* method() const override { return useShm_ ? "X11 shared memory" : "X11"; }

 private:
  bool readShared(uint32_t width, uint32_t height) {
    if (!image_) {
      const int screen = DefaultScreen(display_);
      image_ = XShmCreateImage(display_, DefaultVisual(display_, screen),
                               static_cast<unsigned>(DefaultDepth(display_, screen)), ZPixmap, nullptr,
                               &shm_, width, height);
      if (!image_) return false;
      imageWidth_ = width;
      imageHeight_ = height;
      const size_t bytes = static_cast<size_t>(image_->bytes_per_line) * height;
      shm_.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
      if (shm_.shmid < 0) return false;
      shm_.shmaddr = image_->data = static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
      if (shm_.shmaddr == reinterpret_cast<char*>(-1)) {
        shm_.shmaddr = image_->data = nullptr;
        return false;
      }
      shm_.readOnly = False;
      XShmAttach(display_, &shm_);
      attached_ = connection_->sync();
      // Freed by the system once both sides let go of it.
      shmctl(shm_.shmid, IPC_RMID, nullptr);
      if (!attached_) return false;
    }
    tLastError = 0;
    return XShmGetImage(display_, root_, image_, 0, 0, AllPlanes) == True && tLastError == 0 &&
           !connection_->broken();
  }

  void dropImage() {
    if (!image_) return;
    if (attached_) {
      XShmDetach(display_, &shm_);
      connection_->sync();
      attached_ = false;
    }
    if (shm_.shmaddr != nullptr) {
      shmdt(shm_.shmaddr);
      shm_.shmaddr = nullptr;
      image_->data = nullptr;  // not Xlib's memory
    }
    XDestroyImage(image_);
    image_ = nullptr;
    shm_ = XShmSegmentInfo{};
  }

  std::unique_ptr<Connection> connection_;
  Display* const display_;
  const Window root_;
  bool useShm_ = false;
  XImage* image_ = nullptr;
  uint32_t imageWidth_ = 0, imageHeight_ = 0;
  XShmSegmentInfo shm_{};
  bool attached_ = false;
};

class DisplayServerInjector final : public InputInjector {
 public:
  explicit DisplayServerInjector(std::unique_ptr<Connection> connection)
      : connection_(std::move(connection)), display_(connection_->display()) {}

  bool tap(uint32_t x, uint32_t y) override {
    if (connection_->broken()) return false;
    XTestFakeMotionEvent(display_, DefaultScreen(display_), static_cast<int>(x), static_cast<int>(y), CurrentTime);
    XTestFakeButtonEvent(display_, 1, True, CurrentTime);
    XTestFakeButtonEvent(display_, 1, False, CurrentTime);
    return connection_->sync();
  }

  bool key(uint32_t virtualKey) override {
    if (connection_->broken()) return false;
    const uint32_t keysym = keyForVirtualKey(virtualKey).keysym;
    if (keysym == 0) return false;
    const KeyCode code = XKeysymToKeycode(display_, keysym);
    if (code == 0) return false;
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    return connection_->sync();
  }

 private:
  std::unique_ptr<Connection> connection_;
  Display* const display_;
};

}  // namespace

std::unique_ptr<ScreenReader> openDisplayServerReader() {
  auto connection = Connection::open();
  if (!connection) return nullptr;
  auto reader = std::make_unique<DisplayServerReader>(std::move(connection));
  ScreenImage probe;
  if (!reader->read(probe)) return nullptr;
  return reader;
}

std::unique_ptr<InputInjector> openDisplayServerInjector() {
  auto connection = Connection::open();
  if (!connection) return nullptr;
  int event = 0, error = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(connection->display(), &event, &error, &major, &minor)) return nullptr;
  return std::make_unique<DisplayServerInjector>(std::move(connection));
}

}  // namespace platform
