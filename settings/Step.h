// Helpers shared by the settings handlers: the direction of a "-"/"+" step and whole-number
// arithmetic that stays inside the driver's 32-bit range.
#pragma once

#include <cstdint>
#include <limits>

namespace rv8 {

enum class StepDirection { Down, Up };

// A 64-bit intermediate limited to the 32-bit range, so that T + 1, T - 1 and 2 x v never wrap.
inline int32_t SaturateToI32(int64_t v) {
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

}  // namespace rv8
