// The unsharp mask's invalidation: a changed source rectangle makes exactly the output area it widens to by
// the kernel's reach on each axis invalid, cut to the picture, downstream hears of that area, and the
// output made again equals a fresh one.
#include "filters/CUnsharpMaskFilter.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/ImageCompare.h"
#include "testing/InvalidArea.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

using namespace kvtest;

struct Case {
    const char* name;
    LONG method;
    double rx;
    double ry;
    PravonRect change;
};

// Sources of 17 x 9 in tiles of 16, so the last column lies in a tile of its own.
const Case kCases[] = {
    {"raised cosine, at the right edge", 3, 1, 1, {16, 4, 17, 5}},
    {"box of radii 1 and 3", 1, 1, 3, {8, 4, 9, 5}},
    {"gaussian", 0, 1, 1, {8, 4, 10, 5}},
    {"gaussian blurring down only", 0, 0, 2, {8, 4, 9, 5}},
    {"cone, wider than tall", 2, 2, 1, {8, 4, 9, 5}},
    {"flat disc at the top left corner", 7, 2, 2, {0, 0, 1, 1}},
    {"gaussian over the bottom edge", 0, 0.5, 0.5, {3, 7, 12, 9}},
};

// How far an output pixel's window holds weights on each axis: a Gaussian three of its radii (none for a
// radius of 0), the box its whole square, the other shapes the whole pixels within their radius.
std::pair<LONG, LONG> Reach(const Case& c) {
    const auto ceil = [](double v) { return static_cast<LONG>(std::ceil(v)); };
    if (c.method == 0)
        return {ceil(3 * c.rx), ceil(3 * c.ry)};
    if (c.method == 1) {
        const LONG n = std::max(ceil(c.rx), ceil(c.ry));
        return {n, n};
    }
    return {ceil(c.rx), ceil(c.ry)};
}

struct Sharpened {
    Sharpened(const Case& c, const TestPlane& plane)
        : manager(16), source(MakeImage(manager, plane)), filter(&manager) {
        EXPECT_PV_OK(PravonConnect(source.get(), &filter));
        EXPECT_PV_OK(filter.SetMaskMethod(c.method, false));
        EXPECT_PV_OK(filter.SetRadii(c.rx, c.ry, false));
        EXPECT_PV_OK(filter.SetPower(2, false));
        EXPECT_PV_OK(PravonConnect(&filter, &recorder));
    }
    ~Sharpened() {
        EXPECT_PV_OK(PravonDisconnect(&filter, &recorder));
        EXPECT_PV_OK(PravonDisconnect(source.get(), &filter));
    }
    TestPlane Pull() {
        TestPlane out;
        EXPECT_PV_OK(PullAll(&filter, &out));
        return out;
    }
    CPravonMemoryManager manager;
    PravonImagePtr source;
    CUnsharpMaskFilter filter;
    NotificationRecorder recorder;
};

TEST(UnsharpMaskHalo, ASourceChangeInvalidatesExactlyTheAreaTheKernelReaches) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const TestPlane before = MakePlane(17, 9, PravonColorSpace::kRGB8, FillPattern::Random, 5);
        Sharpened s(c, before);
        const TestPlane original = s.Pull();

        const TestPlane after = before.Inverted(c.change);
        ASSERT_PV_OK(WritePlane(s.source.get(), after));
        s.recorder.Clear();
        PravonRect changed = c.change;
        ASSERT_PV_OK(PravonSendDataNotification(s.source.get(), PravonNotification::kData, &changed));

        const auto [rx, ry] = Reach(c);
        const CPravonRect named(std::max<LONG>(c.change.left - rx, 0), std::max<LONG>(c.change.top - ry, 0),
                                std::min<LONG>(c.change.right + rx, 17),
                                std::min<LONG>(c.change.bottom + ry, 9));
        TestPlane invalid;
        ASSERT_PV_OK(InvalidArea(&s.filter, &invalid));
        EXPECT_TRUE(PlanesMatch(RectMask(17, 9, named), invalid)) << "the invalid area is the named one";
        ASSERT_EQ(s.recorder.Count(PravonNotification::kData), 1u);
        EXPECT_TRUE(*s.recorder.heard[0].rect == named)
            << "downstream hears of the same area, cut to the picture";

        const TestPlane expected = Sharpened(c, after).Pull();
        EXPECT_TRUE(PlanesMatch(expected, s.Pull()));
        for (LONG y = 0; y < 9; ++y)
            for (LONG x = 0; x < 17; ++x)
                for (LONG channel = 0; channel < 3; ++channel)
                    if (expected.Sample(x, y, channel) != original.Sample(x, y, channel)) {
                        EXPECT_TRUE(named.Contains(x, y))
                            << "a change beyond the kernel at " << x << ", " << y;
                    }
    }
}

TEST(UnsharpMaskHalo, APassThroughFilterInvalidatesOnlyTheChange) {
    CPravonMemoryManager manager(16);
    const PravonImagePtr source(
        MakeImage(manager, MakePlane(17, 9, PravonColorSpace::kGrey8, FillPattern::Random, 2)));
    CUnsharpMaskFilter filter(&manager);
    NotificationRecorder recorder;
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    ASSERT_PV_OK(PravonConnect(&filter, &recorder));
    ASSERT_PV_OK(filter.SetRadius(3, false));
    ASSERT_PV_OK(filter.SetPower(0, false));
    PravonRect changed{4, 4, 6, 5};
    ASSERT_PV_OK(PravonSendDataNotification(source.get(), PravonNotification::kData, &changed));
    ASSERT_EQ(recorder.Count(PravonNotification::kData), 1u);
    EXPECT_TRUE(*recorder.heard[0].rect == changed);
    ASSERT_PV_OK(PravonDisconnect(&filter, &recorder));
    ASSERT_PV_OK(PravonDisconnect(source.get(), &filter));
}

} // namespace
