// The Gaussian unsharp mask blurred one axis after the other: every output within its stated bound of the
// exact two-dimensional sums of the quantised kernel, and the row routines of the plain and the AVX2 sets
// alike on every row length.
#include "filters/CUnsharpMaskFilter.h"
#include "filters/CUnsharpMaskRows.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/win/CpuFeatures.h"
#include "testing/PravonTestSupport.h"
#include "testing/TileSizeSweep.h"
#include "testing/UnsharpMaskReference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

using namespace kvtest;
namespace Cs = PravonColorSpace;

IPravonError* Sharpen(const TestPlane& plane, const UsmSettings& s, TestPlane* out) {
    CPravonMemoryManager manager(16);
    const PravonImagePtr source(MakeImage(manager, plane));
    CUnsharpMaskFilter filter(&manager);
    IPravonError* e = PravonConnect(source.get(), &filter);
    for (IPravonError* set :
         {filter.SetMaskMethod(s.method, false), filter.SetRadii(s.radiusX, s.radiusY, false),
          filter.SetPower(s.power, false), filter.SetThreshold(s.threshold, false)})
        if (!e)
            e = set;
        else if (set)
            set->Release();
    if (!e)
        e = PullAll(&filter, out);
    PravonErrorPtr(PravonDisconnect(source.get(), &filter));
    return e;
}

// The most a sharpened 16-bit value may move when the separable blur replaces the exact one, worked out
// from the kernel's definition: the weights e^(-(dx/rx)^2/2 - (dy/ry)^2/2) quantised as trunc(w x scale),
// scale = floor(65535 / the centre row's sum) with its low three bits cleared, against the product of the
// two axes over the same reach, each normalised; 65535 times the total by which the first exceeds the
// second, half a unit for the rounding of the blur, 1/256 per tap of each axis for single precision, all
// times |power|, and one more for the floor of the result.
double SeparableTolerance(double rx, double ry, double power) {
    const auto weight = [&](LONG dx, LONG dy) {
        UsmSettings s;
        s.radiusX = rx;
        s.radiusY = ry;
        return UsmShapeWeight(s, dx, dy);
    };
    const LONG n = static_cast<LONG>(std::max(std::ceil(3 * rx), std::ceil(3 * ry)));
    double centre = 0;
    for (LONG dx = -n; dx <= n; ++dx)
        centre += weight(dx, 0);
    const double scale =
        static_cast<double>(static_cast<LONG>(std::floor(65535 / std::max(centre, 1.0))) & ~7);
    LONG reachX = 0;
    LONG reachY = 0;
    double total = 0;
    for (LONG dy = -n; dy <= n; ++dy)
        for (LONG dx = -n; dx <= n; ++dx) {
            const double q = std::trunc(weight(dx, dy) * scale);
            total += q;
            if (q > 0) {
                reachX = std::max(reachX, std::abs(dx));
                reachY = std::max(reachY, std::abs(dy));
            }
        }
    double sumX = 0;
    double sumY = 0;
    for (LONG d = -reachX; d <= reachX; ++d)
        sumX += weight(d, 0);
    for (LONG d = -reachY; d <= reachY; ++d)
        sumY += weight(0, d);
    double excess = 0;
    for (LONG dy = -reachY; dy <= reachY; ++dy)
        for (LONG dx = -reachX; dx <= reachX; ++dx)
            excess += std::max(0.0, std::trunc(weight(dx, dy) * scale) / total -
                                        weight(dx, 0) / sumX * weight(0, dy) / sumY);
    return std::fabs(power) * (65535 * excess + 0.5 + (reachX + reachY + 2) / 256.0) + 1;
}

