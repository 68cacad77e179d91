#include "rawlib/filters/dust/tests/DustScene.h"
#include "rawlib/settings/CKvDustRemoval.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "testing/PravonTestSupport.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace dusttest;

constexpr LONG kWidth = 160;
constexpr LONG kHeight = 120;
const std::vector<Spot> kSpots = {{40, 40, 0.5}, {110, 70, 0.55}};

// Every call of the progress callback, answering false at call `stopAt` (counted from 0; -1: never).
struct Recorder {
    std::vector<std::pair<LONG, LONG>> calls;
    int stopAt = -1;
    static bool Call(LONG kind, LONG percent, void* context) {
        auto* r = static_cast<Recorder*>(context);
        r->calls.emplace_back(kind, percent);
        return static_cast<int>(r->calls.size()) - 1 != r->stopAt;
    }
};

struct DustBuild : ::testing::Test {
    DustBuild()
        : manager(32), tags(SceneTags(false)),
          source(kvtest::MakeImage(manager, DustyRgb16(kWidth, kHeight, 30000, kSpots))) {
        const Bytes blob = SceneReference(ReferencePlane(kWidth, kHeight, kSpots));
        EXPECT_EQ(dust.LoadDustReference(&manager, blob.data(), static_cast<DWORD>(blob.size())), 0);
    }
    LONG Build(Recorder* recorder) {
        return dust.BuildDustMap(&manager, source.get(), tags.get(), true, false,
                                 recorder ? &Recorder::Call : nullptr, recorder);
    }
    static Bytes BlobOf(const CDustMap& map) {
        Bytes blob(map.GetDataSize());
        EXPECT_PV_OK(map.WriteData(static_cast<ULONG>(blob.size()), blob.data()));
        return blob;
    }

    CPravonMemoryManager manager;
    PravonTagControlPtr tags;
    PravonImagePtr source;
    CKvDustRemoval dust;
};

TEST_F(DustBuild, ABuildReportsItsProgressAndKeepsTheMap) {
    Recorder recorder;
    ASSERT_EQ(Build(&recorder), CKvDustRemoval::kBuilt);
    ASSERT_TRUE(dust.HasDustMap());
    EXPECT_TRUE(dust.GetDustMap()->IsComplete());
    ASSERT_GE(recorder.calls.size(), 3u);
    EXPECT_EQ(recorder.calls.front(), std::make_pair(0, 0));
    EXPECT_EQ(recorder.calls.back(), std::make_pair(2, 100));
    // The analysis takes the first 5 percent, the map the rest, and the steps never go back.
    LONG last = 0;
    bool sawAnalysis = false;
    for (std::size_t i = 1; i + 1 < recorder.calls.size(); ++i) {
        EXPECT_EQ(recorder.calls[i].first, 1);
        EXPECT_GE(recorder.calls[i].second, last);
        sawAnalysis |= recorder.calls[i].second < 5;
        last = recorder.calls[i].second;
    }
    EXPECT_TRUE(sawAnalysis);
    EXPECT_EQ(last, 100);
    // A copy builds its own map from the stored form, with the same bytes; so does self-assignment keep it.
    const Bytes blob = BlobOf(*dust.GetDustMap());
    CKvDustRemoval copy(dust);
    ASSERT_TRUE(copy.HasDustMap());
    EXPECT_NE(copy.GetDustMap(), dust.GetDustMap());
    EXPECT_EQ(BlobOf(*copy.GetDustMap()), blob);
    CKvDustRemoval& self = dust;
    dust = self;
    ASSERT_TRUE(dust.HasDustMap());
    EXPECT_EQ(BlobOf(*dust.GetDustMap()), blob);
    // The record round trip keeps the reference, from which the same map is built again.
    Bytes record(static_cast<std::size_t>(dust.WriteState(nullptr, 0)));
    ASSERT_EQ(dust.WriteState(record.data(), static_cast<int>(record.size())),
              static_cast<int>(record.size()));
    CKvDustRemoval read;
    ASSERT_EQ(read.ReadState(record.data(), static_cast<int>(record.size())),
              static_cast<int>(record.size()));
    EXPECT_FALSE(read.HasDustMap());
    ASSERT_EQ(read.BuildDustMap(&manager, source.get(), tags.get(), true, false, nullptr, nullptr), 0);
    EXPECT_EQ(BlobOf(*read.GetDustMap()), blob);
}

