// The unsharp mask against a direct double-precision convolution for every kernel shape (borders included,
// at every tile size), its two blur paths against each other, and its parameters, thresholds, planes and
// formats.
#include "testing/UnsharpMaskReference.h"
#include "filters/CUnsharpMaskFilter.h"
#include "filters/CUnsharpMaskRows.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/win/CpuFeatures.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

using namespace kvtest;
namespace Cs = PravonColorSpace;

IPravonError* Apply(CUnsharpMaskFilter& filter, const UsmSettings& s) {
    for (IPravonError* e :
         {filter.SetMaskMethod(s.method, false), filter.SetRadii(s.radiusX, s.radiusY, false),
          filter.SetPower(s.power, false), filter.SetThreshold(s.threshold, false),
          filter.SetAffectNoise(s.affectNoise, false), filter.SetParabolicPower(s.parabolicPower, false),
          filter.SetPlaneMask(s.planeMask, false)})
        if (e)
            return e;
    return nullptr;
}

// A source image of the plane under an unsharp mask set as s; more is applied to the filter last.
GraphBuilder SharpenedOf(const TestPlane& plane, const UsmSettings& s,
                         std::function<IPravonError*(CUnsharpMaskFilter&)> more = {}) {
    return [plane, s, more](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
        IPravonImage* source = graph.Own(MakeImage(manager, plane));
        auto* filter = graph.Own(new CUnsharpMaskFilter(&manager));
        if (IPravonError* e = PravonConnect(source, filter))
            return e;
        if (IPravonError* e = Apply(*filter, s))
            return e;
        if (more)
            if (IPravonError* e = more(*filter))
                return e;
        graph.output = filter;
        return nullptr;
    };
}

// The filter's output with one tile size.
IPravonError* Sharpen(const TestPlane& plane, const UsmSettings& s, TestPlane* out, LONG tileSize = 16) {
    CPravonMemoryManager manager(tileSize);
    TestGraph graph;
    if (IPravonError* e = SharpenedOf(plane, s)(manager, graph))
        return e;
    return PullAll(graph.output, out);
}

struct ShapeCase {
    const char* name;
    UsmSettings settings;
    LONG colorSpace;
    ULONG tolerance; // what quantising the weights to 16 bits may move a value
};

UsmSettings Shape(LONG method, double rx, double ry, double power = 1.5, double threshold = 0) {
    UsmSettings s;
    s.method = method;
    s.radiusX = rx;
    s.radiusY = ry;
    s.power = power;
    s.threshold = threshold;
    return s;
}

TEST(UnsharpMask, EveryShapeMatchesADirectConvolutionAtTheBordersToo) {
    UsmSettings parabola = Shape(5, 2, 2);
    parabola.parabolicPower = 3;
    UsmSettings smoothing = Shape(3, 1.5, 1.5, 0.8, 6);
    UsmSettings dropping = Shape(0, 1, 1, 2, 6);
    dropping.affectNoise = false;
    const ShapeCase cases[] = {
        {"gaussian", Shape(0, 1.3, 1.3), Cs::kRGB16, 6},
        // The thin axis leaves rows of weights of 1 or 2 whose truncation weighs more.
        {"gaussian, wider than tall", Shape(0, 2, 0.7), Cs::kRGB16, 12},
        {"box", Shape(1, 1.5, 1.5), Cs::kRGB16, 1},
        {"cone", Shape(2, 2, 2), Cs::kRGB16, 6},
        {"raised cosine", Shape(3, 3, 3), Cs::kGrey16, 6},
        {"sine", Shape(4, 2.5, 1.5), Cs::kRGB16, 6},
        {"parabola", parabola, Cs::kRGB16, 6},
        {"flat disc", Shape(9, 2, 3), Cs::kGrey16, 6},
        {"gaussian on 8 bits", Shape(0, 1.6, 1.6), Cs::kRGB8, 1},
        {"cone on 8-bit CMYK", Shape(2, 1, 1), Cs::kCMYK8, 1},
        {"noise smoothed below the threshold", smoothing, Cs::kRGB16, 6},
        {"noise dropped below the threshold", dropping, Cs::kGrey16, 6},
    };
    for (const ShapeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const TestPlane plane = MakePlane(29, 23, c.colorSpace, FillPattern::Random, 17);
        TestPlane out;
        ASSERT_TRUE(SameAtEveryTileSize(SharpenedOf(plane, c.settings), &out));
        EXPECT_TRUE(PlanesMatch(UnsharpMaskReference(plane, c.settings), out, c.tolerance));
    }
}

