#include "warden/service_control_link.h"

#include "warden/service_control.h"

namespace warden {

engine::ServiceLink& serviceControlLink() {
  struct ControlLink final : engine::ServiceLink {
    bool requestReload() override { return requestServiceReload(); }
  };
  static ControlLink link;
  return link;
}

}  // namespace warden
