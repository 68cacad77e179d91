// The vignette correction: the three-circle area against a numerical integration, the lens model's stops
// from a descriptor worked by hand, the gain table against a direct evaluation of the model at sample
// cells, every gain code against its own meaning, and the filter's output, symmetry, colour spaces,
// settings and refit on a new size.
#include "rawlib/filters/detail/CFltVignette.h"
#include "rawlib/filters/detail/CVignetteLensModel.h"
#include "rawlib/filters/detail/CVignetteRows.h"
#include "rawlib/filters/detail/VignetteGain.h"
#include "rawlib/filters/detail/tests/DetailTestSupport.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/win/CpuFeatures.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

namespace {

using namespace kvtest;
using Disc = CVignetteLensModel::Disc;
using Descriptor = CVignetteLensModel::Descriptor;

// The area common to three discs with centres on one line, by the midpoint rule over the common span.
double IntegratedArea(const std::array<Disc, 3>& discs) {
    double lo = -1e300;
    double hi = 1e300;
    for (const Disc& d : discs) {
        lo = std::max(lo, d.centre - d.radius);
        hi = std::min(hi, d.centre + d.radius);
    }
    if (!(hi > lo))
        return 0;
    constexpr int kSteps = 100000;
    const double h = (hi - lo) / kSteps;
    double area = 0;
    for (int i = 0; i < kSteps; ++i) {
        const double x = lo + (i + 0.5) * h;
        double height = 1e300;
        for (const Disc& d : discs)
            height = std::min(
                height, std::sqrt(std::max(0.0, d.radius * d.radius - (x - d.centre) * (x - d.centre))));
        area += 2 * height * h;
    }
    return area;
}

// The lens as the rules describe it: the distances and radii of the aperture and two stops.
struct Lens {
    double distance[3];
    double radius[3];
};

Lens LensOf(const Descriptor* descriptor, double fNumber) {
    Lens lens{{38.0, 47.6, 28.4}, {0, 23.8, 14.2}};
    double lensFNumber = 1;
    if (descriptor && (*descriptor)[0] && (*descriptor)[2] && (*descriptor)[4]) {
        for (int k = 0; k < 3; ++k) {
            const int c = static_cast<signed char>((*descriptor)[2 * k]);
            const int d = (*descriptor)[2 * k + 1];
            lens.distance[k] = 2000.0 / c;
            if (k == 0)
                lensFNumber = std::exp2(d / 24.0);
            else
                lens.radius[k] = std::abs(lens.distance[k] / std::exp2((d - 48) / 24.0));
        }
    }
    lens.radius[0] = std::abs(lens.distance[0] / std::max(lensFNumber, fNumber) / 2);
    return lens;
}

double DirectIllumination(const Lens& lens, double r) {
    const double d0 = lens.distance[0];
    std::array<Disc, 3> discs{Disc{0, lens.radius[0]}};
    for (int k = 1; k < 3; ++k)
        discs[static_cast<std::size_t>(k)] = Disc{r * (lens.distance[k] - d0) / lens.distance[k],
                                                  std::abs(lens.radius[k] * d0 / lens.distance[k])};
    const double falloff = d0 * d0 / (d0 * d0 + r * r);
    return IntegratedArea(discs) * falloff * falloff;
}

// The additional gain F = light at the centre / light at the radius - 1 at samples 0 .. count - 1 of the
// profile (0.025 diagonals apart), and F read linearly between them.
class DirectProfile {
public:
    DirectProfile(const Lens& lens, double diagonal, int count) {
        const double centre = DirectIllumination(lens, 0);
        for (int k = 0; k < count; ++k)
            m_gains.push_back(centre / DirectIllumination(lens, k * 0.025 * diagonal) - 1);
    }
    double At(double sample) const {
        const std::size_t k = static_cast<std::size_t>(sample);
        return m_gains[k] + (sample - static_cast<double>(k)) * (m_gains[k + 1] - m_gains[k]);
    }

private:
    std::vector<double> m_gains;
};

TEST(Vignette, TheCommonAreaOfThreeDiscsMatchesAnIntegration) {
    const std::array<Disc, 3> cases[] = {
        {Disc{0, 2}, Disc{0, 2}, Disc{0, 2}},          // one disc three times
        {Disc{0, 1}, Disc{0.3, 5}, Disc{-0.2, 4}},     // the first inside both others
        {Disc{0, 1}, Disc{5, 1}, Disc{0, 3}},          // disjoint
        {Disc{0, 1}, Disc{2, 1}, Disc{1, 3}},          // touching from outside
        {Disc{0, 1}, Disc{0.5, 0.5}, Disc{0, 4}},      // touching from inside
        {Disc{-0.5, 1}, Disc{0.5, 1}, Disc{0, 9}},     // a lens of two crossing circles
        {Disc{0, 1.5}, Disc{1.2, 1}, Disc{-1.1, 1.2}}, // all three crossing
    };
    for (const auto& discs : cases) {
        const double area = CVignetteLensModel::CommonArea(discs);
        EXPECT_NEAR(area, IntegratedArea(discs), 1e-5)
            << discs[0].centre << " " << discs[1].centre << " " << discs[2].centre;
    }
    EXPECT_NEAR(CVignetteLensModel::CommonArea(cases[0]), 4 * std::numbers::pi, 1e-12);
    EXPECT_NEAR(CVignetteLensModel::CommonArea(cases[1]), std::numbers::pi, 1e-12);
    EXPECT_EQ(CVignetteLensModel::CommonArea(cases[2]), 0);
    EXPECT_EQ(CVignetteLensModel::CommonArea(cases[3]), 0);
    std::mt19937 random(5);
    std::uniform_real_distribution<double> centre(-3, 3);
    std::uniform_real_distribution<double> radius(0.1, 3);
    for (int i = 0; i < 300; ++i) {
        const std::array<Disc, 3> discs{Disc{centre(random), radius(random)},
                                        Disc{centre(random), radius(random)},
                                        Disc{centre(random), radius(random)}};
        ASSERT_NEAR(CVignetteLensModel::CommonArea(discs), IntegratedArea(discs), 2e-5) << i;
    }
}

TEST(Vignette, TheLensModelTakesItsStopsFromTheDescriptor) {
    // Pair 0 (40, 48): the aperture at 50 and a lens f-number of 2^2; pair 1 (50, 72): a stop at 40 of
    // radius 40 / 2^1; pair 2 (-100, 24): a stop at -20 of radius |-20 / 2^-1|.
    const Descriptor descriptor{40, 48, 50, 72, 0x9C, 24};
    const CVignetteLensModel lens(&descriptor, 2.0);
    EXPECT_FALSE(lens.UsesStandardStops());
    EXPECT_DOUBLE_EQ(lens.GetLensFNumber(), 4.0);
    EXPECT_DOUBLE_EQ(lens.GetStop(0).distance, 50.0);
    EXPECT_DOUBLE_EQ(lens.GetStop(0).radius, 6.25); // the larger f-number, 4, wins
    EXPECT_DOUBLE_EQ(lens.GetStop(1).distance, 40.0);
    EXPECT_DOUBLE_EQ(lens.GetStop(1).radius, 20.0);
    EXPECT_DOUBLE_EQ(lens.GetStop(2).distance, -20.0);
    EXPECT_DOUBLE_EQ(lens.GetStop(2).radius, 40.0);
    EXPECT_DOUBLE_EQ(CVignetteLensModel(&descriptor, 8.0).GetStop(0).radius, 3.125);
}

TEST(Vignette, ADescriptorWithAStopAtInfinityUsesTheStandardLens) {
    for (std::size_t zero : {0u, 2u, 4u}) {
        Descriptor descriptor{40, 48, 50, 72, 0x9C, 24};
        descriptor[zero] = 0;
        const CVignetteLensModel lens(&descriptor, 5.65685);
        EXPECT_TRUE(lens.UsesStandardStops()) << zero;
        const CVignetteLensModel standard(nullptr, 5.65685);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(lens.GetStop(k).distance, standard.GetStop(k).distance);
            EXPECT_EQ(lens.GetStop(k).radius, standard.GetStop(k).radius);
        }
        EXPECT_EQ(lens.Illumination(9.0), standard.Illumination(9.0));
    }
}

