#pragma once

// A stand-in for framesink's nine entries: chosen format lists and answers, every call
// recorded ("SinkOpen 7", "SinkSetFormat 1280x1024 UYVY 4", "SinkGetSetValues 1 0=5 f2 set1",
// ...), and the installed callbacks kept so that a test can deliver pictures through them.
// One per process, as the module's graph is.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "framesink/framesink_table.h"

namespace dshow::testing {

struct FakeFramesink {
  std::vector<FormatEntry> capture;
  std::vector<FormatEntry> still;
  bool openResult = true;
  bool stillFormatsFail = false;

  SampleCallback captureCallback{};
  SampleCallback stillCallback{};

  std::vector<std::string> calls();
  size_t countOf(const std::string& call);
  // Waits until `call` was made at least `times` times.
  bool waitFor(const std::string& call, size_t times, int timeoutMs = 5000);

  static FakeFramesink& instance();
  static FramesinkTable table();
  void reset();

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> log;
  void record(std::string call);
};

}  // namespace dshow::testing
