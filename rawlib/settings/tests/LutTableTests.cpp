#include "rawlib/settings/CKvLutGroup.h"
#include "rawlib/settings/KvComposeLut.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace {

constexpr double kPi = 3.14159265359;

// The natural cubic spline through the points in its second-derivative form, solved by plain Gaussian
// elimination: an independent reference for the tone channel's curve.
class ReferenceSpline {
public:
    explicit ReferenceSpline(std::vector<std::pair<double, double>> p) : m_p(std::move(p)) {
        const std::size_t n = m_p.size();
        std::vector<std::vector<double>> a(n, std::vector<double>(n + 1, 0.0));
        a[0][0] = 1;
        a[n - 1][n - 1] = 1;
        for (std::size_t i = 1; i + 1 < n; ++i) {
            const double h0 = m_p[i].first - m_p[i - 1].first, h1 = m_p[i + 1].first - m_p[i].first;
            a[i][i - 1] = h0;
            a[i][i] = 2 * (h0 + h1);
            a[i][i + 1] = h1;
            a[i][n] =
                6 * ((m_p[i + 1].second - m_p[i].second) / h1 - (m_p[i].second - m_p[i - 1].second) / h0);
        }
        for (std::size_t c = 0; c < n; ++c)
            for (std::size_t r = c + 1; r < n; ++r) {
                const double f = a[r][c] / a[c][c];
                for (std::size_t k = c; k <= n; ++k)
                    a[r][k] -= f * a[c][k];
            }
        m_m.assign(n, 0.0);
        for (std::size_t r = n; r-- > 0;) {
            double v = a[r][n];
            for (std::size_t k = r + 1; k < n; ++k)
                v -= a[r][k] * m_m[k];
            m_m[r] = v / a[r][r];
        }
    }
    double operator()(double x) const {
        std::size_t i = 0;
        while (i + 2 < m_p.size() && x > m_p[i + 1].first)
            ++i;
        const double x0 = m_p[i].first, x1 = m_p[i + 1].first, h = x1 - x0;
        const double y0 = m_p[i].second, y1 = m_p[i + 1].second;
        return m_m[i] * std::pow(x1 - x, 3) / (6 * h) + m_m[i + 1] * std::pow(x - x0, 3) / (6 * h) +
               (y0 - m_m[i] * h * h / 6) * (x1 - x) / h + (y1 - m_m[i + 1] * h * h / 6) * (x - x0) / h;
    }

private:
    std::vector<std::pair<double, double>> m_p;
    std::vector<double> m_m;
};

std::vector<double> ToneTable(CKvLutChannel& tone, DWORD flags, int count = 1001, double outputGamma = 0) {
    std::vector<double> table(static_cast<std::size_t>(count), -1);
    EXPECT_EQ(tone.BuildTable(table.data(), 8, count, 65536, flags, outputGamma), count);
    return table;
}

double Clamp01(double v) {
    return std::min(std::max(v, 0.0), 1.0);
}

const std::vector<std::pair<double, double>> kKnots{{0, 0.1}, {0.2, 0.5}, {0.45, 0.4}, {0.7, 0.9}, {1, 0.8}};

CKvLutChannel ToneThrough(const std::vector<std::pair<double, double>>& knots) {
    CKvLutChannel tone;
    std::vector<KvTonePoint> points;
    for (const auto& [x, y] : knots)
        points.push_back({x, y});
    tone.SetPoints(points);
    return tone;
}

TEST(ToneTable, FollowsTheNaturalSplineThroughItsPoints) {
    CKvLutChannel tone = ToneThrough(kKnots);
    const ReferenceSpline spline(kKnots);
    const std::vector<double> table = ToneTable(tone, CKvLutChannel::kTablePoints);
    for (int k = 0; k <= 1000; ++k)
        ASSERT_NEAR(table[k], Clamp01(spline(k / 1000.0)), 1e-12) << "at " << k / 1000.0;
    for (const auto& [x, y] : kKnots)
        EXPECT_NEAR(table[static_cast<int>(std::lround(x * 1000))], y, 1e-12) << "passes through its points";
    std::vector<BYTE> bytes(256);
    ASSERT_EQ(tone.BuildTable(bytes.data(), 1, 256, 256, CKvLutChannel::kTablePoints, 0), 256);
    for (int k = 0; k < 256; ++k)
        EXPECT_EQ(bytes[k], static_cast<int>(Clamp01(spline(k / 255.0)) * 255 + 0.5)) << "rounded at " << k;
}