TEST(UnsharpMask, TheBoxOfRadiusOneSharpensAgainstTheThreeByThreeMean) {
    // 8 neighbours of 10000 around u: the mean is (80000 + u) / 9, exact in the box's sums.
    struct Case {
        ULONG centre;
        double power;
        ULONG expected;
    };
    const Case cases[] = {
        {10900, 1, 11700},   // detail 800
        {19000, 0.5, 23000}, // detail 8000
        {1000, 2, 0},        // clamped below
        {60000, 3, 65535},   // clamped above
    };
    for (const Case& c : cases) {
        TestPlane plane = MakePlane(5, 5, Cs::kGrey16, FillPattern::Constant, 10000);
        plane.SetSample(2, 2, 0, c.centre);
        TestPlane out;
        ASSERT_PV_OK(Sharpen(plane, Shape(1, 1, 1, c.power), &out));
        EXPECT_EQ(out.Sample(2, 2, 0), c.expected) << c.centre;
    }
}

TEST(UnsharpMask, TheThresholdDropsOrSmoothsSmallDetailsAndTakesItselfOffLargeOnes) {
    // The box of radius 1 over a centre u among eight of 10000: detail = 8 (u - 10000) / 9. Threshold 10
    // is 2570 in 16-bit units. A detail of 2000.9 is below it: dropped, or turned into a step of 569.1
    // towards the blur with min(power, 1); a detail of 3000.9 adds 430.9 times the power.
    struct Case {
        ULONG centre;
        bool affectNoise;
        double power;
        ULONG expected;
    };
    const Case cases[] = {
        {12251, false, 1, 12251},  {12251, true, 1, 11681},  {12251, true, 2, 11681},
        {12251, true, 0.5, 11966}, {13376, false, 1, 13806}, {13376, true, 1, 13806},
        {13376, true, 2, 14237},   {7749, true, 1, 8318}, // a dark detail of -2000.9 rises by 569.1
    };
    for (const Case& c : cases) {
        TestPlane plane = MakePlane(5, 5, Cs::kGrey16, FillPattern::Constant, 10000);
        plane.SetSample(2, 2, 0, c.centre);
        UsmSettings s = Shape(1, 1, 1, c.power, 10);
        s.affectNoise = c.affectNoise;
        TestPlane out;
        ASSERT_PV_OK(Sharpen(plane, s, &out));
        EXPECT_EQ(out.Sample(2, 2, 0), c.expected) << c.centre << (c.affectNoise ? " smoothed" : " dropped");
    }
}

TEST(UnsharpMask, AFlatAreaComesOutAsItWentIn) {
    // Neither the weights' rounding nor the floor of the result may move a value that has no detail.
    const LONG spaces[] = {Cs::kGrey16, Cs::kRGB16, Cs::kLab8, Cs::kLCh16, Cs::kRGB8};
    const ULONG levels16[] = {0, 1, 32768, 65534, 65535};
    for (LONG method = 0; method <= 6; ++method)
        for (double radius : {0.7, 2.0, 4.5})
            for (double power : {1.0, -0.6, 7.0})
                for (LONG colorSpace : spaces)
                    for (ULONG level : levels16) {
                        const ULONG value =
                            PravonColorSpace::BitsPerSample(colorSpace) == 8 ? level >> 8 : level;
                        const TestPlane plane = MakePlane(9, 7, colorSpace, FillPattern::Constant, value);
                        TestPlane out;
                        ASSERT_PV_OK(Sharpen(plane, Shape(method, radius, radius, power), &out));
                        ASSERT_TRUE(PlanesMatch(plane, out)) << "method " << method << ", radius " << radius
                                                             << ", power " << power << ", level " << level;
                    }
}

