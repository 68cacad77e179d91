#include "StageRegeneration.h"
#include "rawlib/filters/dust/tests/DustScene.h"
#include "rawlib/filters/tests/LensFileSupport.h"
#include "rawlib/pipeline/CKvnFilterChain.h"

#include "filters/CUnsharpMaskFilter.h"
#include "platform/plugins/testplugins/KvTestPluginProbe.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "rawlib/filters/CFltChromaBooster.h"
#include "rawlib/filters/CFltLch.h"
#include "rawlib/filters/CFltPlugin.h"
#include "rawlib/filters/CFltThreshold.h"
#include "rawlib/filters/CPluginWin.h"
#include "rawlib/filters/revelation/CFltRevelation.h"
#include "rawlib/settings/CKvLensInformation.h"
#include "rawlib/settings/ImageProperties.h"
#include "rawlib/settings/KvLchCalibration.h"
#include "testing/AllocationSeam.h"
#include "testing/ImageCompare.h"
#include "testing/LchCalibrationFiles.h"
#include "testing/PravonTestSupport.h"
#include "testing/ProfileMachine.h"
#include "testing/PullAll.h"
#include "testing/UnsharpMaskReference.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

namespace {

constexpr LONG kWidth = 160;
constexpr LONG kHeight = 120;
const std::vector<dusttest::Spot> kSpots = {{40, 40, 0.5}, {110, 70, 0.55}};
using Setter = std::function<void(CKvnFilterChain&, IPravonManager&)>;

// A machine with the lens folder and the standard profiles the output conversion needs.
struct ChainMachine : kvtest::LensMachine {
    ChainMachine() { kvtest::InstallProfiles(KV_MAKE_PROFILES); }
};

// A 12-bit grey mosaic with dust spots, the dust scene's camera tags and the fisheye lens's range, developed
// through a fresh exported object.
struct Picture {
    Picture()
        : mosaic(dusttest::DustyMosaic(kWidth, kHeight, 2000, kSpots)), tags(dusttest::SceneTags(true)) {
        const LONG longs[][2] = {
            {0x10000, kWidth}, {0x10001, kHeight}, {0x10002, PravonColorSpace::kRawMosaic16}};
        for (const auto& tag : longs)
            EXPECT_PV_OK(tags->WriteTag(static_cast<ULONG>(tag[0]), 4, 4, &tag[1]));
        const double range[4] = {10.5, 10.5, 2.8, 2.8};
        EXPECT_PV_OK(tags->WriteTag(kKvLensRangeTag, 12, sizeof range, range));
        image = kvtest::MakeImage(manager, mosaic);
        EXPECT_PV_OK(IKvnFilterChain::CreateObject(&made));
        object = static_cast<CKvnFilterChain*>(made);
    }
    ~Picture() { made->Destroy(); }
    CKvnFilterChain& Open() {
        EXPECT_PV_OK(object->Initialize(&manager, image.get(), tags.get()));
        return *object;
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
    CKvTolmoFilterChain* Chain() const { return object->GetInternalChain(); }
    // The internal chain's own result code for an update with the settings as they stand.
    int Update(DWORD mask, double scale = 1.0) {
        return Chain()->Update(object->CreateProperties().get(), mask, scale);
    }

    CPravonMemoryManager manager{16};
    kvtest::TestPlane mosaic;
    PravonImagePtr image;
    PravonTagControlPtr tags;
    IKvnFilterChain* made = nullptr;
    CKvnFilterChain* object = nullptr;
};

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void AddPlugin(CKvnFilterChain& o, const char* library) {
    CKvFilterPlugins step;
    ASSERT_TRUE(step.Attach(KvTestPlugins::PathOf(library).c_str(), CPluginWin::Create())) << library;
    o.filterPlugins.Append(step);
}

void SetDustReference(CKvnFilterChain& o, IPravonManager& manager) {
    const dusttest::Bytes blob = dusttest::SceneReference(dusttest::ReferencePlane(kWidth, kHeight, kSpots));
    ASSERT_EQ(o.dustRemoval.LoadDustReference(&manager, blob.data(), static_cast<DWORD>(blob.size())), 0);
}

void SetJunkDustReference(CKvnFilterChain& o, IPravonManager& manager) {
    const BYTE junk[] = {'D', 's', 't', 'R', 1, 2, 3};
    o.dustRemoval.LoadDustReference(&manager, junk, sizeof junk);
}

// The fisheye lens with a red background: the lens is named by its range alone.
void SetFisheye(CKvnFilterChain& o, IPravonManager&) {
    o.fisheyeEnabled = 1;
    o.fisheye.SetEnabled(true);
    o.fisheye.SetMode(4);
    EXPECT_PV_OK(o.GetTagControl()->RemoveTag(kKvLensDataTag));
}

// A hue shift and a chroma gain in the settings' LCh group.
void SetLchCurves(CKvnFilterChain& o, IPravonManager&) {
    static_cast<CKvHueChannel*>(o.lutGroup3.FindChannel(3))->SetLevel(0.1);
    static_cast<CKvChromaChannel*>(o.lutGroup3.FindChannel(2))->SetLevelA(0.4);
}

void AddSharpening(CKvnFilterChain& o, LONG colourIndex, SHORT radius = 10) {
    CKvUSM entry;
    entry.SetChannelSelection(colourIndex);
    entry.SetRadiusCode(radius);
    entry.SetAmountCode(60);
    entry.SetThresholdCode(5);
    o.usmList.Append(entry);
}

// Each step changed after a development gives what the change made from the start gives, and only the
// step's stage and what follows it work again.
TEST(ChainUpdateSteps, AChangedStepEqualsADevelopmentFromScratchAndRegeneratesFromItsStage) {
    ChainMachine machine;
    ASSERT_TRUE(machine.Write({}));
    WriteFile(machine.Folder() + kKvLchCalibrationFile, kvtest::LchCalibrationBytes({}, 0));
    struct Case {
        const char* name;
        DWORD mask;
        int stage;
        Setter set;
    };
    const Case cases[] = {
        {"dust removal", CKvTolmoFilterChain::kDustChanged, 36, SetDustReference},
        {"revelation", CKvTolmoFilterChain::kRevelationChanged, 37,
         [](CKvnFilterChain& o, IPravonManager&) {
             o.revelationEnabled = 1;
             o.revelation.SetFirstAmount(80);
             o.revelation.SetSecondAmount(30);
         }},
        {"fisheye", CKvTolmoFilterChain::kFisheyeChanged, 39, SetFisheye},
        {"brightness", CKvTolmoFilterChain::kAutoBrightnessChanged, 45,
         [](CKvnFilterChain& o, IPravonManager&) { o.brightness.SetValue(0.75); }},
        {"LCh editor", CKvTolmoFilterChain::kLchEditorChanged, 7, SetLchCurves},
        {"sharpening list", CKvTolmoFilterChain::kSharpeningListChanged, 7,
         [](CKvnFilterChain& o, IPravonManager&) { AddSharpening(o, 0); }},
        {"lost highlights", CKvTolmoFilterChain::kLostDetailChanged, 33,
         [](CKvnFilterChain& o, IPravonManager&) { o.lostHighlights = 1; }},
        {"plug-ins", CKvTolmoFilterChain::kPluginListChanged, -1,
         [](CKvnFilterChain& o, IPravonManager&) {
             AddPlugin(o, "KvInvert");
             AddPlugin(o, "KvBlur");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picture incremental;
        CKvnFilterChain& object = incremental.Open();
        const kvtest::TestPlane plain = incremental.Develop();
        CKvTolmoFilterChain* chain = incremental.Chain();
        ASSERT_NE(chain, nullptr) << "the development failed";
        const kvtest::StageRegeneration regeneration(*chain);
        c.set(object, incremental.manager);
        ASSERT_PV_OK(object.UpdateChain(c.mask));
        const kvtest::TestPlane changed = incremental.Develop();
        EXPECT_NE(kvtest::ComparePlanes(plain, changed).maxError, 0u);
        if (c.stage >= 0) {
            regeneration.ExpectFrom(c.stage);
        } else {
            // The plug-in stages come after every working stage.
            for (const int number : CKvTolmoFilterChain::ProcessingOrder())
                EXPECT_EQ(chain->GetStage(number)->GetGeneratedTileCount(), 0u) << "stage " << number;
            EXPECT_GT(chain->GetPluginStage(0)->GetGeneratedTileCount(), 0u);
        }

        Picture scratch;
        c.set(scratch.Open(), scratch.manager);
        const kvtest::PlaneDifference difference = kvtest::ComparePlanes(scratch.Develop(), changed);
        EXPECT_TRUE(difference.sameGeometry && difference.maxError == 0) << difference.Describe();
    }
}

// A step whose data cannot be had ends the update with its own result, its stage off.
TEST(ChainUpdateSteps, AStepWithoutItsDataEndsTheUpdateWithItsResult) {
    const auto fisheyeOn = [](CKvnFilterChain& o, IPravonManager& m) { SetFisheye(o, m); };
    const auto boosterOn = [](CKvnFilterChain& o, IPravonManager&) { o.chromaBooster.SetAmount(30); };
    struct Case {
        std::vector<std::string> lensFile; // none when empty
        std::vector<std::uint8_t> boosterFile;
        DWORD mask;
        int stage;
        int result;
        Setter set;
        const char* calibrationFile = kKvChromaBoostCalibrationFile;
    };
    const Case cases[] = {
        {{}, {}, CKvTolmoFilterChain::kFisheyeChanged, 39, CKvTolmoFilterChain::kLensError, fisheyeOn},
        {{"--cut", "131094"},
         {},
         CKvTolmoFilterChain::kFisheyeChanged,
         39,
         CKvTolmoFilterChain::kLensRejected,
         fisheyeOn},
        {{},
         {},
         CKvTolmoFilterChain::kChromaBoosterChanged,
         41,
         CKvTolmoFilterChain::kBoosterCalibrationError,
         boosterOn},
        {{},
         kvtest::LchCalibrationBytes({}, 0, 0),
         CKvTolmoFilterChain::kChromaBoosterChanged,
         41,
         CKvTolmoFilterChain::kBoosterCalibrationLength,
         boosterOn},
        {{},
         {},
         CKvTolmoFilterChain::kDustChanged,
         36,
         CKvTolmoFilterChain::kNoDustMap,
         SetJunkDustReference},
        {{},
         {},
         CKvTolmoFilterChain::kLchEditorChanged,
         40,
         CKvTolmoFilterChain::kEditorCalibrationError,
         SetLchCurves,
         kKvLchCalibrationFile},
        {{},
         kvtest::LchCalibrationBytes({}, 0, 0),
         CKvTolmoFilterChain::kLchEditorChanged,
         40,
         CKvTolmoFilterChain::kEditorCalibrationLength,
         SetLchCurves,
         kKvLchCalibrationFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        ChainMachine machine;
        if (!c.lensFile.empty()) {
            ASSERT_TRUE(machine.Write(c.lensFile));
        }
        if (!c.boosterFile.empty())
            WriteFile(machine.Folder() + c.calibrationFile, c.boosterFile);
        Picture picture;
        picture.Open();
        picture.Develop();
        c.set(*picture.object, picture.manager);
        EXPECT_EQ(picture.Update(c.mask), c.result);
        EXPECT_FALSE(picture.Chain()->GetStage(c.stage)->IsEnabled());
    }
}

// The settings' request for the calibrated default becomes the level the calibration makes the default; the
// booster stays off without the LCh conversion in front of it.
TEST(ChainUpdateSteps, TheBoostersDefaultLevelReplacesTheSettingsRequestForIt) {
    ChainMachine machine;
    WriteFile(machine.Folder() + kKvChromaBoostCalibrationFile, kvtest::LchCalibrationBytes({}, 0));
    Picture picture;
    CKvnFilterChain& object = picture.Open();
    picture.Develop();
    object.chromaBooster.SetAmount(CFltChromaBooster::kUseDefaultLevel);
    ASSERT_EQ(picture.Update(CKvTolmoFilterChain::kChromaBoosterChanged), CKvTolmoFilterChain::kOk);
    EXPECT_EQ(object.chromaBooster.GetAmount(), CFltChromaBooster::kDefaultLevel);
    const auto* stage = static_cast<const CFltChromaBooster*>(
        picture.Chain()->GetStage(CKvTolmoFilterChain::kChromaBoosterStage));
    EXPECT_EQ(stage->GetLevel(), CFltChromaBooster::kDefaultLevel);
    EXPECT_EQ(stage->IsEnabled(),
              picture.Chain()->GetStage(CKvTolmoFilterChain::kLchConversionStage)->IsEnabled());
}

// The dust reference stored beside the settings takes the place of the one the settings hold; without it
// an unusable reference fails the chain with the dust map's kind.
TEST(ChainUpdateSteps, TheDustReferenceTagIsReadWhenTheChainIsMade) {
    ChainMachine machine;
    for (const bool stored : {true, false}) {
        SCOPED_TRACE(stored);
        Picture picture;
        if (stored) {
            const dusttest::Bytes blob =
                dusttest::SceneReference(dusttest::ReferencePlane(kWidth, kHeight, kSpots));
            ASSERT_PV_OK(picture.tags->WriteTag(CKvnFilterChain::kDustReferenceTag, 1,
                                                static_cast<ULONG>(blob.size()), blob.data()));
        }
        SetJunkDustReference(picture.Open(), picture.manager);
        IPravonFilterChain* chain = nullptr;
        const PravonErrorPtr error(picture.object->GetFilterChain(&chain));
        EXPECT_EQ(error ? error->GetKind() : 0, stored ? 0 : 11006);
        EXPECT_EQ(picture.Chain() && picture.Chain()->GetStage(CKvTolmoFilterChain::kDustStage)->IsEnabled(),
                  stored);
    }
}

// Stages that changed without telling downstream are announced once, from the earliest of them, at the end
// of the update, also when a later step fails.
TEST(ChainUpdateSteps, AQuietChangeIsAnnouncedAtTheEndOfTheUpdateFailedOrNot) {
    ChainMachine machine;
    for (const bool fail : {false, true}) {
        SCOPED_TRACE(fail);
        Picture picture;
        picture.Open();
        picture.Develop();
        if (fail)
            SetFisheye(*picture.object, picture.manager);
        CKvTolmoFilterChain* chain = picture.Chain();
        ASSERT_NE(chain, nullptr) << "the development failed";
        const kvtest::StageRegeneration regeneration(*chain);
        for (const int stage : {24, 2, 18})
            chain->NoteQuietChange(stage);
        EXPECT_EQ(picture.Update(CKvTolmoFilterChain::kFisheyeChanged),
                  fail ? CKvTolmoFilterChain::kLensError : CKvTolmoFilterChain::kOk);
        picture.Develop();
        // Stage 4 is the first working stage after stage 2.
        regeneration.ExpectFrom(4);
    }
}

// Plug-in stages sit just before the last output scale stage, stay while the list is the same, go when it
// is off, and see the picture at the update's scale over the settings' own, never enlarged.
TEST(ChainUpdateSteps, PluginStagesFollowTheListAndTheScale) {
    ChainMachine machine;
    Picture picture;
    CKvnFilterChain& object = picture.Open();
    picture.Develop();
    CKvTolmoFilterChain* chain = picture.Chain();
    ASSERT_NE(chain, nullptr) << "the development failed";
    IPravonFilterChain* output = chain->GetOutput();
    const LONG count = output->GetCount();
    AddPlugin(object, "KvInvert");
    AddPlugin(object, "KvBlur");
    CPravonFilterBase* kept = nullptr;
    for (const double scale : {0.25, 1.0, 2.0}) {
        ASSERT_EQ(picture.Update(CKvTolmoFilterChain::kPluginListChanged, scale), CKvTolmoFilterChain::kOk);
        kept = kept ? kept : chain->GetPluginStage(0);
        EXPECT_EQ(chain->GetPluginStage(0), kept);
        EXPECT_DOUBLE_EQ(static_cast<const CFltPlugin*>(chain->GetPluginStage(1))->GetScale(),
                         std::min(scale, 1.0));
    }
    ASSERT_EQ(chain->GetPluginStageCount(), 2u);
    const LONG anchor = output->GetPosition(chain->GetStage(CKvTolmoFilterChain::kEnlargeToSizeScaleStage));
    EXPECT_EQ(output->GetAt(anchor - 2), chain->GetPluginStage(0));
    EXPECT_EQ(output->GetAt(anchor - 1), chain->GetPluginStage(1));
    object.filterPluginsEnabled = 0;
    ASSERT_EQ(picture.Update(CKvTolmoFilterChain::kPluginListChanged), CKvTolmoFilterChain::kOk);
    EXPECT_EQ(chain->GetPluginStageCount(), 0u);
    EXPECT_EQ(output->GetCount(), count);
}

} // namespace

// The list makes one stage per entry, at most seven, just before the output conversion, each with the
// colour range of its index; it counts as off while the camera-settings flag is off.
TEST(ChainUpdateSteps, TheSharpeningListMakesItsStagesBeforeTheOutputConversion) {
    ChainMachine machine;
    Picture picture;
    CKvnFilterChain& object = picture.Open();
    picture.Develop();
    CKvTolmoFilterChain* chain = picture.Chain();
    ASSERT_NE(chain, nullptr) << "the development failed";
    const LONG indexes[] = {1, 6, 0, 9, 2, 3, 4, 5};
    for (const LONG index : indexes)
        AddSharpening(object, index, index == 0 ? 1 : 10);
    ASSERT_EQ(picture.Update(CKvTolmoFilterChain::kSharpeningListChanged), CKvTolmoFilterChain::kOk);
    ASSERT_EQ(chain->GetListStageCount(), 7u);
    IPravonFilterChain* output = chain->GetOutput();
    EXPECT_EQ(output->GetPosition(chain->GetListStage(6)) + 1,
              output->GetPosition(chain->GetStage(CKvTolmoFilterChain::kOutputConversionStage)));
    // Hand-worked: index k covers (12k - 11) / 72 .. (12k + 1) / 72, the sixth wrapping to 1 / 72.
    const double ranges[][4] = {{1 / 72.0, 1 / 12.0, 13 / 72.0, 1 / 12.0},
                                {61 / 72.0, 1 / 12.0, 1 / 72.0, 1 / 12.0},
                                {0, 0, 1, 0},
                                {0, 0, 1, 0},
                                {13 / 72.0, 1 / 12.0, 25 / 72.0, 1 / 12.0}};
    for (std::size_t i = 0; i < std::size(ranges); ++i) {
        const auto* stage = static_cast<const CUnsharpMaskFilter*>(chain->GetListStage(i));
        double range[4] = {};
        stage->GetRange(&range[0], &range[1], &range[2], &range[3]);
        for (int k = 0; k < 4; ++k)
            EXPECT_DOUBLE_EQ(range[k], ranges[i][k]) << "entry " << i << " value " << k;
        EXPECT_DOUBLE_EQ(stage->GetThreshold(), 1.0);
    }
    // Radius 10 x 0.2 = 2 takes the amount as it is; radius 1 x 0.2 = 0.2 is widened to 1, the amount
    // scaled by 0.2.
    const auto* wide = static_cast<const CUnsharpMaskFilter*>(chain->GetListStage(0));
    const auto* narrow = static_cast<const CUnsharpMaskFilter*>(chain->GetListStage(2));
    EXPECT_DOUBLE_EQ(wide->GetXRadius(), 2.0);
    EXPECT_DOUBLE_EQ(wide->GetPower(), 3.0);
    EXPECT_DOUBLE_EQ(narrow->GetXRadius(), 1.0);
    EXPECT_DOUBLE_EQ(narrow->GetPower(), 60 * 0.2 * 0.05);

    chain->SetRawProcessingFlag(0);
    ASSERT_EQ(picture.Update(CKvTolmoFilterChain::kCameraSettingsFlagChanged), CKvTolmoFilterChain::kOk);
    EXPECT_EQ(chain->GetListStageCount(), 0u);
    EXPECT_EQ(output->FindNext(
                  CUnsharpMaskFilter::kCode,
                  output->GetPosition(chain->GetStage(CKvTolmoFilterChain::kGeneralSharpeningStage)) + 1),
              IPravonFilterChain::kNone);
}

// A list entry sharpens the LCh lightness as the reference unsharp mask does, its overshoot clipped at both
// ends of the range; hue and chroma pass unchanged.
TEST(ChainUpdateSteps, TheSharpeningListSharpensTheLightnessAsAReferenceUnsharpMask) {
    ChainMachine machine;
    Picture picture;
    CKvnFilterChain& object = picture.Open();
    CKvUSM entry;
    entry.SetRadiusCode(10);
    entry.SetAmountCode(60);
    object.usmList.Append(entry);
    picture.Develop();
    CPravonFilterBase* stage = picture.Chain()->GetListStage(0);
    ASSERT_NE(stage, nullptr);
    kvtest::TestPlane in, out;
    ASSERT_PV_OK(kvtest::PullAll(PravonGetDataSource(stage, 0), &in));
    ASSERT_PV_OK(kvtest::PullAll(stage, &out));
    ASSERT_EQ(in.colorSpace, PravonColorSpace::kLCh16);
    // Radius code 10 is 2 pixels, amount code 60 the power 3, on the lightness plane alone; the filter's
    // 16-bit weights move the mean a little.
    kvtest::UsmSettings reference;
    reference.method = CUnsharpMaskKernel::kRaisedCosine;
    reference.radiusX = reference.radiusY = 2.0;
    reference.power = 3.0;
    reference.planeMask = 1;
    EXPECT_TRUE(kvtest::PlanesMatch(kvtest::UnsharpMaskReference(in, reference), out, 6));
    const auto clipped = [](const kvtest::TestPlane& plane) {
        LONG count = 0;
        for (LONG y = 0; y < plane.height; ++y)
            for (LONG x = 0; x < plane.width; ++x)
                count += plane.Sample(x, y, 0) == 0 || plane.Sample(x, y, 0) == 65535;
        return count;
    };
    EXPECT_GT(clipped(out), clipped(in)) << "the overshoot reaches both ends of the range";
}

// The display shows clipped highlights first, else clipped shadows, else nothing.
TEST(ChainUpdateSteps, TheLostDetailDisplayFollowsTheSettingsFlags) {
    ChainMachine machine;
    Picture picture;
    CKvnFilterChain& object = picture.Open();
    picture.Develop();
    const auto* stage =
        static_cast<const CFltThreshold*>(picture.Chain()->GetStage(CKvTolmoFilterChain::kLostDetailStage));
    const struct {
        BYTE highlights, shadows;
        bool on;
        BYTE threshold;
    } cases[] = {{1, 1, true, 255}, {0, 1, true, 0}, {0, 0, false, 0}};
    for (const auto& c : cases) {
        object.lostHighlights = c.highlights;
        object.lostShadows = c.shadows;
        ASSERT_EQ(picture.Update(CKvTolmoFilterChain::kLostDetailChanged), CKvTolmoFilterChain::kOk);
        EXPECT_EQ(stage->IsEnabled(), c.on);
        if (c.on) {
            EXPECT_EQ(stage->GetThreshold(), c.threshold);
        }
    }
}

// The dust map, Revelation, red-eye detection and the plug-ins' runs report through the update's progress,
// each from its start to its end under its own bit; a missing dust map leaves its text for the caller until
// the next update.
TEST(ChainUpdateSteps, LongStepsReportThroughTheUpdatesProgress) {
    ChainMachine machine;
    using Report = std::array<LONG, 3>;
    const auto record = [](LONG state, LONG percent, LONG category, void* reports) {
        static_cast<std::vector<Report>*>(reports)->push_back({state, percent, category});
    };
    const struct {
        DWORD mask;
        Setter set;
    } cases[] = {{CKvTolmoFilterChain::kDustChanged, SetDustReference},
                 {CKvTolmoFilterChain::kRevelationChanged,
                  [](CKvnFilterChain& o, IPravonManager&) {
                      o.revelationEnabled = 1;
                      o.revelation.SetFirstAmount(80);
                  }},
                 {CKvTolmoFilterChain::kRedEyeChanged,
                  [](CKvnFilterChain& o, IPravonManager&) {
                      o.redEyeEnabled = 1;
                      o.redEye.SetMode(CKvFnRedEye::kModeAutomatic);
                  }},
                 {CKvTolmoFilterChain::kPluginListChanged,
                  [](CKvnFilterChain& o, IPravonManager&) { AddPlugin(o, "KvInvert"); }}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mask);
        Picture picture;
        picture.Open();
        picture.Develop();
        c.set(*picture.object, picture.manager);
        std::vector<Report> reports;
        ASSERT_EQ(
            picture.Chain()->Update(picture.object->CreateProperties().get(), c.mask, 1.0, record, &reports),
            CKvTolmoFilterChain::kOk);
        ASSERT_GE(reports.size(), 2u);
        EXPECT_EQ(reports.front()[0], CKvTolmoFilterChain::kProgressStart);
        EXPECT_EQ(reports.back(),
                  (Report{CKvTolmoFilterChain::kProgressEnd, 100, static_cast<LONG>(c.mask)}));
        for (std::size_t i = 0; i < reports.size(); ++i) {
            EXPECT_EQ(reports[i][2], static_cast<LONG>(c.mask));
            EXPECT_GE(reports[i][1], i ? reports[i - 1][1] : 0) << "report " << i;
        }
        if (c.mask == CKvTolmoFilterChain::kRevelationChanged ||
            c.mask == CKvTolmoFilterChain::kRedEyeChanged) {
            // Their passes report on the way: more than the start and the end.
            EXPECT_GT(reports.size(), 2u);
        }
    }
    Picture picture;
    picture.Open();
    picture.Develop();
    SetJunkDustReference(*picture.object, picture.manager);
    EXPECT_EQ(picture.Update(CKvTolmoFilterChain::kDustChanged), CKvTolmoFilterChain::kNoDustMap);
    EXPECT_EQ(picture.Chain()->GetErrorText(), "Dust Map Error");
    // The object's error carries the text to its caller.
    const PravonErrorPtr error(picture.object->UpdateChain(CKvTolmoFilterChain::kDustChanged));
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->HasKind(11006));
    EXPECT_TRUE(error->HasText("Dust Map Error")) << error->Describe();
    picture.object->dustEnabled = 0;
    EXPECT_EQ(picture.Update(CKvTolmoFilterChain::kDustChanged), CKvTolmoFilterChain::kOk);
    EXPECT_EQ(picture.Chain()->GetErrorText(), "");
}

// The update that makes a plug-in stage ends with the plug-in's run step over the whole picture, before any
// tile is asked for: it asks for its parameters there, once. A dialog closed without an answer does not fail
// the update.
TEST(ChainUpdateSteps, TheUpdateEndsWithThePluginsRunStepOnce) {
    ChainMachine machine;
    KvTestPlugins::Probe probe("KvDialogGain");
    for (const bool answered : {true, false}) {
        SCOPED_TRACE(answered);
        probe.Reset();
        Picture picture;
        CKvnFilterChain& object = picture.Open();
        picture.Develop();
        AddPlugin(object, "KvDialogGain");
        if (answered)
            probe.QueueAnswer(70);
        ASSERT_EQ(picture.Update(CKvTolmoFilterChain::kPluginListChanged), CKvTolmoFilterChain::kOk);
        EXPECT_EQ(probe.Fact("dialogs"), 1);
        EXPECT_EQ(object.filterPlugins.GetStep(0).GetPlugin()->GetParameterSize(), answered ? 4 : 0);
        ASSERT_EQ(picture.Update(0), CKvTolmoFilterChain::kOk);
        EXPECT_EQ(probe.Fact("dialogs"), 1) << "asked once";
    }
}

// The active sensor area of the models with a margin, scaled to a reduced source by integer division.
TEST(ChainUpdateSteps, TheActiveSensorAreaOfEachModel) {
    const struct {
        WORD model;
        LONG ratio;
        PravonRect area;
    } cases[] = {{260, 1, {9, 3, 2473, 1635}}, {260, 2, {4, 1, 1236, 817}},  {1025, 1, {7, 6, 3015, 2006}},
                 {1026, 3, {3, 0, 1005, 667}}, {259, 1, {0, 0, 3000, 2000}}, {513, 2, {0, 0, 1500, 1000}}};
    for (const auto& c : cases) {
        const PravonRect area = CKvTolmoFilterChain::ActiveSensorArea(c.model, 3000, 2000, c.ratio);
        EXPECT_EQ(area, c.area) << c.model << " at 1/" << c.ratio;
    }
}

// A block an update step cannot have ends the update with no memory, which the object reports as out of
// memory, the step's stage as it was; the next update, with memory again, develops what a fresh
// development of the same settings does.
TEST(ChainUpdateSteps, AStepWithoutMemoryFailsTheUpdateAndTheNextUpdateDevelopsAsFromScratch) {
    ChainMachine machine;
    WriteFile(machine.Folder() + kKvLchCalibrationFile, kvtest::LchCalibrationBytes({}, 0));
    const struct {
        const char* name;
        DWORD mask;
        std::size_t bytes;
        Setter set;
    } cases[] = {
        // The gain stage's three 4096-entry tables, the editor's 2^16-entry curves, a list or plug-in stage.
        {"gain tables", CKvTolmoFilterChain::kWhiteBalanceChanged, 3 * 4096 * sizeof(WORD),
         [](CKvnFilterChain& o, IPravonManager&) {
             o.whiteBalance.SetMode(CKvWBAdjustment::kModeOldGains);
             o.whiteBalance.SetGains(2.0, 0.5);
         }},
        {"LCh editor tables", CKvTolmoFilterChain::kLchEditorChanged,
         CFltLch::kCurveCount * 65536 * sizeof(WORD), SetLchCurves},
        {"sharpening list stage", CKvTolmoFilterChain::kSharpeningListChanged, sizeof(CUnsharpMaskFilter),
         [](CKvnFilterChain& o, IPravonManager&) { AddSharpening(o, 0); }},
        {"plug-in stage", CKvTolmoFilterChain::kPluginListChanged, sizeof(CFltPlugin),
         [](CKvnFilterChain& o, IPravonManager&) { AddPlugin(o, "KvInvert"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Picture picture;
        CKvnFilterChain& object = picture.Open();
        const kvtest::TestPlane plain = picture.Develop();
        ASSERT_NE(picture.Chain(), nullptr) << "the development failed";
        c.set(object, picture.manager);
        kvtest::FailAllocationOfSize(c.bytes);
        EXPECT_EQ(picture.Update(c.mask), CKvTolmoFilterChain::kNoMemory);
        ASSERT_TRUE(kvtest::StopFailingAllocations());
        EXPECT_EQ(picture.Chain()->GetListStageCount() + picture.Chain()->GetPluginStageCount(), 0u);
        kvtest::FailAllocationOfSize(c.bytes);
        const PravonErrorPtr error(object.UpdateChain(c.mask));
        ASSERT_TRUE(kvtest::StopFailingAllocations());
        ASSERT_TRUE(error);
        EXPECT_EQ(error->GetKind(), PravonKind::kOutOfMemory) << error->Describe();

        ASSERT_PV_OK(object.UpdateChain(c.mask));
        const kvtest::TestPlane changed = picture.Develop();
        EXPECT_NE(kvtest::ComparePlanes(plain, changed).maxError, 0u);
        Picture scratch;
        c.set(scratch.Open(), scratch.manager);
        const kvtest::PlaneDifference difference = kvtest::ComparePlanes(scratch.Develop(), changed);
        EXPECT_TRUE(difference.sameGeometry && difference.maxError == 0) << difference.Describe();
    }
}

// The Revelation stage's passes report as the step's progress: the statistics pass fills 0 to 25, the
// output pass 25 to 100, any other pass all of it. Between updates, and in an update without a progress,
// what the stage tells is dropped.
TEST(ChainUpdateSteps, RevelationPassesReportTheirShareOfTheStep) {
    ChainMachine machine;
    using Report = std::array<LONG, 3>;
    constexpr LONG kNorm = CFltRevelation::kStatisticsCode, kRev = CFltRevelation::kOutputCode;
    // A pass's code, done and total, and the percent it is reported at, hand-worked.
    static const LONG kPasses[][4] = {{kNorm, 1, 2, 12},         {kNorm, 1, 1, 25},  {kNorm, 7, 3, 25},
                                      {kNorm, 5, 0, 0},          {kRev, 0, 100, 25}, {kRev, 3, 4, 81},
                                      {kRev, 1, 1, 100},         {kRev, -4, 8, 25},  {0, 99, 100, 99},
                                      {FourCC("Xtra"), 1, 4, 25}};
    struct Probe {
        CPravonFilterBase* stage = nullptr;
        std::vector<Report> reports, told;
        void Tell(const LONG* pass) {
            CFltRevelation::CProgress progress{pass[0], pass[1], pass[2]};
            EXPECT_PV_OK(stage->NotifyWatchers(CFltRevelation::kProgressNotification, &progress));
        }
    };
    // At the step's start, every pass of the table, each to one report of its own.
    const auto record = [](LONG state, LONG percent, LONG category, void* context) {
        Probe& probe = *static_cast<Probe*>(context);
        probe.reports.push_back({state, percent, category});
        if (state != CKvTolmoFilterChain::kProgressStart || !probe.told.empty())
            return;
        for (const auto& pass : kPasses) {
            const std::size_t before = probe.reports.size();
            probe.Tell(pass);
            probe.told.push_back(probe.reports.size() == before + 1 ? probe.reports.back() : Report{});
        }
    };
    Picture picture;
    CKvnFilterChain& object = picture.Open();
    picture.Develop();
    Probe probe;
    probe.stage = picture.Chain()->GetStage(CKvTolmoFilterChain::kRevelationStage);
    object.revelationEnabled = 1;
    object.revelation.SetFirstAmount(80);
    ASSERT_EQ(picture.Chain()->Update(object.CreateProperties().get(),
                                      CKvTolmoFilterChain::kRevelationChanged, 1.0, record, &probe),
              CKvTolmoFilterChain::kOk);
    ASSERT_EQ(probe.told.size(), std::size(kPasses));
    for (std::size_t i = 0; i < std::size(kPasses); ++i)
        EXPECT_EQ(probe.told[i], (Report{CKvTolmoFilterChain::kProgressStep, kPasses[i][3],
                                         static_cast<LONG>(CKvTolmoFilterChain::kRevelationChanged)}))
            << "pass " << i;

    const std::size_t heard = probe.reports.size();
    probe.Tell(kPasses[0]);
    object.revelation.SetFirstAmount(40);
    EXPECT_EQ(picture.Update(CKvTolmoFilterChain::kRevelationChanged), CKvTolmoFilterChain::kOk);
    EXPECT_TRUE(picture.Chain()->GetStage(CKvTolmoFilterChain::kRevelationStage)->IsEnabled())
        << "its passes ran without a progress";
    EXPECT_EQ(probe.reports.size(), heard);
}
