#include "fake_framesink.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace dshow::testing {
namespace {

FakeFramesink& fake() { return FakeFramesink::instance(); }

std::string fourcc(uint32_t f) {
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((f >> (8 * i)) & 0xFF));
  return s;
}

uint32_t open(uint32_t mask) {
  fake().record("SinkOpen " + std::to_string(mask));
  return fake().openResult ? (mask & 6u) : 0;
}
uint32_t close() {
  fake().record("SinkClose");
  return 1;
}
uint32_t setState(uint32_t state) {
  fake().record("SinkSetState " + std::to_string(state));
  return 1;
}
uint32_t setCallback(const SampleCallback* cb, uint32_t category) {
  fake().record(std::string("SinkSetCallback ") + (cb && cb->function ? "set " : "none ") + std::to_string(category));
  std::lock_guard<std::mutex> lock(fake().mutex);
  if (category == kSinkCapture) fake().captureCallback = cb ? *cb : SampleCallback{};
  return category == kSinkCapture || category == kSinkStill;
}
uint32_t getFormats(FormatEntry* table, uint32_t* count, uint32_t category) {
  fake().record("SinkGetFormats " + std::to_string(*count) + " " + std::to_string(category));
  if (category == kSinkStill && fake().stillFormatsFail) return 0;
  const auto& list = category == kSinkCapture ? fake().capture : fake().still;
  const uint32_t n = std::min<uint32_t>(*count, static_cast<uint32_t>(list.size()));
  std::copy_n(list.begin(), n, table);
  *count = n;
  return 1;
}
uint32_t setFormat(const FormatEntry* e, uint32_t category) {
  char text[96];
  std::snprintf(text, sizeof text, "SinkSetFormat %dx%d %s %u", e->width, e->height, fourcc(e->format).c_str(),
                category);
  fake().record(text);
  return 1;
}
uint32_t triggerStill(const SampleCallback* cb) {
  {
    std::lock_guard<std::mutex> lock(fake().mutex);
    fake().stillCallback = cb ? *cb : SampleCallback{};
  }
  fake().record("SinkTriggerStill");
  return 1;
}
uint32_t getRanges(RangeEntry*, uint32_t count, int32_t which) {
  fake().record("SinkGetRanges " + std::to_string(count) + " " + std::to_string(which));
  return 0;
}
uint32_t getSetValues(ValueEntry* table, uint32_t count, int32_t which, uint32_t set) {
  std::string s = "SinkGetSetValues " + std::to_string(which);
  for (uint32_t i = 0; i < count; ++i)
    s += " " + std::to_string(table[i].property) + "=" + std::to_string(table[i].value) + " f" +
         std::to_string(table[i].flags);
  s += " set" + std::to_string(set);
  fake().record(s);
  return 1;
}

}  // namespace

FakeFramesink& FakeFramesink::instance() {
  static FakeFramesink f;
  return f;
}

FramesinkTable FakeFramesink::table() {
  return FramesinkTable{open, close, setState, setCallback, getFormats, setFormat, triggerStill, getRanges, getSetValues};
}

void FakeFramesink::reset() {
  std::lock_guard<std::mutex> lock(mutex);
  capture.clear();
  still.clear();
  openResult = true;
  stillFormatsFail = false;
  captureCallback = {};
  stillCallback = {};
  log.clear();
}

void FakeFramesink::record(std::string call) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    log.push_back(std::move(call));
  }
  changed.notify_all();
}

std::vector<std::string> FakeFramesink::calls() {
  std::lock_guard<std::mutex> lock(mutex);
  return log;
}

size_t FakeFramesink::countOf(const std::string& call) {
  std::lock_guard<std::mutex> lock(mutex);
  return static_cast<size_t>(std::count(log.begin(), log.end(), call));
}

bool FakeFramesink::waitFor(const std::string& call, size_t times, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex);
  return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return static_cast<size_t>(std::count(log.begin(), log.end(), call)) >= times;
  });
}

}  // namespace dshow::testing
