#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace lookout {

// "<folder>/<yy><mm><dd>-<hh><mm><ss>.jpg" from the local time, the year modulo 100
// without a leading zero: 6 December 2009, 09:05:07 gives "91206-090507.jpg".
std::string snapshotFileName(const std::string& folder, const std::tm& localTime);

// Writes the JPEG bytes as the whole file, replacing an older file of that name, while
// holding an exclusive lock on it. False when it cannot be opened, locked or written.
bool writeSnapshot(const std::string& path, const uint8_t* data, size_t sizeBytes);

}  // namespace lookout
