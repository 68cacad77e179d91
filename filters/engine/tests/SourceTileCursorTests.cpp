#include "filters/engine/CSourceTileCursor.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "testing/PravonTestSupport.h"
#include "testing/TestPlane.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

using kvtest::FillPattern;
using kvtest::MakeImage;
using kvtest::MakePlane;
using kvtest::TestPlane;

constexpr LONG kModes[] = {1, 2, 3, -1, 0};
constexpr LONG kMax = std::numeric_limits<LONG>::max();
constexpr LONG kMin = std::numeric_limits<LONG>::min();

// The pixel a coordinate reads, by the rules as a user states them, walked step by step; -1 for none.
LONG ReferenceMap(LONG v, LONG size, LONG mode) {
    if (v >= 0 && v < size)
        return v;
    if (mode == 0 || size == 0)
        return -1;
    if (mode == 1)
        return v < 0 ? 0 : size - 1;
    if (mode == -1) {
        if (size == 1)
            return 0;
        while (v < 0 || v >= size)
            v = v < 0 ? -v : 2 * size - v - 2;
        return v;
    }
    if (v < 0) {
        while (v < 0)
            v += mode;
    } else {
        while (v >= size)
            v -= mode;
    }
    return std::clamp(v, 0, size - 1);
}

ULONG SampleAt(const BYTE* pixel, LONG bitsPerSample, LONG channel) {
    if (bitsPerSample == 8)
        return pixel[channel];
    std::uint16_t v = 0;
    std::memcpy(&v, pixel + 2 * channel, 2);
    return v;
}

// The cursor's pixel is the reference plane's pixel at the mapped position, or none where mode 0 finds
// none; the outside flags tell whether the requested coordinate lies outside the image.
::testing::AssertionResult ReadsReference(const CSourceTileCursor& cursor, const TestPlane& plane, LONG modeX,
                                          LONG modeY) {
    const LONG x = cursor.GetX();
    const LONG y = cursor.GetY();
    auto failure = [&]() {
        return ::testing::AssertionFailure() << "(" << x << ", " << y << ") in " << plane.width << " x "
                                             << plane.height << ", modes " << modeX << "/" << modeY << ": ";
    };
    if (cursor.IsOutsideX() != (x < 0 || x >= plane.width) ||
        cursor.IsOutsideY() != (y < 0 || y >= plane.height))
        return failure() << "wrong outside flags";
    const LONG mx = ReferenceMap(x, plane.width, modeX);
    const LONG my = ReferenceMap(y, plane.height, modeY);
    if (mx < 0 || my < 0) {
        if (cursor.GetPtr())
            return failure() << "a pixel pointer where there is no pixel";
        return ::testing::AssertionSuccess();
    }
    if (!cursor.GetPtr())
        return failure() << "no pixel pointer";
    for (LONG c = 0; c < plane.Channels(); ++c) {
        const ULONG got = SampleAt(cursor.GetPtr(), plane.BitsPerSample(), c);
        const ULONG want = plane.Sample(mx, my, c);
        if (got != want)
            return failure() << "channel " << c << " reads " << got << ", pixel (" << mx << ", " << my
                             << ") holds " << want;
    }
    return ::testing::AssertionSuccess();
}

// A source over an image that counts the calls the cursor makes and fails them on request.
class ScriptedSource : public IPravonDataSource {
public:
    explicit ScriptedSource(IPravonDataSource* inner) : m_inner(inner) {}

    static constexpr LONG kFailKind = 1004;
    bool failGeometry = false;
    bool failGetTile = false;
    bool failLockTile = false;
    bool failUnlockTile = false; // unlocks, then reports an error
    int getTileCalls = 0;
    int lockTileCalls = 0;
    int unlockTileCalls = 0;

