// framesink.so: the module's single export and its nine entries, each a thin call onto
// the process's one SinkGraph.

#include <cstdio>
#include <memory>
#include <mutex>

#include "camera_select.h"
#include "platform/key_store.h"
#include "sink_graph.h"

namespace framesink {
namespace {

std::mutex graphMutex;
std::unique_ptr<SinkGraph> graph;

uint32_t SinkOpen(uint32_t categories) {
  std::lock_guard<std::mutex> lock(graphMutex);
  graph.reset();  // a new graph replaces the process's graph record
  try {
    std::string problem;
    auto camera = openSelectedCamera(configuredSelection(platform::KeyStore::machine()), platform::systemV4l2Io(), problem);
    if (!camera) {
      // The table's calls carry no text, so the module says it where its user sees it.
      std::fprintf(stderr, "framesink: %s\n", problem.c_str());
      return 0;
    }
    auto opened = std::make_unique<SinkGraph>(std::move(camera), categories);
    if (opened->connected() == 0) return 0;
    graph = std::move(opened);
    return graph->connected();
  } catch (...) {
    return 0;
  }
}

uint32_t SinkClose() {
  std::lock_guard<std::mutex> lock(graphMutex);
  graph.reset();
  return 1;
}

template <typename Call>
uint32_t onGraph(Call call) {
  std::lock_guard<std::mutex> lock(graphMutex);
  if (!graph) return 0;
  try {
    return call(*graph) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

uint32_t SinkSetState(uint32_t state) {
  return onGraph([&](SinkGraph& g) { return g.setState(state); });
}
uint32_t SinkSetCallback(const SampleCallback* callback, uint32_t category) {
  return onGraph([&](SinkGraph& g) { return g.setCallback(callback, category); });
}
uint32_t SinkGetFormats(FormatEntry* table, uint32_t* count, uint32_t category) {
  return onGraph([&](SinkGraph& g) { return g.getFormats(table, count, category); });
}
uint32_t SinkSetFormat(const FormatEntry* entry, uint32_t category) {
  return onGraph([&](SinkGraph& g) { return g.setFormat(entry, category); });
}
uint32_t SinkTriggerStill(const SampleCallback* callback) {
  return onGraph([&](SinkGraph& g) { return g.triggerStill(callback); });
}
uint32_t SinkGetRanges(RangeEntry* table, uint32_t count, int32_t which) {
  return onGraph([&](SinkGraph& g) { return g.getRanges(table, count, which); });
}
uint32_t SinkGetSetValues(ValueEntry* table, uint32_t count, int32_t which, uint32_t set) {
  return onGraph([&](SinkGraph& g) { return g.getSetValues(table, count, which, set); });
}

}  // namespace
}  // namespace framesink

extern "C" __attribute__((visibility("default"))) uint32_t DllGetData(FramesinkTable* table) {
  using namespace framesink;
  if (table == nullptr) return 0;
  *table = FramesinkTable{SinkOpen,       SinkClose,     SinkSetState,     SinkSetCallback, SinkGetFormats,
                          SinkSetFormat, SinkTriggerStill, SinkGetRanges, SinkGetSetValues};
  return 1;
}
