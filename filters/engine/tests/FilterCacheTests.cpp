#include "filters/engine/CPravonFilterIntermediateCache.h"
#include "filters/tests/ProbeFilter.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

namespace {

using namespace kvtest;

// A 40 x 20 RGB source under a probe filter, tiles of 16: 3 x 2 output tiles.
struct Cached {
    Cached()
        : manager(16), plane(MakePlane(40, 20, PravonColorSpace::kRGB8, FillPattern::Coordinates)),
          source(MakeImage(manager, plane)), filter(&manager) {
        EXPECT_PV_OK(PravonConnect(source.get(), &filter));
    }
    IPravonError* Lock(LONG column, LONG row) {
        void* data = nullptr;
        if (IPravonError* e = filter.LockTile(column, row, &data, nullptr))
            return e;
        return filter.UnlockTile(column, row);
    }
    IPravonError* Changed(const PravonRect& rect) {
        PravonRect r = rect;
        return PravonSendDataNotification(source.get(), PravonNotification::kData, &r);
    }
    CPravonMemoryManager manager;
    TestPlane plane;
    PravonImagePtr source;
    ProbeFilter filter;
};

TEST(FilterCache, ATileIsGeneratedOnceAndThenServedFromTheCache) {
    Cached c;
    ASSERT_PV_OK(c.Lock(2, 1));
    ASSERT_PV_OK(c.Lock(2, 1));
    ASSERT_EQ(c.filter.calls.size(), 1u);
    EXPECT_EQ(c.filter.calls[0].invalid, CPravonRect(32, 16, 40, 20)) << "the edge tile is cut to the image";
    EXPECT_EQ(c.filter.calls[0].info, nullptr) << "on demand, the filter reads its own sources";
    EXPECT_EQ(c.manager.GetLockCount(), 0);
}

// The count says how many cache tiles the filter computed: each tile once, again only after a change.
TEST(FilterCache, TheGeneratedTileCountCountsOnlyTilesComputed) {
    Cached c;
    TestPlane out;
    ASSERT_PV_OK(PullAll(&c.filter, &out));
    EXPECT_EQ(c.filter.GetGeneratedTileCount(), 6u);
    ASSERT_PV_OK(PullAll(&c.filter, &out, PullOrder::RandomOrder));
    EXPECT_EQ(c.filter.GetGeneratedTileCount(), 6u) << "the second pull is served from the cache";
    ASSERT_PV_OK(c.Changed(CPravonRect(20, 3, 25, 9)));
    ASSERT_PV_OK(PullAll(&c.filter, &out));
    EXPECT_EQ(c.filter.GetGeneratedTileCount(), 7u) << "the change lies in one tile";
    c.filter.ResetGeneratedTileCount();
    ASSERT_PV_OK(c.filter.Enable(false, true));
    ASSERT_PV_OK(PullAll(&c.filter, &out));
    EXPECT_EQ(c.filter.GetGeneratedTileCount(), 0u) << "a disabled filter answers from its source";
}

TEST(FilterCache, ADataChangeRegeneratesOnlyThePartItNamed) {
    Cached c;
    TestPlane out;
    ASSERT_PV_OK(PullAll(&c.filter, &out));
    c.filter.calls.clear();

    TestPlane changed = MakePlane(40, 20, PravonColorSpace::kRGB8, FillPattern::Random, 9);
    for (LONG y = 0; y < 20; ++y)
        for (LONG x = 0; x < 40; ++x)
            if (!(x >= 20 && x < 25 && y >= 3 && y < 9))
                for (LONG ch = 0; ch < 3; ++ch)
                    changed.SetSample(x, y, ch, c.plane.Sample(x, y, ch));
    ASSERT_PV_OK(WritePlane(c.source.get(), changed));
    ASSERT_PV_OK(c.Changed(CPravonRect(20, 3, 25, 9)));

    ASSERT_PV_OK(PullAll(&c.filter, &out, PullOrder::RandomOrder));
    ASSERT_EQ(c.filter.calls.size(), 1u);
    EXPECT_EQ(c.filter.calls[0].invalid, CPravonRect(20, 3, 25, 9));
    EXPECT_TRUE(PlanesMatch(c.filter.Expected(changed), out));
}

TEST(FilterCache, AChangedRectangleIsCutToTheImage) {
    Cached c;
    TestPlane out;
    ASSERT_PV_OK(PullAll(&c.filter, &out));
    c.filter.calls.clear();
    ASSERT_PV_OK(c.Changed(CPravonRect(35, -4, 90, 6)));
    ASSERT_PV_OK(PullAll(&c.filter, &out));
    ASSERT_EQ(c.filter.calls.size(), 1u);
    EXPECT_EQ(c.filter.calls[0].invalid, CPravonRect(35, 0, 40, 6));

    c.filter.calls.clear();
    ASSERT_PV_OK(c.Changed(CPravonRect(40, 17, 40, 17)));
    ASSERT_PV_OK(PullAll(&c.filter, &out));
    ASSERT_EQ(c.filter.calls.size(), 1u) << "an empty change at the right edge still reaches the last column";
    EXPECT_EQ(c.filter.calls[0].invalid, CPravonRect(39, 17, 40, 18));

    c.filter.calls.clear();
    ASSERT_PV_OK(c.Changed(CPravonRect(12, 9, 12, 5)));
    ASSERT_PV_OK(PullAll(&c.filter, &out));
    ASSERT_EQ(c.filter.calls.size(), 1u) << "an empty or inverted change still names one pixel";
    EXPECT_EQ(c.filter.calls[0].invalid, CPravonRect(12, 9, 13, 10));
}

TEST(FilterCache, AFailedGenerationIsRetriedAndReportedAgain) {
    Cached c;
    c.filter.failures = 2;
    c.filter.failKind = PravonKind::kOutOfRange;
    void* data = nullptr;
    EXPECT_PV_KIND(c.filter.LockTile(0, 0, &data, nullptr), PravonKind::kOutOfRange);
    EXPECT_EQ(c.manager.GetLockCount(), 0) << "a failed lock leaves nothing locked";
    EXPECT_PV_KIND(c.filter.LockTile(0, 0, &data, nullptr), PravonKind::kOutOfRange);
    ASSERT_PV_OK(c.Lock(0, 0));
    EXPECT_EQ(c.filter.calls.size(), 3u);
    TestPlane out;
    ASSERT_PV_OK(PullAll(&c.filter, &out));
    EXPECT_TRUE(PlanesMatch(c.filter.Expected(c.plane), out));
}

TEST(FilterCache, AnExceptionWhileATileIsMadeLeavesItUnlockedAndToBeMadeAgain) {
    Cached c;
    c.filter.during = [] { throw std::length_error("the probe gave up"); };
    void* data = nullptr;
    EXPECT_PV_KIND(c.filter.LockTile(1, 0, &data, nullptr), PravonKind::kInvalidState);
    EXPECT_EQ(c.manager.GetLockCount(), 0) << "neither the output tile nor a source tile stays locked";
    c.filter.during = nullptr;
    ASSERT_PV_OK(c.Lock(1, 0));
    ASSERT_EQ(c.filter.calls.size(), 2u);
    EXPECT_EQ(c.filter.calls[1].invalid, CPravonRect(16, 0, 32, 16)) << "the whole tile is made again";
    TestPlane out;
    ASSERT_PV_OK(PullAll(&c.filter, &out));
    EXPECT_TRUE(PlanesMatch(c.filter.Expected(c.plane), out));
}

// A probe whose output geometry cannot be read while failures are left: the colour space fails after the
// size has been read.
class UnsettledProbe : public ProbeFilter {
public:
    using ProbeFilter::ProbeFilter;
    IPravonError* GetFilteredColorSpace(IPravonDataSource* const* sources, LONG count,
                                        LONG* colorSpace) override {
        if (failures > 0) {
            --failures;
            return PravonFail(kCode, PravonKind::kOutOfRange, "no colour space yet");
        }
        return ProbeFilter::GetFilteredColorSpace(sources, count, colorSpace);
    }
    int failures = 0;
};

TEST(FilterCache, AFailedCacheCheckIsMadeAgainOnTheNextUse) {
    CPravonMemoryManager manager(16);
    const TestPlane small = MakePlane(20, 10, PravonColorSpace::kRGB8, FillPattern::Coordinates);
    PravonImagePtr source = MakeImage(manager, small);
    UnsettledProbe filter(&manager);
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    TestPlane out;
    ASSERT_PV_OK(PullAll(&filter, &out));
    EXPECT_FALSE(filter.IsCacheCheckSet());

    // The source grows; the check that follows fails twice and must not be taken as done.
    const TestPlane large = MakePlane(40, 20, PravonColorSpace::kRGB8, FillPattern::Random, 3);
    ASSERT_PV_OK(source->SetSize(40, 20));
    ASSERT_PV_OK(WritePlane(source.get(), large));
    IPravonDataDestination::ChangeSize change{20, 10, 40, 20};
    filter.failures = 2;
    ASSERT_PV_OK(PravonSendDataNotification(source.get(), PravonNotification::kSize, &change));
    LONG width = 0;
    EXPECT_PV_KIND(filter.GetWidth(&width), PravonKind::kOutOfRange);
    EXPECT_TRUE(filter.IsCacheCheckSet());
    void* data = nullptr;
    EXPECT_PV_KIND(filter.LockTile(0, 0, &data, nullptr), PravonKind::kOutOfRange);
    EXPECT_TRUE(filter.IsCacheCheckSet());
    EXPECT_EQ(manager.GetLockCount(), 0);

    ASSERT_PV_OK(filter.GetWidth(&width));
    EXPECT_EQ(width, 40);
    EXPECT_FALSE(filter.IsCacheCheckSet());
    ASSERT_PV_OK(PullAll(&filter, &out));
    EXPECT_TRUE(PlanesMatch(filter.Expected(large), out)) << "no tile of the old geometry is served";
    ASSERT_PV_OK(PravonDisconnect(source.get(), &filter));
}

TEST(FilterCache, AnInvalidationDuringGenerationIsKeptForTheNextLock) {
    Cached c;
    bool once = true;
    c.filter.during = [&] {
        if (once) {
            once = false;
            PravonErrorPtr(c.filter.InvalidateCache(CPravonRect(2, 2, 5, 5)));
        }
    };
    ASSERT_PV_OK(c.Lock(0, 0));
    ASSERT_PV_OK(c.Lock(0, 0));
    ASSERT_EQ(c.filter.calls.size(), 2u);
    EXPECT_EQ(c.filter.calls[1].invalid, CPravonRect(2, 2, 5, 5));
    ASSERT_PV_OK(c.Lock(0, 0));
    EXPECT_EQ(c.filter.calls.size(), 2u);
}

TEST(FilterCache, TheGridFormReportsTheTileAndRefusesOtherGrids) {
    Cached c;
    IPravonTileGrid* grid = nullptr;
    ASSERT_PV_OK(c.filter.MapRect(CPravonRect(10, 10, 36, 18), &grid));
    ASSERT_EQ(grid->GetColumnCount(), 3);
    void* data = nullptr;
    PravonRect tileRect;
    PravonRect clip;
    LONG rowBytes = 0;
    ASSERT_PV_OK(c.filter.LockTile(grid, 2, 1, &data, &tileRect, &clip, &rowBytes));
    EXPECT_EQ(tileRect, CPravonRect(32, 16, 40, 20));
    EXPECT_EQ(clip, CPravonRect(32, 16, 36, 18));
    EXPECT_EQ(rowBytes, IPravonDataSource::RowBytesFor(16, PravonColorSpace::kRGB8));
    EXPECT_PV_OK(c.filter.UnlockTile(grid, 2, 1));
    grid->Release();

    ASSERT_PV_OK(c.source->MapRect(CPravonRect(0, 0, 8, 8), &grid));
    EXPECT_PV_KIND(c.filter.LockTile(grid, 0, 0, &data, nullptr, nullptr, nullptr), PravonKind::kBadArgument);
    grid->Release();
    EXPECT_PV_KIND(c.filter.UnlockTile(1, 0), PravonKind::kBadArgument) << "nothing was locked there";
    EXPECT_EQ(c.manager.GetLockCount(), 0);
}

TEST(FilterCache, TheOutputIsTheSameAtEveryTileSizeAndPullOrder) {
    const TestPlane plane = MakePlane(45, 29, PravonColorSpace::kRGB16, FillPattern::Random, 4);
    TestPlane first;
    ProbeFilter* probe = nullptr;
    EXPECT_TRUE(SameAtEveryTileSize(
        [&](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
            IPravonImage* source = graph.Own(MakeImage(manager, plane));
            probe = graph.Own(new ProbeFilter(&manager, 3));
            graph.output = probe;
            return PravonConnect(source, probe);
        },
        &first));
    EXPECT_TRUE(PlanesMatch(ProbeFilter(nullptr, 3).Expected(plane), first));
}

// Fills its tiles with one byte value; fails while failures are left.
class ConstantIntermediate : public CPravonFilterBase::CIntermediateCache {
public:
    using CIntermediateCache::CIntermediateCache;
    IPravonError* GenerateTile(IPravonTile* tile, CPravonFilterBase::CProcessInfo*) override {
        ++calls;
        if (failures > 0) {
            --failures;
            return IPravonError::Add(nullptr, 1, __LINE__, PravonKind::kOutOfRange);
        }
        void* data = nullptr;
        if (IPravonError* e = tile->Lock(&data, nullptr))
            return e;
        std::memset(data, 0x5A, static_cast<std::size_t>(tile->GetRowBytes()) * 8);
        return tile->Unlock();
    }
    bool WritesWholeInvalidArea() const override { return writesWhole; }
    int calls = 0;
    int failures = 0;
    bool writesWhole = false;
};

TEST(FilterCache, WhatAGeneratorDeclaresAboutItsWritesReachesItsImage) {
    for (bool writesWhole : {false, true}) {
        Cached c;
        c.filter.writesWhole = writesWhole;
        ASSERT_PV_OK(c.Lock(0, 0));
        ASSERT_NE(c.filter.GetCacheImage(), nullptr);
        EXPECT_EQ(c.filter.GetCacheImage()->GetGeneratorWritesInvalidArea(), writesWhole);

        PravonImagePtr owner(new ConstantIntermediate(&c.filter, nullptr));
        auto* intermediate = static_cast<ConstantIntermediate*>(owner.get());
        intermediate->writesWhole = writesWhole;
        ASSERT_PV_OK(intermediate->CreateImage());
        EXPECT_EQ(intermediate->GetGeneratorWritesInvalidArea(), writesWhole);
        EXPECT_EQ(intermediate->GetIntermediateImage()->GetGeneratorWritesInvalidArea(), writesWhole);
    }
}

TEST(FilterCache, AnIntermediateImageGeneratesItsTilesOnDemand) {
    Cached c;
    PravonImagePtr owner(new ConstantIntermediate(&c.filter, nullptr));
    auto* intermediate = static_cast<ConstantIntermediate*>(owner.get());
    LONG width = 0;
    EXPECT_PV_KIND(intermediate->GetWidth(&width), PravonKind::kInvalidState);
    ASSERT_PV_OK(intermediate->CreateImage());
    ASSERT_PV_OK(intermediate->SetColorSpace(PravonColorSpace::kGrey8));
    ASSERT_PV_OK(intermediate->SetSize(20, 8));
    ASSERT_PV_OK(intermediate->GetWidth(&width));
    EXPECT_EQ(width, 20);

    intermediate->failures = 1;
    void* data = nullptr;
    EXPECT_PV_KIND(intermediate->LockTile(1, 0, &data, nullptr), PravonKind::kOutOfRange);
    ASSERT_PV_OK(intermediate->LockTile(1, 0, &data, nullptr));
    EXPECT_EQ(static_cast<BYTE*>(data)[0], 0x5A);
    ASSERT_PV_OK(intermediate->UnlockTile(1, 0));
    ASSERT_PV_OK(intermediate->LockTile(1, 0, &data, nullptr));
    ASSERT_PV_OK(intermediate->UnlockTile(1, 0));
    EXPECT_EQ(intermediate->calls, 2) << "a failed tile is generated again, a good one is not";

    ASSERT_PV_OK(intermediate->InvalidateRect(CPravonRect(17, 2, 18, 3)));
    ASSERT_PV_OK(intermediate->LockTile(1, 0, &data, nullptr));
    ASSERT_PV_OK(intermediate->UnlockTile(1, 0));
    EXPECT_EQ(intermediate->calls, 3);
    EXPECT_EQ(c.manager.GetLockCount(), 0);
}

} // namespace
