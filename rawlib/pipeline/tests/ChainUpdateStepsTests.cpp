#include "rawlib/filters/dust/tests/DustScene.h"
#include "rawlib/filters/tests/LensFileSupport.h"
#include "rawlib/pipeline/CKvnFilterChain.h"

#include "platform/plugins/testplugins/KvTestPluginProbe.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/quasel/CPravonTagControl.h"
#include "rawlib/filters/CFltChromaBooster.h"
#include "rawlib/filters/CFltPlugin.h"
#include "rawlib/filters/CPluginWin.h"
#include "rawlib/settings/CKvFilterPluginList.h"
#include "rawlib/settings/CKvLensInformation.h"
#include "rawlib/settings/ImageProperties.h"
#include "rawlib/settings/KvLchCalibration.h"
#include "testing/ImageCompare.h"
#include "testing/LchCalibrationFiles.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TestPlane.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>

namespace {

constexpr LONG kWidth = 160;
constexpr LONG kHeight = 120;
const std::vector<dusttest::Spot> kSpots = {{40, 40, 0.5}, {110, 70, 0.55}};

// A 12-bit mosaic with its tags (a random one, or a flat grey with dust spots and the dust scene's camera),
// developed through a fresh exported object.
class Picture {
public:
    explicit Picture(bool dusty = false) {
        if (dusty) {
            mosaic = dusttest::DustyMosaic(kWidth, kHeight, 2000, kSpots);
            tags = dusttest::SceneTags(true);
        } else {
            mosaic = kvtest::MakePlane(kWidth, kHeight, PravonColorSpace::kRawMosaic16,
                                       kvtest::FillPattern::Random, 11);
            for (LONG y = 0; y < kHeight; ++y) {
                auto* row = reinterpret_cast<WORD*>(mosaic.Row(y));
                for (LONG x = 0; x < kWidth; ++x)
                    row[x] &= 0x0FFF;
            }
            auto* control = new CPravonTagControl();
            control->SetCameraModel(258);
            tags.reset(control);
            const BYTE pattern[] = {0, 2, 0, 2, 0, 1, 1, 2};
            EXPECT_PV_OK(tags->WriteTag(0xA302, 1, sizeof pattern, pattern));
        }
        const LONG longs[][2] = {
            {0x10000, kWidth}, {0x10001, kHeight}, {0x10002, PravonColorSpace::kRawMosaic16}};
        for (const auto& tag : longs)
            EXPECT_PV_OK(tags->WriteTag(static_cast<ULONG>(tag[0]), 4, 4, &tag[1]));
        // The focal lengths and apertures of the fisheye lens.
        const double range[4] = {10.5, 10.5, 2.8, 2.8};
        EXPECT_PV_OK(tags->WriteTag(kKvLensRangeTag, 12, sizeof range, range));
        image = kvtest::MakeImage(manager, mosaic);
    }
    ~Picture() {
        if (object)
            object->Destroy();
    }
    CKvnFilterChain* Open() {
        IKvnFilterChain* made = nullptr;
        EXPECT_PV_OK(IKvnFilterChain::CreateObject(&made));
        object = made;
        EXPECT_PV_OK(object->Initialize(&manager, image.get(), tags.get()));
        return static_cast<CKvnFilterChain*>(object);
    }
    kvtest::TestPlane Develop() {
        IPravonFilterChain* chain = nullptr;
        kvtest::TestPlane out;
        EXPECT_PV_OK(object->GetFilterChain(&chain));
        if (chain) {
            EXPECT_PV_OK(kvtest::PullAll(chain->GetOutput(), &out, kvtest::PullOrder::RandomOrder));
        }
        return out;
    }
    CKvTolmoFilterChain* Chain() const { return static_cast<CKvnFilterChain*>(object)->GetInternalChain(); }
    // The internal chain's own result for an update with the object's settings as they stand.
    int UpdateDirectly(DWORD mask) {
        std::unique_ptr<ImageProperties> snapshot = static_cast<CKvnFilterChain*>(object)->CreateProperties();
        return Chain()->Update(snapshot.get(), mask, 1.0);
    }

