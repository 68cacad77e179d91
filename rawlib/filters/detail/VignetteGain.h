// The vignette correction's gains: the profile of additional gain along the image radius from a lens
// model, the quadrant table of 16-bit gain codes, and the application of a code to a sample.
//
// A gain code holds an exponent e in its top 4 bits and a mantissa m in its low 12: the gain is m / 4096
// when e = 0 and (4096 + m) x 2^(e - 13) otherwise, that is (1 + m / 4096) x 2^(e - 1); 0xFFFF saturates.
#pragma once

#include "rawlib/filters/detail/CVignetteLensModel.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace VignetteGain {

// The profile's samples lie this fraction of the sensor diagonal apart; the image's corner (half the
// diagonal) is sample 20 at a scale of 1.
constexpr double kSampleStep = 0.025;
constexpr double kCornerSample = 20;
// The layout of a code, and the shift that a code of exponent e undoes by 13 - e.
constexpr LONG kMantissaBits = 12;
constexpr LONG kMantissaMask = (1 << kMantissaBits) - 1;
constexpr LONG kOne = 1 << kMantissaBits;
constexpr LONG kShiftBase = 13;
// Samples of the profile at most.
constexpr LONG kMaxSamples = 4096;
// The additional gain that saturates every code.
constexpr double kSaturated = 1e300;

// F(k) = (light at the centre / light at radius k x kSampleStep x diagonal) - 1 for k < count: 0 where
// that is negative or not a number, kSaturated where no light arrives.
std::vector<double> Profile(const CVignetteLensModel& model, double diagonal, LONG count);

// The code of an additional gain: e = floor(log2(max(F, 0.5))) + 1; 0xFFFF from e = 16 on (and for an
// infinite F); trunc(F x 4096) when e = 0; else e x 4096 + trunc(F x 2^(13 - e) - 4096). F below 0 or not
// a number gives 0.
WORD Encode(double gain);
// The gain a code stands for.
double Decode(WORD code);

// The gain of a code in 4096ths, F = D x 2^(e - 1) with D the mantissa and its leading 4096 (F = D = m when
// e = 0): below 2^27, and floor(F x v / 4096) is what the code raises a sample v by before saturation.
inline std::uint32_t Factor(WORD code) {
    const LONG exponent = code >> kMantissaBits;
    const std::uint32_t mantissa = code & kMantissaMask;
    return exponent == 0 ? mantissa : (kOne + mantissa) << (exponent - 1);
}

// A sample raised by a code at an amount of A / 8192: v + min((D x v) >> s, 65535) x A / 8192, D the
// mantissa (with its leading 4096 when e >= 1) and s = 13 - e (12 when e = 0; a left shift by e - 13
// when e > 13), limited to 0 .. maximum. (D x v) >> s is floor(Factor(code) x v / 4096) for every code.
inline LONG Apply(WORD code, LONG value, LONG amount, LONG maximum) {
    const std::int64_t raised = (std::int64_t{Factor(code)} * value) >> kMantissaBits;
    const std::int64_t result = value + std::min<std::int64_t>(raised, 65535) * amount / 8192;
    return static_cast<LONG>(std::clamp<std::int64_t>(result, 0, maximum));
}

// The codes of the top-left quadrant of a width x height image: (height + 1) / 2 rows of (width + 1) / 2,
// row major. Cell (i, j) lies i + 0.5 and j + 0.5 pixels from the centre along an even axis, i and j along
// an odd one; at distance d its gain is the profile read at sample 20 x scale x d / (half the image's
// diagonal), interpolated linearly between samples. May throw std::bad_alloc.
std::vector<WORD> QuadrantTable(const CVignetteLensModel& model, double diagonal, double scale, LONG width,
                                LONG height);

// The table cell of a pixel along an axis of size pixels: |(2 position - size + 1) / 2|, truncated.
inline LONG QuadrantIndex(LONG position, LONG size) {
    const long long twice = 2LL * position - size + 1;
    const long long index = twice / 2;
    return static_cast<LONG>(index < 0 ? -index : index);
}

} // namespace VignetteGain
