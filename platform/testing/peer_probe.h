#pragma once

#include <string>
#include <vector>

namespace platform::testing {

// Runs local_peer_probe (see platform/testing/probe) with `arguments`, as the user
// "nobody" when `asOtherUser`, else as this process's user. Returns its exit code (-1 when
// it could not run) and its output.
struct ProbeResult {
  int exitCode = -1;
  std::string output;
};
ProbeResult runPeerProbe(bool asOtherUser, const std::vector<std::string>& arguments);

// True when this process may act as another user (it runs as root); tests that need it
// skip otherwise.
bool canActAsOtherUser();

// Bytes as the probe takes them on its command line (hex).
std::string hexBytes(const void* data, size_t size);

}  // namespace platform::testing
