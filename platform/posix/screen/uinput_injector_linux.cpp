// Input for a frame buffer console: a virtual input device made through uinput, with an
// absolute pointer over the screen's pixels and the keys of the virtual-key table.
#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

#include "screen_readers.h"

namespace platform {
namespace {

class UinputInjector final : public InputInjector {
 public:
  explicit UinputInjector(int fd) : fd_(fd) {}
  ~UinputInjector() override {
    ioctl(fd_, UI_DEV_DESTROY);
    close(fd_);
  }
  UinputInjector(const UinputInjector&) = delete;
  UinputInjector& operator=(const UinputInjector&) = delete;

  bool tap(uint32_t x, uint32_t y) override {
    return emit(EV_ABS, ABS_X, static_cast<int32_t>(x)) && emit(EV_ABS, ABS_Y, static_cast<int32_t>(y)) &&
           emit(EV_KEY, BTN_TOUCH, 1) && emit(EV_KEY, BTN_LEFT, 1) && emit(EV_SYN, SYN_REPORT, 0) &&
           emit(EV_KEY, BTN_TOUCH, 0) && emit(EV_KEY, BTN_LEFT, 0) && emit(EV_SYN, SYN_REPORT, 0);
  }

  bool key(uint32_t virtualKey) override {
    const uint16_t code = keyForVirtualKey(virtualKey).eventCode;
    if (code == 0) return false;
    return emit(EV_KEY, code, 1) && emit(EV_SYN, SYN_REPORT, 0) && emit(EV_KEY, code, 0) &&
           emit(EV_SYN, SYN_REPORT, 0);
  }

 private:
  bool emit(uint16_t type, uint16_t code, int32_t value) {
    input_event event{};
    event.type = type;
    event.code = code;
    event.value = value;
    return write(fd_, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
  }

  const int fd_;
};

}  // namespace

std::unique_ptr<InputInjector> openUinputInjector(uint32_t width, uint32_t height) {
  if (width == 0 || height == 0) return nullptr;
  const int fd = open("/dev/uinput", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  bool ok = ioctl(fd, UI_SET_EVBIT, EV_KEY) == 0 && ioctl(fd, UI_SET_EVBIT, EV_ABS) == 0 &&
            ioctl(fd, UI_SET_EVBIT, EV_SYN) == 0 && ioctl(fd, UI_SET_KEYBIT, BTN_LEFT) == 0 &&
            ioctl(fd, UI_SET_KEYBIT, BTN_TOUCH) == 0 && ioctl(fd, UI_SET_ABSBIT, ABS_X) == 0 &&
            ioctl(fd, UI_SET_ABSBIT, ABS_Y) == 0;
  for (uint32_t vk = 1; ok && vk < 256; ++vk)
    if (const uint16_t code = keyForVirtualKey(vk).eventCode) ok = ioctl(fd, UI_SET_KEYBIT, code) == 0;
  const uint32_t extent[2] = {width, height};
  for (int axis = 0; ok && axis < 2; ++axis) {
    uinput_abs_setup abs{};
    abs.code = axis == 0 ? ABS_X : ABS_Y;
    abs.absinfo.minimum = 0;
    abs.absinfo.maximum = static_cast<int32_t>(extent[axis] - 1);
    ok = ioctl(fd, UI_ABS_SETUP, &abs) == 0;
  }
  if (ok) {
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    setup.id.vendor = 0x1209;
    setup.id.product = 0x5653;
    std::strncpy(setup.name, "vistrel remote input", UINPUT_MAX_NAME_SIZE - 1);
    ok = ioctl(fd, UI_DEV_SETUP, &setup) == 0 && ioctl(fd, UI_DEV_CREATE) == 0;
  }
  if (!ok) {
    close(fd);
    return nullptr;
  }
  return std::make_unique<UinputInjector>(fd);
}

}  // namespace platform
