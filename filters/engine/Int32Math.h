// Arithmetic for 32-bit results computed wider: values held at the ends of the 32-bit range rather than
// wrapping, and quotients rounded down or up whatever the signs. Coordinates, sizes and mappings of the
// filters are 32-bit; these keep an extreme input from turning into undefined behaviour or a wrapped value.
#pragma once

#include "platform/win/wintypes.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace Int32Math {

constexpr LONG kMin = std::numeric_limits<LONG>::min();
constexpr LONG kMax = std::numeric_limits<LONG>::max();

// v, or the nearest end of the 32-bit range.
constexpr LONG Saturate(std::int64_t v) {
    return v < kMin ? kMin : v > kMax ? kMax : static_cast<LONG>(v);
}

// v + by, or the nearest end of the 32-bit range (by stays within +-2^62).
constexpr LONG SaturatedAdd(LONG v, std::int64_t by) {
    return Saturate(std::int64_t{v} + by);
}

// v truncated toward zero, or the nearest end of the 32-bit range; a value that is not a number gives 0.
inline LONG SaturatedTrunc(double v) {
    if (std::isnan(v))
        return 0;
    if (v <= static_cast<double>(kMin))
        return kMin;
    if (v >= static_cast<double>(kMax))
        return kMax;
    return static_cast<LONG>(v);
}

// floor(a / b) and ceil(a / b) for b other than 0.
constexpr std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

constexpr std::int64_t CeilDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && ((a < 0) == (b < 0))) ? q + 1 : q;
}

} // namespace Int32Math
