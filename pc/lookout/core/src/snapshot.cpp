#include "lookout/snapshot.h"

#include <cstdio>

#include "platform/file_write.h"

namespace lookout {

std::string snapshotFileName(const std::string& folder, const std::tm& t) {
  char name[64];
  std::snprintf(name, sizeof name, "%d%02d%02d-%02d%02d%02d.jpg", (t.tm_year + 1900) % 100,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return folder + "/" + name;
}

bool writeSnapshot(const std::string& path, const uint8_t* data, size_t sizeBytes) {
  return platform::writeFileExclusive(path, data, sizeBytes);
}

}  // namespace lookout