TEST(Vignette, AtSmallAperturesOnlyTheNaturalFallOffRemains) {
    // At f/5.65685 the standard lens's aperture (radius 3.36) lies inside both projected stops at every
    // radius up to the corner: the light is the aperture's area times (D0^2 / (D0^2 + r^2))^2.
    const CVignetteLensModel lens(nullptr, 5.65685);
    const double aperture = 38.0 / 5.65685 / 2;
    for (double r : {0.0, 5.0, 10.0, 14.1}) {
        const double falloff = 1444 / (1444 + r * r);
        EXPECT_NEAR(lens.Illumination(r), std::numbers::pi * aperture * aperture * falloff * falloff, 1e-9)
            << r;
    }
    const std::vector<double> profile = VignetteGain::Profile(lens, 20.0, 21);
    EXPECT_EQ(profile[0], 0);
    EXPECT_NEAR(profile[20], std::pow(1 + 100.0 / 1444, 2) - 1, 1e-12); // radius 0.5 x 20 = 10
}

// Cells of a quadrant table with their direct gains.
void ExpectTableMatchesTheModel(const Lens& reference, const CVignetteLensModel& model, double diagonal,
                                double scale, LONG width, LONG height) {
    const std::vector<WORD> table = VignetteGain::QuadrantTable(model, diagonal, scale, width, height);
    const LONG columns = (width + 1) / 2;
    const LONG rows = (height + 1) / 2;
    ASSERT_EQ(table.size(), static_cast<std::size_t>(columns * rows));
    const DirectProfile profile(reference, diagonal, static_cast<int>(std::ceil(20 * scale)) + 2);
    const double half = std::hypot(width, height) / 2;
    std::mt19937 random(static_cast<unsigned>(width * 7 + height));
    std::vector<std::pair<LONG, LONG>> cells = {
        {0, 0}, {columns - 1, rows - 1}, {columns - 1, 0}, {0, rows - 1}};
    for (int i = 0; i < 16; ++i)
        cells.push_back({static_cast<LONG>(random() % columns), static_cast<LONG>(random() % rows)});
    for (const auto& [i, j] : cells) {
        const double dx = i + (width % 2 == 0 ? 0.5 : 0.0);
        const double dy = j + (height % 2 == 0 ? 0.5 : 0.0);
        const double sample = 20 * scale * std::hypot(dx, dy) / half;
        const double expected = profile.At(sample);
        const double actual = VignetteGain::Decode(table[static_cast<std::size_t>(j * columns + i)]);
        EXPECT_NEAR(actual, expected, std::max(expected, 1.0) / 2048 + 1e-6)
            << "cell " << i << ", " << j << " of " << width << " x " << height << ", scale " << scale;
    }
}

