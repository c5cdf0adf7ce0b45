#include "server/property_store.h"

#include <cstring>

#include "protocol/stream_header.h"
#include "server/frame_receiver.h"

namespace server {
namespace {
// Entries are at least 44 bytes, so a 16384-byte store holds fewer than this many.
constexpr size_t kMaxEntries = protocol::kMaxPropertyListPayload / protocol::kPropertyEntryFixedSize + 1;
}  // namespace

PropertyStore::PropertyStore()
    : receiveStore_(new uint8_t[protocol::kMaxPropertyListPayload]()),
      listStore_(new uint8_t[protocol::kMaxPropertyListPayload]()) {
  scratch_.reserve(kMaxEntries);
  list_.reserve(kMaxEntries);
}

void PropertyStore::onMessage(void* context, FrameReceiver& receiver) {
  auto* self = static_cast<PropertyStore*>(context);
  const RingMessage m = receiver.latestMessage();
  const bool isList = m.hasType(protocol::MSG_PROPERTY_LIST);
  if (m.length != protocol::kHeaderSize && !isList) return;
  uint32_t size = 0;
  if (isList) {
    size = receiver.copyLatestPayload(self->receiveStore_.get(),
                                      protocol::kMaxPropertyListPayload);
    // A new list makes every command for the old one meaningless.
    receiver.dropPendingCommands();
  }
  self->apply(m.length, m.header.reportKey(), m.header.reportIndex(), self->receiveStore_.get(),
              size, isList);
}

void PropertyStore::apply(uint32_t length, uint32_t reportKey, uint32_t reportIndex,
                          const uint8_t* payload, uint32_t payloadSize, bool isPropertyList) {
  bool changed = false;
  {
    std::lock_guard lock(mutex_);
    if (length == protocol::kHeaderSize) {
      changed = protocol::applyValueReport(list_, reportKey, reportIndex);
    } else if (isPropertyList) {
      protocol::parsePropertyList(payload, payloadSize, scratch_);
      size_t used = 0;
      for (const protocol::PropertyEntry& e : scratch_) {
        std::memcpy(listStore_.get() + used, e.bytes, e.size);
        used += e.size;
      }
      protocol::parsePropertyList(listStore_.get(), used, list_);
      ++generation_;
      changed = true;
    }
  }
  if (changed && changed_) changed_(isPropertyList);
}

void PropertyStore::setChangeListener(std::function<void(bool)> listener) {
  std::lock_guard lock(mutex_);
  changed_ = std::move(listener);
}

void PropertyStore::read(
    const std::function<void(const std::vector<protocol::PropertyEntry>&)>& reader) const {
  std::lock_guard lock(mutex_);
  reader(list_);
}

bool PropertyStore::choose(uint32_t key, uint32_t index) {
  std::lock_guard lock(mutex_);
  return protocol::applyValueReport(list_, key, index);
}

uint32_t PropertyStore::generation() const {
  std::lock_guard lock(mutex_);
  return generation_;
}

}  // namespace server
