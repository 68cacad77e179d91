#include "LchReference.h"

#include "rawlib/filters/CFltLch.h"
#include "rawlib/settings/KvLchCalibration.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/LchCalibrationFiles.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <random>

namespace {

using namespace kvtest;

// Identity curves for lightness and hue, and a chroma table by hue: 65,536 entries of 16 bits.
struct Curves {
    std::vector<WORD> lightness = Ramp();
    std::vector<WORD> hue = Ramp();
    std::vector<WORD> chroma = std::vector<WORD>(65536, 32768);

    static std::vector<WORD> Ramp() {
        std::vector<WORD> ramp(65536);
        for (std::size_t i = 0; i < ramp.size(); ++i)
            ramp[i] = static_cast<WORD>(i);
        return ramp;
    }
    IPravonError* SetOn(CFltLch& filter, const std::vector<WORD>* calibration = nullptr,
                        bool notify = false) {
        const WORD* tables[4] = {lightness.data(), hue.data(), chroma.data(),
                                 calibration ? calibration->data() : nullptr};
        return filter.SetCurves(tables, 16, 16, calibration ? 4 : 3, notify);
    }
};

// source -> LCh editor -> recorder.
struct Edited {
    explicit Edited(const TestPlane& p, LONG tileSize = 16)
        : manager(tileSize), plane(p), source(MakeImage(manager, plane)), filter(&manager) {
        EXPECT_PV_OK(PravonConnect(source.get(), &filter));
        EXPECT_PV_OK(PravonConnect(&filter, &recorder));
    }
    ~Edited() {
        PravonErrorPtr(PravonDisconnect(&filter, &recorder));
        PravonErrorPtr(PravonDisconnect(source.get(), &filter));
    }
    IPravonError* Pull(TestPlane* out) { return PullAll(&filter, out, PullOrder::RandomOrder, 4); }

