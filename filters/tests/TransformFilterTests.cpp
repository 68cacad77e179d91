// The transform filter's pixels: the eight orientations against a direct permutation of the source's
// pixels, quarter turns without resizing, any other angle against a resampler written here, relative and
// absolute mode on sources that carry a state, chains of transforms against the single composed one, and
// what a source change makes the filter make again.
#include "filters/CPravonFilterTransform.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/ImageCompare.h"
#include "testing/InvalidArea.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

using namespace kvtest;

// The source oriented by a flip (applied first) and a quarter turn clockwise, pixel by pixel.
TestPlane Orient(const TestPlane& source, bool flip, int quarters) {
    const LONG w = source.width;
    const LONG h = source.height;
    const bool swap = quarters % 2 != 0;
    TestPlane out(swap ? h : w, swap ? w : h, source.colorSpace);
    for (LONG v = 0; v < out.height; ++v)
        for (LONG u = 0; u < out.width; ++u) {
            // Where output (u, v) comes from in the mirrored source.
            LONG x = u;
            LONG y = v;
            switch (quarters % 4) {
            case 1:
                x = v, y = h - 1 - u;
                break;
            case 2:
                x = w - 1 - u, y = h - 1 - v;
                break;
            case 3:
                x = w - 1 - v, y = u;
                break;
            default:
                break;
            }
            if (flip)
                x = w - 1 - x;
            for (LONG c = 0; c < source.Channels(); ++c)
                out.SetSample(u, v, c, source.Sample(x, y, c));
        }
    return out;
}

struct Chain {
    bool flip;
    double rotation;
    bool relative = true;
    bool resize = true;
};

// The source (with its own state), then one transform filter per link.
GraphBuilder TransformOf(const TestPlane& plane, std::vector<Chain> links, bool sourceFlip = false,
                         double sourceRotation = 0) {
    return [=](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
        IPravonImage* source = graph.Own(MakeImage(manager, plane));
        if (IPravonError* e = source->SetTransform(sourceFlip, sourceRotation, false))
            return e;
        IPravonDataSource* last = source;
        for (const Chain& link : links) {
            auto* t = graph.Own(new CPravonFilterTransform(&manager));
            if (IPravonError* e = PravonConnect(last, t))
                return e;
            if (IPravonError* e = t->SetTransform(link.flip, link.rotation, link.relative, false))
                return e;
            if (IPravonError* e = t->DoResize(link.resize, false))
                return e;
            last = t;
        }
        graph.output = last;
        return nullptr;
    };
}

TestPlane Pull(const GraphBuilder& build, LONG tileSize = 16, bool* flip = nullptr,
               double* rotation = nullptr) {
    CPravonMemoryManager manager(tileSize);
    TestGraph graph;
    EXPECT_PV_OK(build(manager, graph));
    TestPlane out;
    EXPECT_PV_OK(PullAll(graph.output, &out, PullOrder::RandomOrder));
    if (flip && rotation) {
        EXPECT_PV_OK(graph.output->GetTransform(flip, rotation));
    }
    return out;
}

TEST(TransformFilter, TheEightOrientationsArePermutationsOfTheSourcePixels) {
    for (LONG colorSpace : {PravonColorSpace::kRGB16, PravonColorSpace::kGrey8, PravonColorSpace::kRGB8,
                            PravonColorSpace::kCMYK8}) {
        const TestPlane source = MakePlane(37, 23, colorSpace, FillPattern::Coordinates);
        for (bool flip : {false, true})
            for (int quarters = 0; quarters < 4; ++quarters) {
                SCOPED_TRACE(testing::Message() << std::hex << colorSpace << std::dec
                                                << (flip ? " flipped" : "") << ", turned " << 90 * quarters);
                TestPlane out;
                EXPECT_TRUE(SameAtEveryTileSize(TransformOf(source, {{flip, 90.0 * quarters}}), &out));
                EXPECT_TRUE(PlanesMatch(Orient(source, flip, quarters), out));
            }
    }
}

