// Feeds arbitrary bytes, in arbitrary receive-sized pieces, through the message scanner
// and the checks a frame reader makes, so that no input can make them read outside the
// ring or hang.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "protocol/stream_header.h"
#include "server/message_scanner.h"
#include "server/ring.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::unique_ptr<uint8_t[]> ring(new uint8_t[server::kRingSize]);
  static std::vector<uint8_t> frame(protocol::kMaxVideoPayload);
  if (size < 2) return 0;
  server::MessageScanner scanner;
  // Start close to the ring's end so that wrapping is exercised on every input.
  uint64_t written = server::kRingSize - 1 - (data[0] % 64);
  const size_t piece = 1 + data[1];
  size_t at = 2;
  while (at < size) {
    const size_t n = size - at < piece ? size - at : piece;
    for (size_t i = 0; i < n; ++i) ring[(written + i) & server::kRingMask] = data[at + i];
    written += n;
    at += n;
    if (scanner.scan(ring.get(), written)) {
      const server::RingMessage& m = scanner.latest();
      if (m.length > protocol::kHeaderSize && m.hasType(protocol::MSG_VIDEO_JPEG)) {
        size_t len = m.length - protocol::kHeaderSize;
        if (len > protocol::kMaxVideoPayload) len = protocol::kMaxVideoPayload;
        if (len >= 10 && server::ringBytesIntact(m.start + 32, len, written)) {
          server::copyFromRing(ring.get(), m.start + 32, len, frame.data());
          protocol::endOfImageInTail(frame.data() + len - 10);
        }
      }
    }
  }
  return 0;
}
