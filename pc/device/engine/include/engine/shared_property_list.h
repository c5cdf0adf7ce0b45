#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/named_objects.h"
#include "protocol/property_list.h"
#include "protocol/stream_header.h"

namespace engine {

inline constexpr char kPropertyMappingName[] = "_VistrelOBJ4_";
inline constexpr char kPropertyMutexName[] = "_VistrelOBJ5_";

// The phone's property list as the serving process last had it, for its clients (the
// viewer's settings page beside the service): a named view holding a magic word, the
// list's size and its bytes, guarded by a named mutex. Any local user of the objects can
// write the view, so a reader copies it out and parses it with every bound checked.
//
// Threading: publication on the frame server's parser thread or the command relay;
// reads from any thread.
class SharedPropertyList {
 public:
  static constexpr uint32_t kMagic = 0x4C525056;  // "VPRL" in memory order
  static constexpr size_t kViewSize = 8 + protocol::kMaxPropertyListPayload;

  // Creates or opens the view and its mutex; null when either cannot be made.
  static std::unique_ptr<SharedPropertyList> open();

  // Publishes the entries (each entry's bytes, end to end).
  void publish(const std::vector<protocol::PropertyEntry>& entries);
  // Copies the published list into `bytes` and parses it into `entries` (which refer to
  // `bytes`). An empty or damaged view gives no entries.
  void read(std::vector<uint8_t>& bytes, std::vector<protocol::PropertyEntry>& entries);

 private:
  SharedPropertyList() = default;
  std::unique_ptr<platform::SharedMemory> view_;
  std::unique_ptr<platform::NamedMutex> mutex_;
};

}  // namespace engine
