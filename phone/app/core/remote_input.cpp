// Input from the PC's viewer: its tap and key commands reach the source that shows a
// picture the user can act on.
#include "core/capture_context.h"
#include "protocol/stream_header.h"

namespace core {

bool forwardRemoteInput(CaptureContext& context, uint32_t code, uint32_t argument) {
  if (code != protocol::CMD_TAP && code != protocol::CMD_KEY) return false;
  // The list is fixed after start-up; a source says itself whether it takes input now.
  for (sources::CaptureSource& source : context.sources)
    if (source.enabled() && source.remoteInput(code, argument)) break;
  return true;
}

}  // namespace core
