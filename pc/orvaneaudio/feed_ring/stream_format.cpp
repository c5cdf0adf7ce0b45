#include "orvaneaudio/stream_format.h"

#include <array>
#include <cstring>

#include "orvaneaudio/feed_control.h"
#include "platform/byte_order.h"

namespace orvaneaudio {
namespace {

using Guid = std::array<uint8_t, 16>;

// Memory order: 32-bit, 16-bit, 16-bit little-endian, then 8 bytes.
constexpr Guid kTypeAudio = {0x61, 0x75, 0x64, 0x73, 0x00, 0x00, 0x10, 0x00,
                             0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr Guid kSpecifierWaveFormatEx = {0x81, 0x9F, 0x58, 0x05, 0x56, 0xC3, 0xCE, 0x11,
                                         0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A};
constexpr Guid kSpecifierDirectSound = {0xA2, 0x90, 0x85, 0x51, 0x84, 0xA1, 0xD0, 0x11,
                                        0x85, 0x22, 0x00, 0xC0, 0x4F, 0xD9, 0xBA, 0xF3};
constexpr Guid kSpecifierNone = {0xD6, 0x17, 0x64, 0x0F, 0x18, 0xC3, 0xD0, 0x11,
                                 0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96};
// The wave-format-tag template: the tag goes into the first 16-bit word.
constexpr Guid kWaveFormatTemplate = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                      0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

constexpr uint32_t kMajorOffset = 16;
constexpr uint32_t kSubOffset = 32;
constexpr uint32_t kSpecifierOffset = 48;

bool guidAt(std::span<const uint8_t> bytes, uint32_t offset, const Guid& guid) {
  return std::memcmp(bytes.data() + offset, guid.data(), guid.size()) == 0;
}

using platform::load16;
using platform::load32;
using platform::store16;
using platform::store32;

}  // namespace

std::optional<WaveFormat> waveFormatOf(std::span<const uint8_t> dataFormat) {
  if (dataFormat.size() < kDataFormatHeaderBytes) return std::nullopt;
  if (!guidAt(dataFormat, kMajorOffset, kTypeAudio)) return std::nullopt;
  uint32_t offset;
  if (guidAt(dataFormat, kSpecifierOffset, kSpecifierWaveFormatEx)) {
    offset = kDataFormatHeaderBytes;
  } else if (guidAt(dataFormat, kSpecifierOffset, kSpecifierDirectSound)) {
    offset = kDataFormatHeaderBytes + kDirectSoundPrefixBytes;
  } else {
    return std::nullopt;
  }
  if (dataFormat.size() < offset + kWaveFormatBytes) return std::nullopt;
  const uint8_t* p = dataFormat.data() + offset;
  WaveFormat w;
  w.formatTag = load16(p);
  w.channels = load16(p + 2);
  w.samplesPerSec = load32(p + 4);
  w.avgBytesPerSec = load32(p + 8);
  w.blockAlign = load16(p + 12);
  w.bitsPerSample = load16(p + 14);
  w.extraSize = load16(p + 16);
  return w;
}

uint32_t validateDataFormat(std::span<const uint8_t> dataFormat) {
  const auto wave = waveFormatOf(dataFormat);
  if (!wave) return kStatusInvalidParameter;
  const uint8_t* sub = dataFormat.data() + kSubOffset;
  if (std::memcmp(sub + 2, kWaveFormatTemplate.data() + 2, 14) != 0) return kStatusInvalidParameter;
  if (load16(sub) != 1 || wave->formatTag != 1) return kStatusInvalidParameter;
  if (wave->extraSize != 0 || wave->channels != kChannels || wave->samplesPerSec != kSampleRateHz ||
      wave->bitsPerSample != kBitsPerSample) {
    return kStatusInvalidParameter;
  }
  return kStatusSuccess;
}

std::vector<uint8_t> makeDataFormat(const WaveFormat& wave, FormatSpecifier specifier,
                                    uint16_t subFormatTag) {
  const uint32_t prefix = specifier == FormatSpecifier::DirectSound ? kDirectSoundPrefixBytes : 0;
  const uint32_t tail = specifier == FormatSpecifier::None ? 0 : prefix + kWaveFormatBytes;
  std::vector<uint8_t> out(kDataFormatHeaderBytes + tail, 0);
  store32(out.data(), static_cast<uint32_t>(out.size()));
  std::memcpy(out.data() + kMajorOffset, kTypeAudio.data(), 16);
  std::memcpy(out.data() + kSubOffset, kWaveFormatTemplate.data(), 16);
  store16(out.data() + kSubOffset, subFormatTag);
  const Guid& specifierGuid = specifier == FormatSpecifier::WaveFormatEx ? kSpecifierWaveFormatEx
                     : specifier == FormatSpecifier::DirectSound ? kSpecifierDirectSound
                                                                 : kSpecifierNone;
  std::memcpy(out.data() + kSpecifierOffset, specifierGuid.data(), 16);
  if (tail != 0) {
    uint8_t* p = out.data() + kDataFormatHeaderBytes + prefix;
    store16(p, wave.formatTag);
    store16(p + 2, wave.channels);
    store32(p + 4, wave.samplesPerSec);
    store32(p + 8, wave.avgBytesPerSec);
    store16(p + 12, wave.blockAlign);
    store16(p + 14, wave.bitsPerSample);
    store16(p + 16, wave.extraSize);
  }
  return out;
}

uint32_t initStream(FeedRing& ring, FeedStream& stream, std::span<const uint8_t> dataFormat) {
  const auto wave = waveFormatOf(dataFormat);
  if (!wave) return kStatusInvalidParameter;
  stream.isStereo = wave->channels == 2;
  stream.is16Bit = wave->bitsPerSample == 16;
  stream.state = StreamState::Stop;
  stream.startPosition = 0;
  ring.setSampleRate(wave->samplesPerSec);
  return setStreamFormat(ring, stream, dataFormat);
}

uint32_t setStreamFormat(FeedRing& ring, FeedStream& stream, std::span<const uint8_t> dataFormat) {
  if (stream.state == StreamState::Run) return kStatusInvalidDeviceRequest;
  const auto wave = waveFormatOf(dataFormat);
  if (!wave) return kStatusInvalidDeviceRequest;
  stream.isStereo = wave->channels == 2;
  stream.is16Bit = wave->bitsPerSample == 16;
  ring.setSampleRate(wave->samplesPerSec);
  return kStatusSuccess;
}

uint32_t setNotificationFreq(const FeedRing& ring, const FeedStream& stream, uint32_t intervalMs,
                             uint32_t* framingBytes) {
  if (framingBytes != nullptr) {
    *framingBytes = stream.blockAlignment() * ring.sampleRate() * intervalMs / 1000u;
  }
  return intervalMs;
}

int64_t normalizePhysicalPosition(const FeedRing& ring, const FeedStream& stream,
                                  int64_t position) {
  const int64_t rate = ring.sampleRate();
  // A rate of 0 only exists before any stream set a format; answer 0 rather than divide.
  if (rate == 0) return 0;
  return (10'000'000 / static_cast<int64_t>(stream.blockAlignment())) * position / rate;
}

void fillSilence(const FeedStream& stream, uint8_t* buffer, uint32_t length) {
  std::memset(buffer, stream.is16Bit ? 0x00 : 0x80, length);
}

}  // namespace orvaneaudio
