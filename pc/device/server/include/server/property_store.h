#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "protocol/property_list.h"

namespace server {

class FrameReceiver;

// The phone's property list as the PC keeps it. Each received list is copied into a
// receive store, parsed, copied entry by entry into a second store and parsed again; that
// copy replaces the previous list. Value reports (header-only messages) update the entry
// with their key. Both stores (16384 bytes each) and the entry table are made once.
//
// Threading: onMessage runs on the frame server's parser thread; the readers may run on
// any thread. One lock guards the list.
class PropertyStore {
 public:
  PropertyStore();

  // The frame server's message callback; `context` is the PropertyStore.
  static void onMessage(void* context, FrameReceiver& receiver);

  // Called after the list changed (replaced or a value updated), on the parser thread,
  // outside the lock. `replaced` tells a new list from a value report.
  void setChangeListener(std::function<void(bool replaced)> listener);

  // Runs `reader` with the current list under the lock.
  void read(const std::function<void(const std::vector<protocol::PropertyEntry>&)>& reader) const;
  // Sets the current index of the property with `key` in the PC's copy (the caller sends
  // the set-property command). False when there is no such value.
  bool choose(uint32_t key, uint32_t index);
  uint32_t generation() const;

  // Applies one handed-over message; what onMessage does. Public for the tests.
  void apply(uint32_t length, uint32_t reportKey, uint32_t reportIndex, const uint8_t* payload,
             uint32_t payloadSize, bool isPropertyList);

 private:
  mutable std::mutex mutex_;
  std::unique_ptr<uint8_t[]> receiveStore_;
  std::unique_ptr<uint8_t[]> listStore_;
  std::vector<protocol::PropertyEntry> scratch_;
  std::vector<protocol::PropertyEntry> list_;
  uint32_t generation_ = 0;
  std::function<void(bool)> changed_;
};

}  // namespace server
