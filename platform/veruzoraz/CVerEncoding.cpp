#include "platform/veruzoraz/CVerEncoding.h"

#include <cmath>

namespace {

// The sRGB transfer curve: a straight segment near black, then a 1/2.4 power.
constexpr double kLinearLimit = 0.0031308;
constexpr double kLinearSlope = 12.92;
constexpr double kPowerScale = 1.055;
constexpr double kPowerOffset = 0.055;
constexpr double kPowerExponent = 1.0 / 2.4;

double Srgb(double linear) {
    return linear <= kLinearLimit ? kLinearSlope * linear
                                  : kPowerScale * std::pow(linear, kPowerExponent) - kPowerOffset;
}

} // namespace

CVerEncoding::CVerEncoding(std::int32_t toneFactor) : m_table(static_cast<std::size_t>(kWhite) + 1) {
    // The tone factor t bends the encoded value e to t e / (1 + (t - 1) e): the slope is t at black and
    // 1 / t at white, so above 1.0 the mid-tones lighten and below it they darken (an 18 % grey, 118 of
    // 255, moves by about 7 levels for 1.125 and 18 for 0.75), while black, white and the order stay.
    const double t = static_cast<double>(std::clamp(toneFactor, kMinTone, kMaxTone)) / kFactorUnit;
    for (std::size_t i = 0; i < m_table.size(); ++i) {
        const double e = Srgb(static_cast<double>(i) / kWhite);
        const double toned = t * e / (1.0 + (t - 1.0) * e);
        m_table[i] = static_cast<std::uint16_t>(std::lround(std::clamp(toned, 0.0, 1.0) * VER_MAX_SAMPLE));
    }
}
