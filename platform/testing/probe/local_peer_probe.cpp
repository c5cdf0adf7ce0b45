// The other program of the local-endpoint tests: talks to an abstract local socket,
// optionally as another user, so that a test can see whom an endpoint serves.
//
//   local_peer_probe [--as UID:GID] stream|seqpacket|dgram NAME HEXBYTES [--read N]
//
// NAME is the abstract name without its leading NUL. The bytes are sent in one write (one
// datagram); with --read, up to N bytes are awaited for 2 s and printed as hex.
// Exit 0 when everything asked for happened, 1 when the endpoint refused or stayed silent,
// 2 on bad usage or when the user could not be changed.
#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool parseHex(const char* text, std::vector<unsigned char>& out) {
  const size_t n = std::strlen(text);
  if (n % 2 != 0) return false;
  for (size_t i = 0; i < n; i += 2) {
    char pair[3] = {text[i], text[i + 1], 0};
    char* end = nullptr;
    const long v = std::strtol(pair, &end, 16);
    if (*end != 0) return false;
    out.push_back(static_cast<unsigned char>(v));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int i = 1;
  if (i + 1 < argc && std::strcmp(argv[i], "--as") == 0) {
    unsigned uid = 0, gid = 0;
    if (std::sscanf(argv[i + 1], "%u:%u", &uid, &gid) != 2) return 2;
    if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 ||
        setresuid(uid, uid, uid) != 0) {
      std::perror("local_peer_probe: changing user");
      return 2;
    }
    i += 2;
  }
  if (argc - i < 3) return 2;
  const std::string kind = argv[i];
  const std::string name = argv[i + 1];
  std::vector<unsigned char> bytes;
  if (!parseHex(argv[i + 2], bytes)) return 2;
  long readBytes = 0;
  if (argc - i >= 5 && std::strcmp(argv[i + 3], "--read") == 0) readBytes = std::atol(argv[i + 4]);

  const int type = kind == "stream" ? SOCK_STREAM : kind == "seqpacket" ? SOCK_SEQPACKET
                                                                         : SOCK_DGRAM;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (name.size() + 1 > sizeof addr.sun_path) return 2;
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  const int fd = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return 2;
  if (type == SOCK_DGRAM) {
    return sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&addr), len) ==
                   static_cast<ssize_t>(bytes.size())
               ? 0
               : 1;
  }
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) return 1;
  if (!bytes.empty() &&
      send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) {
    return 1;
  }
  if (readBytes <= 0) return 0;
  std::vector<unsigned char> reply(static_cast<size_t>(readBytes));
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 2000) <= 0) return 1;
  const ssize_t got = recv(fd, reply.data(), reply.size(), 0);
  if (got <= 0) return 1;
  for (ssize_t k = 0; k < got; ++k) std::printf("%02x", reply[static_cast<size_t>(k)]);
  std::printf("\n");
  return 0;
}
