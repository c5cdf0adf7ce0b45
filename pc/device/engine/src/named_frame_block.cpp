#include "engine/named_frame_block.h"

#include <cstring>

#include "platform/byte_order.h"
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
  if (!view_->intact()) {  // shrunk by someone else: publishing would fault
    mutex_->unlock();
    viewSize = 0;
    return nullptr;
  }
  viewSize = kFrameViewSize;
  return view_->data();
}

void NamedFrameBlock::unlockAndPulse() {
  mutex_->unlock();
  event_->pulse();  // after the release, so a woken reader finds the frame complete
}

uint32_t NamedFrameBlock::readFrame(uint8_t* destination) {
  using protocol::kHeaderSize;
  // Everything is copied out through the object's file, never read in the mapping: a view
  // that someone shrank then reads as no frame instead of killing this process. The
  // JFIF start is restored in the copy; the view itself is left as published.
  mutex_->lock();
  uint32_t n = 0;
  uint8_t header[kHeaderSize];
  if (view_->read(0, header, kHeaderSize)) {
    const uint32_t length = platform::load32(header + 8);
    if (protocol::isMagicAt(header) && platform::load32(header + 16) == protocol::MSG_VIDEO_JPEG &&
        length > kHeaderSize && length <= kFrameViewSize && length - kHeaderSize >= 10) {
      const uint32_t payload = length - static_cast<uint32_t>(kHeaderSize);
      uint8_t tail[10];
      const uint8_t* tailAt = tail;
      bool copied = false;
      if (destination != nullptr) {
        copied = view_->read(kHeaderSize, destination, payload);
        if (copied) std::memcpy(destination, protocol::kJfifPrefix, sizeof protocol::kJfifPrefix);
        tailAt = destination + payload - 10;
      } else {
        copied = view_->read(kHeaderSize + payload - 10, tail, 10);
        for (uint32_t i = 0; i < 10; ++i) {  // a short payload's tail holds restored bytes
          const uint32_t at = payload - 10 + i;
          if (at < sizeof protocol::kJfifPrefix) tail[i] = protocol::kJfifPrefix[at];
        }
      }
      if (copied && protocol::endOfImageInTail(tailAt)) n = payload;
    }
  }
  mutex_->unlock();
  return n;
}

bool NamedFrameBlock::waitFrame(uint32_t timeoutMs) { return event_->wait(timeoutMs); }
void NamedFrameBlock::pulse() { event_->pulse(); }

}  // namespace engine
