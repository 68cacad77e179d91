#include "DetailTestSupport.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/win/CpuFeatures.h"
#include "testing/InvalidArea.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

namespace kvtest {

TestPlane TexturedPlane(LONG width, LONG height, LONG colorSpace, ULONG seed, ULONG noise) {
    TestPlane plane(width, height, colorSpace);
    const LONG channels = plane.Channels();
    const double top = plane.BitsPerSample() == 8 ? 255.0 : 65535.0;
    std::mt19937 random(seed);
    std::uniform_int_distribution<LONG> jitter(-static_cast<LONG>(noise), static_cast<LONG>(noise));
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x)
            for (LONG c = 0; c < channels; ++c) {
                double v = top * (0.5 + 0.3 * std::sin(x / 5.0 + c) * std::cos(y / 4.0 - c));
                if ((x / 9 + y / 7) % 3 == 0) // blocks with a step at their edges
                    v += top * 0.15;
                v += jitter(random) * (top / 65535.0);
                if (random() % 97 == 0) // a few samples at either end of the range
                    v = random() % 2 ? 0 : top;
                plane.SetSample(x, y, c,
                                static_cast<ULONG>(std::clamp(std::lround(v), 0L, std::lround(top))));
            }
    return plane;
}

GraphBuilder FilterOver(const TestPlane& plane, const FilterMaker& make) {
    return [plane, make](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
        IPravonImage* source = graph.Own(MakeImage(manager, plane));
        CPravonFilterBase* filter = graph.Own(make(manager));
        if (IPravonError* e = PravonConnect(source, filter))
            return e;
        graph.output = filter;
        return nullptr;
    };
}

TestPlane PullThrough(const TestPlane& plane, const FilterMaker& make, LONG tileSize) {
    CPravonMemoryManager manager(tileSize);
    TestGraph graph;
    TestPlane out;
    EXPECT_PV_OK(FilterOver(plane, make)(manager, graph));
    if (graph.output) {
        EXPECT_PV_OK(PullAll(graph.output, &out));
    }
    return out;
}

bool HaveAvx2() {
    return (CpuDetectedFeatures() & CpuFeature::kAVX2) != 0;
}

::testing::AssertionResult SameOnBothPathsAtEveryTileSize(const GraphBuilder& build, TestPlane* plain,
                                                          const std::vector<LONG>& sweep) {
    TestPlane plainOut;
    {
        CCpuFeatureOverride noSimd(0, CpuFeature::kAVX2);
        auto same = SameAtEveryTileSize(build, &plainOut, sweep);
        if (!same)
            return ::testing::AssertionFailure() << "plain path: " << same.message();
    }
    if (plain)
        *plain = plainOut;
    if (!HaveAvx2())
        return ::testing::AssertionSuccess() << "no AVX2 on this processor: the plain path alone ran";
    TestPlane simdOut;
    {
        CCpuFeatureOverride noWide(0, CpuFeature::kAVX512F);
        auto same = SameAtEveryTileSize(build, &simdOut, sweep);
        if (!same)
            return ::testing::AssertionFailure() << "AVX2 path: " << same.message();
    }
    auto equal = PlanesMatch(plainOut, simdOut);
    if (!equal)
        return ::testing::AssertionFailure()
               << "the AVX2 path differs from the plain path: " << equal.message();
    const DWORD wide = CpuFeature::kAVX2 | CpuFeature::kAVX512F;
    if ((CpuDetectedFeatures() & wide) != wide)
        return ::testing::AssertionSuccess();
    TestPlane wideOut;
    auto same = SameAtEveryTileSize(build, &wideOut, sweep);
    if (!same)
        return ::testing::AssertionFailure() << "AVX-512 path: " << same.message();
    equal = PlanesMatch(plainOut, wideOut);
    if (!equal)
        return ::testing::AssertionFailure()
               << "the AVX-512 path differs from the plain path: " << equal.message();
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult ChangeRemakesItsHalo(const TestPlane& before, const PravonRect& change, LONG halo,
                                                const FilterMaker& make) {
    CPravonMemoryManager manager(16);
    PravonImagePtr source = MakeImage(manager, before);
    std::unique_ptr<CPravonFilterBase> filter(make(manager));
    if (IPravonError* e = PravonConnect(source.get(), filter.get()))
        return ::testing::AssertionFailure() << PravonErrorPtr(e)->Describe();
    TestPlane original;
    if (IPravonError* e = PullAll(filter.get(), &original))
        return ::testing::AssertionFailure() << PravonErrorPtr(e)->Describe();

    TestPlane after = before;
    const ULONG top = before.BitsPerSample() == 8 ? 255 : 65535;
    for (LONG y = change.top; y < change.bottom; ++y)
        for (LONG x = change.left; x < change.right; ++x)
            for (LONG c = 0; c < before.Channels(); ++c)
                after.SetSample(x, y, c, top - before.Sample(x, y, c));
    PravonRect changed = change;
    PravonErrorPtr err(WritePlane(source.get(), after));
    if (!err)
        err.reset(PravonSendDataNotification(source.get(), PravonNotification::kData, &changed));
    TestPlane invalid;
    if (!err)
        err.reset(InvalidArea(filter.get(), &invalid));
    TestPlane remade;
    if (!err)
        err.reset(PullAll(filter.get(), &remade));
    PravonErrorPtr(PravonDisconnect(source.get(), filter.get()));
    if (err)
        return ::testing::AssertionFailure() << err->Describe();

    const CPravonRect widened =
        CPravonRect(change.left - halo, change.top - halo, change.right + halo, change.bottom + halo)
            .Intersect(CPravonRect(0, 0, before.width, before.height));
    auto exact = PlanesMatch(RectMask(before.width, before.height, widened), invalid);
    if (!exact)
        return ::testing::AssertionFailure()
               << "the invalid area is not the change widened by " << halo << ": " << exact.message();
    const TestPlane fresh = PullThrough(after, make);
    auto same = PlanesMatch(fresh, remade);
    if (!same)
        return ::testing::AssertionFailure()
               << "the output made again differs from a fresh one: " << same.message();
    if (ComparePlanes(original, fresh).differing == 0)
        return ::testing::AssertionFailure() << "the change changed no output pixel: the case checks nothing";
    return ::testing::AssertionSuccess();
}

} // namespace kvtest
