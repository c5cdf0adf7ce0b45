#pragma once

#include <cstdint>

namespace output::kernels {

// Each converts the leading pixels of a row it can do in whole steps and returns how many
// it did; the caller finishes the row.
uint32_t packed4RowSsse3(const uint8_t* in, uint32_t width, uint8_t* out, bool swap);
uint32_t yuy2RowSsse3(const uint8_t* in, uint32_t width, uint8_t* out);

}  // namespace output::kernels
