#include "rawlib/filters/CCMLEngMgr.h"

#include "platform/win/FourCC.h"
#include "testing/IccTestProfiles.h"
#include "testing/PravonTestSupport.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>

namespace {

using Holder = CCMLEngMgr::Holder;
using kvtest::IccTestProfile;

struct EngineCounts {
    int made = 0;
    int destroyed = 0;
    int Live() const { return made - destroyed; }
};

class CountedEngine : public CPravonFilterCMLEngine {
public:
    explicit CountedEngine(EngineCounts* counts) : m_counts(counts) { ++m_counts->made; }
    ~CountedEngine() override { ++m_counts->destroyed; }

private:
    EngineCounts* m_counts;
};

// A cache whose engines count themselves, and which can be made to find no memory for a new one.
class CountingCache : public CCMLEngMgr {
public:
    explicit CountingCache(EngineCounts* counts) : m_counts(counts) {}
    bool outOfMemory = false;

protected:
    CPravonFilterCMLEngine* NewEngine() override {
        return outOfMemory ? nullptr : new CountedEngine(m_counts);
    }

private:
    EngineCounts* m_counts;
};

class EngineCache : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_PV_OK(cache->SetIdleLimit(4)); }

    // Acquires the pair into the holder, which must succeed, and returns the engine.
    CPravonFilterCMLEngine* Acquire(const std::string& source, const std::string& destination,
                                    Holder* holder) {
        EXPECT_PV_OK(cache->AcquireEngine(source.c_str(), destination.c_str(), holder));
        return holder->Get();
    }
    // Acquires the pair and lets it go at once, leaving its engine idle.
    CPravonFilterCMLEngine* AcquireAndRelease(const std::string& source, const std::string& destination) {
        Holder holder;
        return Acquire(source, destination, &holder);
    }
    // Acquires the pairs, all held together, then lets them go in the same order.
    template <std::size_t N>
    void AcquireAllThenRelease(const std::pair<std::string, std::string> (&pairs)[N],
                               CPravonFilterCMLEngine* (&engines)[N]) {
        Holder holders[N];
        for (std::size_t i = 0; i < N; ++i)
            engines[i] = Acquire(pairs[i].first, pairs[i].second, &holders[i]);
        for (Holder& holder : holders)
            holder = nullptr;
    }
    std::string SourceOf(CPravonFilterCMLEngine* engine) {
        PravonFile source;
        engine->GetProfiles(&source, nullptr, nullptr);
        return source.path;
    }

    kvtest::TempFolder folder;
    const std::string srgb = kvtest::WriteIccTestProfile(folder, IccTestProfile::SRGB, "srgb.icc");
    const std::string wide = kvtest::WriteIccTestProfile(folder, IccTestProfile::WideGamut, "wide.icc");
    const std::string gamma = kvtest::WriteIccTestProfile(folder, IccTestProfile::Gamma22, "gamma.icc");
    EngineCounts counts;
    std::unique_ptr<CountingCache> cache = std::make_unique<CountingCache>(&counts);
};

TEST_F(EngineCache, HoldersOfTheSamePairShareOneEngineThatStaysWhileHeldAndIdlesWhenLetGo) {
    Holder first, second;
    CPravonFilterCMLEngine* engine = Acquire(srgb, wide, &first);
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(Acquire(srgb, wide, &second), engine);
    EXPECT_EQ(counts.made, 1);
    EXPECT_EQ(engine->GetManager(), cache.get());
    EXPECT_EQ(engine->GetAutoDeleteThreshold(), 1);

    bool dirty = false;
    EXPECT_PV_OK(engine->ResetParameters(&dirty));
    EXPECT_NE(engine->GetCMLTransform(), nullptr) << "a working transform for the pair";

    first = nullptr;
    EXPECT_EQ(cache->GetIdleCount(), 0) << "still held by the second holder";
    second = nullptr;
    EXPECT_EQ(cache->GetIdleCount(), 1);
    EXPECT_EQ(counts.destroyed, 0) << "an idle engine is kept";
    EXPECT_EQ(engine->GetAutoDeleteThreshold(), 1) << "restored after the cache's own bookkeeping";

    EXPECT_EQ(Acquire(srgb, wide, &first), engine) << "handed out again for its pair";
    EXPECT_EQ(cache->GetIdleCount(), 0);
    EXPECT_EQ(counts.made, 1);
}

