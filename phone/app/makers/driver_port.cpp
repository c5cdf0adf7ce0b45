#include "makers/driver_port.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/device_io.h"
#include "platform/event.h"
#include "platform/named_objects.h"
#include "platform/utf16.h"

namespace makers {
namespace {

// A driver served by a local program: control requests only. What the driver writes
// back into a request's input block does not travel over this port.
class ServedDriver final : public DriverHandle {
 public:
  explicit ServedDriver(std::unique_ptr<platform::DeviceHandle> device) : device_(std::move(device)) {}
  bool control(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
               uint32_t* returned) override {
    return device_->control(code, in, inSize, out, outSize, returned);
  }
  bool read(void*, uint32_t, uint32_t* got) override {
    if (got != nullptr) *got = 0;
    return false;
  }

 private:
  std::unique_ptr<platform::DeviceHandle> device_;
};

class LocalEvent final : public NamedEvent {
  platform::Event event_{platform::Event::Reset::kAuto};
};

class SystemPort final : public DriverPort {
 public:
  std::unique_ptr<DriverHandle> open(std::u16string_view name, const DriverOpen&) override {
    // "CAM1:" is served as "\\.\CAM1".
    if (!name.empty() && name.back() == u':') name.remove_suffix(1);
    if (name.empty()) return nullptr;
    auto device = platform::openDevice("\\\\.\\" + platform::utf16ToUtf8Lossy(name));
    if (!device) return nullptr;
    return std::make_unique<ServedDriver>(std::move(device));
  }
  std::unique_ptr<NamedEvent> createNamedEvent(std::u16string_view) override {
    return std::make_unique<LocalEvent>();
  }
  // The frame area is the serving program's shared memory, opened as it is now: an area
  // that program removed is gone, one it made again is the new one. Every area mapped
  // stays mapped while the port lives (a camera keeps its address), and the same object
  // asked for again is not mapped twice.
  uint8_t* mapFrameArea(uint32_t address, uint32_t bytes) override {
    auto memory = platform::SharedMemory::openExisting(frameAreaObjectName(address), bytes);
    if (!memory) return nullptr;
    std::lock_guard lock(mutex_);
    for (const auto& kept : areas_) {
      if (kept->size() >= bytes && kept->sameObject(*memory)) return kept->data();
    }
    areas_.push_back(std::move(memory));
    return areas_.back()->data();
  }

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<platform::SharedMemory>> areas_;
};

}  // namespace

std::string frameAreaObjectName(uint32_t address) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(address));
  return std::string("_VistrelFrameArea_") + hex;
}

DriverPort& systemDriverPort() {
  static SystemPort port;
  return port;
}

}  // namespace makers
