// A build without a sound system: no capture device exists and the recorder never opens.
#include "platform/audio_in.h"

namespace platform {
namespace {

class NoAudioIn final : public AudioIn {
 public:
  bool Open(const std::string&, const WaveFormat&, AudioInCallback, void*) override { return false; }
  bool Prepare(WaveHeader*) override { return false; }
  bool Unprepare(WaveHeader*) override { return true; }
  bool AddBuffer(WaveHeader*) override { return false; }
  bool Start() override { return false; }
  bool Reset() override { return false; }
  bool Stop() override { return false; }
  bool Close() override { return false; }
};

}  // namespace

std::unique_ptr<AudioIn> createAudioIn() { return std::make_unique<NoAudioIn>(); }

bool audioCaptureAvailable(const std::string&) { return false; }

}  // namespace platform