TEST(ToneTable, AppliesGammaOverTheCurve) {
    CKvLutChannel tone;
    tone.SetGamma(2.2);
    const std::vector<double> plain = ToneTable(tone, CKvLutChannel::kTableGamma);
    const std::vector<double> output = ToneTable(tone, 0, 1001, 2.2);
    for (int k = 0; k <= 1000; ++k) {
        ASSERT_NEAR(plain[k], std::pow(k / 1000.0, 1 / 2.2), 1e-12);
        ASSERT_NEAR(output[k], plain[k], 1e-12) << "an output gamma of 2.2 does the same";
    }

    CKvLutChannel curved = ToneThrough(kKnots);
    curved.SetGamma(0.5);
    const ReferenceSpline spline(kKnots);
    const std::vector<double> both =
        ToneTable(curved, CKvLutChannel::kTablePoints | CKvLutChannel::kTableGamma);
    for (int k = 0; k <= 1000; ++k) {
        const double u = k / 1000.0;
        ASSERT_NEAR(both[k], Clamp01(spline(u) + std::pow(u, 2.0) - u), 1e-12) << u;
    }
}

TEST(ToneTable, MapsInputAndOutputLevels) {
    CKvLutChannel tone;
    tone.SetBlack(0.2);
    tone.SetWhite(0.8);
    tone.SetOutputLevels(0.1, 0.9);
    const DWORD flags =
        CKvLutChannel::kTableNormaliseInput | CKvLutChannel::kTableOutputLevels | CKvLutChannel::kTablePoints;
    const std::vector<double> table = ToneTable(tone, flags);
    for (int k = 0; k <= 1000; ++k) {
        const double x = k / 1000.0;
        ASSERT_NEAR(table[k], 0.1 + Clamp01((x - 0.2) / 0.6) * 0.8, 1e-12) << x;
    }
    EXPECT_EQ(ToneTable(tone, CKvLutChannel::kTablePoints)[300], 0.3)
        << "levels apply only under their flags";
}

TEST(ToneTable, AppliesContrastToTheFirstChannelAndBrightnessToAny) {
    CKvLutGroup group;
    group.SetContrast(1);
    auto* first = static_cast<CKvLutChannel*>(group.GetChannelAt(0));
    CKvLutChannel* second = group.AddLutChannel(1);
    second->SetBrightness(1);
    const std::vector<double> contrasted = ToneTable(*first, CKvLutChannel::kTableContrast);
    const std::vector<double> brightened = ToneTable(*second, CKvLutChannel::kTableContrast);
    for (int k = 0; k <= 1000; ++k) {
        const double z = k / 1000.0;
        const double c = std::min(std::max((z - 0.5) * 2 + 0.5, 0.1 * z), 0.1 * z + 0.9);
        ASSERT_NEAR(contrasted[k], Clamp01(c), 1e-12) << z;
        ASSERT_NEAR(brightened[k], std::sqrt(z), 1e-12) << "brightness 1 is the power 1/2, without contrast";
    }
}

TEST(ToneTable, RendersTheReferenceSetUnderItsFlag) {
    CKvLutGroup group;
    group.SetReferenceContrast(0);
    auto* tone = static_cast<CKvLutChannel*>(group.GetChannelAt(0));
    tone->SetGamma(2);
    tone->SaveReference();
    tone->SetGamma(0.5);
    group.SetContrast(3);
    const DWORD flags = CKvLutChannel::kTableGamma | CKvLutChannel::kTableContrast;
    const std::vector<double> reference = ToneTable(*tone, flags | CKvLutChannel::kTableReference);
    for (int k = 0; k <= 1000; ++k)
        ASSERT_NEAR(reference[k], std::sqrt(k / 1000.0), 1e-12);
}

TEST(ToneTable, ComposesWithTheGroupsFirstChannel) {
    CKvLutGroup group;
    auto* master = static_cast<CKvLutChannel*>(group.GetChannelAt(0));
    master->SetBlack(0.1);
    master->SetWhite(0.9);
    CKvLutChannel* red = group.AddLutChannel(1);
    red->SetGamma(2);
    const DWORD flags =
        CKvLutChannel::kTableNormaliseInput | CKvLutChannel::kTableGamma | CKvLutChannel::kTableComposeFirst;
    const std::vector<double> table = ToneTable(*red, flags);
    for (int k = 0; k <= 1000; ++k) {
        const double x = k / 1000.0;
        ASSERT_NEAR(table[k], Clamp01((std::sqrt(x) - 0.1) / 0.8), 1e-12) << x;
    }
}