    CPravonMemoryManager manager;
    TestPlane plane;
    PravonImagePtr source;
    CFltLch filter;
    NotificationRecorder recorder;
};

TEST(LchEditor, ThePrecomputedFactorsAreTheTangentsOfTheFormula) {
    const double* factors = CFltLch::GetChromaFactors();
    for (int step = -100; step <= 100; ++step) {
        const double h = step * 0.01;
        EXPECT_EQ(factors[step + 100], std::tan(h * (std::atan(4.0) - std::atan(1.0)) + std::atan(1.0)))
            << "step " << step;
    }
    EXPECT_NEAR(factors[0], 0.25, 1e-12);
    EXPECT_NEAR(factors[100], 1, 1e-12);
    EXPECT_NEAR(factors[200], 4, 1e-12);
}

TEST(LchEditor, LightnessWeightsRiseFromDarkToMidLightness) {
    const double* w8 = CFltLch::GetLightnessWeights(PravonColorSpace::kLCh8);
    const double* w16 = CFltLch::GetLightnessWeights(PravonColorSpace::kLCh16);
    EXPECT_EQ(CFltLch::GetLightnessWeights(PravonColorSpace::kLab16), w16) << "every other space: 16 bits";
    const struct {
        const double* weights;
        LONG lightness;
        double weight;
    } cases[] = {{w8, 0, 0},       {w8, 4, 0},     {w8, 5, 0.03125}, {w8, 20, 0.5},
                 {w8, 36, 1},      {w8, 255, 1},   {w16, 1024, 0},   {w16, 1025, 1.0 / 8192},
                 {w16, 5120, 0.5}, {w16, 9216, 1}, {w16, 65535, 1},  {w16, 0, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(c.weights[c.lightness], c.weight) << "lightness " << c.lightness;
}

TEST(LchEditor, TheChromaFormulaMatchesTheTangentTakenForEveryPixel) {
    CPravonMemoryManager manager;
    CFltLch filter(&manager);
    const std::vector<WORD> calibration = WavyCalibration();
    ASSERT_PV_OK(filter.SetCalibrationTable(calibration.data(), 16, 16));
    const LONG percents[] = {-100, -57, -1, 0, 1, 33, 99, 100};
    for (LONG depth : {8, 16}) {
        ASSERT_PV_OK(filter.PrepareTables(depth, true));
        const std::vector<LONG> holdBack = HoldBack(calibration, depth);
        const LONG top = depth == 8 ? 255 : 65535;
        std::mt19937 random(depth);
        for (int i = 0; i < 20000; ++i) {
            const LONG lightness = static_cast<LONG>(random() % (top + 1));
            const LONG chroma = static_cast<LONG>(random() % (top + 1));
            const LONG hue = static_cast<LONG>(random() % (top + 1));
            const LONG percent = percents[i % 8];
            const LONG expected = ReferenceChroma(lightness, chroma, hue, percent, depth, holdBack);
            const LONG actual =
                depth == 8 ? filter.AdjustChroma8(static_cast<BYTE>(lightness), static_cast<BYTE>(chroma),
                                                  static_cast<BYTE>(hue), percent)
                           : filter.AdjustChroma16(static_cast<WORD>(lightness), static_cast<WORD>(chroma),
                                                   static_cast<WORD>(hue), percent);
            ASSERT_EQ(actual, expected) << depth << " bits, L " << lightness << " C " << chroma << " H "
                                        << hue << " at " << percent << " %";
        }
    }
}

TEST(LchEditor, TheChromaFormulaKeepsItsPromises) {
    CPravonMemoryManager manager;
    CFltLch filter(&manager);
    const std::vector<WORD> calibration(65536, 32768); // 32 chroma steps at 8 bits
    ASSERT_PV_OK(filter.SetCalibrationTable(calibration.data(), 16, 16));
    ASSERT_PV_OK(filter.PrepareTables(8, true));
    for (LONG lightness = 0; lightness < 256; ++lightness)
        for (LONG chroma = 0; chroma < 256; chroma += 3) {
            const BYTE l = static_cast<BYTE>(lightness);
            const BYTE c = static_cast<BYTE>(chroma);
            EXPECT_EQ(filter.AdjustChroma8(l, c, 9, 0), chroma) << "no percent, no change";
            if (lightness <= 4) {
                EXPECT_EQ(filter.AdjustChroma8(l, c, 9, 100), chroma) << "dark pixels take no change";
            }
            const LONG boosted = filter.AdjustChroma8(l, c, 9, 80);
            EXPECT_GE(boosted, chroma) << "a boost never lowers chroma";
            if (chroma <= 32) {
                EXPECT_EQ(boosted, chroma) << "chroma at or below the hold-back value stays";
            }
            if (lightness >= 36) {
                EXPECT_NEAR(filter.AdjustChroma8(l, c, 9, -100), chroma / 4.0, 1) << "-100 % quarters chroma";
            }
        }
    // Percents beyond +-100 are taken as +-100: past that the formula's angle would pass a right angle.
    EXPECT_EQ(filter.AdjustChroma8(200, 100, 9, 146), filter.AdjustChroma8(200, 100, 9, 100));
    EXPECT_EQ(filter.AdjustChroma8(200, 100, 9, -32000), filter.AdjustChroma8(200, 100, 9, -100));
    EXPECT_EQ(filter.AdjustChroma16(60000, 40000, 9, 0x10064), filter.AdjustChroma16(60000, 40000, 9, 100))
        << "read as a signed 16-bit value";
}

TEST(LchEditor, ResampledTablesOfHandWorkedCases) {
    const auto resample = [](LONG depth, std::vector<WORD> source, LONG indexBits, LONG valueBits) {
        std::vector<WORD> out;
        EXPECT_PV_OK(CFltLch::ResampleTable(depth, source.data(), indexBits, valueBits, &out));
        EXPECT_EQ(out.size(), std::size_t{1} << depth);
        return out;
    };
    std::vector<WORD> ramp8(256);
    for (int i = 0; i < 256; ++i)
        ramp8[i] = static_cast<WORD>(i);
    std::vector<WORD> ramp16(65536);
    for (int i = 0; i < 65536; ++i)
        ramp16[i] = static_cast<WORD>(i);
    std::vector<WORD> ramp4(16);
    for (int i = 0; i < 16; ++i)
        ramp4[i] = static_cast<WORD>(i);

    EXPECT_EQ(resample(8, {0, 65535}, 1, 16), ramp8) << "two 16-bit ends interpolate to the 8-bit ramp";
    EXPECT_EQ(resample(8, ramp4, 4, 4), ramp8) << "4-bit values replicate their bits";
    EXPECT_EQ(resample(8, ramp16, 16, 16), ramp8) << "fewer entries: every 257th, shifted";
    EXPECT_EQ(resample(16, ramp16, 16, 16), ramp16) << "same size and bits: a copy";
    EXPECT_EQ(resample(16, ramp8, 8, 8), ramp16) << "8-bit values replicate into 16 bits";
    // 5 bits to 8: (v << 3) | (v >> 2).
    EXPECT_EQ(resample(8, std::vector<WORD>(32, 0x16), 5, 5)[7], 0xB5);
    // 3 bits to 8 scale by 255 / 7; entry 36 lies 252/255 of the way from 0 to 36.
    const std::vector<WORD> three = resample(8, {0, 1, 2, 3, 4, 5, 6, 7}, 3, 3);
    EXPECT_EQ(three[0], 0);
    EXPECT_EQ(three[36], 35);
    EXPECT_EQ(three[255], 255);
    // A falling step truncates toward zero: 200 - 200 x 3 / 255 = 197.6 gives 198.
    EXPECT_EQ(resample(8, {200, 0, 200, 0}, 2, 8)[1], 198);
    // Values beyond their bits count as the largest.
    EXPECT_EQ(resample(8, {300, 300}, 1, 8), std::vector<WORD>(256, 255));

    std::vector<WORD> out;
    EXPECT_PV_KIND(CFltLch::ResampleTable(8, ramp8.data(), 0, 8, &out), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(CFltLch::ResampleTable(17, ramp8.data(), 8, 8, &out), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(CFltLch::ResampleTable(8, ramp8.data(), 8, 17, &out), PravonKind::kOutOfRange);
}

TEST(LchEditor, ResampledTablesFollowTheirCurveAtEveryBitCount) {
    std::mt19937 random(5);
    for (LONG depth : {8, 16}) {
        for (LONG indexBits : {1, 2, 5, 8, 12, 16}) {
            for (LONG valueBits = 1; valueBits <= 16; ++valueBits) {
                std::vector<WORD> source(std::size_t{1} << indexBits);
                for (WORD& v : source)
                    v = static_cast<WORD>(random() % (1u << valueBits));
                std::vector<WORD> out;
                ASSERT_PV_OK(CFltLch::ResampleTable(depth, source.data(), indexBits, valueBits, &out));
                // The curve through the source values rescaled to depth, read at each entry's position.
                const double scale = ((1 << depth) - 1.0) / ((1 << valueBits) - 1.0);
                const std::size_t sourceSpan = source.size() - 1;
                const std::size_t targetSpan = out.size() - 1;
                for (std::size_t k = 0; k < out.size(); k += depth == 16 ? 13 : 1) {
                    // Entry k lies at k x sourceSpan / targetSpan of the source.
                    const std::size_t i = k * sourceSpan / targetSpan;
                    const double fraction =
                        indexBits < depth ? static_cast<double>(k * sourceSpan % targetSpan) / targetSpan : 0;
                    const double next = i + 1 < source.size() ? source[i + 1] : source[i];
                    const double expected = (source[i] + (next - source[i]) * fraction) * scale;
                    ASSERT_NEAR(out[k], expected, 2) << depth << " bits from " << indexBits << "-bit index, "
                                                     << valueBits << "-bit values, entry " << k;
                }
            }
        }
    }
}

TEST(LchEditor, TheNeutralCurvesLeaveEveryPixelAsItIs) {
    for (LONG colorSpace : {PravonColorSpace::kLCh8, PravonColorSpace::kLCh16}) {
        const TestPlane plane = MakePlane(37, 29, colorSpace, FillPattern::Random, 8);
        Edited e(plane);
        const std::vector<WORD> calibration = WavyCalibration();
        ASSERT_PV_OK(e.filter.SetCalibrationTable(calibration.data(), 16, 16));
        ASSERT_PV_OK(e.filter.SetCurves(nullptr, 0, 0, 0, false));
        TestPlane out;
        ASSERT_PV_OK(e.Pull(&out));
        EXPECT_TRUE(PlanesMatch(plane, out)) << std::hex << colorSpace;
    }
}

TEST(LchEditor, TheCurvesReachTheirOwnSamples) {
    Curves curves;
    for (std::size_t i = 0; i < 65536; ++i) {
        curves.lightness[i] = static_cast<WORD>(65535 - i);
        curves.hue[i] = static_cast<WORD>(i + 4096);
        curves.chroma[i] = 0; // -100 %
    }
    for (LONG colorSpace : {PravonColorSpace::kLCh8, PravonColorSpace::kLCh16}) {
        const TestPlane plane = MakePlane(20, 20, colorSpace, FillPattern::Random, 2);
        Edited e(plane);
        const std::vector<WORD> calibration(65536, 32768);
        ASSERT_PV_OK(curves.SetOn(e.filter, &calibration));
        TestPlane out;
        ASSERT_PV_OK(e.Pull(&out));
        const LONG depth = plane.BitsPerSample();
        const ULONG top = (1u << depth) - 1;
        const ULONG turn = 4096u >> (16 - depth);
        const std::vector<LONG> holdBack = HoldBack(calibration, depth);
        for (LONG y = 0; y < 20; ++y)
            for (LONG x = 0; x < 20; ++x) {
                const ULONG l = plane.Sample(x, y, 0);
                const ULONG c = plane.Sample(x, y, 1);
                const ULONG h = plane.Sample(x, y, 2);
                ASSERT_EQ(out.Sample(x, y, 0), top - l);
                ASSERT_EQ(out.Sample(x, y, 2), (h + turn) & top);
                ASSERT_EQ(static_cast<LONG>(out.Sample(x, y, 1)),
                          ReferenceChroma(static_cast<LONG>(l), static_cast<LONG>(c), static_cast<LONG>(h),
                                          -100, depth, holdBack));
            }
    }
}

// A pixel of an sRGB picture as lcms2 converts it to Lab and LCh (D50), in double precision.
struct Colour {
    cmsCIELab lab;
    cmsCIELCh lch;
};

std::vector<Colour> SrgbColours(std::size_t count) {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab = cmsCreateTransform(srgb, TYPE_RGB_16, lab, TYPE_Lab_DBL, INTENT_PERCEPTUAL, 0);
    std::mt19937 random(17);
    std::vector<WORD> rgb(3 * count);
    for (WORD& v : rgb)
        v = static_cast<WORD>(random());
    std::vector<cmsCIELab> labs(count);
    cmsDoTransform(toLab, rgb.data(), labs.data(), static_cast<cmsUInt32Number>(count));
    cmsDeleteTransform(toLab);
    cmsCloseProfile(srgb);
    cmsCloseProfile(lab);
    std::vector<Colour> colours(count);
    for (std::size_t i = 0; i < count; ++i) {
        colours[i].lab = labs[i];
        cmsLab2LCh(&colours[i].lch, &labs[i]);
    }
    return colours;
}

// How the test stores LCh in 16-bit samples: L 0..100, C 0..200 and h 0..360 (a full turn) over the range.
constexpr double kChromaRange = 200;
WORD EncodeL(double l) {
    return static_cast<WORD>(std::lround(l / 100 * 65535));
}
WORD EncodeC(double c) {
    return static_cast<WORD>(std::lround(c / kChromaRange * 65535));
}
WORD EncodeH(double h) {
    return static_cast<WORD>(std::lround(h / 360 * 65536) & 0xFFFF);
}

TEST(LchEditor, EditsOfAConvertedPictureMatchTheirDoublePrecisionComputation) {
    // Lightness through a gamma of 0.8, hue turned by about 15 degrees (a whole number of hue samples),
    // chroma +40 % for hues below 180 degrees and -30 % above, held back by 0.4 of the half-range
    // calibration value.
    const double gamma = 0.8;
    const LONG turnSamples = 2731;
    const double turn = turnSamples * 360.0 / 65536;
    const auto percentOf = [](double hue) { return hue < 180 ? 40 : -30; };
    const double holdBack = 0.4 * 8224;
    Curves curves;
    for (std::size_t i = 0; i < 65536; ++i) {
        curves.lightness[i] = static_cast<WORD>(std::lround(65535 * std::pow(i / 65535.0, gamma)));
        curves.hue[i] = static_cast<WORD>((i + turnSamples) & 0xFFFF);
        // Just above or below the percent, so that truncation toward zero lands on it.
        const double percent = percentOf(i / 65536.0 * 360);
        const double value = (percent + 100) / 200 * 65536;
        curves.chroma[i] =
            static_cast<WORD>(std::min(65535.0, percent < 0 ? std::floor(value) : std::ceil(value)));
    }
    const std::vector<WORD> calibration(65536, static_cast<WORD>(0.4 * 32768));

    const std::vector<Colour> colours = SrgbColours(64 * 48);
    TestPlane plane(64, 48, PravonColorSpace::kLCh16);
    for (LONG y = 0; y < 48; ++y)
        for (LONG x = 0; x < 64; ++x) {
            const cmsCIELCh& lch = colours[static_cast<std::size_t>(y * 64 + x)].lch;
            plane.SetSample(x, y, 0, EncodeL(lch.L));
            plane.SetSample(x, y, 1, EncodeC(lch.C));
            plane.SetSample(x, y, 2, EncodeH(lch.h));
        }
    Edited e(plane);
    ASSERT_PV_OK(curves.SetOn(e.filter, &calibration));
    TestPlane out;
    ASSERT_PV_OK(e.Pull(&out));

    double worst = 0;
    int boosted = 0;
    int reduced = 0;
    for (LONG y = 0; y < 48; ++y)
        for (LONG x = 0; x < 64; ++x) {
            const LONG l = static_cast<LONG>(plane.Sample(x, y, 0));
            const double c = static_cast<double>(plane.Sample(x, y, 1));
            const double h = plane.Sample(x, y, 2) / 65536.0 * 360;
            // The edit in double precision, on the picture's samples.
            cmsCIELCh expected;
            expected.L = 100 * std::pow(l / 65535.0, gamma);
            expected.h = std::fmod(h + turn, 360);
            const double weight = std::clamp(l / 8192.0 - 0.125, 0.0, 1.0);
            const double step = std::floor(percentOf(h) * weight) * 0.01;
            const double f = std::tan(step * (std::atan(4.0) - std::atan(1.0)) + std::atan(1.0));
            double chroma = c;
            if (step < 0)
                chroma = f * c;
            else if (step > 0 && c > holdBack)
                chroma = std::min({f * c, (c - holdBack) * 1.25 * f + holdBack, 65535.0});
            expected.C = chroma / 65535 * kChromaRange;

            cmsCIELCh edited;
            edited.L = out.Sample(x, y, 0) / 65535.0 * 100;
            edited.C = out.Sample(x, y, 1) / 65535.0 * kChromaRange;
            edited.h = out.Sample(x, y, 2) / 65536.0 * 360;
            cmsCIELab a;
            cmsCIELab b;
            cmsLCh2Lab(&a, &expected);
            cmsLCh2Lab(&b, &edited);
            worst = std::max(worst, cmsDeltaE(&a, &b));
            boosted += edited.C > c / 65535 * kChromaRange + 0.5 ? 1 : 0;
            reduced += edited.C < c / 65535 * kChromaRange - 0.5 ? 1 : 0;
        }
    EXPECT_LT(worst, 0.01) << "the largest colour difference, in delta E";
    EXPECT_GT(boosted, 64 * 48 / 4) << "pixels whose chroma grew markedly";
    EXPECT_GT(reduced, 64 * 48 / 4) << "pixels whose chroma fell markedly";
}

TEST(LchEditor, TheSameCurvesAgainChangeNothingAndAFourthTableStillArrives) {
    Edited e(MakePlane(20, 20, PravonColorSpace::kLCh8, FillPattern::Random, 1));
    Curves curves;
    ASSERT_PV_OK(curves.SetOn(e.filter, nullptr, true));
    ASSERT_PV_OK(curves.SetOn(e.filter, nullptr, true));
    EXPECT_EQ(e.recorder.Count(PravonNotification::kData), 1u) << "the second call is no change";
    const std::vector<WORD> calibration(65536, 32768);
    ASSERT_PV_OK(curves.SetOn(e.filter, &calibration, true));
    EXPECT_EQ(e.recorder.Count(PravonNotification::kData), 2u) << "the calibration table is new";
    ASSERT_PV_OK(curves.SetOn(e.filter, nullptr, false));
    EXPECT_EQ(e.recorder.Count(PravonNotification::kData), 2u) << "no notify, no notification";
    ASSERT_EQ(e.recorder.heard.back().rect.has_value(), true);
    EXPECT_EQ(*e.recorder.heard.back().rect, (PravonRect{0, 0, 20, 20}));
}

TEST(LchEditor, CurvesOfImpossibleBitsOrCountsAreRefused) {
    Edited e(MakePlane(20, 20, PravonColorSpace::kLCh8, FillPattern::Random, 1));
    Curves curves;
    const WORD* tables[5] = {curves.lightness.data(), curves.hue.data(), curves.chroma.data(), nullptr,
                             nullptr};
    EXPECT_PV_KIND(e.filter.SetCurves(tables, 0, 16, 3, true), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(e.filter.SetCurves(tables, 16, 17, 3, true), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(e.filter.SetCurves(tables, 16, 16, 5, true), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(e.filter.SetCurves(tables, 16, 16, -1, true), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(e.filter.SetCalibrationTable(curves.chroma.data(), 17, 16), PravonKind::kOutOfRange);
    EXPECT_TRUE(e.recorder.heard.empty());
    TestPlane out;
    EXPECT_PV_KIND(e.Pull(&out), PravonKind::kInvalidState) << "still no curves";
}

TEST(LchEditor, ATileNeedsThreeCurvesACalibrationAndAnLchSource) {
    Curves curves;
    {
        Edited e(MakePlane(20, 20, PravonColorSpace::kLCh16, FillPattern::Random, 1));
        TestPlane out;
        ASSERT_PV_OK(curves.SetOn(e.filter));
        EXPECT_PV_KIND(e.Pull(&out), PravonKind::kInvalidState) << "no calibration table";
        const WORD* two[2] = {curves.lightness.data(), curves.hue.data()};
        const std::vector<WORD> calibration(65536, 32768);
        ASSERT_PV_OK(e.filter.SetCalibrationTable(calibration.data(), 16, 16));
        ASSERT_PV_OK(e.filter.SetCurves(two, 16, 16, 2, false));
        EXPECT_PV_KIND(e.Pull(&out), PravonKind::kInvalidState) << "two curves";
    }
    Edited rgb(MakePlane(20, 20, PravonColorSpace::kRGB16, FillPattern::Random, 1));
    const std::vector<WORD> calibration(65536, 32768);
    ASSERT_PV_OK(curves.SetOn(rgb.filter, &calibration));
    TestPlane out;
    EXPECT_PV_KIND(rgb.Pull(&out), PravonKind::kUnsupportedColorSpace);
}

TEST(LchEditor, ACalibrationTableSetOnItsOwnTakesEffect) {
    const TestPlane plane = MakePlane(20, 20, PravonColorSpace::kLCh8, FillPattern::Random, 3);
    Edited e(plane);
    Curves curves;
    std::fill(curves.chroma.begin(), curves.chroma.end(), WORD{60000}); // +82 % at 8 bits
    const std::vector<WORD> low(65536, 8192);
    ASSERT_PV_OK(curves.SetOn(e.filter, &low));
    TestPlane before;
    ASSERT_PV_OK(e.Pull(&before));
    const std::vector<WORD> high(65536, 65535);
    ASSERT_PV_OK(e.filter.SetCalibrationTable(high.data(), 16, 16));
    TestPlane after;
    ASSERT_PV_OK(e.Pull(&after));
    const std::vector<LONG> holdBack = HoldBack(high, 8);
    for (LONG y = 0; y < 20; ++y)
        for (LONG x = 0; x < 20; ++x)
            ASSERT_EQ(static_cast<LONG>(after.Sample(x, y, 1)),
                      ReferenceChroma(static_cast<LONG>(plane.Sample(x, y, 0)),
                                      static_cast<LONG>(plane.Sample(x, y, 1)),
                                      static_cast<LONG>(plane.Sample(x, y, 2)), 82, 8, holdBack));
    EXPECT_FALSE(PlanesMatch(before, after));
}

// A machine whose profile folder holds the calibration files the test writes.
class LchCalibration : public ::testing::Test {
protected:
    TempSystemRoot machine;
};

TEST_F(LchCalibration, AFileThatCannotBeUsedLeavesTheFilterAsItWas) {
    const TestPlane plane = MakePlane(20, 20, PravonColorSpace::kLCh16, FillPattern::Random, 3);
    Edited e(plane);
    Curves curves;
    std::fill(curves.chroma.begin(), curves.chroma.end(), WORD{60000});
    ASSERT_PV_OK(curves.SetOn(e.filter));
    TestPlane out;
    EXPECT_PV_KIND(e.filter.LoadCalibration(), KvLchCalibrationKind::kUnreadable) << "no file";
    EXPECT_FALSE(e.filter.IsCalibrationLoaded());
    EXPECT_PV_KIND(e.Pull(&out), PravonKind::kInvalidState) << "still no calibration";

    // A bump of +0.5 around hue 0.25 over the level 0.
    const std::vector<KvHuePoint> points = {{0.25, 0.5, 0.2}};
    WriteProfileFile(machine, "KvLchCal.nlc", LchCalibrationBytes(points, 0));
    ASSERT_PV_OK(e.filter.LoadCalibration());
    EXPECT_TRUE(e.filter.IsCalibrationLoaded());
    TestPlane loaded;
    ASSERT_PV_OK(e.Pull(&loaded));

    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        LONG kind;
    } bad[] = {
        {"short", LchCalibrationBytes(points, 0, 0), KvLchCalibrationKind::kWrongLength},
        {"long", LchCalibrationBytes(points, 0, 2), KvLchCalibrationKind::kWrongLength},
        {"another version",
         [&] {
             auto bytes = LchCalibrationBytes({}, 0.3);
             bytes[0] = 2;
             return bytes;
         }(),
         KvLchCalibrationKind::kWrongLength},
        {"empty", {}, KvLchCalibrationKind::kWrongLength},
    };
    for (const auto& b : bad) {
        WriteProfileFile(machine, "KvLchCal.nlc", b.bytes);
        EXPECT_PV_KIND(e.filter.LoadCalibration(), b.kind) << b.name;
        EXPECT_TRUE(e.filter.IsCalibrationLoaded());
        ASSERT_PV_OK(e.Pull(&out));
        EXPECT_TRUE(PlanesMatch(loaded, out)) << b.name << ": the loaded calibration stays";
    }
    // The calibration holds the boost back: a hue on the bump keeps more chroma unboosted than one away.
    CFltLch probe(&e.manager);
    WriteProfileFile(machine, "KvLchCal.nlc", LchCalibrationBytes(points, 0));
    ASSERT_PV_OK(probe.LoadCalibration());
    ASSERT_PV_OK(probe.PrepareTables(16, true));
    EXPECT_EQ(probe.AdjustChroma16(40000, 10000, 16384, 80), 10000) << "on the bump: held back";
    EXPECT_GT(probe.AdjustChroma16(40000, 10000, 49152, 80), 10000) << "away from it: boosted";
}

TEST(LchEditor, TheOutputIsTheSameAtEveryTileSize) {
    for (LONG colorSpace : {PravonColorSpace::kLCh8, PravonColorSpace::kLCh16}) {
        const TestPlane plane = MakePlane(41, 30, colorSpace, FillPattern::Random, 7);
        Curves curves;
        for (std::size_t i = 0; i < 65536; ++i) {
            curves.lightness[i] = static_cast<WORD>(std::sqrt(i / 65535.0) * 65535);
            curves.chroma[i] = static_cast<WORD>(i);
        }
        const std::vector<WORD> calibration = WavyCalibration();
        EXPECT_TRUE(SameAtEveryTileSize([&](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
            IPravonImage* source = graph.Own(MakeImage(manager, plane));
            auto* filter = graph.Own(new CFltLch(&manager));
            graph.output = filter;
            if (IPravonError* e = PravonConnect(source, filter))
                return e;
            return curves.SetOn(*filter, &calibration);
        })) << std::hex
            << colorSpace;
    }
}

} // namespace
