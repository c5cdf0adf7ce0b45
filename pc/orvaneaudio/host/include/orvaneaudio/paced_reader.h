#pragma once

// PacedReader: turns one stream of a ring, fed in bursts of any size, into a consumer
// that pulls a given number of bytes at real-time rate and always gets them.
//
// The reader keeps a distance (the bytes fed but not yet read) behind the stream's write
// position. It starts playing once the distance covers the request plus its target
// margin; when it runs dry it fills the rest of the request with silence, raises the
// target (so bursty feeds settle into gap-free play: at least the largest burst seen)
// and waits for the margin again. The distance never exceeds a bound derived from the
// target: beyond it the reader skips ahead to the margin, dropping the oldest sound. When the distance stays above the target for a long stretch, the target
// falls back, so one bad stretch of network does not add latency for ever.
//
// Threading: one consumer thread; the source may be written concurrently.

#include <cstdint>
#include <climits>

#include "orvaneaudio/feed_ring.h"

namespace orvaneaudio {

// One stream's bytes in a ring of kRingBytes.
class StreamSource {
 public:
  virtual ~StreamSource() = default;
  // Bytes written since the stream's start, modulo the ring size.
  virtual uint32_t position() = 0;
  // Copies `length` bytes from stream offset `sourceOffset` (modulo the ring size).
  virtual void copy(uint8_t* destination, uint32_t sourceOffset, uint32_t length) = 0;
};

// A FeedRing stream as a source.
class RingStreamSource final : public StreamSource {
 public:
  RingStreamSource(FeedRing& ring, FeedStream& stream) : ring_(ring), stream_(stream) {}
  uint32_t position() override { return ring_.streamPosition(stream_); }
  void copy(uint8_t* destination, uint32_t sourceOffset, uint32_t length) override {
    ring_.copyOut(stream_, destination, sourceOffset, length);
  }

 private:
  FeedRing& ring_;
  FeedStream& stream_;
};

class PacedReader {
 public:
  struct Limits {
    uint32_t initialTargetBytes = 480;   // 30 ms
    uint32_t maxTargetBytes = 36000;     // 2.25 s: the longest block a phone sends (2 s) and some
    uint32_t relaxAfterBytes = 160000;   // 10 s of play without running dry
  };

  PacedReader() : PacedReader(Limits{}) {}
  explicit PacedReader(Limits limits);

  // The stream (re)started: read from its start again, wait for the target.
  void restart();

  // Fills exactly `length` bytes of `destination`.
  void read(StreamSource& source, uint8_t* destination, uint32_t length);

  uint32_t targetBytes() const { return target_; }
  // The largest distance kept for a request of `length` bytes.
  uint32_t maxDistanceBytes(uint32_t length) const { return 2 * target_ + 2 * length; }
  uint32_t underruns() const { return underruns_; }
  uint32_t skips() const { return skips_; }

 private:
  Limits limits_;
  uint32_t readOffset_ = 0;
  uint32_t target_;
  bool priming_ = true;
  bool played_ = false;
  uint64_t playedSinceDry_ = 0;
  uint32_t windowMin_ = UINT32_MAX;
  uint32_t distanceAfterRead_ = 0;
  uint32_t largestArrival_ = 0;  // most bytes seen arriving between two reads, lately  // smallest distance before a read since the last check
  uint32_t underruns_ = 0;
  uint32_t skips_ = 0;
};

}  // namespace orvaneaudio
