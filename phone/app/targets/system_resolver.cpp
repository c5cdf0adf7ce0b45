#include "platform/socket.h"
#include "targets/network_target.h"

namespace targets {

namespace {
class SystemResolver final : public HostResolver {
 public:
  uint32_t lookup(const std::string& name) override { return platform::lookupIpv4(name); }
};
}  // namespace

std::shared_ptr<HostResolver> systemResolver() {
  static const auto resolver = std::make_shared<SystemResolver>();
  return resolver;
}

}  // namespace targets