TEST(UnsharpMaskSeparable, TheGaussianStaysWithinItsBoundOfTheExactSums) {
    struct Case {
        double rx, ry, power;
        LONG colorSpace;
        FillPattern pattern;
    };
    const Case cases[] = {
        {1, 1, 1, Cs::kRGB16, FillPattern::Random},       {1, 1, 1, Cs::kRGB16, FillPattern::Checker},
        {0.4, 0.4, 2.5, Cs::kRGB16, FillPattern::Random}, {1.3, 1.3, 1.5, Cs::kGrey16, FillPattern::Random},
        {2, 2, 1, Cs::kRGB16, FillPattern::Checker},      {2, 0.7, 3, Cs::kGrey16, FillPattern::Random},
        {0.5, 3, -0.6, Cs::kRGB16, FillPattern::Checker}, {3.5, 3.5, 1, Cs::kGrey16, FillPattern::Checker},
        {0, 2, 2, Cs::kGrey16, FillPattern::Coordinates}, {1.6, 1.6, 1, Cs::kRGB8, FillPattern::Random},
        {2.5, 2.5, 4, Cs::kCMYK8, FillPattern::Checker},  {1, 1, 1, Cs::kLab16, FillPattern::Random},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "radii " << c.rx << " x " << c.ry << ", power " << c.power
                                        << ", colour space " << c.colorSpace);
        UsmSettings s;
        s.radiusX = c.rx;
        s.radiusY = c.ry;
        s.power = c.power;
        const TestPlane plane = MakePlane(37, 29, c.colorSpace, c.pattern, 23);
        TestPlane separable;
        TestPlane exact;
        ASSERT_PV_OK(Sharpen(plane, s, &separable));
        {
            const UnsharpMaskRows::CExactBlurOverride exactSums;
            ASSERT_PV_OK(Sharpen(plane, s, &exact));
        }
        const double tolerance = SeparableTolerance(c.rx, c.ry, c.power);
        const ULONG allowed = static_cast<ULONG>(plane.BitsPerSample() == 8 ? std::floor(tolerance / 256) + 1
                                                                            : std::floor(tolerance));
        EXPECT_TRUE(PlanesMatch(exact, separable, allowed));
        // The bound is tight enough to mean something: a few thousandths of the range at most.
        EXPECT_LT(tolerance, std::fabs(c.power) * 65535 / 2048 + 2);
    }
}

TEST(UnsharpMaskSeparable, ThresholdsAndRangesWorkOnTheSeparableBlurToo) {
    UsmSettings s;
    s.radiusX = s.radiusY = 1.5;
    s.power = 2;
    s.threshold = 4;
    const TestPlane plane = MakePlane(31, 19, Cs::kRGB16, FillPattern::Random, 5);
    TestPlane separable;
    TestPlane exact;
    ASSERT_PV_OK(Sharpen(plane, s, &separable));
    {
        const UnsharpMaskRows::CExactBlurOverride exactSums;
        ASSERT_PV_OK(Sharpen(plane, s, &exact));
    }
    // The threshold moves a detail by no more than the detail moved.
    EXPECT_TRUE(PlanesMatch(exact, separable, static_cast<ULONG>(SeparableTolerance(1.5, 1.5, 2))));
}

TEST(UnsharpMaskSeparable, TheSeparableBlurIsSameAtEveryTileSize) {
    UsmSettings s;
    s.radiusX = 2.2;
    s.radiusY = 1.1;
    s.power = 1.7;
    const TestPlane plane = MakePlane(45, 33, Cs::kRGB16, FillPattern::Random, 8);
    const GraphBuilder build = [&](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
        IPravonImage* source = graph.Own(MakeImage(manager, plane));
        auto* filter = graph.Own(new CUnsharpMaskFilter(&manager));
        if (IPravonError* e = PravonConnect(source, filter))
            return e;
        for (IPravonError* e :
             {filter->SetRadii(s.radiusX, s.radiusY, false), filter->SetPower(s.power, false)})
            if (e)
                return e;
        graph.output = filter;
        return nullptr;
    };
    TestPlane out;
    ASSERT_TRUE(SameAtEveryTileSize(build, &out));
    EXPECT_TRUE(PlanesMatch(UnsharpMaskReference(plane, s), out, 4));
}

