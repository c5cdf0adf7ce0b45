#pragma once

// FeedRing: the microphone's ring of fed sound and its pacing, independent of any audio
// system. Feeders write raw PCM into one 196,608-byte ring; each capture stream reads the
// same ring from the write position it saw when it last started running. While at least
// one stream runs and nothing has been fed for more than 2 s, every pacing tick writes
// 100 ms of silence, so readers keep getting data at real-time rate.
//
// The ring knows nothing of timers, threads or processes. Its host gives it a clock in
// 100-ns units, a pacing timer to arm and cancel (period 100 ms; the host calls tick()
// on every expiry), and a notification callback called after every write.
//
// Threading: write(), tick(), the position readers and setStreamState() may be called
// from any thread. One lock serialises the writers and the readers of the write position;
// it is held only for the copy and the position update. The host's timer calls are made
// with that lock held and must not call back into the ring; the notification callback is
// called without it.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>

namespace orvaneaudio {

inline constexpr uint32_t kRingBytes = 196608;                   // 12.288 s at 16,000 B/s
inline constexpr uint64_t kSilenceAfter100ns = 20'000'000;       // 2 s
inline constexpr uint32_t kSilenceChunkBytes = 1600;             // 100 ms
inline constexpr uint32_t kPacingPeriodMs = 100;

inline constexpr uint32_t kStatusInvalidDeviceRequest = 0xC0000010u;
inline constexpr uint32_t kStatusNotImplemented = 0xC0000002u;
inline constexpr uint32_t kStatusInsufficientResources = 0xC000009Au;

enum class StreamState : uint32_t { Stop = 0, Acquire = 1, Pause = 2, Run = 3 };

// What the ring needs from its host.
class FeedRingHost {
 public:
  virtual ~FeedRingHost() = default;
  // The system interrupt time: a monotonic clock in 100-ns units.
  virtual uint64_t interruptTime() = 0;
  // Start the pacing timer: first expiry 100 ms from now, then every 100 ms.
  virtual void armPacingTimer() = 0;
  virtual void cancelPacingTimer() = 0;
};

// One capture stream's view of the ring. Owned by whoever hosts the stream.
struct FeedStream {
  bool is16Bit = true;
  bool isStereo = false;
  StreamState state = StreamState::Stop;
  uint32_t startPosition = 0;

  // 1, 2 or 4 bytes.
  uint32_t blockAlignment() const { return 1u << ((is16Bit ? 1 : 0) + (isStereo ? 1 : 0)); }
};

// Bytes of the stream written after `startPosition`, given the ring's write position.
constexpr uint32_t ringDistance(uint32_t writePosition, uint32_t startPosition) {
  return writePosition >= startPosition ? writePosition - startPosition
                                        : writePosition + kRingBytes - startPosition;
}

// Copies `length` bytes of `ring` (kRingBytes long) starting at stream offset
// `sourceOffset` from `startPosition`, wrapping at the ring's end.
void copyOutOfRing(const uint8_t* ring, uint32_t startPosition, uint32_t sourceOffset,
                   uint8_t* destination, uint32_t length);

class FeedRing {
 public:
  // `storage`, when given, is the ring's memory (kRingBytes, e.g. shared with other
  // processes) and must outlive the ring; otherwise the ring allocates its own.
  // `notify` is the port's notification; empty when there is no port, in which case
  // writes notify nobody and ticks do nothing.
  FeedRing(FeedRingHost& host, std::function<void()> notify, uint8_t* storage = nullptr);
  FeedRing(const FeedRing&) = delete;
  FeedRing& operator=(const FeedRing&) = delete;

  // Stores `length` bytes (zero bytes when `bytes` is null) at the write position,
  // wrapping; only the last kRingBytes of a longer write survive. Real bytes refresh the
  // last feed time; silence does not. Always true.
  bool write(const uint8_t* bytes, uint32_t length);

  // The pacing timer's expiry: 100 ms of silence once more than 2 s passed since the
  // last feed.
  void tick(uint64_t now);

  // 0 while stopped; else the bytes written since the stream last started, mod ring.
  uint32_t streamPosition(const FeedStream& stream) const;
  // Copies from the stream's `sourceOffset` (relative to its start position).
  void copyOut(const FeedStream& stream, uint8_t* destination, uint32_t sourceOffset,
               uint32_t length) const;
  // Acquire counts as stop. A move to run takes the current write position as the
  // stream's start; the first stream to run arms the pacing timer and restarts the
  // 2-second count, the last to leave run cancels it.
  void setStreamState(FeedStream& stream, StreamState newState);

  // The current format's sample rate, shared by the streams.
  uint32_t sampleRate() const;
  void setSampleRate(uint32_t hz);

  uint32_t writePosition() const;
  uint64_t lastFeedTime() const;
  uint32_t runningStreams() const;
  uint32_t ringSize() const { return kRingBytes; }
  const uint8_t* ring() const { return ring_; }

 private:
  void storeLocked(const uint8_t* bytes, uint32_t length);

  FeedRingHost& host_;
  std::function<void()> notify_;
  std::unique_ptr<uint8_t[]> ownStorage_;
  uint8_t* ring_;
  mutable std::mutex lock_;
  uint32_t writePosition_ = 0;
  uint64_t lastFeedTime_ = 0;
  uint32_t runningStreams_ = 0;
  mutable std::mutex rateLock_;
  uint32_t sampleRate_ = 0;
};

}  // namespace orvaneaudio