TEST(ToneTable, AppliesTheOutsideTableBeforeOrAfterTheCurve) {
    // The outside table squares its input: 256 entries i * i of the range 0..255 * 255.
    std::vector<WORD> square(256);
    for (int i = 0; i < 256; ++i)
        square[i] = static_cast<WORD>(i * i);
    CKvLutChannel tone;
    tone.SetGamma(2);
    const DWORD flags = CKvLutChannel::kTableGamma | CKvLutChannel::kTableOutside;
    ASSERT_EQ(tone.SetInputTable(square.data(), 2, 256, 255 * 255 + 1, true), 0);
    const std::vector<double> before = ToneTable(tone, flags, 256);
    ASSERT_EQ(tone.SetInputTable(square.data(), 2, 256, 255 * 255 + 1, false), 0);
    const std::vector<double> after = ToneTable(tone, flags, 256);
    for (int k = 0; k < 256; ++k) {
        const double x = k / 255.0;
        ASSERT_NEAR(before[k], x, 1e-12) << "the square root of x squared";
        // After the curve the table is read between its entries.
        const double p = std::sqrt(x) * 255;
        const double i = std::floor(p), f = p - i;
        const double expected = f == 0 ? i * i / 65025 : ((1 - f) * i * i + f * (i + 1) * (i + 1)) / 65025;
        ASSERT_NEAR(after[k], expected, 1e-12) << x;
    }
    EXPECT_EQ(tone.SetInputTable(square.data(), 2, 1, 65026, true), 0);
    EXPECT_EQ(ToneTable(tone, flags, 257)[64], 0.5) << "a one-entry table installs nothing";
}

TEST(ToneTable, RendersFewPointsAsIdentityOrConstant) {
    CKvLutChannel tone;
    tone.Reset(true, false);
    ASSERT_EQ(tone.GetPointCount(), 0);
    std::vector<double> table = ToneTable(tone, CKvLutChannel::kTablePoints);
    for (int k = 0; k <= 1000; ++k)
        ASSERT_EQ(table[k], k / 1000.0) << "no points: identity";
    tone.SetPoints({{0.3, 0.25}});
    table = ToneTable(tone, CKvLutChannel::kTablePoints | CKvLutChannel::kTableGamma);
    for (double v : table)
        ASSERT_EQ(v, 0.25) << "one point: its height everywhere";
}

TEST(ToneTable, TreatsPointsAtOnePlaceAsAStep) {
    CKvLutChannel tone = ToneThrough({{0, 0}, {0.5, 0.2}, {0.5, 0.8}, {1, 1}});
    const std::vector<double> table = ToneTable(tone, CKvLutChannel::kTablePoints);
    for (double v : table)
        ASSERT_TRUE(std::isfinite(v) && v >= 0 && v <= 1);
    EXPECT_LT(table[499], 0.5) << "below the step";
    EXPECT_EQ(table[500], 0.8) << "from the step on, the later point's height";
}

TEST(ToneTable, StaysFiniteWhereTheCurveOvershootsBelowZero) {
    // Close points make the spline dip below 0; a brightness then takes a power of what is left.
    const std::vector<std::pair<double, double>> knots{{0, 0}, {0.45, 0}, {0.47, 1}, {1, 1}};
    const ReferenceSpline spline(knots);
    ASSERT_LT(spline(0.4), 0) << "the curve does dip";
    CKvLutChannel tone = ToneThrough(knots);
    tone.SetBrightness(1.5);
    const std::vector<double> table =
        ToneTable(tone, CKvLutChannel::kTablePoints | CKvLutChannel::kTableContrast);
    for (double v : table)
        ASSERT_TRUE(std::isfinite(v) && v >= 0 && v <= 1) << v;
    EXPECT_EQ(table[400], 0.0);
    std::vector<WORD> words(1001);
    tone.BuildTable(words.data(), 2, 1001, 65536, CKvLutChannel::kTablePoints | CKvLutChannel::kTableContrast,
                    0);
    EXPECT_EQ(words[400], 0);
    EXPECT_EQ(words[1000], 65535);
}

TEST(ToneTable, EqualBlackAndWhiteMakeAStep) {
    CKvLutChannel tone;
    tone.SetBlack(0.5);
    tone.SetWhite(0.5);
    const std::vector<double> table = ToneTable(tone, CKvLutChannel::kTableNormaliseInput, 11);
    for (int k = 0; k <= 10; ++k)
        EXPECT_EQ(table[k], k < 5 ? 0.0 : 1.0) << k;
    tone.SetBlack(0.8);
    tone.SetWhite(0.2);
    EXPECT_NEAR(ToneTable(tone, CKvLutChannel::kTableNormaliseInput, 11)[4], (0.4 - 0.8) / -0.6, 1e-12)
        << "white below black inverts the input";
}

