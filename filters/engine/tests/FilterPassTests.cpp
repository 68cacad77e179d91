#include "filters/tests/ProbeFilter.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using namespace kvtest;

// Records the steps Process takes.
class PassProbe : public ProbeFilter {
public:
    using ProbeFilter::ProbeFilter;
    IPravonError* ExecuteProcess(LONG id, LONG* done, LONG* total) override {
        LONG d = -1;
        LONG t = -1;
        IPravonError* err = ProbeFilter::ExecuteProcess(id, &d, &t);
        steps.emplace_back(d, t);
        if (done)
            *done = d;
        if (total)
            *total = t;
        return err;
    }
    IPravonError* EndProcess(LONG id) override {
        ++ended;
        return ProbeFilter::EndProcess(id);
    }
    CProcessInfo* AllocateProcessInfo(LONG id, IPravonDataSource* const* sources, LONG count,
                                      IPravonImage* image) override {
        return refuseInfo ? nullptr : ProbeFilter::AllocateProcessInfo(id, sources, count, image);
    }
    std::vector<std::pair<LONG, LONG>> steps;
    int ended = 0;
    bool refuseInfo = false;
};

struct Pass {
    explicit Pass(const TestPlane& p)
        : manager(16), plane(p), source(MakeImage(manager, plane)), filter(&manager) {
        IPravonImage* image = nullptr;
        EXPECT_PV_OK(manager.CreateImage(1, &image));
        target.reset(image);
    }
    Pass() : Pass(MakePlane(40, 20, PravonColorSpace::kRGB8, FillPattern::Random, 2)) {}
    IPravonDataSource* sources[1] = {nullptr};
    IPravonDataSource* const* Sources() {
        sources[0] = source.get();
        return sources;
    }
    CPravonMemoryManager manager;
    TestPlane plane;
    PravonImagePtr source;
    PravonImagePtr target;
    PassProbe filter;
};

TEST(FilterPass, AThreeByTwoPassReportsEachTileOfSix) {
    Pass p;
    ASSERT_PV_OK(p.filter.Process(p.Sources(), 1, p.target.get()));
    const std::vector<std::pair<LONG, LONG>> expected = {{1, 6}, {2, 6}, {3, 6}, {4, 6}, {5, 6}, {6, 6}};
    EXPECT_EQ(p.filter.steps, expected);
    EXPECT_EQ(p.filter.ended, 1);
    ASSERT_EQ(p.filter.calls.size(), 6u);
    EXPECT_NE(p.filter.calls[0].info, nullptr) << "a pass reads the sources it was given";
    TestPlane out;
    ASSERT_PV_OK(PullAll(p.target.get(), &out));
    EXPECT_TRUE(PlanesMatch(p.filter.Expected(p.plane), out));
    EXPECT_EQ(p.filter.GetCacheImage(), nullptr) << "a pass does not go through the cache";
    EXPECT_EQ(p.manager.GetLockCount(), 0);
}

TEST(FilterPass, AFinishedPassReportsNothingLeftUntilItIsEnded) {
    Pass p;
    LONG id = 0;
    ASSERT_PV_OK(p.filter.BeginProcess(&id, p.Sources(), 1, p.target.get()));
    LONG done = 0;
    LONG total = 1;
    for (int i = 0; i < 6; ++i)
        ASSERT_PV_OK(p.filter.ExecuteProcess(id, &done, &total));
    EXPECT_EQ(done, 6);
    ASSERT_PV_OK(p.filter.ExecuteProcess(id, &done, &total));
    EXPECT_EQ(done, 0);
    EXPECT_EQ(total, 0);
    ASSERT_PV_OK(p.filter.ExecuteProcess(id, nullptr, nullptr));
    EXPECT_EQ(p.filter.calls.size(), 6u);
    ASSERT_PV_OK(p.filter.EndProcess(id));
    EXPECT_PV_KIND(p.filter.ExecuteProcess(id, &done, &total), PravonKind::kNoSuchPass);
}

TEST(FilterPass, APassThroughPassCopiesTheSourceWithoutProcessTile) {
    for (LONG colorSpace : {PravonColorSpace::kRGB16, LONG{0x01020001}}) {
        Pass p(MakePlane(37, 21, colorSpace, FillPattern::Random, 8));
        p.filter.SetPassThrough(true);
        ASSERT_PV_OK(p.filter.Process(p.Sources(), 1, p.target.get()));
        EXPECT_TRUE(p.filter.calls.empty());
        TestPlane out;
        ASSERT_PV_OK(PullAll(p.target.get(), &out));
        EXPECT_TRUE(PlanesMatch(p.plane, out)) << "colour space " << std::hex << colorSpace;
        EXPECT_EQ(p.manager.GetLockCount(), 0);
    }
}

