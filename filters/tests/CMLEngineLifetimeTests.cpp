#include "filters/CPravonFilterCMLEngine.h"
#include "platform/win/FourCC.h"
#include "testing/IccTestProfiles.h"
#include "testing/PravonTestSupport.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <utility>
#include <vector>

namespace {

using Holder = CPravonFilterCMLEngine::Holder;

// An engine that counts its own destruction.
class CountingEngine : public CPravonFilterCMLEngine {
public:
    explicit CountingEngine(int* destroyed) : m_destroyed(destroyed) {}
    ~CountingEngine() override { ++*m_destroyed; }

private:
    int* m_destroyed;
};

// Records every report and, when asked, deletes the engine once the holder count falls to its threshold,
// holding it through a holder of its own meanwhile, as an engine cache does.
class RecordingManager : public CPravonFilterCMLEngine::IMgr {
public:
    void ReleaseEngine(CPravonFilterCMLEngine* engine, LONG holders) override {
        calls.emplace_back(engine, holders);
        if (!deleteWhenIdle || engine->GetAutoDeleteThreshold() < holders)
            return;
        const LONG threshold = engine->GetAutoDeleteThreshold();
        engine->SetAutoDeleteThreshold(-1);
        Holder keep(engine);
        engine->SetAutoDeleteThreshold(threshold);
        delete engine;
        EXPECT_FALSE(keep) << "the engine clears every holder as it goes";
    }

