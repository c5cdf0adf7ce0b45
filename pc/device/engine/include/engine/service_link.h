#pragma once

namespace engine {

// The running service as the engine reaches it. The service's module implements it (its
// control endpoint); the program or library that holds the engine installs that
// implementation, so the engine itself depends on no service. Without one installed a
// request fails as it does when no service runs.
//
// Threading: called from the thread that called the engine's entry.
class ServiceLink {
 public:
  virtual ~ServiceLink() = default;
  // Asks the running service to read the settings again. False when none runs.
  virtual bool requestReload() = 0;
};

// The link in effect (null: none). Not owned; it must outlive every engine call.
ServiceLink* serviceLink();
void setServiceLink(ServiceLink* link);

}  // namespace engine