    IPravonError* GetWidth(LONG* v) override { return m_inner->GetWidth(v); }
    IPravonError* GetHeight(LONG* v) override { return m_inner->GetHeight(v); }
    IPravonError* GetColorSpace(LONG* v) override {
        return failGeometry ? Fail("colour space") : m_inner->GetColorSpace(v);
    }
    IPravonError* GetResolution(double* v) override { return m_inner->GetResolution(v); }
    IPravonError* GetFlip(bool* v) override { return m_inner->GetFlip(v); }
    IPravonError* GetRotation(double* v) override { return m_inner->GetRotation(v); }
    IPravonError* GetTileSize(LONG* v) override { return m_inner->GetTileSize(v); }
    IPravonError* GetPalette(PravonPalette* v) override { return m_inner->GetPalette(v); }
    IPravonError* TileExists(const IPravonTileID& id, bool* e) override { return m_inner->TileExists(id, e); }
    IPravonError* TileExists(LONG c, LONG r, bool* e) override { return m_inner->TileExists(c, r, e); }
    IPravonError* GetTile(const IPravonTileID& id, IPravonTile** t) override {
        return m_inner->GetTile(id, t);
    }
    IPravonError* GetTile(LONG c, LONG r, IPravonTile** t) override {
        ++getTileCalls;
        return failGetTile ? Fail("tile") : m_inner->GetTile(c, r, t);
    }
    IPravonError* LockTile(IPravonTileGrid* g, LONG c, LONG r, void** d, PravonRect* tr, PravonRect* cr,
                           LONG* rb) override {
        return m_inner->LockTile(g, c, r, d, tr, cr, rb);
    }
    IPravonError* LockTile(const IPravonTileID& id, void** d, BITMAPINFOHEADER** h) override {
        return m_inner->LockTile(id, d, h);
    }
    IPravonError* LockTile(LONG c, LONG r, void** d, BITMAPINFOHEADER** h) override {
        ++lockTileCalls;
        return failLockTile ? Fail("lock") : m_inner->LockTile(c, r, d, h);
    }
    IPravonError* UnlockTile(IPravonTileGrid* g, LONG c, LONG r) override {
        return m_inner->UnlockTile(g, c, r);
    }
    IPravonError* UnlockTile(const IPravonTileID& id) override {
        ++unlockTileCalls;
        IPravonError* e = m_inner->UnlockTile(id);
        return failUnlockTile ? IPravonError::Chain(e, Fail("unlock")) : e;
    }
    IPravonError* UnlockTile(LONG c, LONG r) override { return m_inner->UnlockTile(c, r); }
    IPravonError* MapRect(const PravonRect& rect, IPravonTileGrid** grid) override {
        return m_inner->MapRect(rect, grid);
    }

private:
    static IPravonError* Fail(const char* what) {
        return IPravonError::Add(nullptr, 0x54455354, __LINE__, kFailKind, what);
    }
    IPravonDataSource* m_inner;
};

class SourceTileCursorTest : public ::testing::Test {
protected:
    PravonImagePtr Image(const TestPlane& plane, LONG tileSize) {
        EXPECT_PV_OK(manager.SetTileSize(tileSize));
        return MakeImage(manager, plane);
    }
    CPravonMemoryManager manager;
};

// Reads of every position in and around images of every depth and edge mode pair equal the reference
// plane, at each tile size; row walks cross tile borders in both the fast and the mapped paths.
class CursorSweepTest : public SourceTileCursorTest, public ::testing::WithParamInterface<LONG> {};

TEST_P(CursorSweepTest, RowWalksReadTheReferencePlaneForEveryEdgeModeAndDepth) {
    const LONG spaces[] = {PravonColorSpace::kGrey8,  0x08040001, PravonColorSpace::kRGB8,  0x08080001,
                           PravonColorSpace::kGrey16, 0x10040001, PravonColorSpace::kRGB16, 0x10080001};
    const LONG sizes[][2] = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {23, 17}};
    for (LONG cs : spaces) {
        for (const auto& size : sizes) {
            const TestPlane plane = MakePlane(size[0], size[1], cs, FillPattern::Random, 5);
            auto image = Image(plane, GetParam());
            ASSERT_TRUE(image);
            const LONG w = plane.width;
            const LONG h = plane.height;
            for (LONG modeX : kModes) {
                for (LONG modeY : kModes) {
                    CSourceTileCursor cursor(image.get(), 2);
                    ASSERT_PV_OK(cursor.SetEdgeModes(modeX, modeY));
                    for (LONG y = -h - 3; y < 2 * h + 3; ++y) {
                        ASSERT_PV_OK(cursor.MoveTo(-w - 3, y));
                        ASSERT_TRUE(ReadsReference(cursor, plane, modeX, modeY));
                        for (LONG x = -w - 2; x < 2 * w + 3; ++x) {
                            ASSERT_PV_OK(cursor.Next());
                            ASSERT_EQ(cursor.GetX(), x);
                            ASSERT_TRUE(ReadsReference(cursor, plane, modeX, modeY));
                        }
                        ASSERT_LE(manager.GetLockCount(), 2);
                    }
                    cursor.UnlockAll();
                    ASSERT_EQ(manager.GetLockCount(), 0);
                }
            }
        }
    }
}

