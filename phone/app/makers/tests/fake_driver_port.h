#pragma once

// A driver port for tests: every call is recorded as one line ("open CAM1: 80000000 0 3
// 0", "event CAMERAAPPEVENT", "control 22223361 in 00", "control 22223352 out 4",
// "map A3C00000 3993600", "read 614400", "close", "close event CAMERAAPPEVENT"),
// chosen requests fail, answers are queued per request, the frame area is a buffer the
// test fills, and reads are filled with a byte pattern.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "makers/driver_port.h"
#include "platform/utf16.h"

namespace makers::testing {

class FakeDriverPort final : public DriverPort {
 public:
  // What the driver answers.
  std::map<uint32_t, std::deque<std::vector<uint8_t>>> answers;  // queued output blocks
  std::map<uint32_t, std::vector<uint8_t>> lastAnswer;  // given when the queue is empty
  // Called on each request with the input block (writable) before it is answered.
  std::function<void(uint32_t code, uint8_t* in, uint32_t inSize)> onControl;
  bool openFails = false;
  bool eventFails = false;
  bool mapFails = false;
  std::atomic<bool> readFails{false};
  uint8_t readFill = 0x80;
  std::vector<uint8_t> area;

  // Makes request `code` fail (or succeed again).
  void fail(uint32_t code, bool on = true) {
    std::lock_guard lock(mutex_);
    if (on) failing_.insert(code); else failing_.erase(code);
  }

  std::vector<std::string> calls() {
    std::lock_guard lock(mutex_);
    return log_;
  }
  void clearCalls() {
    std::lock_guard lock(mutex_);
    log_.clear();
  }
  size_t count(const std::string& prefix) {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const std::string& line : log_) n += line.rfind(prefix, 0) == 0;
    return n;
  }
  // Waits until a call starting with `prefix` was made `times` times.
  bool waitFor(const std::string& prefix, size_t times, int timeoutMs = 5000) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
      size_t n = 0;
      for (const std::string& line : log_) n += line.rfind(prefix, 0) == 0;
      return n >= times;
    });
  }

  std::unique_ptr<DriverHandle> open(std::u16string_view name, const DriverOpen& how) override {
    char line[96];
    std::snprintf(line, sizeof line, "open %s %X %X %X %X", platform::utf16ToUtf8Lossy(name).c_str(),
                  how.access, how.share, how.creation, how.attributes);
    record(line);
    if (openFails) return nullptr;
    return std::make_unique<Handle>(*this);
  }
  std::unique_ptr<NamedEvent> createNamedEvent(std::u16string_view name) override {
    const std::string text = platform::utf16ToUtf8Lossy(name);
    record("event " + text);
    if (eventFails) return nullptr;
    return std::make_unique<Event>(*this, text);
  }
  uint8_t* mapFrameArea(uint32_t address, uint32_t bytes) override {
    char line[64];
    std::snprintf(line, sizeof line, "map %X %u", address, bytes);
    record(line);
    if (mapFails) return nullptr;
    area.assign(bytes, 0);
    return area.data();
  }

  static std::string hex(const uint8_t* data, uint32_t size) {
    std::string out;
    char byte[4];
    for (uint32_t i = 0; i < size; ++i) {
      std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", data[i]);
      out += byte;
    }
    return out;
  }

 private:
  class Handle final : public DriverHandle {
   public:
    explicit Handle(FakeDriverPort& port) : port_(port) {}
    ~Handle() override { port_.record("close"); }
    bool control(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                 uint32_t* returned) override {
      return port_.control(code, static_cast<uint8_t*>(in), inSize, static_cast<uint8_t*>(out), outSize,
                           returned);
    }
    bool read(void* buffer, uint32_t size, uint32_t* got) override {
      port_.record("read " + std::to_string(size));
      if (port_.readFails) return false;
      std::memset(buffer, port_.readFill, size);
      if (got) *got = size;
      return true;
    }

   private:
    FakeDriverPort& port_;
  };
  class Event final : public NamedEvent {
   public:
    Event(FakeDriverPort& port, std::string name) : port_(port), name_(std::move(name)) {}
    ~Event() override { port_.record("close event " + name_); }

   private:
    FakeDriverPort& port_;
    std::string name_;
  };

  bool control(uint32_t code, uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
               uint32_t* returned) {
    char head[48];
    std::snprintf(head, sizeof head, "control %X", code);
    std::string line = head;
    if (inSize > 0 && in != nullptr) line += " in " + hex(in, inSize > 24 ? 24 : inSize);
    if (inSize > 24) line += " ... (" + std::to_string(inSize) + ")";
    if (outSize > 0) line += " out " + std::to_string(outSize);
    if (returned) *returned = 0;
    std::vector<uint8_t> answer;
    bool fails;
    std::function<void(uint32_t, uint8_t*, uint32_t)> hook;
    {
      std::lock_guard lock(mutex_);
      fails = failing_.count(code) != 0;
      auto queued = answers.find(code);
      if (queued != answers.end() && !queued->second.empty()) {
        answer = queued->second.front();
        queued->second.pop_front();
      } else if (auto last = lastAnswer.find(code); last != lastAnswer.end()) {
        answer = last->second;
      }
      hook = onControl;
    }
    if (!fails && hook) hook(code, in, inSize);
    record(line);
    if (fails) return false;
    const uint32_t n = answer.size() < outSize ? static_cast<uint32_t>(answer.size()) : outSize;
    if (n > 0) std::memcpy(out, answer.data(), n);
    if (returned) *returned = n;
    return true;
  }

  void record(std::string line) {
    {
      std::lock_guard lock(mutex_);
      log_.push_back(std::move(line));
    }
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> log_;
  std::set<uint32_t> failing_;
};

}  // namespace makers::testing
