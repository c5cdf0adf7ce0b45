#include "kernels.h"

namespace decoder {

// No faster kernels for this processor.
const RenderKernels* SimdKernels() { return nullptr; }

}  // namespace decoder
