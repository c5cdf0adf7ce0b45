// Drives the whole receive path with arbitrary bytes: the stream goes into the ring in
// receive-sized pieces the way the listener writes it, the parser's passes find the
// messages, sound is forwarded to a recording device, every new frame is copied out and
// published to a frame block, and property lists and reports reach the property store.
// The recording device checks that every byte it is given lies inside the ring, so a
// length from the wire that escapes its bounds fails here even without a sanitizer.
//
// Input: byte 0 moves the start near the ring's end (wrapping on every input), byte 1
// sets the receive size; the rest is a list of records that build the stream, so that
// headers with any declared length and runs of megabytes are easy to reach:
//   0 n bytes...   n raw bytes          1 type len32   a header (magic pair included)
//   2 k v          k x 64 KiB of byte v 3              a keep-alive (four zero bytes)
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "protocol/stream_header.h"
#include "server/property_store.h"
#include "server/receive_parser.h"
#include "server/ring.h"

namespace {

using server::kRingSize;

struct Recorder : platform::DeviceHandle {
  const uint8_t* ring = nullptr;
  bool control(uint32_t, const void* in, uint32_t inSize, void*, uint32_t, uint32_t*) override {
    const auto* p = static_cast<const uint8_t*>(in);
    if (p < ring || inSize > kRingSize || p + inSize > ring + kRingSize) std::abort();
    uint32_t sum = 0;
    for (uint32_t i = 0; i < inSize; ++i) sum += p[i];  // touch every byte handed over
    checksum += sum;
    return true;
  }
  uint32_t checksum = 0;
};

struct Block : server::SharedFrameBlock {
  std::vector<uint8_t> view = std::vector<uint8_t>(protocol::kMaxVideoPayload);
  uint8_t* lockView(size_t& size) override {
    size = view.size();
    return view.data();
  }
  void unlockAndPulse() override {}
};

// The large buffers are made once; the property store is fresh for every input.
Block& block() {
  static Block b;
  return b;
}
std::vector<uint8_t>& frame() {
  static std::vector<uint8_t> f(protocol::kMaxVideoPayload);
  return f;
}

struct Sink : server::ReceiveParser::Sink {
  Recorder device;
  server::PropertyStore properties;
  const server::RingView* ring = nullptr;
  std::vector<uint8_t> payload = std::vector<uint8_t>(protocol::kMaxPropertyListPayload);

  platform::DeviceHandle* audioDevice() override { return &device; }
  void handOver(const server::RingMessage& m, const server::RingMessage* newVideo) override {
    if (newVideo != nullptr) {
      ring->copyJpeg(*newVideo, frame().data());
      ring->publish(*newVideo, block());
    }
    const bool isList = m.hasType(protocol::MSG_PROPERTY_LIST);
    const uint32_t n = isList ? ring->copyPayload(m, payload.data(), static_cast<uint32_t>(payload.size())) : 0;
    properties.apply(m.length, m.header.reportKey(), m.header.reportIndex(), payload.data(), n,
                     isList);
  }
};

}  // namespace

// The stream the records describe, at most kMaxStream bytes.
std::vector<uint8_t> buildStream(const uint8_t* data, size_t size) {
  constexpr size_t kMaxStream = 12u << 20;
  std::vector<uint8_t> out;
  size_t i = 0;
  auto next = [&]() -> uint8_t { return i < size ? data[i++] : 0; };
  while (i < size && out.size() < kMaxStream) {
    switch (next() % 4) {
      case 0: {
        const size_t n = next();
        for (size_t k = 0; k < n && i < size; ++k) out.push_back(data[i++]);
        break;
      }
      case 1: {
        protocol::StreamHeader h;
        const uint32_t type = next() % 4;
        for (int shift = 0; shift < 32; shift += 8) h.length |= static_cast<uint32_t>(next()) << shift;
        h.setMessage(type, next());
        uint8_t bytes[protocol::kHeaderSize];
        protocol::encodeHeader(h, bytes);
        out.insert(out.end(), bytes, bytes + sizeof bytes);
        break;
      }
      case 2: {
        const size_t n = static_cast<size_t>(next()) << 16;
        out.insert(out.end(), n < kMaxStream - out.size() ? n : kMaxStream - out.size(), next());
        break;
      }
      default:
        out.insert(out.end(), 4, 0);
    }
  }
  return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::unique_ptr<uint8_t[]> ring(new uint8_t[kRingSize]());
  if (size < 3) return 0;
  const uint64_t base = kRingSize - 1 - (data[0] % 64);
  uint64_t written = base;
  const std::vector<uint8_t> stream = buildStream(data + 2, size - 2);
  size_t piece = 1 + static_cast<size_t>(data[1]) * 997;
  if (piece < stream.size() / 4096) piece = stream.size() / 4096;  // bounded work per input

  Sink sink;
  sink.device.ring = ring.get();
  server::RingView view(ring.get(), [&written] { return written; });
  sink.ring = &view;
  server::ReceiveParser parser(view);

  // Like the listener: one receive never wraps and never exceeds the receive chunk.
  size_t done = 0;
  while (done < stream.size()) {
    const uint32_t at = static_cast<uint32_t>(written & server::kRingMask);
    size_t n = stream.size() - done;
    if (n > piece) n = piece;
    if (n > kRingSize - at) n = kRingSize - at;
    if (n > server::kMaxReceiveChunk) n = server::kMaxReceiveChunk;
    std::memcpy(ring.get() + at, stream.data() + done, n);
    written += n;
    done += n;
    parser.drain(sink);
  }
  return 0;
}