// The other moves: backwards along rows, down and up columns, strides of several pixels both ways and
// jumps, each across tile borders and edges.
TEST_P(CursorSweepTest, ColumnStepsStridesAndJumpsReadTheReferencePlane) {
    const TestPlane planes[] = {MakePlane(23, 17, PravonColorSpace::kRGB16, FillPattern::Coordinates),
                                MakePlane(1, 9, PravonColorSpace::kGrey8, FillPattern::Random, 9),
                                MakePlane(17, 2, 0x08080001, FillPattern::Random, 4)};
    for (const TestPlane& plane : planes) {
        auto image = Image(plane, GetParam());
        ASSERT_TRUE(image);
        const LONG w = plane.width;
        const LONG h = plane.height;
        for (LONG modeX : kModes) {
            for (LONG modeY : kModes) {
                CSourceTileCursor cursor(image.get(), 3);
                ASSERT_PV_OK(cursor.SetEdgeModes(modeX, modeY));
                for (LONG y = 2 * h + 2; y >= -h - 2; --y) {
                    ASSERT_PV_OK(cursor.LockAt(2 * w + 2, y));
                    for (LONG x = 2 * w + 1; x >= -w - 2; --x) {
                        ASSERT_PV_OK(cursor.PrevX());
                        ASSERT_EQ(cursor.GetX(), x);
                        ASSERT_TRUE(ReadsReference(cursor, plane, modeX, modeY));
                    }
                }
                for (LONG x = -w - 2; x < 2 * w + 2; ++x) {
                    ASSERT_PV_OK(cursor.MoveTo(x, -h - 2));
                    for (LONG y = -h - 1; y < 2 * h + 2; ++y) {
                        ASSERT_PV_OK(cursor.NextY());
                        ASSERT_EQ(cursor.GetY(), y);
                        ASSERT_TRUE(ReadsReference(cursor, plane, modeX, modeY));
                    }
                    for (LONG y = 2 * h; y >= -h - 2; --y) {
                        ASSERT_PV_OK(cursor.PrevY());
                        ASSERT_EQ(cursor.GetY(), y);
                        ASSERT_TRUE(ReadsReference(cursor, plane, modeX, modeY));
                    }
                }
                for (LONG y = -h - 2; y < 2 * h + 2; y += 3) {
                    ASSERT_PV_OK(cursor.MoveTo(-w - 2, y));
                    for (LONG x = -w - 2; x + 3 < 2 * w + 2; x += 3) {
                        ASSERT_PV_OK(cursor.Advance(3));
                        ASSERT_EQ(cursor.GetX(), x + 3);
                        ASSERT_TRUE(ReadsReference(cursor, plane, modeX, modeY));
                        ASSERT_PV_OK(cursor.MoveBy(-5));
                        ASSERT_TRUE(ReadsReference(cursor, plane, modeX, modeY));
                        ASSERT_PV_OK(cursor.MoveBy(5));
                        ASSERT_TRUE(ReadsReference(cursor, plane, modeX, modeY));
                    }
                }
                for (LONG i = 0; i < 200; ++i) {
                    const LONG x = (i * 37) % (3 * w + 8) - w - 4;
                    const LONG y = (i * 53) % (3 * h + 8) - h - 4;
                    ASSERT_PV_OK(i % 2 ? cursor.MoveTo(x, y) : cursor.LockAt(x, y));
                    ASSERT_TRUE(ReadsReference(cursor, plane, modeX, modeY));
                }
                cursor.UnlockAll();
                ASSERT_EQ(manager.GetLockCount(), 0);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(TileSizes, CursorSweepTest, ::testing::Values(7, 16, 256));

TEST_F(SourceTileCursorTest, EdgeModesMapOutsidePositionsAsDocumented) {
    const TestPlane plane = MakePlane(10, 4, PravonColorSpace::kGrey8, FillPattern::Coordinates);
    auto image = Image(plane, 16);
    CSourceTileCursor cursor(image.get(), 2);
    auto readsColumn = [&](LONG x, LONG column) {
        EXPECT_PV_OK(cursor.LockAt(x, 1));
        EXPECT_EQ(cursor.GetX(), x);
        return cursor.GetPtr() && *cursor.GetPtr() == plane.Sample(column, 1, 0);
    };
    EXPECT_TRUE(readsColumn(-3, 0));
    EXPECT_TRUE(readsColumn(15, 9));
    ASSERT_PV_OK(cursor.SetEdgeModes(2, 1));
    EXPECT_TRUE(readsColumn(-3, 1));
    EXPECT_TRUE(readsColumn(10, 8));
    ASSERT_PV_OK(cursor.SetEdgeModes(-1, 1));
    EXPECT_TRUE(readsColumn(-2, 2));
    EXPECT_TRUE(readsColumn(10, 8));
    ASSERT_PV_OK(cursor.SetEdgeModes(0, 1));
    EXPECT_PV_OK(cursor.LockAt(-1, 1));
    EXPECT_EQ(cursor.GetPtr(), nullptr);
    EXPECT_TRUE(readsColumn(0, 0));
    EXPECT_PV_OK(cursor.LockAt(10, 1));
    EXPECT_EQ(cursor.GetPtr(), nullptr);
}

TEST_F(SourceTileCursorTest, MappingEndsInsideTheImageForAnyCoordinateAndShortAxes) {
    // Axes of 1, 2 and 5 pixels, coordinates at the ends of the 32-bit range. Expected pixels worked out
    // by hand: mirroring folds with the period 2 * size - 2; a phase longer than the axis is clamped.
    struct Case {
        LONG size;
        LONG mode;
        LONG x;
        LONG pixel;
    };
    const Case cases[] = {
        {1, -1, 1, 0},    {1, -1, -7, 0},  {1, 2, -1, 0},   {1, 2, 1, 0},    {2, -1, 2, 0},
        {2, -1, -1, 1},   {2, -1, 5, 1},   {2, 3, -1, 1},   {2, 3, 2, 0},    {5, -1, kMax, 1},
        {5, -1, kMin, 0}, {5, 2, kMax, 3}, {5, 2, kMin, 0}, {5, 3, kMax, 4}, {5, 3, kMin, 1},
        {5, 1, kMax, 4},  {5, 1, kMin, 0}, {5, 7, -1, 4},   {5, 7, 5, 0},    {1, kMax, kMax, 0},
    };
    for (const Case& c : cases) {
        const TestPlane plane = MakePlane(c.size, 1, PravonColorSpace::kGrey8, FillPattern::Coordinates);
        auto image = Image(plane, 7);
        CSourceTileCursor cursor(image.get(), 1);
        ASSERT_PV_OK(cursor.SetEdgeModes(c.mode, 1));
        ASSERT_PV_OK(cursor.LockAt(c.x, 0));
        ASSERT_TRUE(cursor.GetPtr());
        EXPECT_EQ(*cursor.GetPtr(), plane.Sample(c.pixel, 0, 0))
            << "size " << c.size << ", mode " << c.mode << ", x " << c.x;
        EXPECT_EQ(CSourceTileCursor::MapInside(c.x, c.size, c.mode), c.pixel)
            << "size " << c.size << ", mode " << c.mode << ", x " << c.x;
    }
    const TestPlane plane = MakePlane(5, 3, PravonColorSpace::kGrey8, FillPattern::Coordinates);
    auto image = Image(plane, 7);
    for (LONG mode : {2, 3, -1}) {
        CSourceTileCursor cursor(image.get(), 1);
        ASSERT_PV_OK(cursor.SetEdgeModes(mode, mode));
        for (LONG v = -100000; v <= 100000; v += 997) {
            ASSERT_PV_OK(cursor.LockAt(v, -v));
            ASSERT_TRUE(ReadsReference(cursor, plane, mode, mode));
        }
    }
    EXPECT_EQ(manager.GetLockCount(), 0);
}

TEST_F(SourceTileCursorTest, AnAxisOfSizeZeroReadsNothingAndFetchesNoTile) {
    for (const auto& size : {std::pair<LONG, LONG>{0, 5}, {5, 0}, {0, 0}}) {
        const TestPlane plane(size.first, size.second, PravonColorSpace::kRGB8);
        auto image = Image(plane, 7);
        ASSERT_TRUE(image);
        ScriptedSource source(image.get());
        CSourceTileCursor cursor(&source, 2);
        EXPECT_PV_KIND(cursor.LockAt(0, 0), PravonKind::kOutOfRange);
        EXPECT_PV_KIND(cursor.MoveTo(3, 2), PravonKind::kOutOfRange);
        EXPECT_EQ(cursor.GetPtr(), nullptr);
        EXPECT_FALSE(cursor.IsPositioned());
        ASSERT_PV_OK(cursor.SetEdgeModes(0, 0));
        EXPECT_PV_OK(cursor.LockAt(0, 0));
        EXPECT_PV_OK(cursor.Next());
        EXPECT_PV_OK(cursor.NextY());
        EXPECT_EQ(cursor.GetPtr(), nullptr);
        EXPECT_TRUE(cursor.IsOutsideX() || cursor.IsOutsideY());
        EXPECT_EQ(cursor.GetHeldCount(), 0);
        EXPECT_EQ(source.getTileCalls, 0);
        EXPECT_EQ(source.lockTileCalls, 0);
        EXPECT_EQ(manager.GetLockCount(), 0);
    }
}

TEST_F(SourceTileCursorTest, SourcesOfLessThanAByteAPixelAreRefused) {
    for (LONG cs : {0x01020001, 0x02020001, 0x04020001}) {
        const TestPlane plane = MakePlane(20, 3, cs, FillPattern::Random, 2);
        auto image = Image(plane, 16);
        ScriptedSource source(image.get());
        CSourceTileCursor cursor(&source, 2);
        EXPECT_PV_KIND(cursor.LockAt(3, 1), PravonKind::kUnsupportedColorSpace);
        EXPECT_PV_KIND(cursor.Next(), PravonKind::kUnsupportedColorSpace);
        EXPECT_EQ(cursor.GetPtr(), nullptr);
        EXPECT_EQ(source.getTileCalls, 0);
        EXPECT_EQ(manager.GetLockCount(), 0);
    }
}

TEST_F(SourceTileCursorTest, TheLeastRecentlyUsedTileGoesWhenTheCapacityIsReached) {
    const TestPlane plane = MakePlane(21, 7, PravonColorSpace::kGrey8, FillPattern::Coordinates); // 3 tiles
    auto image = Image(plane, 7);
    ScriptedSource source(image.get());
    CSourceTileCursor cursor(&source, 2);
    auto visit = [&](LONG x) {
        EXPECT_PV_OK(cursor.LockAt(x, 3));
        EXPECT_TRUE(ReadsReference(cursor, plane, 1, 1));
        EXPECT_LE(manager.GetLockCount(), 2);
        return source.getTileCalls;
    };
    EXPECT_EQ(visit(1), 1);  // A
    EXPECT_EQ(visit(8), 2);  // B
    EXPECT_EQ(visit(2), 2);  // A again: held, now the most recent
    EXPECT_EQ(visit(15), 3); // C: B goes
    EXPECT_EQ(cursor.GetHeldCount(), 2);
    EXPECT_EQ(source.unlockTileCalls, 1);
    EXPECT_EQ(visit(3), 3); // A is still held
    EXPECT_EQ(visit(9), 4); // B is fetched again, C goes
    EXPECT_EQ(visit(16), 5);
    cursor.UnlockAll();
    EXPECT_EQ(source.unlockTileCalls, source.lockTileCalls);
    EXPECT_EQ(manager.GetLockCount(), 0);
}

TEST_F(SourceTileCursorTest, MoveToTakesNoFastPathWhileACoordinateIsMapped) {
    const TestPlane plane = MakePlane(20, 20, PravonColorSpace::kRGB8, FillPattern::Coordinates);
    auto image = Image(plane, 16);
    CSourceTileCursor cursor(image.get(), 2);
    ASSERT_PV_OK(cursor.LockAt(5, 5));
    std::uint64_t locks = cursor.GetLockAtCount();
    ASSERT_PV_OK(cursor.MoveTo(9, 2));
    EXPECT_EQ(cursor.GetLockAtCount(), locks) << "inside the front tile: pointer arithmetic";
    EXPECT_TRUE(ReadsReference(cursor, plane, 1, 1));
    for (auto [x, y] : {std::pair<LONG, LONG>{5, -2}, {6, -2}, {-1, 4}, {-1, 5}, {-2, -2}, {3, -2}}) {
        ASSERT_PV_OK(cursor.MoveTo(x, y));
        EXPECT_EQ(cursor.GetLockAtCount(), ++locks) << "(" << x << ", " << y << ")";
        EXPECT_TRUE(ReadsReference(cursor, plane, 1, 1));
    }
    ASSERT_PV_OK(cursor.MoveTo(3, 3));
    EXPECT_EQ(cursor.GetLockAtCount(), ++locks);
    ASSERT_PV_OK(cursor.MoveTo(4, 4));
    EXPECT_EQ(cursor.GetLockAtCount(), locks);
}

TEST_F(SourceTileCursorTest, StepsStayFastAlongAMappedRowOrColumnAndMapAgainAlongAMappedAxis) {
    const TestPlane plane = MakePlane(20, 20, PravonColorSpace::kGrey16, FillPattern::Coordinates);
    auto image = Image(plane, 16);
    CSourceTileCursor cursor(image.get(), 2);
    ASSERT_PV_OK(cursor.SetEdgeModes(-1, 2));

    ASSERT_PV_OK(cursor.LockAt(0, -3)); // row 1 under mode 2
    std::uint64_t locks = cursor.GetLockAtCount();
    for (LONG i = 0; i < 15; ++i)
        ASSERT_PV_OK(cursor.Next());
    EXPECT_EQ(cursor.GetLockAtCount(), locks) << "along a mapped row";
    EXPECT_TRUE(ReadsReference(cursor, plane, -1, 2));
    ASSERT_PV_OK(cursor.Next()); // x 16: the next tile
    EXPECT_EQ(cursor.GetLockAtCount(), ++locks);

    ASSERT_PV_OK(cursor.LockAt(-4, 3)); // column 4 mirrored
    locks = cursor.GetLockAtCount();
    for (LONG i = 0; i < 4; ++i) {
        ASSERT_PV_OK(cursor.Next()); // -3 .. 0: mapped again at every step, then inside
        EXPECT_EQ(cursor.GetLockAtCount(), ++locks);
        EXPECT_TRUE(ReadsReference(cursor, plane, -1, 2));
    }
    ASSERT_PV_OK(cursor.Advance(2));
    ASSERT_PV_OK(cursor.Next());
    EXPECT_EQ(cursor.GetLockAtCount(), locks) << "inside again";

    ASSERT_PV_OK(cursor.LockAt(-2, 0)); // a mapped column: steps down it stay fast
    locks = cursor.GetLockAtCount();
    for (LONG i = 0; i < 10; ++i) {
        ASSERT_PV_OK(cursor.NextY());
        EXPECT_TRUE(ReadsReference(cursor, plane, -1, 2));
    }
    ASSERT_PV_OK(cursor.PrevY());
    EXPECT_EQ(cursor.GetLockAtCount(), locks);
    ASSERT_PV_OK(cursor.MoveBy(1)); // x mapped: MoveBy maps again
    EXPECT_EQ(cursor.GetLockAtCount(), ++locks);
    EXPECT_TRUE(ReadsReference(cursor, plane, -1, 2));
}

TEST_F(SourceTileCursorTest, AFailingSourceLeavesTheCursorWhereItWas) {
    const TestPlane plane = MakePlane(21, 14, PravonColorSpace::kRGB8, FillPattern::Random, 8);
    auto image = Image(plane, 7);
    ScriptedSource source(image.get());
    CSourceTileCursor cursor(&source, 2);
    ASSERT_PV_OK(cursor.LockAt(2, 3));
    ASSERT_PV_OK(cursor.LockAt(13, 3)); // the last column of the second tile
    const BYTE* before = cursor.GetPtr();

    for (bool* fail : {&source.failGetTile, &source.failLockTile}) {
        *fail = true;
        IPravonError* e = cursor.LockAt(16, 10);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->GetKind(), ScriptedSource::kFailKind);
        EXPECT_GT(e->GetCount(), 1u) << "the cursor adds its own entry";
        e->Release();
        EXPECT_PV_KIND(cursor.Next(), ScriptedSource::kFailKind) << "x 14 lies in the third tile";
        *fail = false;
        EXPECT_EQ(cursor.GetX(), 13);
        EXPECT_EQ(cursor.GetY(), 3);
        EXPECT_EQ(cursor.GetPtr(), before);
        EXPECT_TRUE(ReadsReference(cursor, plane, 1, 1));
        EXPECT_EQ(cursor.GetHeldCount(), 2);
        EXPECT_EQ(manager.GetLockCount(), 2);
        const int fetches = source.getTileCalls;
        ASSERT_PV_OK(cursor.LockAt(2, 3)); // both held tiles are still good
        EXPECT_TRUE(ReadsReference(cursor, plane, 1, 1));
        ASSERT_PV_OK(cursor.LockAt(13, 3));
        EXPECT_EQ(source.getTileCalls, fetches);
    }

    // A release that fails while a tile makes room is reported; the cursor is already at its new place.
    source.failUnlockTile = true;
    EXPECT_PV_KIND(cursor.LockAt(16, 10), ScriptedSource::kFailKind);
    EXPECT_TRUE(ReadsReference(cursor, plane, 1, 1));
    EXPECT_EQ(cursor.GetHeldCount(), 2);
    cursor.UnlockAll(); // failing releases are discarded
    EXPECT_EQ(cursor.GetHeldCount(), 0);
    EXPECT_EQ(manager.GetLockCount(), 0);
    source.failUnlockTile = false;

    source.failGeometry = true;
    const int fetches = source.getTileCalls;
    EXPECT_PV_KIND(cursor.LockAt(0, 0), ScriptedSource::kFailKind);
    EXPECT_EQ(source.getTileCalls, fetches);
    source.failGeometry = false;
    ASSERT_PV_OK(cursor.LockAt(0, 0));
    EXPECT_TRUE(ReadsReference(cursor, plane, 1, 1));
}

TEST_F(SourceTileCursorTest, HeldTilesAreReleasedByInitAndWhenTheCursorGoes) {
    const TestPlane plane = MakePlane(30, 30, PravonColorSpace::kGrey8, FillPattern::Random, 1);
    auto image = Image(plane, 7);
    {
        CSourceTileCursor cursor(image.get(), 4);
        for (LONG x = 0; x < 30; x += 7)
            ASSERT_PV_OK(cursor.LockAt(x, x));
        EXPECT_EQ(manager.GetLockCount(), 4);
        cursor.Init(image.get(), 0); // a capacity below 1 holds one tile
        EXPECT_EQ(manager.GetLockCount(), 0);
        EXPECT_EQ(cursor.GetCapacity(), 1);
        ASSERT_PV_OK(cursor.LockAt(1, 1));
        ASSERT_PV_OK(cursor.LockAt(20, 20));
        EXPECT_EQ(manager.GetLockCount(), 1);
    }
    EXPECT_EQ(manager.GetLockCount(), 0);
}

TEST_F(SourceTileCursorTest, BadSetUpIsRefusedWithAClearError) {
    CSourceTileCursor none(nullptr, 2);
    EXPECT_PV_KIND(none.LockAt(0, 0), PravonKind::kNoSource);

    const TestPlane plane = MakePlane(8, 8, PravonColorSpace::kGrey8, FillPattern::Coordinates);
    auto image = Image(plane, 7);
    CSourceTileCursor cursor(image.get(), 2);
    EXPECT_PV_KIND(cursor.SetEdgeModes(-2, 1), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(cursor.SetEdgeModes(1, -5), PravonKind::kOutOfRange);
    EXPECT_EQ(cursor.GetEdgeModeX(), 1);
    EXPECT_EQ(cursor.GetEdgeModeY(), 1);

    ASSERT_PV_OK(cursor.LockAt(kMax, 0));
    EXPECT_PV_KIND(cursor.Next(), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(cursor.Advance(kMax), PravonKind::kOutOfRange);
    EXPECT_EQ(cursor.GetX(), kMax);
    EXPECT_TRUE(ReadsReference(cursor, plane, 1, 1));
    ASSERT_PV_OK(cursor.LockAt(0, kMin));
    EXPECT_PV_KIND(cursor.PrevY(), PravonKind::kOutOfRange);
    EXPECT_TRUE(ReadsReference(cursor, plane, 1, 1));
}

} // namespace
