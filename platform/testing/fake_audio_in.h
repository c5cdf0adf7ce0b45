#pragma once

// A recorder for tests. The test plays the sound card: fill() takes the oldest queued
// buffer, writes a byte pattern into it and gives it back through the callback on the
// calling thread, as the recorder's own thread would. It keeps the real recorder's
// rules: buffers must be prepared before they are added, Reset waits for a callback in
// flight and then returns every queued buffer, Close fails while buffers are queued, and
// no callback runs under the fake's lock.
//
// Method names follow platform::AudioIn, which keeps the spelling of the system's wave-
// input calls.

#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/audio_in.h"

namespace platform {

class FakeAudioIn {
 public:
  // Set before use.
  bool refuseOpen = false;
  uint32_t acceptAtMost = 0xFFFFFFFFu;  // AddBuffer refuses once this many are queued
  // Runs in fill after the buffer left the recorder's queue and before the callback:
  // the moment a full buffer is on its way back.
  std::function<void()> beforeCallback;

  // What the source sees: a new recorder object over this fake for each call.
  std::function<std::unique_ptr<AudioIn>()> factory() {
    return [this] { return std::unique_ptr<AudioIn>(new Proxy(*this)); };
  }

  // Fills the oldest queued buffer with `bytes` (at most its length) of `pattern`. False
  // when the recorder is not recording or holds no buffer (it would lose sound).
  bool fill(uint32_t bytes, uint8_t pattern) {
    WaveHeader* h = nullptr;
    {
      std::lock_guard lock(m_);
      if (!open_ || !started_ || queue_.empty()) {
        ++starved_;
        return false;
      }
      h = queue_.front();
      queue_.pop_front();
      ++inFlight_;
    }
    if (beforeCallback) beforeCallback();
    const uint32_t n = bytes < h->bufferLength ? bytes : h->bufferLength;
    std::memset(h->data, pattern, n);
    h->bytesRecorded = n;
    h->flags = (h->flags & ~kWaveInQueue) | kWaveDone;
    deliver(h);
    std::lock_guard lock(m_);
    --inFlight_;
    idle_.notify_all();
    return true;
  }

  bool resetBegun() {
    std::lock_guard lock(m_);
    return resetBegun_;
  }
  // Waits until a Reset has begun.
  void waitForReset() {
    std::unique_lock lock(m_);
    idle_.wait(lock, [this] { return resetBegun_; });
  }

  size_t queued() {
    std::lock_guard lock(m_);
    return queue_.size();
  }
  bool isOpen() {
    std::lock_guard lock(m_);
    return open_;
  }
  bool recording() {
    std::lock_guard lock(m_);
    return open_ && started_;
  }
  int opens() {
    std::lock_guard lock(m_);
    return opens_;
  }
  int starved() {
    std::lock_guard lock(m_);
    return starved_;
  }
  // Callbacks or AddBuffer calls that came while the recorder was closed.
  int lateCalls() {
    std::lock_guard lock(m_);
    return lateCalls_;
  }
  std::string device() {
    std::lock_guard lock(m_);
    return device_;
  }
  WaveFormat format() {
    std::lock_guard lock(m_);
    return format_;
  }

 private:
  class Proxy final : public AudioIn {
   public:
    explicit Proxy(FakeAudioIn& fake) : f_(fake) {}
    bool Open(const std::string& device, const WaveFormat& format, AudioInCallback cb,
              void* user) override {
      {
        std::lock_guard lock(f_.m_);
        if (f_.open_ || f_.refuseOpen) return false;
        f_.open_ = true;
        f_.started_ = false;
        f_.resetBegun_ = false;
        f_.device_ = device;
        f_.format_ = format;
        f_.callback_ = cb;
        f_.user_ = user;
        ++f_.opens_;
      }
      cb(user, AudioInMessage::kOpen, nullptr);
      return true;
    }
    bool Prepare(WaveHeader* h) override {
      h->flags |= kWavePrepared;
      return true;
    }
    bool Unprepare(WaveHeader* h) override {
      std::lock_guard lock(f_.m_);
      if (h->flags & kWaveInQueue) return false;
      h->flags &= ~kWavePrepared;
      return true;
    }
    bool AddBuffer(WaveHeader* h) override {
      std::lock_guard lock(f_.m_);
      if (!f_.open_) {
        ++f_.lateCalls_;
        return false;
      }
      if (!(h->flags & kWavePrepared) || (h->flags & kWaveInQueue) ||
          f_.queue_.size() >= f_.acceptAtMost)
        return false;
      h->flags = (h->flags | kWaveInQueue) & ~kWaveDone;
      h->bytesRecorded = 0;
      f_.queue_.push_back(h);
      return true;
    }
    bool Start() override {
      std::lock_guard lock(f_.m_);
      if (!f_.open_) return false;
      f_.started_ = true;
      return true;
    }
    bool Reset() override {
      std::deque<WaveHeader*> back;
      {
        std::unique_lock lock(f_.m_);
        if (!f_.open_) return false;
        f_.started_ = false;
        f_.resetBegun_ = true;
        f_.idle_.notify_all();
        f_.idle_.wait(lock, [this] { return f_.inFlight_ == 0; });
        back.swap(f_.queue_);
      }
      for (WaveHeader* h : back) {
        h->flags = (h->flags & ~kWaveInQueue) | kWaveDone;
        f_.deliver(h);
      }
      return true;
    }
    bool Stop() override {
      std::lock_guard lock(f_.m_);
      f_.started_ = false;
      return f_.open_;
    }
    bool Close() override {
      AudioInCallback cb;
      void* user;
      {
        std::lock_guard lock(f_.m_);
        if (!f_.open_ || !f_.queue_.empty() || f_.inFlight_ != 0) return false;
        cb = f_.callback_;
        user = f_.user_;
      }
      cb(user, AudioInMessage::kClose, nullptr);
      std::lock_guard lock(f_.m_);
      f_.open_ = false;
      return true;
    }
    ~Proxy() override {
      Reset();
      Close();
    }

   private:
    FakeAudioIn& f_;
  };

  void deliver(WaveHeader* h) {
    AudioInCallback cb;
    void* user;
    {
      std::lock_guard lock(m_);
      if (!open_) {
        ++lateCalls_;
        return;
      }
      cb = callback_;
      user = user_;
    }
    cb(user, AudioInMessage::kData, h);
  }

  std::mutex m_;
  std::condition_variable idle_;
  std::deque<WaveHeader*> queue_;
  bool open_ = false;
  bool started_ = false;
  bool resetBegun_ = false;
  int inFlight_ = 0;
  int opens_ = 0;
  int starved_ = 0;
  int lateCalls_ = 0;
  std::string device_;
  WaveFormat format_;
  AudioInCallback callback_ = nullptr;
  void* user_ = nullptr;
};

}  // namespace platform
