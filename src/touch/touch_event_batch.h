#pragma once

#include <linux/input.h>

#include <array>

namespace quorin {

// One touch record as the device sees it: X, Y, the touch key and the
// report that makes the three visible together.
using TouchEventBatch = std::array<input_event, 4>;

constexpr int kAxisMax = 4095;

TouchEventBatch makeTouchEventBatch(int x, int y, bool touched);

}  // namespace quorin
