#include "VignetteGain.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace VignetteGain {

namespace {

constexpr LONG kLargestExponent = 15;

double Sample(const std::vector<double>& profile, double index) {
    if (!(index > 0))
        return profile.front();
    const double last = static_cast<double>(profile.size() - 1);
    if (!(index < last))
        return profile.back();
    const std::size_t k = static_cast<std::size_t>(index);
    const double fraction = index - static_cast<double>(k);
    return profile[k] + fraction * (profile[k + 1] - profile[k]);
}

} // namespace

std::vector<double> Profile(const CVignetteLensModel& model, double diagonal, LONG count) {
    std::vector<double> profile(static_cast<std::size_t>(std::clamp<LONG>(count, 1, kMaxSamples)));
    const double centre = model.Illumination(0);
    for (std::size_t k = 0; k < profile.size(); ++k) {
        const double light = model.Illumination(static_cast<double>(k) * kSampleStep * diagonal);
        double gain = centre / light - 1;
        if (std::isnan(gain) || gain < 0)
            gain = 0;
        profile[k] = std::min(gain, kSaturated);
    }
    return profile;
}

WORD Encode(double gain) {
    if (std::isnan(gain) || gain < 0)
        return 0;
    // floor(log2(F)) + 1 reaches 16 from 2^15 on, infinity included.
    if (gain >= std::ldexp(1.0, kLargestExponent))
        return 0xFFFF;
    // max(F, 0.5) = f x 2^exponent with f in [0.5, 1): floor(log2(max(F, 0.5))) + 1, exactly.
    int exponent = 0;
    std::frexp(std::max(gain, 0.5), &exponent);
    // The mantissa stays within its 12 bits where log2 rounds across a power of 2.
    if (exponent == 0)
        return static_cast<WORD>(std::clamp<double>(std::trunc(gain * kOne), 0, kMantissaMask));
    const double mantissa = std::trunc(std::ldexp(gain, kShiftBase - exponent) - kOne);
    return static_cast<WORD>(exponent * kOne +
                             static_cast<LONG>(std::clamp<double>(mantissa, 0, kMantissaMask)));
}

double Decode(WORD code) {
    const LONG exponent = code >> kMantissaBits;
    const LONG mantissa = code & kMantissaMask;
    if (exponent == 0)
        return static_cast<double>(mantissa) / kOne;
    return std::ldexp(static_cast<double>(kOne + mantissa), exponent - kShiftBase);
}

std::vector<WORD> QuadrantTable(const CVignetteLensModel& model, double diagonal, double scale, LONG width,
                                LONG height) {
    const LONG columns = (width + 1) / 2;
    const LONG rows = (height + 1) / 2;
    std::vector<WORD> table(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows));
    if (table.empty())
        return table;
    const double halfDiagonal = std::hypot(static_cast<double>(width), static_cast<double>(height)) / 2;
    // Sample index per pixel of distance; a scale that is not a positive number reads the centre only.
    const double perPixel = scale > 0 ? kCornerSample * scale / halfDiagonal : 0;
    const double farthest = perPixel * std::hypot(static_cast<double>(columns), static_cast<double>(rows));
    const LONG samples = farthest < kMaxSamples - 2 ? static_cast<LONG>(std::ceil(farthest)) + 2
                                                    : static_cast<LONG>(kMaxSamples);
    const std::vector<double> profile = Profile(model, diagonal, samples);
    const double offsetX = width % 2 == 0 ? 0.5 : 0.0;
    const double offsetY = height % 2 == 0 ? 0.5 : 0.0;
    for (LONG j = 0; j < rows; ++j) {
        WORD* row = table.data() + static_cast<std::size_t>(j) * static_cast<std::size_t>(columns);
        const double dy = j + offsetY;
        for (LONG i = 0; i < columns; ++i) {
            const double dx = i + offsetX;
            const double distance = std::sqrt(dx * dx + dy * dy);
            row[i] = Encode(Sample(profile, distance == 0 ? 0 : perPixel * distance));
        }
    }
    return table;
}

} // namespace VignetteGain