TEST(UnsharpMaskSeparable, ThePlainAndTheAvx2RoutinesAgreeOnEveryRowLength) {
    if (!(CpuDetectedFeatures() & CpuFeature::kAVX2))
        GTEST_SKIP() << "the processor has no AVX2";
    const UnsharpMaskRows::Kernels& plain = UnsharpMaskRows::Plain();
    const UnsharpMaskRows::Kernels& simd = UnsharpMaskRows::Simd();
    std::mt19937 random(11);
    const auto next = [&] { return static_cast<WORD>(random() >> 16); };
    const double radii[][2] = {{2.5, 1.5}, {0.6, 3}, {0, 1}, {1, 0}};
    for (const auto& r : radii) {
        CUnsharpMaskKernel kernel;
        ASSERT_PV_OK(
            kernel.Generate(CUnsharpMaskFilter::kCode, CUnsharpMaskKernel::kGaussian, r[0], r[1], 2));
        ASSERT_TRUE(kernel.IsSeparable());
        for (LONG count = 1; count <= 41; ++count) {
            SCOPED_TRACE(testing::Message()
                         << "radii " << r[0] << " x " << r[1] << ", " << count << " pixels");
            const LONG width = count + 2 * kernel.GetReachX();
            std::vector<std::vector<WORD>> window(2 * kernel.GetReachY() + 1, std::vector<WORD>(width));
            std::vector<const WORD*> rows;
            for (auto& row : window) {
                std::generate(row.begin(), row.end(), next);
                rows.push_back(row.data());
            }
            std::vector<float> lines(UnsharpMaskRows::SeparableScratchSize(kernel, count));
            std::vector<double> a(count);
            std::vector<double> b(count);
            plain.separable(kernel, rows.data(), count, a.data(), lines.data());
            simd.separable(kernel, rows.data(), count, b.data(), lines.data());
            ASSERT_EQ(a, b);
            for (double blur : a)
                ASSERT_EQ(blur, std::floor(blur)) << "the separable blur is a whole unit";
        }
    }
    for (LONG count = 1; count <= 41; ++count) {
        std::vector<WORD> centre(count);
        std::generate(centre.begin(), centre.end(), next);
        std::vector<double> blur(count);
        for (double& v : blur)
            v = (random() % (65536u * 64)) / 64.0;
        for (double power : {1.0, -0.6, 7.0, 0.25}) {
            std::vector<WORD> a(count);
            std::vector<WORD> b(count);
            plain.sharpen(centre.data(), blur.data(), count, power, a.data());
            simd.sharpen(centre.data(), blur.data(), count, power, b.data());
            ASSERT_EQ(a, b) << count << " values, power " << power;
            for (LONG x = 0; x < count; ++x) {
                const double u = centre[x];
                const double expected = std::floor(std::clamp(u + power * (u - blur[x]), 0.0, 65535.0));
                ASSERT_EQ(a[x], expected) << x;
            }
        }
        std::vector<WORD> pixels(3 * static_cast<std::size_t>(count));
        std::generate(pixels.begin(), pixels.end(), next);
        for (const UnsharpMaskRows::Kernels* set : {&plain, &simd}) {
            std::vector<WORD> planes[3];
            for (auto& p : planes)
                p.assign(count, 0);
            set->split(pixels.data(), count, planes[0].data(), planes[1].data(), planes[2].data());
            for (LONG x = 0; x < count; ++x)
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(planes[c][x], pixels[3 * x + c]) << count << " pixels, pixel " << x;
            std::vector<WORD> merged(pixels.size());
            set->merge(planes[0].data(), planes[1].data(), planes[2].data(), count, merged.data());
            ASSERT_EQ(merged, pixels) << count << " pixels";
        }
    }
}

} // namespace
