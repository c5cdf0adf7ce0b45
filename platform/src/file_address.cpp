#include <cstdio>

#include "platform/help.h"

namespace platform {

// An absolute path is a POSIX one ("/dir/file") or a Windows one, on a drive ("C:" and
// backslashes) or a share (two backslashes first); only in a Windows path is a backslash
// a separator. A drive path gets the third slash of "file:///C:/...".
std::string fileAddress(const std::string& absolutePath, const std::string& fragment) {
  const bool drive = absolutePath.size() >= 2 && absolutePath[1] == ':' &&
                     ((absolutePath[0] >= 'a' && absolutePath[0] <= 'z') ||
                      (absolutePath[0] >= 'A' && absolutePath[0] <= 'Z'));
  const bool windowsPath = drive || absolutePath.rfind("\\\\", 0) == 0;
  std::string out = drive ? "file:///" : "file://";
  for (size_t i = 0; i < absolutePath.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(absolutePath[i]);
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '/' || c == '-' || c == '_' || c == '.' || c == '~' || (drive && i == 1);
    if (windowsPath && c == '\\') {
      out.push_back('/');
    } else if (plain) {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    }
  }
  if (!fragment.empty()) out += "#" + fragment;
  return out;
}

}  // namespace platform
