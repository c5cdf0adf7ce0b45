#pragma once

#include "engine/service_link.h"

namespace warden {

// The service's side of the engine's ServiceLink: requests go to the running service
// (service_control.h). The PC library and the programs that hold an engine install it
// with engine::setServiceLink.
engine::ServiceLink& serviceControlLink();

}  // namespace warden
