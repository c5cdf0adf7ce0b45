#include <cstdlib>
#include <cstring>

#include "kernels.h"

namespace jpegpress {
namespace {

bool portableForced() {
  const char* value = std::getenv("VISTREL_JPEGPRESS_PORTABLE");
  return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

}  // namespace

const KernelTable& activeKernels() {
  static const KernelTable* const chosen = [] {
    const KernelTable* simd = portableForced() ? nullptr : simdKernels();
    return simd != nullptr ? simd : &portableKernels();
  }();
  return *chosen;
}

}  // namespace jpegpress