TEST(Vignette, TheGainTableFollowsTheLensModelAtSampleCells) {
    const Descriptor descriptor{40, 48, 50, 72, 50, 30};
    struct Case {
        const Descriptor* descriptor;
        double fNumber;
        double diagonal;
        double scale;
    };
    const Case cases[] = {
        {nullptr, 1.0, 28.2239, 1.0},     // the standard lens wide open: the stops cut the light
        {nullptr, 5.65685, 28.2239, 1.0}, // stopped down: the natural fall-off alone
        {&descriptor, 2.0, 43.27, 1.0},   // a lens of the descriptor's
        {nullptr, 1.4, 28.2239, 1.5},     // distances carried further out
    };
    for (const Case& c : cases) {
        const CVignetteLensModel model(c.descriptor, c.fNumber);
        const Lens reference = LensOf(c.descriptor, c.fNumber);
        ExpectTableMatchesTheModel(reference, model, c.diagonal, c.scale, 61, 41);
        ExpectTableMatchesTheModel(reference, model, c.diagonal, c.scale, 60, 40);
    }
}

TEST(Vignette, GainCodesEncodeTheirExponentAndMantissa) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double gain;
        WORD code;
    } cases[] = {
        {0, 0},        {0.25, 1024}, {0.5, 2048},     {0.999, 4091},     {1, 0x1000},
        {1.5, 0x1800}, {3, 0x2800},  {16384, 0xF000}, {32767.9, 0xFFFF}, {40000, 0xFFFF},
        {inf, 0xFFFF}, {-0.1, 0},    {-inf, 0},       {std::nan(""), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VignetteGain::Encode(c.gain), c.code) << c.gain;
    std::mt19937 random(9);
    std::uniform_real_distribution<double> exponent(-8, 15);
    for (int i = 0; i < 2000; ++i) {
        const double gain = std::exp2(exponent(random));
        const double decoded = VignetteGain::Decode(VignetteGain::Encode(gain));
        ASSERT_LE(decoded, gain);
        ASSERT_LT(gain - decoded, std::max(gain, 1.0) / 4096) << gain;
    }
}

