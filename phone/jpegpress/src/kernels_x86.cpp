#include "kernels.h"
#include "kernels_x86.h"

namespace jpegpress {
namespace {

// The AVX2 table's walk also uses BMI1, BMI2 and LZCNT ("abm").
bool hasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
         __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("abm");
}

}  // namespace

const KernelTable* simdKernels() { return hasAvx2() ? &avx2Kernels() : &sse2Kernels(); }

std::vector<const KernelTable*> supportedSimdKernels() {
  std::vector<const KernelTable*> tables{&sse2Kernels()};
  if (hasAvx2()) tables.push_back(&avx2Kernels());
  return tables;
}

}  // namespace jpegpress
