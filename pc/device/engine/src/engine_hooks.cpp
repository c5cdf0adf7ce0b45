#include "engine/engine_hooks.h"

#include <atomic>
#include <cstdio>

#include "engine/service_link.h"
#include "launcher/phone_launcher.h"

namespace engine {
namespace {

EngineHooks& defaults() {
  static EngineHooks hooks;
  return hooks;
}

std::atomic<EngineHooks*> current{nullptr};
std::atomic<ServiceLink*> service{nullptr};

constexpr uint32_t kLaunchFailedStyle = 0x00000010;  // error icon, OK button

}  // namespace

void EngineHooks::showMessage(const std::string& title, const std::string& text, uint32_t) {
  std::fprintf(stderr, "%s: %s", title.c_str(), text.c_str());
  if (text.empty() || text.back() != '\n') std::fputc('\n', stderr);
}

std::string EngineHooks::text(uint32_t, const char* english) { return english; }

bool EngineHooks::startPhoneLauncher(uint32_t number) {
  // Only the person who pressed Connect hears of a launch that failed; a launch when an
  // engine opens stays silent (with no device set up it does nothing at all).
  return launcher::startLauncher(number, [number](const launcher::LaunchResult& result) {
    if (!result.started() && (number & launcher::kReconnectFlag) != 0)
      hooks().showMessage("Vistrel", launcher::failureMessage(result), kLaunchFailedStyle);
  });
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
