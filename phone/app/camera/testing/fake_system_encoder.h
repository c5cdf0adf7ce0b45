#pragma once

// A system encoder factory for tests: it records every creation record and encode call;
// its "JPEG" is the marker bytes FF D8, then the first 8 source bytes, then FF D9.

#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "camera/system_encoder.h"

namespace camera::testing {

struct FakeSystemEncoder {
  static inline std::mutex mutex;
  static inline std::vector<SystemEncoderCreation> created;
  static inline std::vector<uint32_t> options;
  static inline int encodes = 0;
  static inline int released = 0;
  static inline std::vector<uint8_t> lastSource;  // the first w x h x 3/2 bytes of the last encode
  static inline int32_t factoryResult = 0;

  static void reset() {
    std::lock_guard lock(mutex);
    created.clear();
    options.clear();
    encodes = released = 0;
    lastSource.clear();
    factoryResult = 0;
  }

  struct Object {
    SystemEncoder base;
    SystemEncoderCreation record;
  };

  static int32_t encode(SystemEncoder* e, const uint8_t* source, uint8_t* destination, uint32_t* size) {
    auto* object = reinterpret_cast<Object*>(e);
    std::lock_guard lock(mutex);
    ++encodes;
    const size_t bytes = size_t{object->record.width} * object->record.height * 3 / 2;
    lastSource.assign(source, source + bytes);
    if (*size < 12) return 1;
    destination[0] = 0xFF;
    destination[1] = 0xD8;
    std::memcpy(destination + 2, source, 8);
    destination[10] = 0xFF;
    destination[11] = 0xD9;
    *size = 12;
    return 0;
  }
  static void release(SystemEncoder* e) {
    {
      std::lock_guard lock(mutex);
      ++released;
    }
    delete reinterpret_cast<Object*>(e);
  }
  static int32_t setOption(SystemEncoder*, uint32_t option, uint32_t value) {
    std::lock_guard lock(mutex);
    options.push_back(option << 16 | value);
    return 0;
  }
  static inline const SystemEncoderOperations operations{encode, release, setOption};

  static int32_t factory(SystemEncoder** slot, const SystemEncoderCreation* record) {
    std::lock_guard lock(mutex);
    created.push_back(*record);
    if (factoryResult != 0) return factoryResult;
    auto* object = new Object{{&operations}, *record};
    *slot = &object->base;
    return 0;
  }
};

}  // namespace camera::testing
