#include "warden/service_control.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#include "platform/named_objects.h"
#include "warden/service_codes.h"

namespace warden {

std::string serviceControlSocketName() {
  return "vistrel-service/" + platform::namedObjectName(kServiceName);
}

bool sendServiceControl(uint32_t code) {
  const std::string name = serviceControlSocketName();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (name.size() + 1 > sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  uint8_t packet[kControlRequestPacket.headerBytes()];
  const uint32_t words[1] = {code};
  platform::writePacket(kControlRequestPacket, words, {}, packet);
  const ssize_t n = ::sendto(fd, packet, sizeof packet, MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&addr), len);
  ::close(fd);
  return n == static_cast<ssize_t>(sizeof packet);
}

bool requestServiceReload() { return sendServiceControl(kControlReloadSettings); }

}  // namespace warden
