#pragma once

// The capture streams' formats: reading a wave format out of a data-format block (the
// 64-byte data-format header followed by the wave format), checking that it is the one
// format the microphone offers (PCM, 1 channel, 16 bits, 8000 Hz, no extra bytes), and
// the format arithmetic a stream answers with.
//
// All functions are pure except those that take the ring, which read or set its shared
// sample rate under the ring's rate lock.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "orvaneaudio/feed_ring.h"

namespace orvaneaudio {

inline constexpr uint32_t kDataFormatHeaderBytes = 64;
inline constexpr uint32_t kWaveFormatBytes = 18;
inline constexpr uint32_t kDirectSoundPrefixBytes = 8;

struct WaveFormat {
  uint16_t formatTag = 1;  // PCM
  uint16_t channels = 1;
  uint32_t samplesPerSec = 8000;
  uint32_t avgBytesPerSec = 16000;
  uint16_t blockAlign = 2;
  uint16_t bitsPerSample = 16;
  uint16_t extraSize = 0;
};

enum class FormatSpecifier { WaveFormatEx, DirectSound, None };

// The wave format of `dataFormat`, or none when the major format is not audio, the
// specifier is neither the wave-format nor the DirectSound one, or the block is too
// short to hold what it claims.
std::optional<WaveFormat> waveFormatOf(std::span<const uint8_t> dataFormat);

// kStatusSuccess when `dataFormat` is PCM of the offered format, else
// kStatusInvalidParameter.
uint32_t validateDataFormat(std::span<const uint8_t> dataFormat);

// A data-format block carrying `wave`, as a client opening a stream would pass it.
// `subFormatTag` is the first 16-bit word of the sub format (1 = PCM).
std::vector<uint8_t> makeDataFormat(const WaveFormat& wave,
                                    FormatSpecifier specifier = FormatSpecifier::WaveFormatEx,
                                    uint16_t subFormatTag = 1);

// Stream creation after validation: takes the format's flags and sample rate, starts the
// stream stopped at position 0, then applies setStreamFormat.
uint32_t initStream(FeedRing& ring, FeedStream& stream, std::span<const uint8_t> dataFormat);

// Fails with kStatusInvalidDeviceRequest while running or without a wave format.
uint32_t setStreamFormat(FeedRing& ring, FeedStream& stream, std::span<const uint8_t> dataFormat);

// Framing size for a notification interval: block alignment x sample rate x interval
// / 1000 in 32-bit arithmetic. Returns the interval.
uint32_t setNotificationFreq(const FeedRing& ring, const FeedStream& stream,
                             uint32_t intervalMs, uint32_t* framingBytes);

// A byte position in 100-ns units: (10,000,000 / block alignment) x position / rate.
int64_t normalizePhysicalPosition(const FeedRing& ring, const FeedStream& stream,
                                  int64_t position);

// Silence of the stream's sample width: 0x80 for 8-bit samples, 0x00 for 16-bit.
void fillSilence(const FeedStream& stream, uint8_t* buffer, uint32_t length);

}  // namespace orvaneaudio
