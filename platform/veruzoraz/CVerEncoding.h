// The display encoding of the library's output: linear light, as the demosaicing gives it, to 12-bit
// values on the sRGB transfer curve, then bent by the tone factor's mid-tone curve. Black and white stay
// where they are.
#pragma once

#include "platform/veruzoraz/CVerDemosaic.h"
#include "platform/veruzoraz/VERuzOraz.h"

#include <algorithm>
#include <cstdint>
#include <vector>

class CVerEncoding {
public:
    // The factors' unit: a tone factor of kFactorUnit leaves the sRGB curve alone.
    static constexpr std::int32_t kFactorUnit = 256;
    // Tone factors are kept within these, so that the curve stays gentle and finite.
    static constexpr std::int32_t kMinTone = 32;
    static constexpr std::int32_t kMaxTone = 2048;
    // The linear white: a 12-bit white sample in the demosaicing's unit.
    static constexpr std::int32_t kWhite = VER_MAX_SAMPLE * CVerDemosaic::kUnit;

    explicit CVerEncoding(std::int32_t toneFactor);

    // The 12-bit display value of linear light v, held within black and white first.
    std::uint16_t Encode(std::int32_t v) const {
        return m_table[static_cast<std::size_t>(std::clamp(v, 0, kWhite))];
    }

private:
    std::vector<std::uint16_t> m_table; // kWhite + 1 entries
};