TEST(TransformFilter, AnglesWithinAHairOfAQuarterTurnTakeItsWalk) {
    const TestPlane source = MakePlane(29, 17, PravonColorSpace::kRGB8, FillPattern::Random);
    for (double angle : {89.99999999995, 90.00000000005, 269.99999999995, 180.00000000004, -5e-11})
        EXPECT_TRUE(PlanesMatch(Orient(source, false, static_cast<int>(std::lround(angle / 90.0) + 4) % 4),
                                Pull(TransformOf(source, {{false, angle}}))))
            << angle;
}

// Without resizing the output keeps the source's size: a quarter turn of a wide source takes the bands
// beyond its short side from its edge pixels.
// Each output pixel's square turned back onto the source, and the pixel under the top left of its bounding
// box: zeros where that lies outside the source, or, with held, the nearest edge pixel. Quarter turns take
// their cosine and sine exactly.
TestPlane Resample(const TestPlane& source, bool flip, double degrees, bool resize, bool held = false) {
    const double w = source.width;
    const double h = source.height;
    const double t = degrees * std::numbers::pi / 180.0;
    const bool quarter = std::fmod(degrees, 90.0) == 0;
    const double c = quarter ? std::round(std::cos(t)) : std::cos(t);
    const double s = quarter ? std::round(std::sin(t)) : std::sin(t);
    LONG outW = source.width;
    LONG outH = source.height;
    if (resize) {
        outW = static_cast<LONG>(std::fabs(w * c) + std::fabs(h * s) + 1e-9);
        outH = static_cast<LONG>(std::fabs(h * c) + std::fabs(w * s) + 1e-9);
    }
    TestPlane out(outW, outH, source.colorSpace);
    for (LONG v = 0; v < outH; ++v)
        for (LONG u = 0; u < outW; ++u) {
            double left = 1e300;
            double right = -1e300;
            double top = 1e300;
            for (const auto& [du, dv] :
                 {std::pair{0, 0}, std::pair{1, 0}, std::pair{0, 1}, std::pair{1, 1}}) {
                const double x = u + du - outW / 2.0;
                const double y = v + dv - outH / 2.0;
                // The inverse of a clockwise turn in image coordinates.
                const double sx = x * c + y * s + w / 2.0;
                const double sy = -x * s + y * c + h / 2.0;
                left = std::min(left, sx);
                right = std::max(right, sx);
                top = std::min(top, sy);
            }
            LONG x = static_cast<LONG>(flip ? w - right : left);
            LONG y = static_cast<LONG>(top);
            if (held) {
                x = std::clamp<LONG>(x, 0, source.width - 1);
                y = std::clamp<LONG>(y, 0, source.height - 1);
            }
            if (x < 0 || y < 0 || x >= source.width || y >= source.height)
                continue;
            for (LONG k = 0; k < source.Channels(); ++k)
                out.SetSample(u, v, k, source.Sample(x, y, k));
        }
    return out;
}

// Without resizing the output keeps the source's size: a quarter turn of a wide source takes the bands
// beyond its short side from its edge pixels. Sides of odd difference put the turned pixels half a pixel
// off the output's: each output pixel takes the one under its top-left corner.
TEST(TransformFilter, QuarterTurnsWithoutResizingRepeatTheEdgePixelsBeyondTheSource) {
    struct Size {
        LONG width;
        LONG height;
    };
    for (const Size size : {Size{30, 20}, Size{30, 19}, Size{17, 26}})
        for (bool flip : {false, true})
            for (int quarters : {1, 3}) {
                SCOPED_TRACE(testing::Message() << size.width << " x " << size.height
                                                << (flip ? " flipped" : "") << ", turned " << 90 * quarters);
                const TestPlane source =
                    MakePlane(size.width, size.height, PravonColorSpace::kRGB16, FillPattern::Coordinates);
                TestPlane out;
                EXPECT_TRUE(
                    SameAtEveryTileSize(TransformOf(source, {{flip, 90.0 * quarters, true, false}}), &out));
                EXPECT_TRUE(PlanesMatch(Resample(source, flip, 90.0 * quarters, false, true), out));
                if (size.width != 30 || size.height != 20)
                    continue;
                // Worked by hand: output (u, v) is turned pixel (u - 5, v + 5), held inside.
                const TestPlane turned = Orient(source, flip, quarters);
                TestPlane expected(30, 20, source.colorSpace);
                for (LONG v = 0; v < 20; ++v)
                    for (LONG u = 0; u < 30; ++u)
                        for (LONG c = 0; c < 3; ++c)
                            expected.SetSample(u, v, c,
                                               turned.Sample(std::clamp<LONG>(u - 5, 0, 19), v + 5, c));
                EXPECT_TRUE(PlanesMatch(expected, out));
            }
}

