#pragma once

// How the ALSA plugin shares the program's ring.
//
// The program keeps the ring in a memory file laid out as kSharedHeaderBytes of header
// (magic, version, ring size, then the published write position) followed by the
// kRingBytes of the ring. The write position is published after every write, in order.
//
// Each open PCM of the plugin connects to the stream registry, the local seqpacket
// socket named streamRegistryName(), and is one FeedRing stream there. On connecting it
// receives one packet: kRegistryHello with the memory file attached. It then sends
// one-word packets: kRegistryRun (answered with kRegistryStarted and the stream's start
// position), kRegistryPause (answered with kRegistryPaused). A PCM that disconnects is
// paused and forgotten, so a killed recorder never keeps the pacing alive.

#include <atomic>
#include <cstdint>
#include <string>

#include "orvaneaudio/feed_control.h"
#include "orvaneaudio/feed_ring.h"
#include "platform/device_io.h"

namespace orvaneaudio {

inline constexpr uint32_t kSharedMagic = 0x4752414Fu;  // "OARG"
inline constexpr uint32_t kSharedVersion = 1;
inline constexpr uint32_t kSharedHeaderBytes = 4096;

struct SharedHeader {
  uint32_t magic;
  uint32_t version;
  uint32_t ringBytes;
  uint32_t reserved;
  std::atomic<uint32_t> writePosition;
};
static_assert(std::atomic<uint32_t>::is_always_lock_free);

inline constexpr uint32_t kRegistryHello = 0x4F4C4548u;    // "HELO"
inline constexpr uint32_t kRegistryRun = 0x204E5552u;      // "RUN "
inline constexpr uint32_t kRegistryStarted = 0x54525453u;  // "STRT"
inline constexpr uint32_t kRegistryPause = 0x53554150u;    // "PAUS"
inline constexpr uint32_t kRegistryPaused = 0x44534150u;   // "PASD"

// The registry sits beside the control device: its endpoint name plus ".streams".
inline std::string streamRegistryName() {
  return platform::deviceEndpointName(kDevicePath) + ".streams";
}

}  // namespace orvaneaudio