// ---- hue and chroma ----------------------------------------------------------------------------------

// One raised-cosine bump of amount y and width z at position c, on the hue circle.
double Bump(double x, double c, double y, double z) {
    double d = std::fabs(x - c);
    d = std::min(d, 1 - d);
    return d < z ? y / 2 * (1 - std::cos(kPi * (z - d) / z)) : 0.0;
}

TEST(HueTable, WithoutPointsShiftsEveryHueByHalfTheLevel) {
    CKvHueChannel hue;
    std::vector<double> table(1000);
    ASSERT_EQ(hue.BuildTable(table.data(), 8, 1000, 1, 0), 1000);
    for (int j = 0; j < 1000; ++j)
        ASSERT_NEAR(table[j], j / 1000.0, 1e-12) << "level 0 keeps every hue";
    hue.SetLevel(0.2);
    ASSERT_EQ(hue.BuildTable(table.data(), 8, 1000, 1, 0), 1000);
    for (int j = 0; j < 1000; ++j)
        ASSERT_NEAR(table[j], std::fmod(j / 1000.0 - 0.1 + 1, 1), 1e-12);
}

TEST(HueTable, RaisesARaisedCosineAroundEachPoint) {
    CKvHueChannel hue;
    hue.SetPoints({{0.3, 0.5, 0.1}, {0.95, -0.4, 0.2}});
    std::vector<double> table(1000);
    ASSERT_EQ(hue.BuildTable(table.data(), 8, 1000, 1, 0), 1000);
    for (int j = 0; j < 1000; ++j) {
        const double x = j / 1000.0;
        const double e = Bump(x, 0.3, 0.5, 0.1) + Bump(x, 0.95, -0.4, 0.2);
        ASSERT_NEAR(table[j], std::fmod(x + e / 2 + 1, 1), 1e-12) << x << " (the second bump wraps past 0)";
    }
}

// Levels and amplitudes a damaged record may hold: every hue is still a part of a turn, the shift of a
// level as large as the largest real still worked out as a turn (its half, modulo 1).
TEST(HueTable, ExtremeStoredValuesStillGiveHuesOnTheCircle) {
    struct Case {
        double level;
        double amplitude;
    } const cases[] = {{-1.797e308, 0}, {0, 1.38e306}, {1.797e308, -1.797e308}, {3.5, 0}, {-7.25, 2.5}};
    for (const Case& c : cases) {
        CKvHueChannel hue;
        hue.SetLevel(c.level);
        if (c.amplitude != 0)
            hue.SetPoints({{0.3, c.amplitude, 0.1}, {0.35, c.amplitude, 0.2}});
        std::vector<double> table(1000);
        ASSERT_EQ(hue.BuildTable(table.data(), 8, 1000, 1, 0), 1000);
        for (int j = 0; j < 1000; ++j)
            ASSERT_TRUE(table[j] >= 0 && table[j] < 1) << c.level << " " << c.amplitude << " at " << j;
        if (c.amplitude == 0) {
            EXPECT_NEAR(table[0], std::fmod(1 - std::fmod(c.level / 2, 1), 1), 1e-9) << c.level;
        }
    }
}

TEST(HueTable, IntegerEntriesWrapAtTheEndOfTheCircle) {
    CKvHueChannel hue;
    hue.SetLevel(-0.00002); // moves every hue on by 1e-5: hue 65535/65536 rounds to a full turn
    std::vector<WORD> table(65536);
    ASSERT_EQ(hue.BuildTable(table.data(), 2, 65536, 65536, 0), 65536);
    EXPECT_EQ(table[0], 1);
    EXPECT_EQ(table[65534], 65535);
    EXPECT_EQ(table[65535], 0) << "a hue that rounds to a full turn is hue 0";
}

TEST(ChromaTable, WithoutPointsRendersAGainOfOne) {
    CKvChromaChannel chroma;
    std::vector<WORD> table(65536);
    ASSERT_EQ(chroma.RenderChannelBitmap(0, table.data(), 2, 65536, 65536, 60), 65536);
    EXPECT_TRUE(std::all_of(table.begin(), table.end(), [](WORD v) { return v == 32768; }));
}

