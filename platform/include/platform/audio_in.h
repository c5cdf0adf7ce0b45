#pragma once

// Sound recording in the manner of the system's wave-input calls: open a device with a
// format and a callback, hand it buffers, start it; each buffer comes back through the
// callback once it is full. Reset returns every buffer the recorder still holds, marked
// done, with what was recorded into it so far.
//
// Threading: Open, Start, Reset and Close run on one controlling thread. AddBuffer may
// be called from any thread, including from inside the callback. The callback runs on
// the recorder's own thread (for buffers filled while recording) or on the thread that
// calls Reset (for the buffers it returns); never while Close runs or after it returned,
// and never while the recorder holds its own lock, so it may call AddBuffer.
//
// AudioIn's method names follow the system's wave-input calls one for one; they keep their
// spelling.

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// The recording format: the fields of the system's wave format record.
struct WaveFormat {
  uint16_t formatTag = 1;  // 1 = PCM, signed little-endian samples
  uint16_t channels = 1;
  uint32_t samplesPerSec = 8000;
  uint32_t avgBytesPerSec = 16000;
  uint16_t blockAlign = 2;
  uint16_t bitsPerSample = 16;
};

// Flags of a buffer.
inline constexpr uint32_t kWaveDone = 0x01;      // the recorder gave the buffer back
inline constexpr uint32_t kWavePrepared = 0x02;  // the buffer is prepared for the recorder
inline constexpr uint32_t kWaveInQueue = 0x10;   // the recorder holds the buffer

// One recording buffer. The memory at `data` belongs to the caller and must stay valid
// while the recorder holds the buffer. `next` is the caller's link word: the recorder
// never touches it.
struct WaveHeader {
  uint8_t* data = nullptr;
  uint32_t bufferLength = 0;   // bytes
  uint32_t bytesRecorded = 0;  // set by the recorder when it gives the buffer back
  uintptr_t user = 0;          // the caller's word
  uint32_t flags = 0;
  WaveHeader* next = nullptr;
};

// What the callback is told.
enum class AudioInMessage : uint32_t {
  kOpen,   // after Open succeeded (on the controlling thread)
  kClose,  // from Close (on the controlling thread)
  kData,   // `header` is full or was returned by Reset
};

using AudioInCallback = void (*)(void* user, AudioInMessage message, WaveHeader* header);

class AudioIn {
 public:
  virtual ~AudioIn() = default;

  // Opens the capture device `device` (empty: the system's default capture device) for
  // `format`. False when the device is missing or refuses the format.
  virtual bool Open(const std::string& device, const WaveFormat& format, AudioInCallback callback,
                    void* user) = 0;
  // Marks a buffer prepared / no longer prepared. Unprepare fails while the recorder
  // holds the buffer.
  virtual bool Prepare(WaveHeader* header) = 0;
  virtual bool Unprepare(WaveHeader* header) = 0;
  // Hands a prepared buffer to the recorder (appended to its queue). False when the
  // recorder is not open or the buffer is not prepared or already queued.
  virtual bool AddBuffer(WaveHeader* header) = 0;
  // Starts recording into the queued buffers.
  virtual bool Start() = 0;
  // Stops recording and gives back every queued buffer through the callback, marked done.
  virtual bool Reset() = 0;
  // Stops recording, keeping the queued buffers.
  virtual bool Stop() = 0;
  // Closes the device. Fails while buffers are still queued (Reset first).
  virtual bool Close() = 0;
};

// The system's recorder (ALSA capture on its own thread on Linux; a recorder that never
// opens where the build has no sound system).
std::unique_ptr<AudioIn> createAudioIn();

// Whether `device` (empty: the default capture device) can be opened for capture now.
// Opens and closes it at once, without recording.
bool audioCaptureAvailable(const std::string& device);

}  // namespace platform
