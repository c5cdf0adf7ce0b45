// Values chosen on the PC for the device's settings: taken on the link's sending thread,
// applied on the window thread exactly as the setting editor applies a choice.
#include "core/capture_context.h"

namespace core {
namespace {
// More choices than a person makes between two turns of the window thread; beyond it
// new ones are dropped, as the link drops reports when its queue is full.
constexpr size_t kMaxQueuedChoices = 64;
}  // namespace

void CaptureContext::applySettingIndex(sources::CaptureSource& source, settings::SourceSetting& setting,
                                       int32_t index) {
  setting.current = index;
  source.SetSetting(&setting, index);
  NotifySettingChanged(&setting, 0);
}

void CaptureContext::queueSetProperty(uint32_t key, uint32_t index) {
  {
    std::lock_guard lock(propertyMutex_);
    if (propertyCommands_.size() >= kMaxQueuedChoices) return;
    propertyCommands_.emplace_back(key, index);
  }
  if (options_.view) options_.view->postPropertyCommands();
}

void CaptureContext::onPropertyCommands() {
  std::vector<std::pair<uint32_t, uint32_t>> taken;
  {
    std::lock_guard lock(propertyMutex_);
    taken.swap(propertyCommands_);
  }
  for (const auto& [key, index] : taken) applySetProperty(key, index);
}

bool CaptureContext::applySetProperty(uint32_t key, uint32_t index) {
  for (sources::CaptureSource& source : sources) {
    if (!source.enabled()) continue;
    for (settings::SourceSetting* s = source.Settings(); s; s = s->next) {
      if (s->key != key) continue;
      if (index >= s->count) return false;
      applySettingIndex(source, *s, static_cast<int32_t>(index));
      const settings::SettingsStore& store = *options_.store;
      const std::u16string name = sourceName(source);
      settings::saveSettingList(store, source.Settings(), name.c_str());
      store.flush(store.OpenKey(nullptr, true));
      return true;
    }
  }
  return false;
}

}  // namespace core