TEST(UnsharpMask, ThePlainAndTheSimdPathsGiveTheSameOutput) {
    if (!(CpuDetectedFeatures() & CpuFeature::kAVX2))
        GTEST_SKIP() << "the processor has no AVX2";
    const UsmSettings cases[] = {Shape(0, 1, 1),     Shape(0, 2.2, 0.6), Shape(1, 1, 1), Shape(1, 2.5, 0.5),
                                 Shape(2, 3, 3),     Shape(3, 1.5, 2.5), Shape(4, 4, 4), Shape(5, 2, 2),
                                 Shape(7, 3.5, 1.2), Shape(0, 0, 2)};
    for (LONG width : {1, 3, 17, 37, 101}) {
        for (const UsmSettings& s : cases) {
            SCOPED_TRACE(testing::Message() << "width " << width << ", method " << s.method << ", radii "
                                            << s.radiusX << " x " << s.radiusY);
            const TestPlane plane =
                MakePlane(width, 13, Cs::kRGB16, FillPattern::Random, width * 7 + s.method);
            TestPlane simd;
            TestPlane plain;
            ASSERT_PV_OK(Sharpen(plane, s, &simd, 64));
            {
                CCpuFeatureOverride noSimd(0, CpuFeature::kAVX2 | CpuFeature::kAVX);
                ASSERT_PV_OK(Sharpen(plane, s, &plain, 64));
            }
            EXPECT_TRUE(PlanesMatch(plain, simd));
        }
    }
}

TEST(UnsharpMask, TheBlurRoutinesAgreeOnEveryRowLength) {
    if (!(CpuDetectedFeatures() & CpuFeature::kAVX2))
        GTEST_SKIP() << "the processor has no AVX2";
    std::mt19937 random(5);
    // Equal radii give a kernel the same about its diagonal, which the plain road sums folded about it.
    struct Case {
        LONG method;
        double rx, ry;
        bool diagonal;
    };
    const Case cases[] = {{0, 2.5, 1.5, false}, {1, 2.5, 1.5, false}, {3, 2.5, 1.5, false},
                          {8, 2.5, 1.5, false}, {0, 1.5, 1.5, true},  {2, 3, 3, true},
                          {3, 3, 3, true},      {5, 2, 2, true},      {1, 2, 2, false}};
    for (const Case& c : cases) {
        const LONG method = c.method;
        CUnsharpMaskKernel kernel;
        ASSERT_PV_OK(kernel.Generate(CUnsharpMaskFilter::kCode, method, c.rx, c.ry, 2));
        EXPECT_EQ(kernel.IsDiagonal(), c.diagonal) << "method " << method;
        for (LONG count = 1; count <= 41; ++count) {
            const LONG width = count + 2 * kernel.GetHalfSize();
            // Noise, then a step between two flat values: the flat part blurs to its value exactly, where
            // the weighted sum over the divisor is a whole number.
            const WORD low = static_cast<WORD>(random() >> 16);
            const WORD high = static_cast<WORD>(random() >> 16);
            for (const bool step : {false, true}) {
                std::vector<std::vector<WORD>> window(2 * kernel.GetReachY() + 1, std::vector<WORD>(width));
                std::vector<const WORD*> rows;
                for (auto& row : window) {
                    for (LONG i = 0; i < width; ++i)
                        row[i] = !step ? static_cast<WORD>(random() >> 16) : i < width / 2 ? low : high;
                    rows.push_back(row.data());
                }
                std::vector<double> plain(count);
                std::vector<double> simd(count);
                std::vector<double> scratch(UnsharpMaskRows::ScratchSize(kernel, count));
                UnsharpMaskRows::Blur(UnsharpMaskRows::Plain(), kernel, rows.data(), count, plain.data(),
                                      scratch.data());
                UnsharpMaskRows::Blur(UnsharpMaskRows::Simd(), kernel, rows.data(), count, simd.data(),
                                      scratch.data());
                ASSERT_EQ(plain, simd) << "method " << method << ", " << count << " pixels, step " << step;
                if (!step)
                    continue;
                // Outputs whose whole window lies on one side of the step.
                const LONG side = kernel.GetHalfSize();
                for (LONG x = 0; x < count; ++x) {
                    if (x + 2 * side < width / 2)
                        ASSERT_EQ(plain[x], low) << "method " << method << ", " << count << " pixels, " << x;
                    if (x >= width / 2)
                        ASSERT_EQ(plain[x], high) << "method " << method << ", " << count << " pixels, " << x;
                }
            }
        }
    }
}

