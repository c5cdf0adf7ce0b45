#include "platform/local_peer.h"

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace platform {
namespace {

bool parseNumber(const char* text, uint32_t& value) {
  char* end = nullptr;
  errno = 0;
  const unsigned long n = std::strtoul(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || n > 0xFFFFFFFEul) return false;
  value = static_cast<uint32_t>(n);
  return true;
}

// Whether user `uid` (primary group `gid`) belongs to `group`, from the system's user
// and group databases.
bool memberOf(uint32_t uid, uint32_t gid, uint32_t group) {
  if (gid == group) return true;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(static_cast<uid_t>(uid), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr) {
    return false;
  }
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (getgrouplist(found->pw_name, static_cast<gid_t>(gid), groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
    if (getgrouplist(found->pw_name, static_cast<gid_t>(gid), groups.data(), &count) < 0) {
      return false;
    }
  }
  for (int i = 0; i < count; ++i) {
    if (groups[static_cast<size_t>(i)] == static_cast<gid_t>(group)) return true;
  }
  return false;
}

}  // namespace

std::optional<uint32_t> sharedGroup() {
  const char* text = std::getenv(kSharedGroupEnvironment);
  if (text == nullptr || *text == '\0') return std::nullopt;
  uint32_t number = 0;
  if (parseNumber(text, number)) return number;
  std::vector<char> buffer(16384);
  group entry{};
  group* found = nullptr;
  if (getgrnam_r(text, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    return std::nullopt;
  }
  return static_cast<uint32_t>(found->gr_gid);
}

bool peerTrusted(const PeerIdentity& peer) {
  if (peer.uid == 0 || peer.uid == static_cast<uint32_t>(geteuid())) return true;
  const std::optional<uint32_t> shared = sharedGroup();
  return shared && memberOf(peer.uid, peer.gid, *shared);
}

bool localPeerTrusted(int fd) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
      length != sizeof credentials || credentials.pid == 0) {
    return false;
  }
  return peerTrusted({static_cast<uint32_t>(credentials.pid), credentials.uid, credentials.gid});
}

bool enableSenderIdentity(int fd) {
  const int on = 1;
  return setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) == 0;
}

long receiveWithSender(int fd, void* buffer, size_t capacity, bool* trusted) {
  *trusted = false;
  iovec part{buffer, capacity};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t n;
  do {
    n = recvmsg(fd, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return -1;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS &&
        c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
      ucred credentials{};
      std::memcpy(&credentials, CMSG_DATA(c), sizeof credentials);
      *trusted = peerTrusted(
          {static_cast<uint32_t>(credentials.pid), credentials.uid, credentials.gid});
    }
  }
  return static_cast<long>(n);
}

}  // namespace platform
