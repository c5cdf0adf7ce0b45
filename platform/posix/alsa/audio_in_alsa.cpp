// The recorder on Linux: ALSA capture, read on a thread of its own into the queued
// buffers. The device is the one named, or "default" (which is PipeWire's or the first
// sound card's capture, as the system's ALSA configuration says). Rate conversion is
// asked of ALSA, so any device that can be converted to 8000 Hz mono 16 bit works.
#include <alsa/asoundlib.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio_in.h"

namespace platform {
namespace {

// alsa-lib prints its errors to stderr; a library of ours prints nothing. The caller
// sees a failed open.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
void silenceAlsaOnce() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(&quietAlsa); });
}

const char* deviceName(const std::string& device) {
  return device.empty() ? "default" : device.c_str();
}

// The thread wakes every 20 ms of sound, the shortest block the sound source lays out, so
// one wait never brings more than one read into a block can take. A shorter period only
// costs wake-ups and, on PipeWire, sets the whole graph's cycle to it: at 10 ms, on a
// machine short of processor time, the server skipped cycles and up to a third of the
// sound never reached the device.
constexpr unsigned kPeriodUs = 20000;
constexpr unsigned kBufferUs = 200000;  // the device holds 200 ms while the thread is late
constexpr int kWaitMs = 50;             // how long one wait may keep Reset waiting

class AlsaAudioIn final : public AudioIn {
 public:
  ~AlsaAudioIn() override {
    Reset();
    Close();
  }

