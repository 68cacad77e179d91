// The high-quality demosaicing against its definition worked out over whole planes in the test, pixel for
// pixel and bit for bit: mosaics of every Bayer layout with flat areas, edges, fine lines and noise,
// square and non-square output, crops, channel curves, tuning levels, tile sizes from 7 to 256 and random
// pull order. The reference counts the classes and strength flags it met, so that every branch of the
// interpolation is known to have been compared.
#include "rawlib/filters/tests/DeBayerHQ4TestSupport.h"

#include "testing/ImageCompare.h"
#include "tools/CKvSampleScene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using namespace kvtest;

enum class Input { Scene, Noise, Wild };

// The sample scene (patches, gradients, lines, zone plate) with noise over its right third, so that flat,
// smooth, edged and busy sites all occur; or independent 12-bit noise; or noise of the whole 16-bit range.
TestPlane MakeInput(Input input, LONG width, LONG height, const BayerLayout& layout, std::uint32_t seed) {
    std::mt19937 random(seed);
    TestPlane mosaic(width, height, PravonColorSpace::kRawMosaic16);
    if (input == Input::Scene) {
        const CKvSampleScene scene(width, height);
        const std::vector<WORD> samples =
            CKvSampleScene::Mosaic(scene.Render(), width, height, layout.descriptor.data() + 4, 1.0, 1.0);
        for (LONG y = 0; y < height; ++y)
            for (LONG x = 0; x < width; ++x) {
                ULONG v = samples[static_cast<std::size_t>(y) * width + x];
                if (x > 2 * width / 3)
                    v = static_cast<ULONG>(std::clamp<LONG>(
                        static_cast<LONG>(v) + static_cast<LONG>(random() % 801) - 400, 0, 4095));
                mosaic.SetSample(x, y, 0, v);
            }
        return mosaic;
    }
    const ULONG range = input == Input::Noise ? 4096 : 65536;
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x)
            mosaic.SetSample(x, y, 0, random() % range);
    return mosaic;
}

struct Case {
    Input input;
    int layout;
    bool nonSquare;
    PravonRect crop;
    LONG tileSize;
    bool curves;
    LONG levels[3];
};

constexpr Case kCases[] = {
    {Input::Scene, 0, false, {}, 7, false, {3, 3, 3}},
    {Input::Scene, 1, false, {}, 16, false, {3, 3, 3}},
    {Input::Scene, 2, false, {}, 128, false, {1, 1, 1}},
    {Input::Scene, 3, false, {}, 256, false, {3, 3, 3}},
    {Input::Scene, 0, true, {}, 16, false, {3, 3, 3}},
    {Input::Scene, 1, true, {}, 7, false, {4, 6, 2}},
    {Input::Scene, 2, true, {4, 5, 50, 60}, 16, false, {3, 3, 3}},
    {Input::Scene, 3, false, {5, 3, 60, 45}, 16, true, {7, 7, 7}},
    {Input::Scene, 0, false, {}, 16, true, {0, 0, 0}},
    {Input::Noise, 1, false, {}, 16, false, {30, 30, 30}},
    {Input::Noise, 2, false, {}, 7, false, {3, 3, 3}},
    {Input::Noise, 3, true, {7, 1, 40, 44}, 16, true, {15, 15, 15}},
    {Input::Wild, 0, false, {}, 16, false, {3, 3, 3}},
    {Input::Wild, 1, true, {}, 16, true, {-2, 100000, 70000}},
};

