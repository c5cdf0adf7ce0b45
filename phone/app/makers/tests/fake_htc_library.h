#pragma once

// A stand-in for the HTC camera library's entry points: every call is recorded ("Init 1",
// "SetProperty 35 16", "GetProperty 5", "Begin 320x240 0", "End", "Deinit"), the results
// are chosen by the test, a stream's callback is kept so that the test can hand pictures
// through it, and a still request hands its picture at once on the caller's thread.
// One per process, as the library is.

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "makers/htc_camera.h"

namespace makers::testing {

struct FakeHtc {
  // Chosen by the test before the source runs.
  bool addressArguments = true;  // setProperty gets the value's address (not a Smartphone)
  int32_t initResult = 1;
  int32_t beginResult = 1;
  int32_t getPropertyResult = 1;
  uint32_t reportedBrightness = 10;
  std::vector<uint8_t> stillPicture;

  static FakeHtc& instance() {
    static FakeHtc fake;
    return fake;
  }
  void reset() {
    std::lock_guard lock(mutex);
    addressArguments = true;
    initResult = beginResult = getPropertyResult = 1;
    reportedBrightness = 10;
    stillPicture.clear();
    log.clear();
    callback = nullptr;
    user = nullptr;
  }
  std::vector<std::string> calls() {
    std::lock_guard lock(mutex);
    return log;
  }
  void clearCalls() {
    std::lock_guard lock(mutex);
    log.clear();
  }
  size_t count(const std::string& call) {
    std::lock_guard lock(mutex);
    size_t n = 0;
    for (const std::string& c : log) n += c == call;
    return n;
  }
  // Hands a picture through the stream's callback, as the library's thread would.
  bool deliver(std::vector<uint8_t> picture) {
    htc::FrameCallback cb;
    void* u;
    {
      std::lock_guard lock(mutex);
      cb = callback;
      u = user;
    }
    if (!cb) return false;
    cb(u, picture.data(), static_cast<uint32_t>(picture.size()));
    return true;
  }

  // The library as the source list binds it.
  static std::shared_ptr<const sources::HtcCameraLibrary> library(uint32_t modelCode, bool smartphone,
                                                                  bool withProperties = true) {
    auto lib = std::make_shared<sources::HtcCameraLibrary>();
    lib->moduleName = "HTCcamera.dll";
    lib->cameraInit = reinterpret_cast<void*>(&init);
    lib->cameraBegin = reinterpret_cast<void*>(&begin);
    lib->cameraEnd = reinterpret_cast<void*>(&end);
    lib->cameraDeinit = reinterpret_cast<void*>(&deinit);
    if (withProperties) {
      lib->cameraSetProperty = reinterpret_cast<void*>(&setProperty);
      lib->cameraGetProperty = reinterpret_cast<void*>(&getProperty);
    }
    lib->modelCode = modelCode;
    lib->isSmartphone = smartphone;
    instance().addressArguments = !smartphone;
    return lib;
  }

  std::mutex mutex;
  std::vector<std::string> log;
  htc::FrameCallback callback = nullptr;
  void* user = nullptr;

 private:
  void record(std::string call) {
    std::lock_guard lock(mutex);
    log.push_back(std::move(call));
  }
  static int32_t init(uint32_t sensor) {
    instance().record("Init " + std::to_string(sensor));
    return instance().initResult;
  }
  static int32_t begin(uint32_t w, uint32_t h, uint32_t still, htc::FrameCallback cb, void* u) {
    FakeHtc& f = instance();
    f.record("Begin " + std::to_string(w) + "x" + std::to_string(h) + " " + std::to_string(still));
    if (f.beginResult == 0) return 0;
    if (still) {
      std::vector<uint8_t> picture = f.stillPicture;
      cb(u, picture.data(), static_cast<uint32_t>(picture.size()));
      return 1;
    }
    std::lock_guard lock(f.mutex);
    f.callback = cb;
    f.user = u;
    return 1;
  }
  static int32_t end() {
    FakeHtc& f = instance();
    f.record("End");
    std::lock_guard lock(f.mutex);
    f.callback = nullptr;
    return 1;
  }
  static int32_t deinit() {
    instance().record("Deinit");
    return 1;
  }
  static int32_t setProperty(uint32_t property, uintptr_t argument) {
    FakeHtc& f = instance();
    const uint32_t value = f.addressArguments ? *reinterpret_cast<const uint32_t*>(argument)
                                              : static_cast<uint32_t>(argument);
    f.record("SetProperty " + std::to_string(property) + " " + std::to_string(value));
    return 1;
  }
  static int32_t getProperty(uint32_t property, uint32_t* value) {
    FakeHtc& f = instance();
    f.record("GetProperty " + std::to_string(property));
    *value = f.reportedBrightness;
    return f.getPropertyResult;
  }
};

}  // namespace makers::testing
