#include "engine/engine_hooks.h"

#include <atomic>
#include <cstdio>

#include "engine/service_link.h"

namespace engine {
namespace {

void notAvailable(const char* what) {
  std::fprintf(stderr, "vistrel: %s: not available on this build\n", what);
}

EngineHooks& defaults() {
  static EngineHooks hooks;
  return hooks;
}

std::atomic<EngineHooks*> current{nullptr};
std::atomic<ServiceLink*> service{nullptr};

}  // namespace

void EngineHooks::showMessage(const std::string& title, const std::string& text, uint32_t) {
  std::fprintf(stderr, "%s: %s", title.c_str(), text.c_str());
  if (text.empty() || text.back() != '\n') std::fputc('\n', stderr);
}

bool EngineHooks::startPhoneLauncher(uint32_t) {
  notAvailable("starting the phone program");
  return false;
}

bool EngineHooks::requestServiceReload() {
  ServiceLink* link = serviceLink();
  return link != nullptr && link->requestReload();
}

EngineHooks& hooks() {
  EngineHooks* h = current.load();
  return h != nullptr ? *h : defaults();
}

void setHooks(EngineHooks* hooks) { current.store(hooks); }

ServiceLink* serviceLink() { return service.load(); }
void setServiceLink(ServiceLink* link) { service.store(link); }

}  // namespace engine