TEST(DeBayerHQ4Reference, EveryOutputPixelIsTheInterpolationOfItsDefinition) {
    std::vector<WORD> warm(4096), lifted(4096), cool(4096);
    for (int i = 0; i < 4096; ++i) {
        warm[i] = static_cast<WORD>(std::min(i * 2.1, 4095.0));
        lifted[i] = static_cast<WORD>(std::min(100 + i, 4095));
        cool[i] = static_cast<WORD>(std::min(i * 1.4, 4095.0));
    }
    std::array<LONG, 11> classes{};
    std::array<LONG, 4> strengths{};
    LONG reclassified = 0;
    std::uint32_t seed = 1;
    for (const Case& c : kCases) {
        const BayerLayout& layout = BayerLayouts()[static_cast<std::size_t>(c.layout)];
        const TestPlane mosaic = MakeInput(c.input, 75, 63, layout, seed++);
        HQ4Demosaic d(mosaic, layout.descriptor, c.tileSize);
        HQ4Tuning tuning;
        std::copy(std::begin(c.levels), std::end(c.levels), tuning.level);
        ASSERT_PV_OK(d.filter->SetTuning(tuning));
        ASSERT_PV_OK(d.filter->SetNonSquareMode(c.nonSquare, nullptr, false));
        ASSERT_PV_OK(d.filter->SetCropRect(c.crop, nullptr, false));
        if (c.curves) {
            ASSERT_PV_OK(d.filter->SetParameters(12, 12, warm.data(), lifted.data(), cool.data(), false));
        }
        TestPlane out;
        ASSERT_PV_OK(PullAll(d.filter.get(), &out, PullOrder::RandomOrder, seed));

        const ReferenceHQ4 reference(mosaic, layout, ChannelLuts(*d.filter, c.curves).data(), c.levels);
        const PravonRect crop = d.filter->GetCropRect();
        const TestPlane expected =
            ReferencePicture(reference, out.width, out.height, c.nonSquare, crop.left, crop.top);
        EXPECT_EQ(out.width, c.crop.right > 0 ? c.crop.right - c.crop.left : c.nonSquare ? 47 : 63);
        EXPECT_TRUE(PlanesMatch(expected, out))
            << layout.name << (c.nonSquare ? " non-square" : " square") << ", tiles of " << c.tileSize
            << (c.curves ? ", with curves" : "") << ", levels " << c.levels[0] << ", crop " << c.crop.left
            << ", " << c.crop.top;
        for (std::size_t k = 0; k < classes.size(); ++k)
            classes[k] += reference.classCounts[k];
        for (std::size_t k = 0; k < strengths.size(); ++k)
            strengths[k] += reference.strengthCounts[k];
        reclassified += reference.reclassified;
    }
    for (int k : {0, 1, 2, 4, 5, 6, 8, 9, 10})
        EXPECT_GT(classes[static_cast<std::size_t>(k)], 20) << "sites of final class " << k;
    for (int k : {0, 1, 3})
        EXPECT_GT(strengths[static_cast<std::size_t>(k)], 20) << "sites of strength " << k;
    EXPECT_GT(reclassified, 20) << "red and blue sites the second classification changed";
}

// A vertical step edge makes the sites beside it busier across than down, and a horizontal one the other
// way round: the colour differences and the luminance then follow the edge.
TEST(DeBayerHQ4Reference, StepEdgesAreClassifiedAlongThemselves) {
    const BayerLayout& layout = BayerLayouts()[0];
    const LONG levels[3] = {3, 3, 3};
    const auto luts = RootLuts();
    struct Edge {
        bool vertical;
        int code;
    };
    for (const Edge edge : {Edge{true, 1}, Edge{false, 2}}) {
        const TestPlane mosaic = MakeMosaic(48, 48, layout.descriptor, [&](LONG x, LONG y, int) -> ULONG {
            return (edge.vertical ? x : y) < 24 ? 3500 : 600;
        });
        const ReferenceHQ4 reference(mosaic, layout, luts.data(), levels);
        for (LONG along = 8; along < 40; ++along)
            for (LONG across = 22; across < 26; ++across) {
                const LONG x = edge.vertical ? across : along;
                const LONG y = edge.vertical ? along : across;
                if (CfaChannel(layout.descriptor, x & 1, y & 1) == 1)
                    continue;
                EXPECT_EQ(reference.FirstClassAt(x, y) >> 2, edge.code) << x << ", " << y;
            }
        HQ4Demosaic d(mosaic, layout.descriptor, 16);
        const TestPlane out = d.Pull();
        for (LONG y = 0; y < out.height; ++y)
            for (LONG x = 0; x < out.width; ++x) {
                const auto rgb = reference.Output(x, y, false);
                ASSERT_EQ(out.Sample(x, y, 1), static_cast<ULONG>(rgb.g)) << x << ", " << y;
            }
    }
}

} // namespace