TEST_F(EngineCache, DifferentPairsAndLetterCaseGiveDifferentEngines) {
    const std::string upper = kvtest::WriteIccTestProfile(folder, IccTestProfile::SRGB, "SRGB.icc");
    Holder a, b, c, d;
    CPravonFilterCMLEngine* forward = Acquire(srgb, wide, &a);
    CPravonFilterCMLEngine* backward = Acquire(wide, srgb, &b);
    CPravonFilterCMLEngine* other = Acquire(srgb, gamma, &c);
    CPravonFilterCMLEngine* cased = Acquire(upper, wide, &d);
    EXPECT_NE(forward, backward);
    EXPECT_NE(forward, other);
    EXPECT_NE(forward, cased);
    EXPECT_EQ(cache->GetEntryCount(), 4);
    EXPECT_EQ(SourceOf(cased), upper);
}

TEST_F(EngineCache, WithIdleLimitZeroTheLastOutsideHolderRetiresTheEngine) {
    ASSERT_PV_OK(cache->SetIdleLimit(0));
    Holder first, second;
    Acquire(srgb, wide, &first);
    second = first;
    first = nullptr;
    EXPECT_EQ(counts.destroyed, 0);
    second = nullptr;
    EXPECT_EQ(counts.destroyed, 1) << "deleted while it reported its last holder going";
    EXPECT_EQ(cache->GetEntryCount(), 0);

    Acquire(srgb, wide, &first);
    EXPECT_EQ(counts.made, 2) << "the pair gets a new engine";
}

TEST_F(EngineCache, TheIdleQueueKeepsTheNewestAndANewPairReusesTheOldestIdleEngine) {
    const std::pair<std::string, std::string> pairs[] = {
        {srgb, wide}, {srgb, gamma}, {wide, srgb}, {wide, gamma}, {gamma, srgb}};
    CPravonFilterCMLEngine* engines[5] = {};
    AcquireAllThenRelease(pairs, engines);
    EXPECT_EQ(counts.made, 5);
    EXPECT_EQ(counts.destroyed, 1) << "the first pair's engine went when the fifth went idle";
    EXPECT_EQ(cache->GetIdleCount(), 4);
    EXPECT_EQ(cache->GetEntryCount(), 4);

    Holder holder;
    EXPECT_EQ(Acquire(gamma, wide, &holder), engines[1]) << "the oldest idle engine object, reused";
    EXPECT_EQ(counts.made, 5);
    EXPECT_EQ(SourceOf(engines[1]), gamma);
    EXPECT_EQ(cache->GetIdleCount(), 3);
    EXPECT_EQ(cache->GetEntryCount(), 4);

    Holder again;
    EXPECT_EQ(Acquire(wide, gamma, &again), engines[3]) << "an idle pair gets its own engine back";
    EXPECT_EQ(cache->GetIdleCount(), 2);
    EXPECT_EQ(Acquire(srgb, wide, &again), engines[2])
        << "the first pair, gone, takes the oldest idle engine once the fourth pair's is let go";
    EXPECT_EQ(cache->GetIdleCount(), 2);
    EXPECT_EQ(counts.made, 5);
}

TEST_F(EngineCache, AReusedEngineIsConfiguredAfreshForItsNewPair) {
    {
        Holder holder;
        CPravonFilterCMLEngine* engine = Acquire(srgb, wide, &holder);
        ASSERT_PV_OK(engine->SetRenderingIntent(2));
        ASSERT_PV_OK(engine->SetProofMode(false));
    }
    Holder holder;
    CPravonFilterCMLEngine* engine = Acquire(wide, gamma, &holder);
    EXPECT_EQ(counts.made, 1);
    EXPECT_EQ(engine->GetRenderingIntent(), 0);
    EXPECT_TRUE(engine->IsProofMode());
    PravonFile source, destination, proof;
    engine->GetProfiles(&source, &destination, &proof);
    EXPECT_EQ(source.path, wide);
    EXPECT_EQ(destination.path, gamma);
    EXPECT_EQ(proof.path, gamma) << "proofed against its destination";
    char signature[4] = {};
    LONG channels = 0;
    engine->GetProfileInfo(true, signature, &channels);
    EXPECT_EQ(channels, 3);
}