TEST_F(DustBuild, CancellingAnywhereLeavesNoMapWhileAFilterKeepsTheOldOne) {
    Recorder full;
    ASSERT_EQ(Build(&full), CKvDustRemoval::kBuilt);
    const std::shared_ptr<const CDustMap> held = dust.GetDustMap();
    const Bytes blob = BlobOf(*held);
    // The first call, one in the analysis, the first of the map and spread over the map's phases.
    const int calls = static_cast<int>(full.calls.size());
    for (int stopAt : {0, 1, 3, 8, calls / 4, calls / 2, calls - 3, calls - 2}) {
        SCOPED_TRACE(stopAt);
        Recorder recorder;
        recorder.stopAt = stopAt;
        EXPECT_EQ(Build(&recorder), CKvDustRemoval::kBuildCancelled);
        EXPECT_EQ(static_cast<int>(recorder.calls.size()), stopAt + 1);
        EXPECT_FALSE(dust.HasDustMap());
    }
    // The map that was handed out lives on unchanged.
    EXPECT_TRUE(held->IsComplete());
    EXPECT_EQ(BlobOf(*held), blob);
}

TEST_F(DustBuild, ResultsOfBuildsThatCannotRun) {
    Recorder recorder;
    EXPECT_EQ(dust.BuildDustMap(nullptr, source.get(), tags.get(), true, false, &Recorder::Call, &recorder),
              CKvDustRemoval::kBuildBadArgument);
    EXPECT_EQ(dust.BuildDustMap(&manager, source.get(), nullptr, true, false, &Recorder::Call, &recorder),
              CKvDustRemoval::kBuildBadArgument);
    EXPECT_TRUE(recorder.calls.empty());
    // Without reference bytes: 5, and the callback is never called.
    CKvDustRemoval empty;
    EXPECT_EQ(empty.BuildDustMap(&manager, source.get(), tags.get(), true, false, &Recorder::Call, &recorder),
              CKvDustRemoval::kBuildNoReference);
    EXPECT_TRUE(recorder.calls.empty());
    // Bytes that are no reference: 5 after the first call.
    CKvDustRemoval junk;
    const Bytes bytes(64, 0x5A);
    ASSERT_EQ(junk.LoadDustReference(&manager, bytes.data(), static_cast<DWORD>(bytes.size())), 0);
    EXPECT_EQ(junk.BuildDustMap(&manager, source.get(), tags.get(), true, false, &Recorder::Call, &recorder),
              CKvDustRemoval::kBuildNoReference);
    EXPECT_EQ(recorder.calls.size(), 1u);
    // An image of another camera than the reference's: an error, and no map.
    CameraTags other = DefaultCameraTags();
    other.cameraModel = 258;
    PravonTagControlPtr otherTags = MakeTags(other);
    ASSERT_EQ(Build(nullptr), CKvDustRemoval::kBuilt);
    EXPECT_EQ(dust.BuildDustMap(&manager, source.get(), otherTags.get(), true, false, nullptr, nullptr),
              CKvDustRemoval::kBuildFailed);
    EXPECT_FALSE(dust.HasDustMap());
}

TEST_F(DustBuild, TheDevelopmentsFormReportsUnderItsCategory) {
    struct Seen {
        std::vector<LONG> categories;
        bool answer = true;
    } seen;
    const auto progress = [](LONG category, LONG, void* context) {
        auto* s = static_cast<Seen*>(context);
        s->categories.push_back(category);
        return s->answer;
    };
    ASSERT_PV_OK(dust.ComputeDustMap(&manager, source.get(), tags.get(), true, false, progress, &seen));
    EXPECT_TRUE(dust.HasDustMap());
    ASSERT_FALSE(seen.categories.empty());
    for (LONG category : seen.categories)
        EXPECT_EQ(category, CKvDustRemoval::kDustCategory);
    seen.answer = false;
    EXPECT_PV_KIND(dust.ComputeDustMap(&manager, source.get(), tags.get(), true, false, progress, &seen),
                   PravonKind::kInvalidState);
    EXPECT_FALSE(dust.HasDustMap());
}

} // namespace