TEST(UnsharpMask, AGaussianAxisOfRadiusZeroIsLeftAlone) {
    // Columns of one value each: a blur along the columns changes nothing, one across them does.
    TestPlane columns(23, 15, Cs::kGrey8);
    for (LONG y = 0; y < columns.height; ++y)
        for (LONG x = 0; x < columns.width; ++x)
            columns.SetSample(x, y, 0, (x * 53) % 256);
    TestPlane out;
    ASSERT_PV_OK(Sharpen(columns, Shape(0, 0, 0, 3), &out));
    EXPECT_TRUE(PlanesMatch(columns, out)) << "radius 0 is the identity";
    ASSERT_PV_OK(Sharpen(columns, Shape(0, 0, 2, 3), &out));
    EXPECT_TRUE(PlanesMatch(columns, out)) << "a vertical blur of vertical stripes";
    ASSERT_PV_OK(Sharpen(columns, Shape(0, 2, 0, 3), &out));
    EXPECT_FALSE(PlanesMatch(columns, out)) << "a horizontal blur of vertical stripes";
    EXPECT_TRUE(PlanesMatch(UnsharpMaskReference(columns, Shape(0, 2, 0, 3)), out, 1));
}

TEST(UnsharpMask, BadParametersAreRefusedAndChangeNothing) {
    CPravonMemoryManager manager(16);
    CUnsharpMaskFilter filter(&manager);
    ASSERT_PV_OK(filter.SetRadii(1.5, 2.5, false));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double radii[][2] = {{-1, 1}, {1, -0.001}, {nan, 1}, {1, inf}};
    for (const auto& r : radii) {
        EXPECT_PV_KIND(filter.SetRadii(r[0], r[1], false), PravonKind::kOutOfRange);
        EXPECT_EQ(filter.GetXRadius(), 1.5);
        EXPECT_EQ(filter.GetYRadius(), 2.5);
    }
    for (double p : {0.0, -1.0, nan, inf}) {
        EXPECT_PV_KIND(filter.SetParabolicPower(p, false), PravonKind::kOutOfRange);
        EXPECT_EQ(filter.GetParabolicPower(), 2.0);
    }
    EXPECT_PV_KIND(filter.SetPower(nan, false), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(filter.SetThreshold(inf, false), PravonKind::kOutOfRange);
    const double ranges[][4] = {{-0.1, 0, 1, 0}, {0, 0, 1.5, 0}, {0, nan, 1, 0}, {0, 0, 1, 2}};
    for (const auto& r : ranges)
        EXPECT_PV_KIND(filter.SetRange(r[0], r[1], r[2], r[3], false), PravonKind::kOutOfRange);
    double low = -1, lowSoftness = -1, high = -1, highSoftness = -1;
    filter.GetRange(&low, &lowSoftness, &high, &highSoftness);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(lowSoftness, 0);
    EXPECT_EQ(high, 1);
    EXPECT_EQ(highSoftness, 0);
    EXPECT_EQ(filter.GetPower(), 1.0);
    EXPECT_EQ(filter.GetThreshold(), 0.0);
}

TEST(UnsharpMask, AKernelTooWideFailsItsTilesWhichStayInvalid) {
    // A Gaussian of radius 400 reaches 1200 pixels, more than a kernel is made for.
    CPravonMemoryManager manager(16);
    const PravonImagePtr source(MakeImage(manager, MakePlane(20, 20, Cs::kGrey8, FillPattern::Random, 3)));
    CUnsharpMaskFilter filter(&manager);
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    ASSERT_PV_OK(filter.SetRadius(400, false));
    void* data = nullptr;
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_PV_KIND(filter.LockTile(0, 0, &data, nullptr), PravonKind::kOutOfRange);
        IPravonTile* tile = nullptr;
        ASSERT_PV_OK(filter.GetTile(0, 0, &tile));
        EXPECT_TRUE(tile->IsInvalid(nullptr));
    }
    ASSERT_PV_OK(filter.SetRadius(1, false));
    EXPECT_PV_OK(filter.LockTile(0, 0, &data, nullptr));
    EXPECT_PV_OK(filter.UnlockTile(0, 0));
    ASSERT_PV_OK(PravonDisconnect(source.get(), &filter));

    CUnsharpMaskKernel kernel;
    EXPECT_PV_KIND(kernel.Generate(CUnsharpMaskFilter::kCode, 0, 3300, 3300, 2), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(kernel.Generate(CUnsharpMaskFilter::kCode, 2, 1e300, 1, 2), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(kernel.Generate(CUnsharpMaskFilter::kCode, 5, 2, 2, -1), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(kernel.Generate(CUnsharpMaskFilter::kCode, 2, -1, 2, 2), PravonKind::kOutOfRange);
}

// The widest radii a kernel is made for, on either axis, and the next wider ones. A flat picture stays
// flat under any kernel that is made.
TEST(UnsharpMask, TheLargestRadiusIsTakenAndTheNextOneRefused) {
    const auto nextUp = [](double r) { return std::nextafter(r, std::numeric_limits<double>::infinity()); };
    // The first radius whose reach (three radii for the Gaussian, one otherwise) passes the largest kernel.
    const auto firstRefused = [&](double reach) {
        double r = CUnsharpMaskKernel::kMaxHalfSize / reach;
        while (std::ceil(reach * r) <= CUnsharpMaskKernel::kMaxHalfSize)
            r = nextUp(r);
        return r;
    };
    struct Edge {
        LONG method;
        double largest;
        double refused;
    } edges[] = {
        {CUnsharpMaskKernel::kGaussian, CUnsharpMaskFilter::kMaxGaussianRadius, firstRefused(3)},
        {CUnsharpMaskKernel::kBox, CUnsharpMaskKernel::kMaxHalfSize, firstRefused(1)},
        {CUnsharpMaskKernel::kCone, CUnsharpMaskKernel::kMaxHalfSize, firstRefused(1)},
    };
    EXPECT_NEAR(CUnsharpMaskFilter::kMaxGaussianRadius, 341.33, 0.01);
    EXPECT_LT(edges[0].refused, 341.3334);
    const TestPlane flat = MakePlane(2, 2, Cs::kGrey8, FillPattern::Constant, 140);
    for (const Edge& e : edges) {
        for (bool alongX : {true, false}) {
            SCOPED_TRACE(testing::Message() << "method " << e.method << (alongX ? " across" : " down"));
            CPravonMemoryManager manager(16);
            const PravonImagePtr source(MakeImage(manager, flat));
            CUnsharpMaskFilter filter(&manager);
            ASSERT_PV_OK(PravonConnect(source.get(), &filter));
            ASSERT_PV_OK(filter.SetMaskMethod(e.method, false));
            ASSERT_PV_OK(alongX ? filter.SetRadii(e.largest, 1, false) : filter.SetRadii(1, e.largest, false));
            TestPlane out;
            ASSERT_PV_OK(PullAll(&filter, &out));
            EXPECT_TRUE(PlanesMatch(flat, out));
            ASSERT_PV_OK(alongX ? filter.SetRadii(e.refused, 1, false) : filter.SetRadii(1, e.refused, false));
            void* data = nullptr;
            EXPECT_PV_KIND(filter.LockTile(0, 0, &data, nullptr), PravonKind::kOutOfRange);
            ASSERT_PV_OK(PravonDisconnect(source.get(), &filter));
        }
    }
}

TEST(UnsharpMask, NoPlanesOrNoPowerPassTheSourceThrough) {
    struct Case {
        LONG mask;
        double power;
        bool passes;
    };
    const Case cases[] = {{0, 1, true},       {-1, 0, true},     {-1, 1e-11, true},
                          {-1, -1e-11, true}, {-1, 1e-9, false}, {2, 1, false}};
    for (const Case& c : cases) {
        CPravonMemoryManager manager(16);
        CUnsharpMaskFilter filter(&manager);
        ASSERT_PV_OK(filter.SetPlaneMask(c.mask, false));
        ASSERT_PV_OK(filter.SetPower(c.power, false));
        EXPECT_EQ(filter.IsPassThrough(), c.passes) << c.mask << ", " << c.power;
    }
}

TEST(UnsharpMask, ThePlaneMaskPicksThePlanesThatAreSharpened) {
    const TestPlane plane = MakePlane(21, 17, Cs::kRGB8, FillPattern::Random, 9);
    UsmSettings all = Shape(3, 2, 2, 2);
    TestPlane sharp;
    ASSERT_PV_OK(Sharpen(plane, all, &sharp));
    for (LONG mask : {1, 2, 4, 5, 8}) {
        UsmSettings some = all;
        some.planeMask = mask;
        TestPlane out;
        ASSERT_PV_OK(Sharpen(plane, some, &out));
        for (LONG y = 0; y < plane.height; ++y)
            for (LONG x = 0; x < plane.width; ++x)
                for (LONG c = 0; c < 3; ++c) {
                    const TestPlane& expected = (mask & (1 << c)) ? sharp : plane;
                    ASSERT_EQ(out.Sample(x, y, c), expected.Sample(x, y, c))
                        << "mask " << mask << " plane " << c;
                }
    }
}

TEST(UnsharpMask, FormatsSharpenTheirLightnessOrEveryPlaneAndOthersFail) {
    struct Case {
        LONG colorSpace;
        LONG sharpened; // planes that change
        LONG widen;     // 8-bit samples are read times this
    };
    const Case cases[] = {
        {Cs::kLab8, 1, 256}, {Cs::kLab16, 1, 1},    {Cs::kYCbCr16, 1, 1}, {Cs::kLCh8, 1, 256},
        {Cs::kLCh16, 1, 1},  {Cs::kCMYK8, 15, 257}, {Cs::kGrey8, 1, 257},
    };
    const UsmSettings s = Shape(2, 1.5, 1.5, 1.2);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "colour space 0x" << std::hex << c.colorSpace);
        const TestPlane plane = MakePlane(19, 14, c.colorSpace, FillPattern::Random, 21);
        TestPlane out;
        ASSERT_TRUE(SameAtEveryTileSize(SharpenedOf(plane, s), &out));
        // Each plane of a lightness channel sharpens as a grey picture of that plane would.
        for (LONG p = 0; p < plane.Channels(); ++p) {
            TestPlane alone(plane.width, plane.height, Cs::kGrey16);
            for (LONG y = 0; y < plane.height; ++y)
                for (LONG x = 0; x < plane.width; ++x)
                    alone.SetSample(x, y, 0,
                                    plane.Sample(x, y, p) * (plane.BitsPerSample() == 8 ? c.widen : 1));
            TestPlane expected;
            ASSERT_PV_OK(Sharpen(alone, s, &expected));
            for (LONG y = 0; y < plane.height; ++y)
                for (LONG x = 0; x < plane.width; ++x) {
                    ULONG want = plane.Sample(x, y, p);
                    if (c.sharpened & (1 << p))
                        want = plane.BitsPerSample() == 8 ? expected.Sample(x, y, 0) >> 8
                                                          : expected.Sample(x, y, 0);
                    ASSERT_EQ(out.Sample(x, y, p), want) << x << ", " << y << " plane " << p;
                }
        }
    }
    for (LONG refused : {0x08060205, 0x01020001, 0x10080202}) {
        TestPlane out;
        EXPECT_PV_KIND(Sharpen(MakePlane(8, 8, refused, FillPattern::Random, 1), s, &out),
                       PravonKind::kUnsupportedColorSpace);
    }
}

// Exposes what a test checks of the cache.
class CheckedUsm : public CUnsharpMaskFilter {
public:
    using CUnsharpMaskFilter::CUnsharpMaskFilter;
    using CUnsharpMaskFilter::GetValue;
    using CUnsharpMaskFilter::IsCacheCheckSet;
};

TEST(UnsharpMask, SettersAnnounceEffectiveChangesOnly) {
    CPravonMemoryManager manager(16);
    const PravonImagePtr source(MakeImage(manager, MakePlane(30, 20, Cs::kGrey8, FillPattern::Random, 3)));
    CheckedUsm filter(&manager);
    NotificationRecorder recorder;
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    ASSERT_PV_OK(PravonConnect(&filter, &recorder));
    TestPlane out;
    ASSERT_PV_OK(PullAll(&filter, &out));

    const std::function<IPravonError*()> changes[] = {
        [&] { return filter.SetRadii(2, 3, true); },
        [&] { return filter.SetPower(0.7, true); },
        [&] { return filter.SetThreshold(4, true); },
        [&] { return filter.SetAffectNoise(false, true); },
        [&] { return filter.SetMaskMethod(4, true); },
        [&] { return filter.SetPlaneMask(1, true); },
        [&] { return filter.SetRange(0.1, 0, 0.9, 0.05, true); },
    };
    for (const auto& change : changes) {
        recorder.Clear();
        ASSERT_PV_OK(change());
        ASSERT_EQ(recorder.heard.size(), 1u);
        EXPECT_EQ(recorder.heard[0].type, PravonNotification::kData);
        EXPECT_TRUE(*recorder.heard[0].rect == (PravonRect{0, 0, 30, 20}));
        recorder.Clear();
        ASSERT_PV_OK(change());
        EXPECT_TRUE(recorder.heard.empty()) << "the same value again";
    }
    // The parabolic power counts only under the parabolic shape.
    ASSERT_PV_OK(PullAll(&filter, &out));
    recorder.Clear();
    ASSERT_FALSE(filter.IsCacheCheckSet());
    ASSERT_PV_OK(filter.SetParabolicPower(4, true));
    EXPECT_TRUE(recorder.heard.empty());
    EXPECT_FALSE(filter.IsCacheCheckSet());
    EXPECT_EQ(filter.GetParabolicPower(), 4.0);
    ASSERT_PV_OK(filter.SetMaskMethod(CUnsharpMaskKernel::kParabolic, false));
    EXPECT_DOUBLE_EQ(filter.GetValue(1.5, 0), 1 - std::pow(1.5 / 3, 4.0));
    recorder.Clear();
    ASSERT_PV_OK(filter.SetParabolicPower(3, true));
    EXPECT_EQ(recorder.Count(PravonNotification::kData), 1u);
    EXPECT_TRUE(filter.IsCacheCheckSet());

    ASSERT_PV_OK(PravonDisconnect(&filter, &recorder));
    ASSERT_PV_OK(PravonDisconnect(source.get(), &filter));
}

} // namespace
