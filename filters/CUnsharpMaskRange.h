// The tonal or hue window of the unsharp mask: which values it sharpens, and how strongly, with a soft edge
// on each side. The value form weighs a plane by its own value; the hue form weighs the lightness of a
// picture in lightness, chroma and hue by where its hue lies on the colour circle and by its chroma.
#pragma once

#include "platform/win/wintypes.h"

class CUnsharpMaskRange {
public:
    // Positions on the colour circle, and the unit that [0, 1] bounds are counted in.
    static constexpr LONG kCircle = 65536;
    // The chroma from which a hue counts in full.
    static constexpr double kFullChroma = 16384;

    // The window's start and end on the value axis and their soft widths, in [0, 1].
    struct CPoints {
        LONG start = 0;         // a value below it is left alone
        LONG rampUpEnd = 0;     // the weight reaches 1 here
        LONG rampDownStart = 0; // and leaves it here
        LONG end = kCircle;     // a value above it is left alone
    };

    CUnsharpMaskRange() { Set(0, 0, 1, 0); }
    // The bounds are not checked here: each is in [0, 1].
    void Set(double low, double lowSoftness, double high, double highSoftness);

    // Whether the window is the full range (0, 0, 1, 0), which passes every value with weight 1.
    bool IsFull() const { return m_full; }
    const CPoints& GetPoints() const { return m_points; }

    // Whether a value (16-bit units) passes the value gate; *weight receives its weight when it does.
    bool ValueWeight(LONG value, double* weight) const;
    // Whether a pixel of that hue passes the hue gate (when the window has one); *weight receives the
    // weight of its lightness when it does: the ramps' or the plateau's, times min(1, chroma / 16384).
    bool HueWeight(LONG hue, LONG chroma, double* weight) const;

    // How the hue form treats the window: with a gate over (start, end], with a plateau of full weight
    // over (rampUpEnd, rampDownStart], and, where both ramps hold a hue, the larger or the smaller ramp.
    // Windows whose ramps overlap or wrap around the circle turn the gate or the plateau off.
    bool HasHueGate() const { return m_hueGate; }
    bool HasHuePlateau() const { return m_huePlateau; }
    bool TakesLargerRamp() const { return m_largerRamp; }

private:
    CPoints m_points;
    double m_upSlope = 0;
    double m_downSlope = 0;
    bool m_full = true;
    bool m_hueGate = true;
    bool m_huePlateau = true;
    bool m_largerRamp = false;
};