TEST(Vignette, EveryCodeRaisesASampleByTheGainItStandsFor) {
    // Every code, exponents 14 and 15 included: v + min(floor(v x gain), 65535) x amount / 8192.
    for (LONG code = 0; code <= 0xFFFF; ++code) {
        const double gain = VignetteGain::Decode(static_cast<WORD>(code));
        for (LONG v : {0, 1, 3, 255, 4096, 40000, 65535}) {
            const double raised = std::min(std::floor(v * gain), 65535.0);
            for (LONG amount : {0, 4096, 8192, -8192}) {
                const double expected = std::clamp(v + std::trunc(raised * amount / 8192), 0.0, 65535.0);
                ASSERT_EQ(VignetteGain::Apply(static_cast<WORD>(code), v, amount, 65535),
                          static_cast<LONG>(expected))
                    << "code " << code << ", value " << v << ", amount " << amount;
            }
        }
    }
    EXPECT_EQ(VignetteGain::Apply(0x1000, 1000, 8192, 65535), 2000); // a gain of 1 doubles at amount 1.0
    EXPECT_EQ(VignetteGain::Apply(0x1000, 200, 8192, 255), 255);     // 8-bit results saturate
    EXPECT_EQ(VignetteGain::Apply(0, 777, 8192, 65535), 777);
}

TEST(Vignette, BothRowPathsRaiseEverySampleByItsCodeInEitherDirection) {
    // Random codes of every exponent, rows of 1 to 41 pixels of every depth and channel count, read forwards
    // and backwards, at amounts up to the largest the rows take: both sets against Apply sample by sample.
    std::mt19937 random(17);
    std::vector<WORD> codes(64);
    for (WORD& code : codes)
        code = static_cast<WORD>(random() >> 16);
    codes[3] = 0;
    codes[4] = 0xFFFF;
    codes[5] = 0xE123;
    const bool avx2 = (CpuDetectedFeatures() & CpuFeature::kAVX2) != 0;
    for (bool wide : {false, true})
        for (LONG channels : {1, 3, 4})
            for (LONG count = 1; count <= 41; ++count)
                for (LONG step : {1, -1})
                    for (LONG amount : {0, 1, 8192, 12345, VignetteRows::kNarrowAmount}) {
                        const LONG maximum = wide ? 65535 : 255;
                        std::vector<BYTE> in(static_cast<std::size_t>(count * channels) * (wide ? 2 : 1));
                        for (BYTE& b : in)
                            b = static_cast<BYTE>(random() >> 24);
                        const WORD* first = step > 0 ? codes.data() : codes.data() + codes.size() - 1;
                        std::vector<BYTE> plain(in.size());
                        VignetteRows::Plain().raise(in.data(), plain.data(), count, channels, wide, first,
                                                    step, amount);
                        for (LONG i = 0; i < count * channels; ++i) {
                            const WORD code = first[static_cast<std::ptrdiff_t>(i / channels) * step];
                            LONG v = 0;
                            LONG got = 0;
                            if (wide) {
                                WORD w[2];
                                std::memcpy(&w[0], in.data() + 2 * i, 2);
                                std::memcpy(&w[1], plain.data() + 2 * i, 2);
                                v = w[0];
                                got = w[1];
                            } else {
                                v = in[static_cast<std::size_t>(i)];
                                got = plain[static_cast<std::size_t>(i)];
                            }
                            ASSERT_EQ(got, VignetteGain::Apply(code, v, amount, maximum))
                                << "sample " << i << " of " << count << " pixels, code " << code;
                        }
                        if (!avx2)
                            continue;
                        std::vector<BYTE> simd(in.size());
                        VignetteRows::Simd().raise(in.data(), simd.data(), count, channels, wide, first, step,
                                                   amount);
                        ASSERT_EQ(simd, plain) << count << " pixels of " << channels << (wide ? " wide" : "")
                                               << " samples, step " << step << ", amount " << amount;
                    }
}