    CPravonMemoryManager manager{16};
    kvtest::TestPlane mosaic;
    PravonImagePtr image;
    PravonTagControlPtr tags;
    IKvnFilterChain* object = nullptr;
};

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void ResetStageCounts(const CKvTolmoFilterChain& chain) {
    for (const int number : CKvTolmoFilterChain::ProcessingOrder())
        chain.GetStage(number)->ResetGeneratedTileCount();
}

// The working stages before `first` in processing order answered from their caches; `first` (unless only
// what follows it was told) and every working stage after it computed tiles again.
void ExpectRegeneratedFrom(const CKvTolmoFilterChain& chain, int first, bool firstItself = true) {
    const auto& order = CKvTolmoFilterChain::ProcessingOrder();
    const auto at = std::find(order.begin(), order.end(), first);
    ASSERT_NE(at, order.end());
    for (auto it = order.begin(); it != order.end(); ++it) {
        const CPravonFilterBase* stage = chain.GetStage(*it);
        if (!stage->IsEnabled())
            continue;
        if (it < at || (it == at && !firstItself))
            EXPECT_EQ(stage->GetGeneratedTileCount(), 0u) << "stage " << *it;
        else
            EXPECT_GT(stage->GetGeneratedTileCount(), 0u) << "stage " << *it;
    }
}

void ExpectSame(const kvtest::TestPlane& expected, const kvtest::TestPlane& actual) {
    const kvtest::PlaneDifference difference = kvtest::ComparePlanes(expected, actual);
    EXPECT_TRUE(difference.sameGeometry);
    EXPECT_EQ(difference.maxError, 0u) << difference.Describe();
}

struct StepCase {
    const char* name;
    DWORD mask;
    int stage;
    bool dusty;
    std::function<void(CKvnFilterChain&, Picture&)> set;
};

// Settings of the dust scene: the reference of its spots.
void SetDustReference(CKvnFilterChain& o, Picture& picture) {
    const dusttest::Bytes blob = dusttest::SceneReference(dusttest::ReferencePlane(kWidth, kHeight, kSpots));
    ASSERT_EQ(o.dustRemoval.LoadDustReference(&picture.manager, blob.data(), static_cast<DWORD>(blob.size())),
              0);
}

const StepCase kSteps[] = {
    {"dust removal", CKvTolmoFilterChain::kDustChanged, 36, true, SetDustReference},
    {"revelation", CKvTolmoFilterChain::kRevelationChanged, 37, false,
     [](CKvnFilterChain& o, Picture&) {
         o.revelationEnabled = 1;
         o.revelation.SetFirstAmount(80);
         o.revelation.SetSecondAmount(30);
     }},
    {"fisheye", CKvTolmoFilterChain::kFisheyeChanged, 39, false,
     [](CKvnFilterChain& o, Picture&) {
         o.fisheyeEnabled = 1;
         o.fisheye.SetEnabled(true);
         o.fisheye.SetMode(4);
     }},
    {"brightness", CKvTolmoFilterChain::kAutoBrightnessChanged, 45, false,
     [](CKvnFilterChain& o, Picture&) { o.brightness.SetValue(0.75); }},
};

// Each step, changed after a development, gives what a chain with the change from the start gives, and only
// its stage and what follows work again.
TEST(ChainUpdateSteps, AChangedStepEqualsADevelopmentFromScratchAndRegeneratesFromItsStage) {
    kvtest::LensMachine machine;
    ASSERT_TRUE(machine.Write({}));
    WriteFile(machine.Folder() + kKvChromaBoostCalibrationFile, kvtest::LchCalibrationBytes({}, 0));
    for (const StepCase& c : kSteps) {
        SCOPED_TRACE(c.name);
        Picture incremental(c.dusty);
        CKvnFilterChain* object = incremental.Open();
        const kvtest::TestPlane plain = incremental.Develop();
        CKvTolmoFilterChain* chain = incremental.Chain();
        ASSERT_TRUE(chain);
        EXPECT_FALSE(chain->GetStage(c.stage)->IsEnabled());
        ResetStageCounts(*chain);
        c.set(*object, incremental);
        ASSERT_PV_OK(object->UpdateChain(c.mask));
        ASSERT_TRUE(chain->GetStage(c.stage)->IsEnabled());
        const kvtest::TestPlane changed = incremental.Develop();
        EXPECT_NE(kvtest::ComparePlanes(plain, changed).maxError, 0u);
        ExpectRegeneratedFrom(*chain, c.stage);

        Picture scratch(c.dusty);
        c.set(*scratch.Open(), scratch);
        ExpectSame(scratch.Develop(), changed);
    }
}

// Switching a step back off gives the first development again.
TEST(ChainUpdateSteps, TurningAStepOffAgainGivesThePlainDevelopment) {
    kvtest::LensMachine machine;
    ASSERT_TRUE(machine.Write({}));
    WriteFile(machine.Folder() + kKvChromaBoostCalibrationFile, kvtest::LchCalibrationBytes({}, 0));
    for (const StepCase& c : kSteps) {
        SCOPED_TRACE(c.name);
        Picture picture(c.dusty);
        CKvnFilterChain* object = picture.Open();
        const kvtest::TestPlane plain = picture.Develop();
        c.set(*object, picture);
        ASSERT_PV_OK(object->UpdateChain(c.mask));
        picture.Develop();
        object->dustEnabled = 0;
        object->revelationEnabled = 0;
        object->fisheyeEnabled = 0;
        object->chromaBooster.SetAmount(0);
        object->brightness.SetValue(0.0);
        ASSERT_PV_OK(object->UpdateChain(c.mask));
        EXPECT_FALSE(picture.Chain()->GetStage(c.stage)->IsEnabled());
        ExpectSame(plain, picture.Develop());
    }
}

// A step whose data cannot be had ends the update with its own result, its stage off.
TEST(ChainUpdateSteps, AStepWithoutItsDataEndsTheUpdateWithItsResult) {
    struct Case {
        const char* name;
        std::vector<std::string> lensFile; // empty: none
        std::vector<std::uint8_t> boosterFile;
        DWORD mask;
        int stage;
        int result;
        std::function<void(CKvnFilterChain&, Picture&)> set;
    };
    const auto fisheyeOn = [](CKvnFilterChain& o, Picture&) { o.fisheyeEnabled = 1; };
    const auto boosterOn = [](CKvnFilterChain& o, Picture&) { o.chromaBooster.SetAmount(30); };
    const Case cases[] = {
        {"no lens file",
         {},
         {},
         CKvTolmoFilterChain::kFisheyeChanged,
         39,
         CKvTolmoFilterChain::kLensError,
         fisheyeOn},
        {"a cut lens file",
         {"--cut", "131094"},
         {},
         CKvTolmoFilterChain::kFisheyeChanged,
         39,
         CKvTolmoFilterChain::kLensRejected,
         fisheyeOn},
        {"no booster calibration",
         {},
         {},
         CKvTolmoFilterChain::kChromaBoosterChanged,
         41,
         CKvTolmoFilterChain::kBoosterCalibrationError,
         boosterOn},
        {"a booster calibration of the wrong length",
         {},
         kvtest::LchCalibrationBytes({}, 0, 0),
         CKvTolmoFilterChain::kChromaBoosterChanged,
         41,
         CKvTolmoFilterChain::kBoosterCalibrationLength,
         boosterOn},
        {"a dust reference that makes no map",
         {},
         {},
         CKvTolmoFilterChain::kDustChanged,
         36,
         CKvTolmoFilterChain::kNoDustMap,
         [](CKvnFilterChain& o, Picture& p) {
             const BYTE junk[] = {'D', 's', 't', 'R', 1, 2, 3};
             o.dustRemoval.LoadDustReference(&p.manager, junk, sizeof junk);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kvtest::LensMachine machine;
        if (!c.lensFile.empty()) {
            ASSERT_TRUE(machine.Write(c.lensFile));
        }
        if (!c.boosterFile.empty())
            WriteFile(machine.Folder() + kKvChromaBoostCalibrationFile, c.boosterFile);
        Picture picture;
        CKvnFilterChain* object = picture.Open();
        picture.Develop();
        c.set(*object, picture);
        EXPECT_EQ(picture.UpdateDirectly(c.mask), c.result);
        EXPECT_FALSE(picture.Chain()->GetStage(c.stage)->IsEnabled());
    }
}

// The settings' "use the calibrated default" level becomes the level the calibration makes the default.
TEST(ChainUpdateSteps, TheBoostersDefaultLevelReplacesTheSettingsRequestForIt) {
    kvtest::LensMachine machine;
    WriteFile(machine.Folder() + kKvChromaBoostCalibrationFile, kvtest::LchCalibrationBytes({}, 0));
    Picture picture;
    CKvnFilterChain* object = picture.Open();
    picture.Develop();
    object->chromaBooster.SetAmount(CFltChromaBooster::kUseDefaultLevel);
    ASSERT_PV_OK(object->UpdateChain(CKvTolmoFilterChain::kChromaBoosterChanged));
    EXPECT_EQ(object->chromaBooster.GetAmount(), CFltChromaBooster::kDefaultLevel);
    const auto* stage = static_cast<const CFltChromaBooster*>(picture.Chain()->GetStage(41));
    EXPECT_EQ(stage->GetLevel(), CFltChromaBooster::kDefaultLevel);
    // Without the LCh conversion in front of it the booster stays off.
    EXPECT_EQ(stage->IsEnabled(), picture.Chain()->GetStage(7)->IsEnabled());
}

// The dust reference stored beside the settings takes the place of the one the settings hold.
TEST(ChainUpdateSteps, TheDustReferenceTagIsReadWhenTheChainIsMade) {
    kvtest::LensMachine machine;
    for (const bool stored : {true, false}) {
        SCOPED_TRACE(stored ? "with the tag" : "without it");
        Picture picture(true);
        if (stored) {
            const dusttest::Bytes blob =
                dusttest::SceneReference(dusttest::ReferencePlane(kWidth, kHeight, kSpots));
            ASSERT_PV_OK(picture.tags->WriteTag(CKvnFilterChain::kDustReferenceTag, 1,
                                                static_cast<ULONG>(blob.size()), blob.data()));
        }
        CKvnFilterChain* object = picture.Open();
        const BYTE junk[] = {'D', 's', 't', 'R', 9};
        object->dustRemoval.LoadDustReference(&picture.manager, junk, sizeof junk);
        IPravonFilterChain* chain = nullptr;
        PravonErrorPtr error(object->GetFilterChain(&chain));
        if (stored) {
            EXPECT_FALSE(error);
            ASSERT_TRUE(picture.Chain());
            EXPECT_TRUE(picture.Chain()->GetStage(36)->IsEnabled());
        } else {
            ASSERT_TRUE(error);
            EXPECT_EQ(error->GetKind(), 11006);
            EXPECT_FALSE(picture.Chain());
        }
    }
}

// A stage that changed without telling downstream is announced once at the end of the update, also when a
// later step fails.
TEST(ChainUpdateSteps, AQuietChangeIsAnnouncedAtTheEndOfTheUpdateFailedOrNot) {
    kvtest::LensMachine machine;
    for (const bool fail : {false, true}) {
        SCOPED_TRACE(fail ? "failed update" : "update");
        Picture picture;
        CKvnFilterChain* object = picture.Open();
        picture.Develop();
        CKvTolmoFilterChain* chain = picture.Chain();
        ResetStageCounts(*chain);
        object->fisheyeEnabled = fail ? 1 : 0;
        chain->NoteQuietChange(24);
        chain->NoteQuietChange(5);
        chain->NoteQuietChange(18);
        EXPECT_EQ(picture.UpdateDirectly(CKvTolmoFilterChain::kFisheyeChanged),
                  fail ? CKvTolmoFilterChain::kLensError : CKvTolmoFilterChain::kOk);
        picture.Develop();
        ExpectRegeneratedFrom(*chain, 5, false);
    }
}

// The plug-in list's steps become plug-in stages just before the last output scale stage: the same
// pixels as a list set from the start, and only they and what follows them work again.
TEST(ChainUpdateSteps, PluginStepsBecomeStagesBeforeTheLastScaleStage) {
    kvtest::LensMachine machine;
    const auto addStep = [](CKvnFilterChain& o, const char* library) {
        CKvFilterPlugins step;
        CPluginWin* plugin = CPluginWin::Create();
        ASSERT_TRUE(step.Attach(KvTestPlugins::PathOf(library).c_str(), plugin)) << library;
        o.filterPlugins.Append(step);
    };
    Picture incremental;
    CKvnFilterChain* object = incremental.Open();
    const kvtest::TestPlane plain = incremental.Develop();
    CKvTolmoFilterChain* chain = incremental.Chain();
    const LONG stages = chain->GetOutput()->GetCount();
    addStep(*object, "KvInvert");
    addStep(*object, "KvBlur");
    ResetStageCounts(*chain);
    ASSERT_PV_OK(object->UpdateChain(CKvTolmoFilterChain::kPluginListChanged));
    ASSERT_EQ(chain->GetPluginStageCount(), 2u);
    IPravonFilterChain* output = chain->GetOutput();
    EXPECT_EQ(output->GetCount(), stages + 2);
    const LONG anchor = output->GetPosition(chain->GetStage(16));
    EXPECT_EQ(output->GetAt(anchor - 2), chain->GetPluginStage(0));
    EXPECT_EQ(output->GetAt(anchor - 1), chain->GetPluginStage(1));
    const kvtest::TestPlane changed = incremental.Develop();
    EXPECT_NE(kvtest::ComparePlanes(plain, changed).maxError, 0u);
    ExpectRegeneratedFrom(*chain, 16);
    EXPECT_GT(chain->GetPluginStage(0)->GetGeneratedTileCount(), 0u);

    Picture scratch;
    CKvnFilterChain* fresh = scratch.Open();
    addStep(*fresh, "KvInvert");
    addStep(*fresh, "KvBlur");
    ExpectSame(scratch.Develop(), changed);

    // The same list again keeps its stages; switching the list off takes them out.
    CPravonFilterBase* kept = chain->GetPluginStage(0);
    ASSERT_PV_OK(object->UpdateChain(CKvTolmoFilterChain::kPluginListChanged));
    EXPECT_EQ(chain->GetPluginStage(0), kept);
    object->filterPluginsEnabled = 0;
    ASSERT_PV_OK(object->UpdateChain(CKvTolmoFilterChain::kPluginListChanged));
    EXPECT_EQ(chain->GetPluginStageCount(), 0u);
    EXPECT_EQ(output->GetCount(), stages);
    ExpectSame(plain, incremental.Develop());
}

// A plug-in sees the picture at the update's scale over the settings' own, never enlarged.
TEST(ChainUpdateSteps, PluginStagesTakeTheUpdatesScaleUpToTheSettingsOwn) {
    kvtest::LensMachine machine;
    Picture picture;
    CKvnFilterChain* object = picture.Open();
    picture.Develop();
    CKvFilterPlugins step;
    CPluginWin* plugin = CPluginWin::Create();
    ASSERT_TRUE(step.Attach(KvTestPlugins::PathOf("KvInvert").c_str(), plugin));
    object->filterPlugins.Append(step);
    ASSERT_DOUBLE_EQ(object->sizeRes.GetScaleFactor(), 1.0);
    for (const double scale : {0.25, 1.0, 2.0}) {
        SCOPED_TRACE(scale);
        std::unique_ptr<ImageProperties> snapshot = object->CreateProperties();
        ASSERT_EQ(picture.Chain()->Update(snapshot.get(), CKvTolmoFilterChain::kPluginListChanged, scale),
                  CKvTolmoFilterChain::kOk);
        const auto* stage = static_cast<const CFltPlugin*>(picture.Chain()->GetPluginStage(0));
        ASSERT_TRUE(stage);
        EXPECT_DOUBLE_EQ(stage->GetScale(), std::min(scale, 1.0));
    }
}

} // namespace
