#pragma once

// The virtual microphone's control device, as its feeders see it.
//
// A feeder (the frame server) opens kDevicePath with platform::openDevice and sends each
// block of sound with control(IOCTL_AUDIO_FEED_WRITE, pcm, bytes, nullptr, 0, nullptr).
// The bytes are raw PCM, 16-bit signed little-endian, mono, 8000 Hz, of any length
// (0 included), with no header. The request succeeds also while no microphone is
// running (the bytes are then dropped); every other request code fails with
// kStatusInvalidParameter. Several feeders may have the device open at once.

#include <cstdint>

namespace orvaneaudio {

// Device type FILE_DEVICE_UNKNOWN (0x22), function 0x800, buffered, any access.
inline constexpr uint32_t IOCTL_AUDIO_FEED_WRITE = 0x00222000u;

// "\\.\OrvaneAudio" as a C string.
inline constexpr char kDevicePath[] = "\\\\.\\OrvaneAudio";

// Status codes the control device answers with.
inline constexpr uint32_t kStatusSuccess = 0x00000000u;
inline constexpr uint32_t kStatusInvalidParameter = 0xC000000Du;

// The one format the microphone carries.
inline constexpr uint32_t kSampleRateHz = 8000;
inline constexpr uint32_t kChannels = 1;
inline constexpr uint32_t kBitsPerSample = 16;
inline constexpr uint32_t kBytesPerSecond = kSampleRateHz * kChannels * kBitsPerSample / 8;

}  // namespace orvaneaudio