TEST(Vignette, BothRowPathsRaiseEveryCodeAtEverySampleDepth) {
    // One row holding every code once, in both directions, with grey, RGB and CMYK samples at the extremes,
    // the carries of 16-bit arithmetic (2^8, 2^12, 2^15) and random ones: each path's every sample against
    // v + min(floor(v x gain), 65535) x amount / 8192, cut and held, worked in doubles from the decoded gain.
    struct Case {
        bool wide;
        LONG channels;
        LONG step;
        LONG amount;
    };
    const Case cases[] = {
        {false, 1, 1, 8192}, {false, 3, -1, 8191}, {false, 4, 1, VignetteRows::kNarrowAmount},
        {true, 1, -1, 1},    {true, 3, 1, 8192},   {true, 3, -1, VignetteRows::kNarrowAmount},
        {true, 4, 1, 4097},  {false, 3, 1, 0},     {true, 1, 1, VignetteRows::kNarrowAmount - 1},
    };
    constexpr LONG kCodes = 1 << 16;
    std::vector<WORD> codes(kCodes);
    for (LONG k = 0; k < kCodes; ++k)
        codes[static_cast<std::size_t>(k)] = static_cast<WORD>(k);
    const LONG special[] = {0, 1, 2, 7, 8, 127, 128, 255, 256, 4095, 4096, 32767, 32768, 65534, 65535};
    std::mt19937 random(29);
    const bool avx2 = (CpuDetectedFeatures() & CpuFeature::kAVX2) != 0;
    for (const Case& c : cases) {
        const LONG maximum = c.wide ? 65535 : 255;
        const std::size_t samples = static_cast<std::size_t>(kCodes) * c.channels;
        std::vector<LONG> values(samples);
        for (std::size_t i = 0; i < samples; ++i) {
            const LONG v =
                i % 3 == 0 ? special[(i / 3) % std::size(special)] : static_cast<LONG>(random() >> 16);
            values[i] = std::min(v, maximum);
        }
        std::vector<BYTE> in(samples * (c.wide ? 2 : 1));
        for (std::size_t i = 0; i < samples; ++i) {
            const WORD v = static_cast<WORD>(values[i]);
            if (c.wide)
                std::memcpy(in.data() + 2 * i, &v, 2);
            else
                in[i] = static_cast<BYTE>(v);
        }
        const WORD* first = c.step > 0 ? codes.data() : codes.data() + kCodes - 1;
        for (bool simd : {false, true}) {
            if (simd && !avx2)
                continue;
            SCOPED_TRACE(testing::Message() << (simd ? "AVX2" : "plain") << " path, " << c.channels
                                            << (c.wide ? " wide" : " narrow") << " samples, step " << c.step
                                            << ", amount " << c.amount);
            std::vector<BYTE> out(in.size());
            (simd ? VignetteRows::Simd() : VignetteRows::Plain())
                .raise(in.data(), out.data(), kCodes, c.channels, c.wide, first, c.step, c.amount);
            for (std::size_t i = 0; i < samples; ++i) {
                const WORD code = first[static_cast<std::ptrdiff_t>(i / c.channels) * c.step];
                const double v = values[i];
                const double raised = std::min(std::floor(v * VignetteGain::Decode(code)), 65535.0);
                const double expected = std::min(v + std::floor(raised * c.amount / 8192), double(maximum));
                LONG got = out[i];
                if (c.wide) {
                    WORD w;
                    std::memcpy(&w, out.data() + 2 * i, 2);
                    got = w;
                }
                ASSERT_EQ(got, static_cast<LONG>(expected))
                    << "sample " << i << ", code " << code << ", value " << v;
            }
        }
    }
}

