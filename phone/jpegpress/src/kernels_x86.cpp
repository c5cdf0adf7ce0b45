#include <cpuid.h>

#include "kernels.h"
#include "kernels_x86.h"

namespace jpegpress {
namespace {

// LZCNT ("abm") is read from the extended CPUID leaf: not every compiler's
// __builtin_cpu_supports knows its name.
bool hasLzcnt() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  return __get_cpuid(0x80000001u, &a, &b, &c, &d) && (c & bit_LZCNT) != 0;
}

// The AVX2 table's walk also uses BMI1, BMI2 and LZCNT.
bool hasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
         __builtin_cpu_supports("bmi2") && hasLzcnt();
}

}  // namespace

const KernelTable* simdKernels() { return hasAvx2() ? &avx2Kernels() : &sse2Kernels(); }

std::vector<const KernelTable*> supportedSimdKernels() {
  std::vector<const KernelTable*> tables{&sse2Kernels()};
  if (hasAvx2()) tables.push_back(&avx2Kernels());
  return tables;
}

}  // namespace jpegpress
