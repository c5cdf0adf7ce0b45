#include "engine/shared_property_list.h"

#include <cstring>

#include "platform/byte_order.h"

namespace engine {

std::unique_ptr<SharedPropertyList> SharedPropertyList::open() {
  std::unique_ptr<SharedPropertyList> list(new SharedPropertyList());
  list->view_ = platform::SharedMemory::openOrCreate(kPropertyMappingName, kViewSize);
  if (!list->view_ || list->view_->size() < kViewSize) return nullptr;
  list->mutex_ = platform::NamedMutex::openOrCreate(kPropertyMutexName);
  if (!list->mutex_) return nullptr;
  return list;
}

void SharedPropertyList::publish(const std::vector<protocol::PropertyEntry>& entries) {
  mutex_->lock();
  if (view_->intact()) {  // a view shrunk by someone else is left alone
    uint8_t* view = view_->data();
    size_t used = 0;
    for (const protocol::PropertyEntry& e : entries) {
      if (used + e.size > protocol::kMaxPropertyListPayload) break;
      std::memcpy(view + 8 + used, e.bytes, e.size);
      used += e.size;
    }
    platform::store32(view, kMagic);
    platform::store32(view + 4, static_cast<uint32_t>(used));
  }
  mutex_->unlock();
}

void SharedPropertyList::read(std::vector<uint8_t>& bytes, std::vector<protocol::PropertyEntry>& entries) {
  entries.clear();
  bytes.resize(protocol::kMaxPropertyListPayload);
  uint8_t head[8];
  uint32_t size = 0;
  mutex_->lock();
  if (view_->read(0, head, sizeof head) && platform::load32(head) == kMagic) {
    size = platform::load32(head + 4);
    if (size > protocol::kMaxPropertyListPayload || !view_->read(8, bytes.data(), size)) size = 0;
  }
  mutex_->unlock();
  protocol::parsePropertyList(bytes.data(), size, entries);
}

}  // namespace engine
