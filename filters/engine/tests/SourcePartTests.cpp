// The whole-rectangle fetch: every pixel of the rectangle once, in pieces that lie in their tiles, in
// either order, without the tiles a reader declines, and nothing left locked however the walk ends.
#include "filters/engine/ForEachSourcePart.h"
#include "filters/tests/ProbeFilter.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

using namespace kvtest;

constexpr LONG kRGB8 = PravonColorSpace::kRGB8;

// A 45 x 30 RGB image in tiles of 16: 3 x 2 tiles, the last column and row cut to the image.
struct Source {
    Source()
        : manager(16), plane(MakePlane(45, 30, kRGB8, FillPattern::Coordinates)),
          image(MakeImage(manager, plane)) {}
    CPravonMemoryManager manager;
    TestPlane plane;
    PravonImagePtr image;
};

TEST(SourceParts, EveryPixelOfTheRectangleComesOnceInAPieceOfItsTile) {
    struct Case {
        PravonRect rect;
        PravonRect cut; // the rectangle inside the image
        int pieces;
    };
    const Case kCases[] = {
        {{0, 0, 45, 30}, {0, 0, 45, 30}, 6},     {{15, 15, 17, 17}, {15, 15, 17, 17}, 4},
        {{3, 4, 9, 12}, {3, 4, 9, 12}, 1},       {{-5, -5, 20, 10}, {0, 0, 20, 10}, 2},
        {{40, 25, 90, 90}, {40, 25, 45, 30}, 1}, {{10, 10, 10, 20}, {10, 10, 10, 10}, 0},
        {{50, 0, 60, 10}, {50, 0, 50, 10}, 0},
    };
    for (const Case& c : kCases) {
        Source s;
        const CPravonRect cut(c.cut);
        TestPlane gathered(cut.right - cut.left, cut.bottom - cut.top, kRGB8);
        std::vector<int> seen(static_cast<std::size_t>(gathered.width) * gathered.height, 0);
        int pieces = 0;
        ASSERT_PV_OK(ForEachSourcePart(s.image.get(), c.rect, [&](const CSourcePart& piece) -> IPravonError* {
            ++pieces;
            EXPECT_EQ(CPravonRect(piece.part), piece.tileRect.Intersect(cut));
            EXPECT_FALSE(piece.part.Empty());
            for (LONG y = piece.part.top; y < piece.part.bottom; ++y)
                for (LONG x = piece.part.left; x < piece.part.right; ++x) {
                    ++seen[static_cast<std::size_t>(y - cut.top) * gathered.width + (x - cut.left)];
                    const BYTE* pixel = piece.Row(y) + (x - piece.tileRect.left) * 3;
                    for (LONG channel = 0; channel < 3; ++channel)
                        gathered.SetSample(x - cut.left, y - cut.top, channel, pixel[channel]);
                }
            return nullptr;
        }));
        EXPECT_EQ(pieces, c.pieces) << c.rect.left << ", " << c.rect.top;
        EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](int n) { return n == 1; }));
        EXPECT_TRUE(PlanesMatch(s.plane.Crop(cut), gathered));
        EXPECT_EQ(s.manager.GetLockCount(), 0);
    }
}

TEST(SourceParts, ABackwardWalkStartsAtTheLastTileOfTheLastRow) {
    Source s;
    for (bool backward : {false, true}) {
        std::vector<PravonRect> order;
        CSourceWalk walk;
        walk.backward = backward;
        ASSERT_PV_OK(ForEachSourcePart(
            s.image.get(), CPravonRect(0, 0, 45, 30),
            [&](const CSourcePart& piece) -> IPravonError* {
                order.push_back(piece.tileRect);
                return nullptr;
            },
            walk));
        ASSERT_EQ(order.size(), 6u);
        const std::vector<PravonRect> forward = {{0, 0, 16, 16},  {16, 0, 32, 16},  {32, 0, 45, 16},
                                                 {0, 16, 16, 30}, {16, 16, 32, 30}, {32, 16, 45, 30}};
        for (std::size_t i = 0; i < 6; ++i)
            EXPECT_EQ(order[i], backward ? forward[5 - i] : forward[i]) << i;
    }
}

TEST(SourceParts, ADeclinedTileIsNeitherFetchedNorHandedOver) {
    Source s;
    ProbeFilter probe(&s.manager);
    ASSERT_PV_OK(PravonConnect(s.image.get(), &probe));
    CSourceWalk walk;
    const auto onlyTheMiddleColumn = [](const PravonRect& tile) { return tile.left == 16; };
    walk.wanted = onlyTheMiddleColumn;
    int pieces = 0;
    ASSERT_PV_OK(ForEachSourcePart(
        &probe, CPravonRect(0, 0, 45, 30),
        [&](const CSourcePart& piece) -> IPravonError* {
            ++pieces;
            EXPECT_EQ(piece.tileRect.left, 16);
            return nullptr;
        },
        walk));
    EXPECT_EQ(pieces, 2);
    ASSERT_EQ(probe.calls.size(), 2u) << "the probe made only the tiles that were read";
    EXPECT_EQ(probe.calls[0].tileRect.left, 16);
    EXPECT_EQ(probe.calls[1].tileRect.left, 16);
    EXPECT_EQ(s.manager.GetLockCount(), 0);
    ASSERT_PV_OK(PravonDisconnect(s.image.get(), &probe));
}

TEST(SourceParts, AFailureOrAnExceptionEndsTheWalkWithNothingLocked) {
    Source s;
    int pieces = 0;
    IPravonError* failed =
        ForEachSourcePart(s.image.get(), CPravonRect(0, 0, 45, 30), [&](const CSourcePart&) -> IPravonError* {
            return ++pieces == 2 ? PravonFail(7, PravonKind::kOutOfRange, "stop") : nullptr;
        });
    EXPECT_PV_KIND(failed, PravonKind::kOutOfRange);
    EXPECT_EQ(pieces, 2);
    EXPECT_EQ(s.manager.GetLockCount(), 0);

    EXPECT_THROW(
        ForEachSourcePart(s.image.get(), CPravonRect(0, 0, 45, 30),
                          [&](const CSourcePart&) -> IPravonError* { throw std::runtime_error("thrown"); }),
        std::runtime_error);
    EXPECT_EQ(s.manager.GetLockCount(), 0);

    // A source that fails to make a tile: its error comes back and the tiles before it are let go.
    ProbeFilter probe(&s.manager);
    ASSERT_PV_OK(PravonConnect(s.image.get(), &probe));
    probe.failures = 1;
    probe.failKind = PravonKind::kInvalidState;
    pieces = 0;
    EXPECT_PV_KIND(ForEachSourcePart(&probe, CPravonRect(0, 0, 45, 30),
                                     [&](const CSourcePart&) -> IPravonError* {
                                         ++pieces;
                                         return nullptr;
                                     }),
                   PravonKind::kInvalidState);
    EXPECT_EQ(pieces, 0);
    EXPECT_EQ(s.manager.GetLockCount(), 0);
    ASSERT_PV_OK(PravonDisconnect(s.image.get(), &probe));
}

} // namespace