FilterMaker Vignette(double fNumber, double amount, const Descriptor* lens = nullptr) {
    return [=](IPravonManager& manager) {
        auto* filter = new CFltVignette(&manager);
        EXPECT_PV_OK(filter->SetFNumber(fNumber, false));
        EXPECT_PV_OK(filter->SetAmount(amount, false));
        EXPECT_PV_OK(filter->SetLensId(lens ? lens->data() : nullptr, false));
        return filter;
    };
}

TEST(Vignette, AFlatImageIsRaisedByTheModelsGainAndSymmetrically) {
    const LONG width = 64;
    const LONG height = 43;
    const TestPlane flat = MakePlane(width, height, PravonColorSpace::kRGB16, FillPattern::Constant, 4096);
    TestPlane out;
    ASSERT_TRUE(SameAtEveryTileSize(FilterOver(flat, Vignette(1.0, 1.0)), &out));
    const Lens reference = LensOf(nullptr, 1.0);
    const double diagonal = std::sqrt(23.6 * 23.6 + 15.48 * 15.48);
    const DirectProfile profile(reference, diagonal, 22);
    const double half = std::hypot(width, height) / 2;
    for (LONG y = 0; y < height; y += 3)
        for (LONG x = 0; x < width; x += 5) {
            ASSERT_EQ(out.Sample(x, y, 0), out.Sample(width - 1 - x, y, 0));
            ASSERT_EQ(out.Sample(x, y, 2), out.Sample(x, height - 1 - y, 2));
            // 4096 + 4096 x F at the pixel's distance, F read between the model's samples.
            const double sample =
                20 * std::hypot(std::abs(x - (width - 1) / 2.0), std::abs(y - (height - 1) / 2.0)) / half;
            const double f = profile.At(sample);
            EXPECT_NEAR(static_cast<double>(out.Sample(x, y, 1)), 4096 + 4096 * f, 2 + 2 * f)
                << x << ", " << y;
        }
    EXPECT_GT(out.Sample(0, 0, 0), out.Sample(width / 2, height / 2, 0) + 500) << "the corners are raised";
}

TEST(Vignette, EverySampleIsRaisedByItsPixelsCodeAtAnyAmount) {
    const Descriptor descriptor{40, 48, 50, 72, 50, 30};
    for (LONG colorSpace : {PravonColorSpace::kRGB16, PravonColorSpace::kGrey8, PravonColorSpace::kRGB8,
                            PravonColorSpace::kCMYK8}) {
        for (bool plainPath : {false, true}) {
            const CCpuFeatureOverride path(0, plainPath ? CpuFeature::kAVX2 : 0);
            const TestPlane plane = MakePlane(45, 32, colorSpace, FillPattern::Random, 6);
            const LONG maximum = plane.BitsPerSample() == 8 ? 255 : 65535;
            const std::vector<WORD> table =
                VignetteGain::QuadrantTable(CVignetteLensModel(&descriptor, 1.0), 28.2239, 1.0, 45, 32);
            for (double amount : {0.25, 1.0, 3.999, 4.0, 4.5, 100.0, -0.5}) {
                const TestPlane out = PullThrough(plane, Vignette(1.0, amount, &descriptor));
                const LONG a = static_cast<LONG>(std::trunc(amount * 8192));
                for (LONG y = 0; y < plane.height; ++y)
                    for (LONG x = 0; x < plane.width; ++x) {
                        const WORD code = table[static_cast<std::size_t>(
                            VignetteGain::QuadrantIndex(y, 32) * 23 + VignetteGain::QuadrantIndex(x, 45))];
                        for (LONG c = 0; c < plane.Channels(); ++c)
                            ASSERT_EQ(static_cast<LONG>(out.Sample(x, y, c)),
                                      VignetteGain::Apply(code, static_cast<LONG>(plane.Sample(x, y, c)), a,
                                                          maximum))
                                << x << ", " << y << " at amount " << amount;
                    }
            }
        }
    }
}