TEST(TransformFilter, OtherAnglesTakeThePixelEachOutputPixelMapsBackTo) {
    const TestPlane source = MakePlane(41, 27, PravonColorSpace::kRGB16, FillPattern::Coordinates);
    struct Case {
        bool flip;
        double angle;
        bool resize;
    };
    for (const Case c : {Case{false, 30, true}, Case{true, 30, true}, Case{false, 123.4, true},
                         Case{true, 200, false}, Case{false, 301.5, false}, Case{false, 45, true}}) {
        SCOPED_TRACE(testing::Message()
                     << c.angle << (c.flip ? " flipped" : "") << (c.resize ? "" : " kept size"));
        TestPlane out;
        EXPECT_TRUE(SameAtEveryTileSize(TransformOf(source, {{c.flip, c.angle, true, c.resize}}), &out));
        const TestPlane expected = Resample(source, c.flip, c.angle, c.resize);
        EXPECT_TRUE(PlanesMatch(expected, out));
    }
    // A 300 x 200 source at 30 degrees becomes 359 x 323 with zeros in its corners.
    const TestPlane wide = MakePlane(300, 200, PravonColorSpace::kGrey8, FillPattern::Constant, 200);
    const TestPlane turned = Pull(TransformOf(wide, {{false, 30}}), 64);
    ASSERT_EQ(turned.width, 359);
    ASSERT_EQ(turned.height, 323);
    EXPECT_EQ(turned.Sample(0, 0, 0), 0u);
    EXPECT_EQ(turned.Sample(358, 322, 0), 0u);
    EXPECT_EQ(turned.Sample(179, 161, 0), 200u);
}

// A source turned a quarter already: a relative filter turns it on, an absolute one gives the output its
// own state, which the source already has.
TEST(TransformFilter, RelativeModeAddsToTheSourceStateAndAbsoluteModeReplacesIt) {
    const TestPlane source = MakePlane(23, 15, PravonColorSpace::kRGB8, FillPattern::Random);
    bool flip = true;
    double rotation = 0;
    const TestPlane relative =
        Pull(TransformOf(source, {{false, 90, true}}, false, 90), 16, &flip, &rotation);
    EXPECT_FALSE(flip);
    EXPECT_EQ(rotation, 180);
    EXPECT_TRUE(PlanesMatch(Orient(source, false, 1), relative));
    const TestPlane absolute =
        Pull(TransformOf(source, {{false, 90, false}}, false, 90), 16, &flip, &rotation);
    EXPECT_FALSE(flip);
    EXPECT_EQ(rotation, 90);
    EXPECT_TRUE(PlanesMatch(source, absolute));
}

// Whatever the source's state, flipped or not, an absolute filter's output is the upright picture
// oriented to the filter's state, and says so.
TEST(TransformFilter, AnAbsoluteFilterOrientsEverySourceStateToItsOwn) {
    const TestPlane upright = MakePlane(13, 9, PravonColorSpace::kRGB8, FillPattern::Coordinates);
    for (bool sourceFlip : {false, true})
        for (int sourceQuarters = 0; sourceQuarters < 4; ++sourceQuarters)
            for (bool flip : {false, true})
                for (int quarters = 0; quarters < 4; ++quarters) {
                    SCOPED_TRACE(testing::Message() << "source " << sourceFlip << " " << 90 * sourceQuarters
                                                    << ", filter " << flip << " " << 90 * quarters);
                    const TestPlane source = Orient(upright, sourceFlip, sourceQuarters);
                    bool outFlip = false;
                    double outRotation = 0;
                    const TestPlane out = Pull(TransformOf(source, {{flip, 90.0 * quarters, false}},
                                                           sourceFlip, 90.0 * sourceQuarters),
                                               8, &outFlip, &outRotation);
                    EXPECT_TRUE(PlanesMatch(Orient(upright, flip, quarters), out));
                    EXPECT_EQ(outFlip, flip);
                    EXPECT_EQ(outRotation, 90.0 * quarters);
                }
}

