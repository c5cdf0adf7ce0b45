#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Makes `size` bytes from `data` the whole content of the file at `path` (created,
// readable by everyone, when missing) while holding an exclusive lock on it, so that two
// writers of the same name never interleave. The file is opened without truncating and
// cut only once the lock is held: a file another writer holds is left as it is. False when
// the file cannot be opened, another writer holds the lock, or a write fails.
//
// Threading: any thread.
bool writeFileExclusive(const std::string& path, const void* data, size_t size);

}  // namespace platform