TEST(ChromaTable, RendersTheEditedOrTheCalibrationSet) {
    CKvChromaChannel chroma;
    chroma.SetEditedPoints({{0.5, 0.5, 0.25}});
    chroma.SetCalibration({{0.25, -0.5, 0.1}}, 0.1);
    std::vector<double> edited(100), calibration(100);
    ASSERT_EQ(chroma.RenderChannelBitmap(1, edited.data(), 8, 100, 65536, 0), 100);
    ASSERT_EQ(chroma.RenderChannelBitmap(0, calibration.data(), 8, 100, 65536, 0), 100);
    for (int j = 0; j < 100; ++j) {
        const double x = j / 100.0;
        ASSERT_NEAR(edited[j], 1 + Bump(x, 0.5, 0.5, 0.25), 1e-12) << "fill 1 = the selector: the edited set";
        ASSERT_NEAR(calibration[j], 1.1 + Bump(x, 0.25, -0.5, 0.1), 1e-12) << "fill 0: calibration, level B";
    }
}

TEST(ChromaTable, HoldsTheGainBelowTwo) {
    CKvChromaChannel chroma;
    std::vector<WORD> table(4);
    chroma.SetLevelA(1);
    chroma.RenderChannelBitmap(1, table.data(), 2, 4, 65536, 0);
    EXPECT_EQ(table[0], 65535) << "2 - 1/scale, so that the entry fits";
    chroma.SetLevelA(-1.5);
    chroma.RenderChannelBitmap(1, table.data(), 2, 4, 65536, 0);
    EXPECT_EQ(table[0], 0);
    chroma.SetLevelA(0.5);
    chroma.RenderChannelBitmap(1, table.data(), 2, 4, 65536, 0);
    EXPECT_EQ(table[0], 49152);
}

// ---- composition -------------------------------------------------------------------------------------

template <class T>
std::vector<T> Ramp(std::size_t count, unsigned step = 1) {
    std::vector<T> table(count);
    for (std::size_t i = 0; i < count; ++i)
        table[i] = static_cast<T>(i * step);
    return table;
}

TEST(ComposeLut, IdentitiesComposeToIdentity) {
    const std::vector<BYTE> byteRamp = Ramp<BYTE>(256);
    const std::vector<WORD> wordRamp = Ramp<WORD>(65536);
    std::vector<BYTE> bytes(256);
    std::vector<WORD> words(256);
    ASSERT_EQ(
        KvComposeLut(byteRamp.data(), 1, 256, 256, byteRamp.data(), 1, 256, 256, bytes.data(), 1, 256, 256),
        256);
    EXPECT_EQ(bytes, byteRamp);
    ASSERT_EQ(KvComposeLut(byteRamp.data(), 1, 256, 256, wordRamp.data(), 2, 65536, 65536, words.data(), 2,
                           256, 65536),
              256);
    EXPECT_EQ(words, Ramp<WORD>(256, 257)) << "8-bit values through a 16-bit identity";
}

TEST(ComposeLut, ReadsTheSecondTableAtTheFirstTablesValues) {
    // The first table halves, the second squares (scaled to its range): out = (x / 2)^2.
    std::vector<WORD> half(65), square(65);
    for (int i = 0; i <= 64; ++i) {
        half[i] = static_cast<WORD>(i * 1024 / 2);
        square[i] = static_cast<WORD>(i * i * 15);
    }
    std::vector<WORD> out(65);
    ASSERT_EQ(KvComposeLut(half.data(), 2, 65, 65537, square.data(), 2, 65, 65537, out.data(), 2, 65, 65537),
              65);
    for (int i = 0; i <= 64; i += 2)
        EXPECT_EQ(out[i], (i / 2) * (i / 2) * 15) << i;
}

TEST(ComposeLut, HoldsEveryLookupToItsTable) {
    const std::vector<WORD> ramp = Ramp<WORD>(16);
    const std::vector<WORD> high(16, 60000); // values far beyond the stated range of 16
    std::vector<BYTE> out(8, 0xCC);
    ASSERT_EQ(KvComposeLut(high.data(), 2, 16, 16, ramp.data(), 2, 16, 16, out.data(), 1, 8, 300), 8);
    for (BYTE v : out)
        EXPECT_EQ(v, 255) << "the last entry of the second table, held to the output's range";

    WORD single = 7;
    std::vector<WORD> one(1, 0xCCCC);
    ASSERT_EQ(KvComposeLut(&single, 2, 1, 16, ramp.data(), 2, 16, 16, one.data(), 2, 1, 16), 1);
    EXPECT_EQ(one[0], 7) << "one-entry tables and a one-entry output";
    ASSERT_EQ(KvComposeLut(ramp.data(), 2, 16, 1, ramp.data(), 2, 16, 16, one.data(), 2, 1, 16), 1);
    EXPECT_EQ(one[0], 0) << "a value range of 1 makes every value 0";
    EXPECT_EQ(KvComposeLut(ramp.data(), 2, 0, 16, ramp.data(), 2, 16, 16, one.data(), 2, 1, 16), 0);
}

} // namespace
