#include "lookout/viewer_session.h"

#include "platform/clock.h"
#include "platform/key_store.h"
#include "platform/module.h"

namespace lookout {

ViewerSession::~ViewerSession() = default;

bool ViewerSession::open(std::string& why, std::string& textsProblem) {
  if (!bindDevice(platform::loadModule, binding_, why)) return false;
  settings_ = readViewerSettings(platform::KeyStore::machine());
  ownModule_ = loadOwnModule(textsProblem);
  ownTexts_ = std::make_unique<ModuleTexts>(ownModule_.get());
  texts_ = std::make_unique<ModuleTexts>(
      resolveResourceModule(binding_.table.GetResourceModule(), ownModule_.get()));
  return true;
}

ViewerPresenter& ViewerSession::makePresenter(ViewerView& view) {
  presenter_ = std::make_unique<ViewerPresenter>(binding_.table, view, *ownTexts_, *texts_,
                                                 platform::systemClock(), settings_);
  return *presenter_;
}

bool ViewerSession::close() {
  if (!presenter_) {
    // No window was made: the engine is closed all the same, the settings kept.
    binding_.table.Close();
    writeViewerSettings(platform::KeyStore::machine(), settings_);
    return true;
  }
  const bool ended = presenter_->shutdown();
  writeViewerSettings(platform::KeyStore::machine(), presenter_->settings());
  if (!ended) {
    // A frame thread stuck in the library keeps what it uses.
    (void)presenter_.release();
    (void)binding_.module.release();
  }
  presenter_.reset();
  return ended;
}

}  // namespace lookout
