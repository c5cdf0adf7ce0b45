#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "targets/network_target.h"

namespace targets {

namespace {
class SystemResolver final : public HostResolver {
 public:
  uint32_t lookup(const std::string& name) override {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found) return 0;
    uint32_t address = 0;
    if (found->ai_family == AF_INET) {
      address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    }
    ::freeaddrinfo(found);
    return address;
  }
};
}  // namespace

std::shared_ptr<HostResolver> systemResolver() {
  static const auto resolver = std::make_shared<SystemResolver>();
  return resolver;
}

}  // namespace targets