TEST(FilterPass, APassOverAnEmptyOutputEndsAtOnce) {
    for (auto [w, h] : {std::pair<LONG, LONG>{0, 5}, {5, 0}, {0, 0}}) {
        Pass p(MakePlane(w, h, PravonColorSpace::kGrey8, FillPattern::Constant));
        ASSERT_PV_OK(p.filter.Process(p.Sources(), 1, p.target.get()));
        EXPECT_EQ(p.filter.steps, (std::vector<std::pair<LONG, LONG>>{{0, 0}})) << w << " x " << h;
        EXPECT_TRUE(p.filter.calls.empty());
    }
}

TEST(FilterPass, PassesAreNamedAndSeveralMayBeOpen) {
    Pass p;
    TestPlane other = MakePlane(20, 10, PravonColorSpace::kRGB8, FillPattern::Gradient);
    auto otherSource = MakeImage(p.manager, other);
    IPravonImage* second = nullptr;
    ASSERT_PV_OK(p.manager.CreateImage(1, &second));
    PravonImagePtr secondTarget(second);
    IPravonDataSource* const otherSources[1] = {otherSource.get()};

    LONG a = 0;
    LONG b = 0;
    ASSERT_PV_OK(p.filter.BeginProcess(&a, p.Sources(), 1, p.target.get()));
    ASSERT_PV_OK(p.filter.BeginProcess(&b, otherSources, 1, second));
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 2);
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    IPravonImage* image = nullptr;
    ASSERT_PV_OK(p.filter.GetProcessInfo(b, &sources, &count, &image));
    EXPECT_EQ(count, 1);
    EXPECT_EQ(sources[0], otherSource.get());
    EXPECT_EQ(image, second);

    LONG done = 0;
    LONG total = 1;
    ASSERT_PV_OK(p.filter.ExecuteProcess(b, &done, &total));
    ASSERT_PV_OK(p.filter.ExecuteProcess(a, &done, &total));
    EXPECT_EQ(done, 1);
    EXPECT_EQ(total, 6);
    ASSERT_PV_OK(p.filter.ExecuteProcess(b, &done, &total));
    EXPECT_EQ(done, 2);
    EXPECT_EQ(total, 2);
    ASSERT_PV_OK(p.filter.EndProcess(a));
    ASSERT_PV_OK(p.filter.EndProcess(b));
    TestPlane out;
    ASSERT_PV_OK(PullAll(second, &out));
    EXPECT_TRUE(PlanesMatch(p.filter.Expected(other), out));
}

TEST(FilterPass, UnknownPassIdsAreRefused) {
    Pass p;
    LONG done = 0;
    EXPECT_PV_KIND(p.filter.ExecuteProcess(1, &done, nullptr), PravonKind::kNoSuchPass);
    EXPECT_PV_KIND(p.filter.GetProcessInfo(7, nullptr, nullptr, nullptr), PravonKind::kNoSuchPass);
    EXPECT_PV_KIND(p.filter.EndProcess(0), PravonKind::kNoSuchPass);
}

TEST(FilterPass, AFailingTileEndsThePassWithItsError) {
    Pass p;
    p.filter.failures = 1;
    EXPECT_PV_KIND(p.filter.Process(p.Sources(), 1, p.target.get()), PravonKind::kInvalidState);
    EXPECT_EQ(p.filter.ended, 1);
    EXPECT_PV_KIND(p.filter.GetProcessInfo(1, nullptr, nullptr, nullptr), PravonKind::kNoSuchPass);
    EXPECT_EQ(p.manager.GetLockCount(), 0);
}

TEST(FilterPass, APassWithoutItsRecordReportsOutOfMemory) {
    Pass p;
    p.filter.refuseInfo = true;
    LONG id = 0;
    EXPECT_PV_KIND(p.filter.BeginProcess(&id, p.Sources(), 1, p.target.get()), PravonKind::kOutOfMemory);
    EXPECT_PV_KIND(p.filter.Process(nullptr, 0, p.target.get()), PravonKind::kNoSource);
    EXPECT_EQ(p.filter.ended, 0) << "a pass that never opened is not ended";
}

} // namespace
