// The mirror's row copies: every pixel size and run length against a pixel-by-pixel reversal written here,
// on the plain and the AVX2 set, with nothing read or written outside the run; and the mirrored picture of
// the transform filter the same on both sets.
#include "filters/CPravonFilterTransform.h"
#include "filters/CTransformRows.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/win/CpuFeatures.h"
#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using namespace kvtest;

constexpr LONG kGuard = 64; // bytes kept on either side of the source run and of the output run
constexpr BYTE kUntouched = 0xA5;

std::vector<const TransformRows::Kernels*> KernelSets() {
    std::vector<const TransformRows::Kernels*> sets = {&TransformRows::Plain()};
    if (CpuHas(CpuFeature::kAVX2))
        sets.push_back(&TransformRows::Simd());
    return sets;
}

TEST(TransformRows, AReversedRunIsThePixelsInTheOppositeOrderAndNothingElse) {
    std::mt19937 rng(7);
    for (const TransformRows::Kernels* set : KernelSets())
        for (LONG bytes : {1, 2, 3, 4, 5, 6, 8})
            for (LONG count = 0; count <= 70; ++count) {
                SCOPED_TRACE(testing::Message() << (set == &TransformRows::Plain() ? "plain" : "AVX2") << ", "
                                                << bytes << " bytes a pixel, " << count << " pixels");
                const std::size_t run = static_cast<std::size_t>(count * bytes);
                // The source run sits between guard bytes that must never reach the output.
                std::vector<BYTE> source(run + 2 * kGuard);
                for (BYTE& b : source)
                    b = static_cast<BYTE>(rng());
                std::vector<BYTE> expected(run + 2 * kGuard, kUntouched);
                for (LONG i = 0; i < count; ++i)
                    for (LONG b = 0; b < bytes; ++b)
                        expected[kGuard + i * bytes + b] = source[kGuard + (count - 1 - i) * bytes + b];
                std::vector<BYTE> out(run + 2 * kGuard, kUntouched);
                if (count > 0)
                    set->reverse(out.data() + kGuard, source.data() + kGuard + (count - 1) * bytes, count,
                                 bytes);
                EXPECT_EQ(expected, out);
            }
}

GraphBuilder Mirror(const TestPlane& plane) {
    return [=](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
        IPravonImage* source = graph.Own(MakeImage(manager, plane));
        auto* t = graph.Own(new CPravonFilterTransform(&manager));
        if (IPravonError* e = PravonConnect(source, t))
            return e;
        if (IPravonError* e = t->SetTransform(true, 0, true, false))
            return e;
        graph.output = t;
        return nullptr;
    };
}

TEST(TransformRows, TheMirrorIsTheSameWithAndWithoutAvx2) {
    for (LONG colorSpace : {PravonColorSpace::kRGB8, PravonColorSpace::kRGB16, PravonColorSpace::kGrey8,
                            PravonColorSpace::kCMYK8})
        for (LONG tileSize : {16, 64}) {
            SCOPED_TRACE(testing::Message()
                         << std::hex << colorSpace << std::dec << ", tiles of " << tileSize);
            const TestPlane source = MakePlane(131, 37, colorSpace, FillPattern::Random);
            TestPlane expected(source.width, source.height, colorSpace);
            for (LONG y = 0; y < source.height; ++y)
                for (LONG x = 0; x < source.width; ++x)
                    for (LONG c = 0; c < source.Channels(); ++c)
                        expected.SetSample(x, y, c, source.Sample(source.width - 1 - x, y, c));
            for (bool avx2 : {false, true}) {
                if (avx2 && !CpuHas(CpuFeature::kAVX2))
                    continue;
                CCpuFeatureOverride features(0, avx2 ? 0 : CpuFeature::kAVX2);
                CPravonMemoryManager manager(tileSize);
                TestGraph graph;
                ASSERT_PV_OK(Mirror(source)(manager, graph));
                TestPlane out;
                ASSERT_PV_OK(PullAll(graph.output, &out, PullOrder::RandomOrder));
                EXPECT_TRUE(PlanesMatch(expected, out)) << (avx2 ? "AVX2" : "plain");
            }
        }
}

} // namespace