// A chain of relative transforms gives the pixels and the state of the one transform that composes them:
// the orientations compose as the permutations do.
TEST(TransformFilter, AChainOfRelativeTransformsEqualsTheComposedTransform) {
    const TestPlane source = MakePlane(19, 11, PravonColorSpace::kRGB16, FillPattern::Random);
    for (bool firstFlip : {false, true})
        for (int first = 0; first < 4; ++first)
            for (bool secondFlip : {false, true})
                for (int second = 0; second < 4; ++second) {
                    SCOPED_TRACE(testing::Message() << firstFlip << " " << 90 * first << " then "
                                                    << secondFlip << " " << 90 * second);
                    // Which single orientation gives the same pixels as the two in turn.
                    const TestPlane twice = Orient(Orient(source, firstFlip, first), secondFlip, second);
                    int composed = -1;
                    bool composedFlip = false;
                    for (bool f : {false, true})
                        for (int q = 0; q < 4 && composed < 0; ++q)
                            if (ComparePlanes(Orient(source, f, q), twice).differing == 0 &&
                                Orient(source, f, q).width == twice.width) {
                                composed = q;
                                composedFlip = f;
                            }
                    ASSERT_GE(composed, 0);
                    bool flip = false;
                    double rotation = 0;
                    const TestPlane chained =
                        Pull(TransformOf(source, {{firstFlip, 90.0 * first}, {secondFlip, 90.0 * second}}), 7,
                             &flip, &rotation);
                    bool singleFlip = false;
                    double singleRotation = 0;
                    const TestPlane single = Pull(TransformOf(source, {{composedFlip, 90.0 * composed}}), 16,
                                                  &singleFlip, &singleRotation);
                    EXPECT_TRUE(PlanesMatch(single, chained));
                    EXPECT_EQ(flip, singleFlip);
                    EXPECT_EQ(rotation, singleRotation);
                }
    // At other angles the states compose the same way, and so do the sizes.
    const TestPlane wide = MakePlane(60, 40, PravonColorSpace::kGrey8, FillPattern::Random);
    bool flip = false;
    double rotation = 0;
    const TestPlane chained = Pull(TransformOf(wide, {{false, 20}, {true, 50}}), 16, &flip, &rotation);
    EXPECT_TRUE(flip);
    EXPECT_DOUBLE_EQ(rotation, 30);
    LONG width = 60;
    LONG height = 40;
    ASSERT_PV_OK(CPravonFilterTransform::GetFilteredSize(&width, &height, 20, true));
    ASSERT_PV_OK(CPravonFilterTransform::GetFilteredSize(&width, &height, 50, true));
    EXPECT_EQ(chained.width, width);
    EXPECT_EQ(chained.height, height);
}

struct ChangeCase {
    Chain link;
    PravonRect change;
};

// After a source change the output equals a fresh one, and nothing outside what the filter invalidated
// differs from before.
TEST(TransformFilter, ASourceChangeRenewsTheOutputItReaches) {
    const ChangeCase cases[] = {
        {{false, 90}, {5, 3, 9, 7}},
        {{true, 270}, {0, 10, 4, 12}},
        {{false, 180, true, true}, {20, 0, 24, 19}},
        {{false, 30}, {12, 8, 14, 10}},
        {{true, 123.4}, {0, 0, 3, 3}},
        // The bands beyond a quarter-turned source repeat its edges: a change at an edge reaches them.
        {{false, 90, true, false}, {10, 0, 12, 1}},
        {{true, 270, true, false}, {8, 18, 10, 19}},
    };
    const TestPlane before = MakePlane(30, 19, PravonColorSpace::kRGB8, FillPattern::Random, 3);
    for (const ChangeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.link.rotation << (c.link.flip ? " flipped" : "")
                                        << (c.link.resize ? "" : " kept size"));
        CPravonMemoryManager manager(8);
        TestGraph graph;
        ASSERT_PV_OK(TransformOf(before, {c.link})(manager, graph));
        TestPlane original;
        ASSERT_PV_OK(PullAll(graph.output, &original));
        auto* transform = static_cast<CPravonFilterTransform*>(graph.output);
        IPravonDataSource* const* sources = nullptr;
        LONG count = 0;
        transform->GetSources(&sources, &count);
        auto* image = static_cast<IPravonImage*>(sources[0]);

        const TestPlane after = before.Inverted(c.change);
        ASSERT_PV_OK(WritePlane(image, after));
        PravonRect changed = c.change;
        ASSERT_PV_OK(PravonSendDataNotification(image, PravonNotification::kData, &changed));
        TestPlane invalid;
        ASSERT_PV_OK(InvalidArea(graph.output, &invalid));
        const TestPlane expected = Pull(TransformOf(after, {c.link}));
        LONG differing = 0;
        for (LONG y = 0; y < original.height; ++y)
            for (LONG x = 0; x < original.width; ++x)
                for (LONG k = 0; k < 3; ++k)
                    if (expected.Sample(x, y, k) != original.Sample(x, y, k)) {
                        ++differing;
                        EXPECT_EQ(invalid.Sample(x, y, 0), 1u) << "left stale at " << x << ", " << y;
                    }
        EXPECT_GT(differing, 0);
        TestPlane renewed;
        ASSERT_PV_OK(PullAll(graph.output, &renewed));
        EXPECT_TRUE(PlanesMatch(expected, renewed));
    }
}