TEST_F(EngineCache, ADestinationNamedWithThePercentUnderscorePrefixIsProofedWithoutIt) {
    const std::string prefixed = kvtest::WriteIccTestProfile(folder, IccTestProfile::WideGamut, "%_wide.icc");
    PravonFile proof;
    Holder holder;
    Acquire(srgb, prefixed, &holder)->GetProfiles(nullptr, nullptr, &proof);
    EXPECT_EQ(proof.path, folder.File("wide.icc"));

    const std::string backslashed = folder.Path() + "\\%_wide.icc";
    Holder other;
    Acquire(gamma, backslashed, &other)->GetProfiles(nullptr, nullptr, &proof);
    EXPECT_EQ(proof.path, folder.Path() + "\\wide.icc") << "either separator ends the folder";

    std::filesystem::create_directory(folder.File("%_dir"));
    const std::string inFolder = folder.File("%_dir/wide.icc");
    std::filesystem::copy_file(wide, inFolder);
    Holder third;
    Acquire(srgb, inFolder, &third)->GetProfiles(nullptr, nullptr, &proof);
    EXPECT_EQ(proof.path, inFolder) << "only the file name's prefix counts";
}

TEST_F(EngineCache, AProfileThatCannotBeReadDeletesTheEngineAndReportsTheEnginesError) {
    Holder holder;
    const std::string missing = folder.File("missing.icc");
    PravonErrorPtr error(cache->AcquireEngine(srgb.c_str(), missing.c_str(), &holder));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->GetEntry(0).component, FourCC("CEMg"));
    EXPECT_EQ(error->GetComponent(), FourCC("cmle")) << error->Describe();
    EXPECT_EQ(error->GetEntry(1).secondary, 1) << "a C runtime error";
    EXPECT_EQ(error->GetKind(), ENOENT);
    EXPECT_FALSE(holder);
    EXPECT_EQ(counts.made, 1);
    EXPECT_EQ(counts.Live(), 0);
    EXPECT_EQ(cache->GetEntryCount(), 0);

    // The idle engine reused for a pair that fails goes with it.
    AcquireAndRelease(srgb, wide);
    ASSERT_EQ(cache->GetIdleCount(), 1);
    const std::string notAProfile = folder.Write("text.icc", std::string(200, 'x'));
    error.reset(cache->AcquireEngine(notAProfile.c_str(), wide.c_str(), &holder));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->GetKind(), EINVAL);
    EXPECT_EQ(counts.made, 2);
    EXPECT_EQ(counts.Live(), 0);
    EXPECT_EQ(cache->GetEntryCount(), 0);
    EXPECT_EQ(cache->GetIdleCount(), 0);

    EXPECT_EQ(Acquire(srgb, wide, &holder)->GetAutoDeleteThreshold(), 1) << "the cache still works";
}

TEST_F(EngineCache, NoMemoryForANewEngineIsReportedAndLeavesNoEntry) {
    cache->outOfMemory = true;
    Holder holder;
    PravonErrorPtr error(cache->AcquireEngine(srgb.c_str(), wide.c_str(), &holder));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->GetComponent(), FourCC("CEMg"));
    EXPECT_EQ(error->GetKind(), PravonKind::kOutOfMemory);
    EXPECT_EQ(cache->GetEntryCount(), 0);
}

TEST_F(EngineCache, AHolderLetsItsPreviousEngineGoBeforeItIsGivenTheNewPairs) {
    Holder holder;
    CPravonFilterCMLEngine* first = Acquire(srgb, wide, &holder);
    EXPECT_EQ(Acquire(srgb, wide, &holder), first) << "asking again for the held pair keeps its engine";
    EXPECT_EQ(Acquire(wide, srgb, &holder), first) << "let go, it was the idle engine to reuse";
    EXPECT_EQ(SourceOf(first), wide);
    EXPECT_EQ(cache->GetIdleCount(), 0);
    EXPECT_EQ(cache->GetEntryCount(), 1);
    EXPECT_EQ(counts.made, 1);

    ASSERT_PV_OK(cache->SetIdleLimit(0));
    CPravonFilterCMLEngine* second = Acquire(gamma, srgb, &holder);
    EXPECT_EQ(counts.destroyed, 1) << "with no idle engines kept, the old one went";
    EXPECT_EQ(counts.made, 2);
    EXPECT_EQ(SourceOf(second), gamma);
}

