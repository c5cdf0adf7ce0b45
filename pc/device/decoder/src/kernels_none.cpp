#include "kernels.h"

namespace decoder {

// No faster kernels for this processor.
const RenderKernels* simdKernels() { return nullptr; }

}  // namespace decoder
