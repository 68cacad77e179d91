#include "CUnsharpMaskRange.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr LONG kCircle = CUnsharpMaskRange::kCircle;

// v on the circle, in [0, kCircle).
LONG Around(LONG v) {
    return ((v % kCircle) + kCircle) % kCircle;
}

// Whether x lies in the interval (a, b] taken around the circle; (a, a] holds nothing.
bool Within(LONG x, LONG a, LONG b) {
    const LONG offset = Around(x - a);
    return offset > 0 && offset <= Around(b - a);
}

} // namespace

void CUnsharpMaskRange::Set(double low, double lowSoftness, double high, double highSoftness) {
    m_full = low == 0 && lowSoftness == 0 && high == 1 && highSoftness == 0;
    const LONG a = static_cast<LONG>(std::lround(low * kCircle));
    const LONG b = static_cast<LONG>(std::lround(lowSoftness * kCircle));
    const LONG c = static_cast<LONG>(std::lround(high * kCircle));
    const LONG d = static_cast<LONG>(std::lround(highSoftness * kCircle));
    // The soft edges are centred on the bounds.
    m_points.start = a - b / 2;
    m_points.rampUpEnd = m_points.start + b;
    m_points.end = c + d / 2;
    m_points.rampDownStart = m_points.end - d;
    m_upSlope = b ? 1.0 / b : 0;
    m_downSlope = d ? 1.0 / d : 0;

    const LONG h = m_points.start;
    const LONG upEnd = m_points.rampUpEnd;
    const LONG downStart = m_points.rampDownStart;
    const LONG l = m_points.end;
    const bool endInUp = Within(l, h, upEnd);
    const bool upEndInDown = Within(upEnd, downStart, l);
    const bool startInDown = Within(h, downStart, l);
    const bool downStartInUp = Within(downStart, h, upEnd);
    // A window from 0 to the whole circle, or one that starts where it ends, goes all the way round.
    const bool allRound = (a == 0 && c == kCircle) || a == c;
    m_hueGate = true;
    m_huePlateau = true;
    m_largerRamp = false;
    if ((upEndInDown && startInDown) || (downStartInUp && endInUp)) {
        // The ramps cross: either the window is a narrow one whose ramps meet inside it, or it wraps so
        // that the ramps meet outside it.
        const bool startNearEnd = Within(a, downStart, c);
        const LONG wrappedEnd = c < a ? c + kCircle : c;
        const LONG wrappedUpEnd = Around(upEnd) < a ? Around(upEnd) + kCircle : Around(upEnd);
        const bool upPassesEnd = a < wrappedEnd && wrappedUpEnd >= wrappedEnd;
        if (allRound || (!startNearEnd && !upPassesEnd)) {
            m_hueGate = false;
            m_largerRamp = true;
        } else {
            m_huePlateau = false;
        }
    } else if (startInDown || endInUp) {
        m_hueGate = false;
        m_largerRamp = true;
    } else if (upEndInDown || downStartInUp) {
        m_huePlateau = false;
    }
}

bool CUnsharpMaskRange::ValueWeight(LONG value, double* weight) const {
    const CPoints& p = m_points;
    if (value < p.start || value > p.end)
        return false;
    const bool fallingEdge = value > p.rampDownStart;
    const double down = (p.end - value) * m_downSlope;
    if (value >= p.rampUpEnd) {
        *weight = fallingEdge ? down : 1;
    } else {
        const double up = (value - p.start) * m_upSlope;
        *weight = fallingEdge ? std::min(up, down) : up;
    }
    return true;
}

bool CUnsharpMaskRange::HueWeight(LONG hue, LONG chroma, double* weight) const {
    const CPoints& p = m_points;
    if (m_hueGate && !Within(hue, p.start, p.end))
        return false;
    const double chromaFactor = std::min(1.0, chroma / kFullChroma);
    if (m_huePlateau && Within(hue, p.rampUpEnd, p.rampDownStart)) {
        *weight = chromaFactor;
        return true;
    }
    const bool rising = Within(hue, p.start, p.rampUpEnd);
    const bool falling = Within(hue, p.rampDownStart, p.end);
    const double up = Around(hue - p.start) * m_upSlope;
    const double down = Around(p.end - hue) * m_downSlope;
    double ramp = 0;
    if (rising && falling)
        ramp = m_largerRamp ? std::max(up, down) : std::min(up, down);
    else if (rising)
        ramp = up;
    else if (falling)
        ramp = down;
    *weight = ramp * chromaFactor;
    return true;
}
