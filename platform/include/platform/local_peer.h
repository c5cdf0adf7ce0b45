#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace platform {

// Who may use this process's local endpoints (the single-instance socket, the command
// relay, the microphone's endpoints, the service's control socket) and its named objects.
// Local sockets are abstract, so file permissions never guard them: every endpoint asks
// the kernel who the peer is and applies one rule:
//
//   the same user as this process, or root, or - when the machine-wide setting names a
//   group - a member of that group.
//
// The machine-wide setting is the environment variable VISTREL_SHARED_GROUP (a group name
// or number). Set it, for the service and for every user session, when a service running
// under its own account shares the camera with desktop users: named objects are then
// created readable and writable by that group and its members are served. Unset (the
// default), everything is private to the user.

inline constexpr const char* kSharedGroupEnvironment = "VISTREL_SHARED_GROUP";

// The group the setting names; none when unset, empty or not a known group.
std::optional<uint32_t> sharedGroup();

struct PeerIdentity {
  uint32_t pid = 0;
  uint32_t uid = 0;
  uint32_t gid = 0;
};

// The rule above for a peer the kernel named.
bool peerTrusted(const PeerIdentity& peer);

// A connected local stream or packet socket (either end): true when the kernel names a
// peer that passes the rule. False as well when the kernel cannot tell.
bool localPeerTrusted(int fd);

// Datagram sockets carry no connection to ask about: once this is on, the kernel
// attaches the sender's identity to every datagram the socket receives.
bool enableSenderIdentity(int fd);

// Receives one datagram without waiting. The size (cut to `capacity`), or -1 when none is
// there or on error; *trusted tells whether its sender passes the rule (false when the
// kernel attached no identity).
long receiveWithSender(int fd, void* buffer, size_t capacity, bool* trusted);

}  // namespace platform
