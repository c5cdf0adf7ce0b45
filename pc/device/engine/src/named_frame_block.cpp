#include "engine/named_frame_block.h"

#include <cstring>

#include "protocol/byte_order.h"
#include "protocol/stream_header.h"

namespace engine {

std::unique_ptr<NamedFrameBlock> NamedFrameBlock::open() {
  std::unique_ptr<NamedFrameBlock> block(new NamedFrameBlock());
  block->view_ = platform::SharedMemory::openOrCreate(kFrameMappingName, kFrameViewSize);
  if (!block->view_ || block->view_->size() < kFrameViewSize) return nullptr;
  block->event_ = platform::NamedEvent::openOrCreate(kFrameEventName);
  block->mutex_ = platform::NamedMutex::openOrCreate(kFrameMutexName);
  if (!block->event_ || !block->mutex_) return nullptr;
  return block;
}

uint8_t* NamedFrameBlock::lockView(size_t& viewSize) {
  mutex_->lock();
  viewSize = kFrameViewSize;
  return view_->data();
}

void NamedFrameBlock::unlockAndPulse() {
  mutex_->unlock();
  event_->pulse();  // after the release, so a woken reader finds the frame complete
}

uint32_t NamedFrameBlock::readFrame(uint8_t* destination) {
  using protocol::kHeaderSize;
  mutex_->lock();
  uint8_t* view = view_->data();
  uint32_t n = 0;
  const uint32_t length = protocol::load32(view + 8);
  if (protocol::isMagicAt(view) && protocol::load32(view + 16) == protocol::MSG_VIDEO_JPEG &&
      length > kHeaderSize && length <= kFrameViewSize) {
    const uint32_t payload = length - static_cast<uint32_t>(kHeaderSize);
    if (payload >= 10) {
      uint8_t* jpeg = view + kHeaderSize;
      std::memcpy(jpeg, protocol::kJfifPrefix, sizeof protocol::kJfifPrefix);
      if (protocol::endOfImageInTail(jpeg + payload - 10)) {
        n = payload;
        if (destination != nullptr) std::memcpy(destination, jpeg, n);
      }
    }
  }
  mutex_->unlock();
  return n;
}

bool NamedFrameBlock::waitFrame(uint32_t timeoutMs) { return event_->wait(timeoutMs); }
void NamedFrameBlock::pulse() { event_->pulse(); }

}  // namespace engine
