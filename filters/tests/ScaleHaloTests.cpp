// The scale filter's invalidation against its kernels: a changed source rectangle makes exactly the output
// area its halo and mapping name invalid, no whole tiles around it, that area holds every output pixel whose
// kernel window reads the change, and the output made again equals a fresh one.
#include "filters/CPravonFilterScale.h"
#include "filters/engine/Int32Math.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/ImageCompare.h"
#include "testing/InvalidArea.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

using namespace kvtest;
using Scale = CPravonFilterScale;
using Int32Math::CeilDiv;
using Int32Math::FloorDiv;

constexpr LONG kRGB8 = PravonColorSpace::kRGB8;

struct Case {
    const char* name;
    LONG method;
    double sx; // factors above 0: scale mode; else the fixed size
    double sy;
    LONG width;
    LONG height;
    PravonRect change;
};

// Sources of 23 x 19, tiles of 16.
const Case kCases[] = {
    {"linear, enlarged", Scale::kLinear, 2.3, 1.7, 0, 0, {9, 6, 11, 8}},
    {"cubic, enlarged", Scale::kCubic, 2.3, 1.7, 0, 0, {9, 6, 11, 8}},
    {"cubic, at the edge", Scale::kCubic, 1.9, 2.1, 0, 0, {0, 17, 1, 19}},
    {"cubic, widened and shortened", Scale::kCubic, 0, 0, 61, 11, {12, 4, 15, 9}},
    {"linear, reduced", Scale::kLinear, 0.45, 0.6, 0, 0, {5, 5, 9, 7}},
    {"nearest, enlarged", Scale::kNearest, 2.3, 1.7, 0, 0, {9, 6, 11, 8}},
};

// The source columns (or rows) an output position reads on one axis, as the kernels define them.
struct Window {
    std::int64_t first;
    std::int64_t last;
};

Window Reads(LONG method, std::int64_t x, LONG S, LONG D) {
    if (method == Scale::kNearest) {
        const std::int64_t p = CeilDiv((2 * x + 1) * S, 2 * std::int64_t{D}) - 1;
        return {p, p};
    }
    if (S < D) {
        // The pixel left of the sample point and the one after it; cubic one more on each side.
        const std::int64_t v = FloorDiv((2 * x + 1) * S - D, 2 * std::int64_t{D});
        return method == Scale::kLinear ? Window{v, v + 1} : Window{v - 1, v + 2};
    }
    if (S > D) // the span the output position averages
        return {FloorDiv(x * S, D), CeilDiv((x + 1) * S, D) - 1};
    return {x, x};
}

// The output range on one axis that the filter's halo names for the changed range [a, b): the range
// widened by the kernel's reach where the axis enlarges, mapped by the sizes the pixels are computed from
// (in scale mode too, where the factors only come near them), rounded outward.
std::pair<LONG, LONG> Named(LONG method, LONG a, LONG b, LONG S, LONG D) {
    const std::int64_t reach = method == Scale::kNearest || S >= D ? 0 : method == Scale::kLinear ? 1 : 2;
    const std::int64_t from = FloorDiv(D * (a - reach), S);
    const std::int64_t to = CeilDiv(D * (b + reach), S);
    return {static_cast<LONG>(std::clamp<std::int64_t>(from, 0, D)),
            static_cast<LONG>(std::clamp<std::int64_t>(to, 0, D))};
}

// A source image of the plane under a scale filter set up as the case says, in tiles of 16.
struct Scaled {
    Scaled(const Case& c, const TestPlane& plane)
        : manager(16), source(MakeImage(manager, plane)), filter(&manager, c.method) {
        EXPECT_PV_OK(PravonConnect(source.get(), &filter));
        EXPECT_PV_OK(c.sx > 0 ? filter.SetScale(c.sx, c.sy, false)
                              : filter.SetSize(c.width, c.height, false));
    }
    ~Scaled() { EXPECT_PV_OK(PravonDisconnect(source.get(), &filter)); }
    TestPlane Pull() {
        TestPlane out;
        EXPECT_PV_OK(PullAll(&filter, &out));
        return out;
    }
    CPravonMemoryManager manager;
    PravonImagePtr source;
    Scale filter;
};

TEST(ScaleHalo, ASourceChangeInvalidatesExactlyTheAreaItsKernelsReach) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const TestPlane before = MakePlane(23, 19, kRGB8, FillPattern::Random, 5);
        Scaled s(c, before);
        const TestPlane original = s.Pull();

        const TestPlane after = before.Inverted(c.change);
        ASSERT_PV_OK(WritePlane(s.source.get(), after));
        PravonRect changed = c.change;
        ASSERT_PV_OK(PravonSendDataNotification(s.source.get(), PravonNotification::kData, &changed));

        const LONG outW = original.width;
        const LONG outH = original.height;
        const auto [left, right] = Named(c.method, c.change.left, c.change.right, 23, outW);
        const auto [top, bottom] = Named(c.method, c.change.top, c.change.bottom, 19, outH);
        TestPlane invalid;
        ASSERT_PV_OK(InvalidArea(&s.filter, &invalid));
        EXPECT_TRUE(PlanesMatch(RectMask(outW, outH, CPravonRect(left, top, right, bottom)), invalid))
            << "the invalid area is the named one, no more and no less";

        // Every output pixel whose window reads a changed pixel lies in it, and so does every pixel that
        // changed.
        const TestPlane expected = Scaled(c, after).Pull();
        EXPECT_TRUE(PlanesMatch(expected, s.Pull()));
        LONG reading = 0;
        for (LONG y = 0; y < outH; ++y) {
            const Window wy = Reads(c.method, y, 19, outH);
            for (LONG x = 0; x < outW; ++x) {
                const Window wx = Reads(c.method, x, 23, outW);
                // Positions outside the source read its edge pixels.
                const bool reads = std::clamp<std::int64_t>(wx.last, 0, 22) >= c.change.left &&
                                   std::clamp<std::int64_t>(wx.first, 0, 22) < c.change.right &&
                                   std::clamp<std::int64_t>(wy.last, 0, 18) >= c.change.top &&
                                   std::clamp<std::int64_t>(wy.first, 0, 18) < c.change.bottom;
                bool differs = false;
                for (LONG channel = 0; channel < 3; ++channel)
                    differs = differs || expected.Sample(x, y, channel) != original.Sample(x, y, channel);
                const bool named = x >= left && x < right && y >= top && y < bottom;
                reading += reads;
                EXPECT_TRUE(!reads || named) << "a reader of the change at " << x << ", " << y;
                EXPECT_TRUE(!differs || reads) << "a change beyond the kernel at " << x << ", " << y;
            }
        }
        EXPECT_GT(reading, 0);
    }
}

} // namespace
