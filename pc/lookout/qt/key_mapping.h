#pragma once

#include <cstdint>

namespace lookout {

// The virtual-key code a Qt key stands for (the codes the phone receives), 0 for a key
// without one. Besides the keyboard's own keys, "#" gives 35 and "*" gives 42, the codes
// of the phone keypad's two symbol keys, so that both can be typed on any layout.
uint32_t virtualKeyFor(int qtKey);

}  // namespace lookout