TEST(Vignette, EveryAcceptedColourSpaceIsRaisedAndAmountZeroChangesNothing) {
    using namespace PravonColorSpace;
    for (LONG colorSpace : {kGrey8, kRGB8, kBGR8, kCMYK8, kGrey16, kRGB16, kLCh16, kLab16, kYCbCr16}) {
        SCOPED_TRACE(testing::Message() << "colour space 0x" << std::hex << colorSpace);
        const TestPlane plane = TexturedPlane(37, 26, colorSpace, 2, 2000);
        TestPlane same;
        ASSERT_TRUE(SameAtEveryTileSize(FilterOver(plane, Vignette(1.0, 0.0)), &same));
        EXPECT_TRUE(PlanesMatch(plane, same));
        TestPlane raised;
        ASSERT_TRUE(SameAtEveryTileSize(FilterOver(plane, Vignette(1.0, 1.0)), &raised));
        for (LONG c = 0; c < plane.Channels(); ++c)
            EXPECT_GE(raised.Sample(0, 0, c), plane.Sample(0, 0, c));
        EXPECT_GT(ComparePlanes(plane, raised).differing, 0u);
    }
}

TEST(Vignette, OtherColourSpacesAreRefused) {
    for (LONG colorSpace :
         {PravonColorSpace::kRawMosaic16, PravonColorSpace::kLCh8, PravonColorSpace::kLab8}) {
        CPravonMemoryManager manager(16);
        PravonImagePtr source = MakeImage(manager, MakePlane(9, 9, colorSpace, FillPattern::Random, 1));
        CFltVignette filter(&manager);
        ASSERT_PV_OK(PravonConnect(source.get(), &filter));
        TestPlane out;
        EXPECT_PV_KIND(PullAll(&filter, &out), PravonKind::kUnsupportedColorSpace);
        PravonErrorPtr(PravonDisconnect(source.get(), &filter));
    }
}

TEST(Vignette, LensesWithoutLightOrWithOddStopsGiveDefinedOutput) {
    const TestPlane plane = TexturedPlane(30, 20, PravonColorSpace::kRGB16, 8, 1000);
    // Stops on both sides of the image plane, stops far smaller than the aperture, huge, tiny and endless
    // f-numbers: gains that are not numbers or negative count as none, endless ones saturate.
    const Descriptor oddStops{0x81, 255, 0x7F, 0, 0x81, 255};
    const Descriptor tinyStops{40, 0, 50, 255, 60, 255};
    const Descriptor* lenses[] = {&oddStops, &tinyStops, nullptr};
    const double inf = std::numeric_limits<double>::infinity();
    for (const Descriptor* lens : lenses)
        for (double fNumber : {0.0, 1e-300, 1e300, inf, std::nan("")}) {
            const TestPlane out = PullThrough(plane, Vignette(fNumber, 1.0, lens));
            ASSERT_EQ(out.width, plane.width);
        }
    // An aperture closed to nothing passes no light even at the centre: no gain anywhere.
    EXPECT_EQ(CVignetteLensModel(nullptr, inf).Illumination(0), 0);
    EXPECT_TRUE(PlanesMatch(plane, PullThrough(plane, Vignette(inf, 1.0))));
}

