#include "KvDustToneTables.h"

#include "KvDustMapFormat.h"

#include "rawlib/filters/CDeBayerBase.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <numbers>

namespace KvDust {

namespace {

constexpr ULONG kInverseEntries = 65536;

// The rendering curve of the older camera types: a power law with a straight segment at the dark end,
// joined where both value and slope agree.
struct PowerCurve {
    double gamma;
    double toe; // linear light where the straight segment ends
};
// Two sets (the colour-mode word 2 picks the second) of a default row and the rows of selectors 1 to 3.
constexpr PowerCurve kPowerCurves[2][4] = {
    {{2.2, 0.018}, {1.8, 0.018}, {2.4, 0.0125}, {2.0, 0.02}},
    {{2.1, 0.02}, {1.7, 0.02}, {2.3, 0.015}, {1.9, 0.022}},
};

// The rendering curve of the newer camera types: a cubic toe c1 x + c3 x^3 up to x0, a power law A1 x^g1
// up to x1, and a second power law A2 x^g2 + B2 that reaches 1 at 1, each joined with equal value and slope.
struct ToeCurve {
    double x0;
    double x1;
    double g1;
    double g2;
};
// Rows by the tone-curve row index; an index without a row takes the default row 2.
constexpr ToeCurve kToeCurves[] = {
    {0.004, 0.18, 0.50, 0.40}, {0.005, 0.20, 0.48, 0.38}, {0.006, 0.20, 0.45, 0.36},
    {0.006, 0.25, 0.42, 0.35}, {0.008, 0.25, 0.40, 0.33},
};
constexpr ULONG kDefaultToeRow = 2;

struct ToeCoefficients {
    ToeCurve row;
    double a1, a2, b2, c1, c3;
};

ToeCoefficients Coefficients(const ToeCurve& row) {
    ToeCoefficients k{row, 0, 0, 0, 0, 0};
    const double x1g1 = std::pow(row.x1, row.g1);
    k.a1 = 1.0 / (x1g1 * (1.0 + row.g1 / row.g2 * (std::pow(row.x1, -row.g2) - 1.0)));
    k.a2 = k.a1 * row.g1 * std::pow(row.x1, row.g1 - row.g2) / row.g2;
    k.b2 = 1.0 - k.a2;
    const double v0 = k.a1 * std::pow(row.x0, row.g1);
    const double d0 = k.a1 * row.g1 * std::pow(row.x0, row.g1 - 1.0);
    k.c3 = (d0 * row.x0 - v0) / (2.0 * row.x0 * row.x0 * row.x0);
    k.c1 = (3.0 * v0 - d0 * row.x0) / (2.0 * row.x0);
    return k;
}

double ToeForward(const ToeCoefficients& k, double x) {
    if (x <= k.row.x0)
        return k.c1 * x + k.c3 * x * x * x;
    if (x <= k.row.x1)
        return k.a1 * std::pow(x, k.row.g1);
    return k.a2 * std::pow(x, k.row.g2) + k.b2;
}

// The root of c3 y^3 + c1 y = s that lies on the toe, by Cardano's method (three real roots when the
// discriminant is not positive: the trigonometric form).
double ToeRoot(const ToeCoefficients& k, double s) {
    const double p = k.c1 / k.c3;
    const double q = -s / k.c3;
    const double discriminant = q * q / 4 + p * p * p / 27;
    double roots[3];
    int count = 0;
    if (discriminant > 0) {
        const double r = std::sqrt(discriminant);
        roots[count++] = std::cbrt(-q / 2 + r) + std::cbrt(-q / 2 - r);
    } else {
        const double m = 2 * std::sqrt(-p / 3);
        const double theta = std::acos(std::clamp(3 * q / (p * m), -1.0, 1.0)) / 3;
        for (int i = 0; i < 3; ++i)
            roots[count++] = m * std::cos(theta - 2 * std::numbers::pi * i / 3);
    }
    constexpr double kSlack = 1e-9;
    for (int i = 0; i < count; ++i)
        if (roots[i] >= -kSlack && roots[i] <= k.row.x0 + kSlack)
            return std::clamp(roots[i], 0.0, k.row.x0);
    return k.row.x0;
}

double ToeInverse(const ToeCoefficients& k, double s) {
    const double s0 = ToeForward(k, k.row.x0);
    const double s1 = ToeForward(k, k.row.x1);
    if (s <= s0)
        return ToeRoot(k, s);
    if (s <= s1)
        return std::pow(s / k.a1, 1.0 / k.row.g1);
    return std::pow((s - k.b2) / k.a2, 1.0 / k.row.g2);
}

const ToeCoefficients& ToeRowOf(const DustTuning& tuning) {
    static const auto kRows = [] {
        std::array<ToeCoefficients, std::size(kToeCurves)> rows{};
        for (std::size_t i = 0; i < rows.size(); ++i)
            rows[i] = Coefficients(kToeCurves[i]);
        return rows;
    }();
    const ULONG row = tuning.toneCurveRow < kRows.size() ? tuning.toneCurveRow : kDefaultToeRow;
    return kRows[row];
}

const PowerCurve& PowerRowOf(const DustTuning& tuning) {
    const int set = tuning.colorMode == 2 ? 1 : 0;
    const ULONG selector = tuning.toneCurveSelector;
    return kPowerCurves[set][selector >= 1 && selector <= 3 ? selector : 0];
}

// The older types' curve of the image with the offset and slope that join its power law to its straight
// segment.
struct PowerShape {
    double gamma;
    double toe;
    double offset;
    double slope;
};

PowerShape PowerShapeOf(const DustTuning& tuning) {
    const PowerCurve& c = PowerRowOf(tuning);
    const double p = std::pow(c.toe, 1.0 / c.gamma) * (1.0 - 1.0 / c.gamma);
    const double offset = p / (1.0 - p);
    return {c.gamma, c.toe, offset, ((1.0 + offset) * std::pow(c.toe, 1.0 / c.gamma) - offset) / c.toe};
}

enum class CurveKind { kNone, kPower, kToe };

CurveKind KindOf(ULONG cameraType) {
    switch (cameraType) {
    case 257:
    case 258:
    case 259:
        return CurveKind::kPower;
    case 260:
    case 1025:
    case 1026:
        return CurveKind::kToe;
    default:
        return CurveKind::kNone;
    }
}

WORD Round16(double value) {
    return static_cast<WORD>(std::clamp(std::floor(value + 0.5), 0.0, 65535.0));
}

} // namespace

bool CameraCurve(const DustTuning& tuning, double linear, double* sample) {
    const double x = std::clamp(linear, 0.0, 1.0);
    switch (KindOf(tuning.cameraType)) {
    case CurveKind::kPower: {
        const PowerShape c = PowerShapeOf(tuning);
        *sample = x < c.toe ? c.slope * x : (1.0 + c.offset) * std::pow(x, 1.0 / c.gamma) - c.offset;
        return true;
    }
    case CurveKind::kToe:
        *sample = ToeForward(ToeRowOf(tuning), x);
        return true;
    default:
        return false;
    }
}

bool CameraCurveInverse(const DustTuning& tuning, double sample, double* linear) {
    const double s = std::clamp(sample, 0.0, 1.0);
    switch (KindOf(tuning.cameraType)) {
    case CurveKind::kPower: {
        const PowerShape c = PowerShapeOf(tuning);
        *linear = s < c.slope * c.toe ? s / c.slope : std::pow((s + c.offset) / (1.0 + c.offset), c.gamma);
        return true;
    }
    case CurveKind::kToe:
        *linear = ToeInverse(ToeRowOf(tuning), s);
        return true;
    default:
        return false;
    }
}

IPravonError* BuildToneTable(LONG colorSpace, bool rawMode, const DustTuning& tuning,
                             std::vector<WORD>* table) {
    ULONG entries = 0;
    if (colorSpace == PravonColorSpace::kRGB8)
        entries = kToneEntries8;
    else if (colorSpace == PravonColorSpace::kRGB16 || colorSpace == PravonColorSpace::kRawMosaic16)
        entries = kToneEntries16;
    else
        return PravonFail(kComponent, PravonKind::kOutOfRange,
                          "dust maps are made for RGB images and mosaics");
    const bool raw = rawMode || colorSpace == PravonColorSpace::kRawMosaic16;
    if (raw && entries != kToneEntries16)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "raw mode needs a 16-bit image");
    try {
        table->assign(entries, 0);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the dust map's tone table");
    }
    const ULONG forward = entries - kInverseEntries;
    WORD* inverse = table->data() + forward;
    if (raw) {
        const WORD* square = GetSquareTable();
        std::copy(square, square + forward, table->begin());
        // The square-root table read between its 4096 entries, in 16 bits instead of 18.
        const LONG* root = GetSqrtTable();
        for (ULONG l = 0; l < kInverseEntries; ++l) {
            const double at = l * 4095.0 / 65535.0;
            const auto i = static_cast<ULONG>(at);
            const ULONG next = std::min<ULONG>(i + 1, 4095);
            const double value = root[i] + (root[next] - root[i]) * (at - i);
            inverse[l] = Round16(value / 4);
        }
        return nullptr;
    }
    if (KindOf(tuning.cameraType) == CurveKind::kNone)
        return nullptr;
    const double sampleMax = entries == kToneEntries8 ? 255.0 : 65535.0;
    for (ULONG v = 0; v < forward; ++v) {
        double linear = 0;
        CameraCurveInverse(tuning, v / sampleMax, &linear);
        (*table)[v] = Round16(linear * kLinearWhite);
    }
    for (ULONG l = 0; l < kInverseEntries; ++l) {
        double sample = 0;
        CameraCurve(tuning, l / kLinearWhite, &sample);
        inverse[l] = static_cast<WORD>(std::min(sampleMax, std::floor(sample * sampleMax + 0.5)));
    }
    return nullptr;
}

} // namespace KvDust