  bool Open(const std::string& device, const WaveFormat& format, AudioInCallback callback,
            void* user) override {
    if (pcm_ != nullptr || callback == nullptr || format.formatTag != 1 ||
        format.bitsPerSample != 16 || format.channels == 0 || format.samplesPerSec == 0)
      return false;
    silenceAlsaOnce();
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, deviceName(device), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) < 0)
      return false;
    if (!configure(pcm, format)) {
      snd_pcm_close(pcm);
      return false;
    }
    {
      std::lock_guard lock(m_);
      pcm_ = pcm;
      frameBytes_ = format.channels * 2u;
      callback_ = callback;
      user_ = user;
      recording_ = false;
      quit_ = false;
      filled_ = 0;
      scratch_.assign(static_cast<size_t>(format.samplesPerSec / 10) * frameBytes_, 0);
    }
    thread_ = std::thread([this] { run(); });
    callback(user, AudioInMessage::kOpen, nullptr);
    return true;
  }

  bool Prepare(WaveHeader* h) override {
    if (h == nullptr || h->data == nullptr || h->bufferLength == 0) return false;
    h->flags |= kWavePrepared;
    return true;
  }

  bool Unprepare(WaveHeader* h) override {
    std::lock_guard lock(m_);
    if (h == nullptr || (h->flags & kWaveInQueue)) return false;
    h->flags &= ~kWavePrepared;
    return true;
  }

  bool AddBuffer(WaveHeader* h) override {
    std::lock_guard lock(m_);
    if (pcm_ == nullptr || h == nullptr || !(h->flags & kWavePrepared) || (h->flags & kWaveInQueue))
      return false;
    // Whole frames only.
    if (h->bufferLength < frameBytes_) return false;
    h->flags = (h->flags | kWaveInQueue) & ~kWaveDone;
    h->bytesRecorded = 0;
    queue_.push_back(h);
    return true;
  }

  bool Start() override {
    std::lock_guard lock(m_);
    if (pcm_ == nullptr) return false;
    if (recording_) return true;
    snd_pcm_drop(pcm_);
    if (snd_pcm_prepare(pcm_) < 0) return false;
    if (snd_pcm_start(pcm_) < 0) return false;
    recording_ = true;
    wake_.notify_all();
    return true;
  }

  bool Reset() override {
    std::deque<WaveHeader*> back;
    {
      std::unique_lock lock(m_);
      if (pcm_ == nullptr) return false;
      haltLocked(lock);
      back.swap(queue_);
      if (!back.empty()) back.front()->bytesRecorded = filled_;
      filled_ = 0;
    }
    for (WaveHeader* h : back) {
      h->flags = (h->flags & ~kWaveInQueue) | kWaveDone;
      callback_(user_, AudioInMessage::kData, h);
    }
    return true;
  }

  bool Stop() override {
    std::unique_lock lock(m_);
    if (pcm_ == nullptr) return false;
    haltLocked(lock);
    return true;
  }

  bool Close() override {
    {
      std::unique_lock lock(m_);
      if (pcm_ == nullptr || !queue_.empty()) return false;
      haltLocked(lock);
      quit_ = true;
      wake_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    snd_pcm_close(pcm_);
    callback_(user_, AudioInMessage::kClose, nullptr);
    std::lock_guard lock(m_);
    pcm_ = nullptr;
    return true;
  }

 private:
  static bool configure(snd_pcm_t* pcm, const WaveFormat& format) {
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    unsigned rate = format.samplesPerSec;
    unsigned periodUs = kPeriodUs, bufferUs = kBufferUs;
    if (snd_pcm_hw_params_any(pcm, hw) < 0 ||
        snd_pcm_hw_params_set_rate_resample(pcm, hw, 1) < 0 ||
        snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE) < 0 ||
        snd_pcm_hw_params_set_channels(pcm, hw, format.channels) < 0 ||
        snd_pcm_hw_params_set_rate_near(pcm, hw, &rate, nullptr) < 0 || rate != format.samplesPerSec)
      return false;
    snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferUs, nullptr);
    snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodUs, nullptr);
    if (snd_pcm_hw_params(pcm, hw) < 0) return false;
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    snd_pcm_uframes_t period = 0;
    int dir = 0;
    snd_pcm_hw_params_get_period_size(hw, &period, &dir);
    if (snd_pcm_sw_params_current(pcm, sw) == 0) {
      snd_pcm_sw_params_set_avail_min(pcm, sw, period > 0 ? period : 1);
      snd_pcm_sw_params(pcm, sw);
    }
    return true;
  }

  // Stops recording and waits until the thread is out of the device and the callback.
  void haltLocked(std::unique_lock<std::mutex>& lock) {
    if (recording_) {
      recording_ = false;
      wake_.notify_all();
    }
    idle_.wait(lock, [this] { return !busy_; });
    snd_pcm_drop(pcm_);
  }

  void run() {
    std::unique_lock lock(m_);
    for (;;) {
      wake_.wait(lock, [this] { return quit_ || recording_; });
      if (quit_) return;
      busy_ = true;
      lock.unlock();
      WaveHeader* full = readOnce();
      if (full != nullptr) callback_(user_, AudioInMessage::kData, full);
      lock.lock();
      busy_ = false;
      idle_.notify_all();
    }
  }

  // One wait for sound and one read into the front buffer (or, with no buffer queued,
  // into the scratch area: that sound is lost). Returns the buffer it filled up.
  WaveHeader* readOnce() {
    int ready = snd_pcm_wait(pcm_, kWaitMs);
    if (ready < 0) {
      recover(ready);
      return nullptr;
    }
    if (ready == 0) return nullptr;
    WaveHeader* front = nullptr;
    uint8_t* target = scratch_.data();
    size_t room = scratch_.size();
    {
      std::lock_guard lock(m_);
      if (!recording_) return nullptr;
      if (!queue_.empty()) {
        front = queue_.front();
        target = front->data + filled_;
        room = front->bufferLength - filled_;
      }
    }
    const snd_pcm_uframes_t frames = room / frameBytes_;
    if (frames == 0) return nullptr;
    const snd_pcm_sframes_t got = snd_pcm_readi(pcm_, target, frames);
    if (got == -EAGAIN || got == 0) return nullptr;
    if (got < 0) {
      recover(static_cast<int>(got));
      return nullptr;
    }
    if (front == nullptr) return nullptr;
    std::lock_guard lock(m_);
    filled_ += static_cast<uint32_t>(got) * frameBytes_;
    if (filled_ + frameBytes_ <= front->bufferLength) return nullptr;
    queue_.pop_front();
    front->bytesRecorded = filled_;
    front->flags = (front->flags & ~kWaveInQueue) | kWaveDone;
    filled_ = 0;
    return front;
  }

  // An overrun or a suspended device restarts the capture; a device that is gone keeps
  // the thread from spinning.
  void recover(int error) {
    if (snd_pcm_recover(pcm_, error, 1) == 0) {
      snd_pcm_start(pcm_);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(kWaitMs));
    }
  }

  std::mutex m_;
  std::condition_variable wake_;  // recording_ or quit_ changed
  std::condition_variable idle_;  // busy_ cleared
  snd_pcm_t* pcm_ = nullptr;
  std::thread thread_;
  std::deque<WaveHeader*> queue_;
  std::vector<uint8_t> scratch_;
  uint32_t frameBytes_ = 2;
  uint32_t filled_ = 0;  // bytes recorded into the front buffer
  bool recording_ = false;
  bool busy_ = false;  // the thread is reading or in the callback
  bool quit_ = false;
  AudioInCallback callback_ = nullptr;
  void* user_ = nullptr;
};

}  // namespace

std::unique_ptr<AudioIn> createAudioIn() { return std::make_unique<AlsaAudioIn>(); }

bool audioCaptureAvailable(const std::string& device) {
  silenceAlsaOnce();
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, deviceName(device), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) < 0)
    return false;
  snd_pcm_close(pcm);
  return true;
}

}  // namespace platform