// A quarter turn moves pixels whole: the change's rectangle is invalidated exactly where it lands.
TEST(TransformFilter, AQuarterTurnInvalidatesExactlyWhereTheChangeLands) {
    const TestPlane before = MakePlane(30, 19, PravonColorSpace::kGrey8, FillPattern::Random);
    CPravonMemoryManager manager(8);
    TestGraph graph;
    ASSERT_PV_OK(TransformOf(before, {{false, 90}})(manager, graph));
    TestPlane out;
    ASSERT_PV_OK(PullAll(graph.output, &out));
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    static_cast<CPravonFilterTransform*>(graph.output)->GetSources(&sources, &count);
    PravonRect changed{5, 3, 9, 7};
    ASSERT_PV_OK(PravonSendDataNotification(sources[0], PravonNotification::kData, &changed));
    TestPlane invalid;
    ASSERT_PV_OK(InvalidArea(graph.output, &invalid));
    // (x, y) lands on (18 - y, x): rows 5 to 8, columns 12 to 15.
    EXPECT_TRUE(PlanesMatch(RectMask(19, 30, PravonRect{12, 5, 16, 9}), invalid));
}

TEST(TransformFilter, PixelsOfLessThanAByteAreRefused) {
    CPravonMemoryManager manager(16);
    PravonImagePtr source = MakeImage(manager, MakePlane(20, 10, 0x01020001, FillPattern::Checker));
    CPravonFilterTransform filter(&manager);
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    ASSERT_PV_OK(filter.SetTransform(false, 90, true, false));
    void* data = nullptr;
    PravonErrorPtr err(filter.LockTile(0, 0, &data, nullptr));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->GetKind(), PravonKind::kUnsupportedColorSpace);
    EXPECT_EQ(manager.GetLockCount(), 0);
    PravonDisconnect(source.get(), &filter);
}

// A pass of a disabled filter copies its source, as its geometry says; enabled, it orients.
TEST(TransformFilter, APassRendersTheOutputIntoTheCallersImage) {
    CPravonMemoryManager manager(16);
    const TestPlane plane = MakePlane(21, 13, PravonColorSpace::kRGB8, FillPattern::Coordinates);
    PravonImagePtr source = MakeImage(manager, plane);
    CPravonFilterTransform filter(&manager);
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    ASSERT_PV_OK(filter.SetTransform(true, 270, true, false));
    for (bool enabled : {true, false}) {
        ASSERT_PV_OK(filter.Enable(enabled, false));
        IPravonImage* raw = nullptr;
        ASSERT_PV_OK(manager.CreateImage(1, &raw));
        PravonImagePtr target(raw);
        IPravonDataSource* sources[1] = {source.get()};
        ASSERT_PV_OK(filter.Process(sources, 1, target.get()));
        TestPlane out;
        ASSERT_PV_OK(PullAll(target.get(), &out));
        EXPECT_TRUE(PlanesMatch(enabled ? Orient(plane, true, 3) : plane, out)) << enabled;
    }
    PravonDisconnect(source.get(), &filter);
}

} // namespace