TEST(Vignette, SettersStoreAnnounceAndRefitOnlyOnChange) {
    CPravonMemoryManager manager(16);
    PravonImagePtr source =
        MakeImage(manager, MakePlane(24, 16, PravonColorSpace::kRGB16, FillPattern::Constant, 9000));
    CFltVignette filter(&manager);
    NotificationRecorder recorder;
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    ASSERT_PV_OK(PravonConnect(&filter, &recorder));
    EXPECT_NEAR(filter.GetSensorDiagonal(), 28.2239, 1e-4);
    EXPECT_EQ(filter.GetAmount(), CFltVignette::kDefaultAmount);
    EXPECT_EQ(filter.GetFNumber(), 0.0);
    EXPECT_EQ(filter.GetExtra(), 1.0);
    EXPECT_FALSE(filter.HasLensId());

    ASSERT_PV_OK(filter.SetLensId(nullptr, true));
    ASSERT_PV_OK(filter.ResetSensorSize(true));
    ASSERT_PV_OK(filter.SetAmount(CFltVignette::kDefaultAmount, true));
    EXPECT_EQ(recorder.heard.size(), 0u);

    ASSERT_PV_OK(filter.SetMagnitude(43.27, true));
    EXPECT_EQ(filter.GetSensorWidth(), 0.0);
    EXPECT_EQ(filter.GetSensorDiagonal(), 43.27);
    ASSERT_PV_OK(filter.SetMagnitude(43.27, true));
    ASSERT_PV_OK(filter.SetSensorSize(36, 24, true));
    EXPECT_DOUBLE_EQ(filter.GetSensorDiagonal(), std::sqrt(36.0 * 36 + 24 * 24));
    const Descriptor descriptor{40, 48, 50, 72, 50, 30};
    ASSERT_PV_OK(filter.SetLensId(descriptor.data(), true));
    ASSERT_PV_OK(filter.SetLensId(descriptor.data(), true));
    EXPECT_TRUE(filter.HasLensId());
    ASSERT_PV_OK(filter.SetFNumber(1.0, true));
    ASSERT_PV_OK(filter.SetExtra(1.2, true));
    ASSERT_PV_OK(filter.SetAmount(1.0, true));
    ASSERT_EQ(recorder.heard.size(), 6u);
    for (const auto& heard : recorder.heard)
        EXPECT_TRUE(heard.rect == (PravonRect{0, 0, 24, 16}));

    // The same output as a filter set up at once, and a new amount applies to the same table.
    TestPlane out;
    ASSERT_PV_OK(PullAll(&filter, &out));
    auto fresh = [&](double amount) {
        return [=](IPravonManager& m) {
            auto* f = new CFltVignette(&m);
            EXPECT_PV_OK(f->SetSensorSize(36, 24, false));
            EXPECT_PV_OK(f->SetLensId(descriptor.data(), false));
            EXPECT_PV_OK(f->SetFNumber(1.0, false));
            EXPECT_PV_OK(f->SetExtra(1.2, false));
            EXPECT_PV_OK(f->SetAmount(amount, false));
            return f;
        };
    };
    const TestPlane flat = MakePlane(24, 16, PravonColorSpace::kRGB16, FillPattern::Constant, 9000);
    EXPECT_TRUE(PlanesMatch(PullThrough(flat, fresh(1.0)), out));
    ASSERT_PV_OK(filter.SetAmount(0.25, false));
    ASSERT_PV_OK(PullAll(&filter, &out));
    EXPECT_TRUE(PlanesMatch(PullThrough(flat, fresh(0.25)), out));
    PravonErrorPtr(PravonDisconnect(&filter, &recorder));
    PravonErrorPtr(PravonDisconnect(source.get(), &filter));
}

TEST(Vignette, ANewSourceSizeGetsATableOfItsOwn) {
    CPravonMemoryManager manager(16);
    const TestPlane small = MakePlane(30, 20, PravonColorSpace::kRGB16, FillPattern::Constant, 5000);
    PravonImagePtr source = MakeImage(manager, small);
    CFltVignette filter(&manager);
    ASSERT_PV_OK(filter.SetFNumber(1.0, false));
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    TestPlane out;
    ASSERT_PV_OK(PullAll(&filter, &out));
    const TestPlane large = MakePlane(50, 34, PravonColorSpace::kRGB16, FillPattern::Constant, 5000);
    ASSERT_PV_OK(source->SetSize(50, 34));
    ASSERT_PV_OK(WritePlane(source.get(), large));
    IPravonDataDestination::ChangeSize change{30, 20, 50, 34};
    ASSERT_PV_OK(PravonSendDataNotification(source.get(), PravonNotification::kSize, &change));
    ASSERT_PV_OK(PullAll(&filter, &out));
    EXPECT_TRUE(PlanesMatch(PullThrough(large, Vignette(1.0, CFltVignette::kDefaultAmount)), out));
    PravonErrorPtr(PravonDisconnect(source.get(), &filter));
}

} // namespace
