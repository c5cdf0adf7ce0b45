#pragma once

#include <memory>
#include <string>

#include "lookout/device_binding.h"
#include "lookout/viewer_presenter.h"
#include "lookout/viewer_settings.h"
#include "lookout/viewer_texts.h"
#include "platform/resources.h"

namespace lookout {

// What a viewer program holds from start to exit, whatever its front: the bound library,
// the settings read at start, its texts, and the presenter over its window.
class ViewerSession {
 public:
  ViewerSession() = default;
  ViewerSession(const ViewerSession&) = delete;
  ViewerSession& operator=(const ViewerSession&) = delete;
  ~ViewerSession();

  // Binds "device.ax" and opens it as a client, reads the settings from the machine key
  // store and loads the texts. False, with `why`, when the library cannot serve (the
  // viewer then ends). `textsProblem` tells when the viewer's own module had to be the
  // built-in copy.
  bool open(std::string& why, std::string& textsProblem);

  const DeviceEntryTable& table() const { return binding_.table; }
  const platform::ResourceModule* ownModule() const { return ownModule_.get(); }
  const ViewerTexts& ownTexts() const { return *ownTexts_; }

  // The presenter over the front's window (made once).
  ViewerPresenter& makePresenter(ViewerView& view);

  // At exit, once open() succeeded, with the window detached from the presenter: stops
  // the frame thread, closes the engine and writes the settings. False when the frame
  // thread did not end in time: the presenter and the library it is inside then stay
  // until the process ends.
  bool close();

 private:
  DeviceBinding binding_;
  ViewerSettings settings_;
  std::unique_ptr<platform::ResourceModule> ownModule_;
  std::unique_ptr<ModuleTexts> ownTexts_, texts_;
  std::unique_ptr<ViewerPresenter> presenter_;
};

}  // namespace lookout