    std::vector<std::pair<CPravonFilterCMLEngine*, LONG>> calls;
    bool deleteWhenIdle = false;
};

CPravonFilterCML* FakeFilter(int n) {
    return reinterpret_cast<CPravonFilterCML*>(std::uintptr_t(0x1000 * n));
}

TEST(EngineLifetime, AManagerHearsEveryHolderAddedAndRemovedAndAloneDecides) {
    RecordingManager manager;
    auto* engine = new CPravonFilterCMLEngine();
    engine->SetManager(&manager);
    engine->SetAutoDeleteThreshold(5);
    {
        Holder a;
        a = engine;
        Holder b(a);
        b = engine;
        a = nullptr;
    }
    using Call = std::pair<CPravonFilterCMLEngine*, LONG>;
    EXPECT_EQ(manager.calls, (std::vector<Call>{{engine, 1}, {engine, 2}, {engine, 1}, {engine, 0}}));
    EXPECT_EQ(engine->GetManager(), &manager);
    delete engine;
}

TEST(EngineLifetime, WithoutAManagerTheEngineDeletesItselfAtItsThreshold) {
    int destroyed = 0;
    auto* engine = new CountingEngine(&destroyed);
    engine->SetAutoDeleteThreshold(0);
    Holder a(engine);
    {
        Holder b(engine);
        Holder c(engine);
    }
    EXPECT_EQ(destroyed, 0);
    a = nullptr;
    EXPECT_EQ(destroyed, 1) << "threshold 0: the last holder's going deletes it";

    auto* second = new CountingEngine(&destroyed);
    second->SetAutoDeleteThreshold(1);
    Holder keep(second);
    { Holder other(second); }
    EXPECT_EQ(destroyed, 2) << "threshold 1: gone when one holder is left";
    EXPECT_FALSE(keep) << "and that holder was cleared";
}

TEST(EngineLifetime, ThresholdMinusOneNeverDeletes) {
    int destroyed = 0;
    auto* engine = new CountingEngine(&destroyed);
    EXPECT_EQ(engine->GetAutoDeleteThreshold(), -1);
    { Holder a(engine); }
    EXPECT_EQ(destroyed, 0);
    delete engine;
    EXPECT_EQ(destroyed, 1);
}

TEST(EngineLifetime, ADestroyedEngineClearsItsHoldersAndTheyOutliveItSafely) {
    auto* engine = new CPravonFilterCMLEngine();
    Holder a(engine);
    Holder b(engine);
    delete engine;
    EXPECT_FALSE(a);
    EXPECT_FALSE(b);
    EXPECT_EQ(b.Get(), nullptr);
}

TEST(EngineLifetime, AManagerMayDeleteTheEngineAsAHolderGoes) {
    RecordingManager manager;
    manager.deleteWhenIdle = true;
    int destroyed = 0;
    auto* engine = new CountingEngine(&destroyed);
    engine->SetAutoDeleteThreshold(1);
    Holder cache;
    engine->SetManager(nullptr);
    cache = engine;
    engine->SetManager(&manager);
    { Holder user(engine); }
    EXPECT_EQ(destroyed, 1);
    EXPECT_FALSE(cache);
}

TEST(EngineLifetime, UsersKeepTheirOrderAndDuplicates) {
    CPravonFilterCMLEngine engine;
    engine.StartUse(FakeFilter(1));
    engine.StartUse(FakeFilter(2));
    engine.StartUse(FakeFilter(1));
    engine.StopUse(FakeFilter(1));
    engine.StopUse(FakeFilter(3));
    ASSERT_EQ(engine.GetUserCount(), 2);
    EXPECT_EQ(engine.GetUser(0), FakeFilter(2));
    EXPECT_EQ(engine.GetUser(1), FakeFilter(1));
    EXPECT_EQ(engine.GetUser(2), nullptr);
    EXPECT_EQ(engine.GetUser(-1), nullptr);
}

TEST(EngineLifetime, OnlyEffectiveChangesOfIntentOrProofModeCount) {
    CPravonFilterCMLEngine engine;
    EXPECT_TRUE(engine.IsProofMode());
    EXPECT_PV_OK(engine.SetProofMode(true));
    EXPECT_EQ(engine.GetChangeCounter(), 0);
    EXPECT_PV_OK(engine.SetRenderingIntent(1));
    EXPECT_PV_OK(engine.SetRenderingIntent(1));
    EXPECT_PV_OK(engine.SetProofMode(false));
    EXPECT_PV_OK(engine.SetProofMode(false));
    EXPECT_EQ(engine.GetChangeCounter(), 2);
    EXPECT_PV_OK(engine.SetRenderingIntent(0x10003));
    EXPECT_EQ(engine.GetRenderingIntent(), 3) << "kept as its low 16 bits";
    EXPECT_PV_OK(engine.SetRenderingIntent(0x20003));
    EXPECT_EQ(engine.GetChangeCounter(), 3);
}

class EngineReset : public ::testing::Test {
protected:
    kvtest::TempFolder folder;
    const std::string srgb = kvtest::WriteIccTestProfile(folder, kvtest::IccTestProfile::SRGB, "srgb.icc");
    const std::string wide =
        kvtest::WriteIccTestProfile(folder, kvtest::IccTestProfile::WideGamut, "wide.icc");
};

TEST_F(EngineReset, ConfiguresTheLibraryTransformOnlyWhenOutOfDate) {
    CPravonFilterCMLEngine engine;
    ASSERT_PV_OK(engine.SetProfiles({srgb}, {wide}));
    EXPECT_EQ(engine.GetCMLTransform(), nullptr) << "made on first use";
    bool dirty = false;
    ASSERT_PV_OK(engine.ResetParameters(&dirty));
    EXPECT_TRUE(dirty);
    const HKVCMXFORM transform = engine.GetCMLTransform();
    ASSERT_NE(transform, nullptr);
    ASSERT_PV_OK(engine.ResetParameters(&dirty));
    EXPECT_FALSE(dirty);
    ASSERT_PV_OK(engine.SetRenderingIntent(2));
    ASSERT_PV_OK(engine.ResetParameters(&dirty));
    EXPECT_TRUE(dirty);
    EXPECT_EQ(engine.GetCMLTransform(), transform) << "the same transform, configured again";

    HKVCMCML object = nullptr;
    ASSERT_EQ(KVCMCreateCML(&object), KVCM_OK);
    ASSERT_EQ(KVCMSetTransform(object, transform), KVCM_OK);
    std::uint8_t pixel[12] = {10, 20, 30};
    EXPECT_EQ(KVCMProcessInterleavedData(object, 1, 1, pixel, pixel, 0, 0), KVCM_OK);
    KVCMDestroyCML(object);
}

TEST_F(EngineReset, ALibraryFailureIsReportedAndLeavesTheEngineOutOfDate) {
    CPravonFilterCMLEngine engine;
    ASSERT_PV_OK(engine.SetProfiles({srgb}, {wide}));
    const std::string moved = folder.File("moved.icc");
    std::filesystem::rename(wide, moved);
    bool dirty = false;
    PravonErrorPtr error(engine.ResetParameters(&dirty));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->GetEntry(0).component, FourCC("cmle"));
    EXPECT_EQ(error->GetEntry(0).secondary, FourCC("KVCM"));
    EXPECT_EQ(error->GetKind(), KVCM_E_PROFILE);

    std::filesystem::rename(moved, wide);
    EXPECT_PV_OK(engine.ResetParameters(&dirty));
    EXPECT_TRUE(dirty) << "the failed call left it out of date";

    ASSERT_PV_OK(engine.SetRenderingIntent(7));
    EXPECT_PV_KIND(engine.ResetParameters(nullptr), KVCM_E_ARGUMENT);
}

} // namespace