TEST_F(EngineCache, BadArgumentsAreRefusedAndTheHolderKeepsItsEngine) {
    Holder holder;
    CPravonFilterCMLEngine* engine = Acquire(srgb, wide, &holder);
    EXPECT_PV_KIND(cache->AcquireEngine(nullptr, wide.c_str(), &holder), PravonKind::kBadArgument);
    EXPECT_PV_KIND(cache->AcquireEngine(srgb.c_str(), nullptr, &holder), PravonKind::kBadArgument);
    EXPECT_PV_KIND(cache->AcquireEngine(srgb.c_str(), wide.c_str(), nullptr), PravonKind::kBadArgument);

    // A path that does not fit a key is refused, not cut short into another pair's key.
    std::string longest;
    while (longest.size() < CCMLEngMgr::kMaxPathLength)
        longest += "/missing";
    longest.resize(CCMLEngMgr::kMaxPathLength);
    const std::string tooLong = longest + "q";
    EXPECT_PV_KIND(cache->AcquireEngine(tooLong.c_str(), wide.c_str(), &holder), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(cache->AcquireEngine(srgb.c_str(), tooLong.c_str(), &holder), PravonKind::kOutOfRange);
    EXPECT_EQ(holder.Get(), engine);
    EXPECT_EQ(cache->GetIdleCount(), 0);

    PravonErrorPtr error(cache->AcquireEngine(longest.c_str(), wide.c_str(), &holder));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->GetKind(), ENOENT) << "the longest path is taken and tried";
}

TEST_F(EngineCache, LoweringTheIdleLimitRetiresTheOldestIdleEngines) {
    const std::pair<std::string, std::string> pairs[] = {{srgb, wide}, {srgb, gamma}, {wide, srgb}};
    CPravonFilterCMLEngine* engines[3] = {};
    AcquireAllThenRelease(pairs, engines);
    ASSERT_EQ(cache->GetIdleCount(), 3);

    ASSERT_PV_OK(cache->SetIdleLimit(2));
    EXPECT_EQ(cache->GetIdleCount(), 1) << "retired while at least the limit idled";
    EXPECT_EQ(counts.destroyed, 2);
    Holder holder;
    EXPECT_EQ(Acquire(wide, srgb, &holder), engines[2]) << "the newest stays";

    EXPECT_PV_KIND(cache->SetIdleLimit(-1), PravonKind::kOutOfRange);
    EXPECT_EQ(cache->GetIdleLimit(), 2);
    holder = nullptr;
    ASSERT_PV_OK(cache->SetIdleLimit(0));
    EXPECT_EQ(cache->GetIdleCount(), 0);
    EXPECT_EQ(counts.Live(), 0);
}

TEST_F(EngineCache, AnIdleEngineHeldAndLetGoBehindTheCachesBackStillIdlesAfterItsNextUse) {
    CPravonFilterCMLEngine* engine = AcquireAndRelease(srgb, wide);
    { Holder direct(engine); }
    EXPECT_EQ(engine->GetAutoDeleteThreshold(), 1);
    EXPECT_EQ(cache->GetIdleCount(), 1);

    AcquireAndRelease(srgb, wide);
    EXPECT_EQ(cache->GetIdleCount(), 1) << "it went idle again rather than staying in use for good";
}

TEST_F(EngineCache, DestroyingTheCacheDeletesEveryEngineAndClearsTheHoldersLeft) {
    EXPECT_EQ(CCMLEngMgr::GetInstance(), cache.get());
    Holder held;
    Acquire(srgb, wide, &held);
    AcquireAndRelease(wide, srgb);
    ASSERT_EQ(counts.Live(), 2);
    cache.reset();
    EXPECT_EQ(counts.Live(), 0);
    EXPECT_FALSE(held);
    EXPECT_EQ(CCMLEngMgr::GetInstance(), nullptr);
}

} // namespace
