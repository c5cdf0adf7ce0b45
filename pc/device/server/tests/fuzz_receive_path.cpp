// Drives the whole receive path with arbitrary bytes: the stream goes into the ring in
// receive-sized pieces the way the listener writes it, the parser's passes find the
// messages, sound is forwarded to a recording device, every new frame is copied out and
// published to a frame block, and property lists and reports reach the property store.
// The recording device checks that every byte it is given lies inside the ring, so a
// length from the wire that escapes its bounds fails here even without a sanitizer.
//
// Input: byte 0 moves the start near the ring's end (wrapping on every input), byte 1
// sets the receive size, byte 2 repeats the rest of the input, bytes 3 and 4 append a run
// of filler (up to 8 MiB of one byte) so that huge declared lengths can complete.
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
    properties.apply(m.length, m.header.word3, m.header.word4, payload.data(), n, isList);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::unique_ptr<uint8_t[]> ring(new uint8_t[kRingSize]());
  if (size < 5) return 0;
  const uint64_t base = kRingSize - 1 - (data[0] % 64);
  uint64_t written = base;
  const size_t piece = 1 + static_cast<size_t>(data[1]) * 97;
  const int repeats = 1 + data[2] % 8;
  const size_t filler = static_cast<size_t>(data[3] % 96) << 16;
  const uint8_t fill = data[4];
  const uint8_t* stream = data + 5;
  const size_t streamSize = size - 5;

  Sink sink;
  sink.device.ring = ring.get();
  server::RingView view(ring.get(), [&written] { return written; });
  sink.ring = &view;
  server::ReceiveParser parser(view);

  // Like the listener: one receive never wraps and never exceeds the receive chunk.
  // `from` null: `total` bytes of `fill`.
  auto receive = [&](const uint8_t* from, size_t total, size_t most) {
    size_t done = 0;
    while (done < total) {
      const uint32_t at = static_cast<uint32_t>(written & server::kRingMask);
      size_t n = total - done;
      if (n > most) n = most;
      if (n > kRingSize - at) n = kRingSize - at;
      if (n > server::kMaxReceiveChunk) n = server::kMaxReceiveChunk;
      if (from != nullptr) {
        std::memcpy(ring.get() + at, from + done, n);
      } else {
        std::memset(ring.get() + at, fill, n);
      }
      written += n;
      done += n;
      parser.drain(sink);
    }
  };
  for (int r = 0; r < repeats; ++r) receive(stream, streamSize, piece);
  if (filler != 0) {
    receive(nullptr, filler, server::kMaxReceiveChunk);
    receive(stream, streamSize, piece);
  }
  static const uint8_t keepAlive[4] = {};
  receive(keepAlive, sizeof keepAlive, piece);  // completes what is pending  // a keep-alive completes what is pending
  return 0;
}
