#include "testing/ProfileMachine.h"

#include "rawlib/pipeline/CKvFileSavingUtilities.h"
#include "rawlib/pipeline/CKvTolmoFilterChain.h"

#include "filters/CPravonFilterCML.h"
#include "filters/CPravonFilterLut.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/quasel/CPravonCameraRawLoad.h"
#include "platform/quasel/CPravonTagControl.h"
#include "rawlib/filters/CFltFnRedeye.h"
#include "rawlib/filters/CFltSatComp.h"
#include "rawlib/filters/detail/CFltColorNoise.h"
#include "rawlib/filters/detail/CFltVignette.h"
#include "rawlib/foundation/CKvRect.h"
#include "rawlib/settings/CKvExposureAdjustment.h"
#include "rawlib/settings/CKvFnRedEye.h"
#include "rawlib/settings/CKvLutChannel.h"
#include "rawlib/settings/CKvLutGroup.h"
#include "rawlib/settings/CKvNoiseReduction.h"
#include "rawlib/settings/CKvSizeRes.h"
#include "rawlib/settings/CKvVignette.h"
#include "rawlib/settings/ImageProperties.h"
#include "testing/IccTestProfiles.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/RedEyePortrait.h"
#include "testing/TestPlane.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

TEST(StageSetup, CameraToneTablesTurnHueAndScaleChroma) {
    EXPECT_TRUE(CKvTolmoFilterChain::CameraToneTables(3, 1.0).empty()) << "neutral: no tables";
    struct Case {
        LONG level;
        double saturation;
        std::size_t at;
        WORD lightness, chroma, hue;
    } const cases[] = {
        // d = (3 x 1 - 9) x 65536 / 360 = -1092.27, toward zero -1092: 0 wraps to 64444.
        {1, 1.0, 0, 0, 0, 64444},
        {1, 1.0, 1092, 1092, 1092, 0},
        // d = 6 x 65536 / 360 = 1092.27 -> 1092; the top wraps.
        {5, 1.0, 65535, 65535, 65535, 1091},
        {3, 0.85, 1000, 1000, 850, 1000},
        {3, 1.1, 65000, 65000, 65535, 65000},
        {3, 1.1, 20001, 20001, 22001, 20001},
    };
    for (const Case& c : cases) {
        const std::vector<WORD> t = CKvTolmoFilterChain::CameraToneTables(c.level, c.saturation);
        ASSERT_EQ(t.size(), 3u * 65536);
        EXPECT_EQ(t[c.at], c.lightness) << c.level << " at " << c.at;
        EXPECT_EQ(t[65536 + c.at], c.chroma) << c.level << " at " << c.at;
        EXPECT_EQ(t[2 * 65536 + c.at], c.hue) << c.level << " at " << c.at;
    }
}

TEST(StageSetup, TheCropRectangleInTheCropStagesCoordinates) {
    using In = CKvTolmoFilterChain::CropInput;
    struct Case {
        const char* what;
        In in;
        PravonRect expected;
    } const cases[] = {
        // Twice-size settings coordinates halved: (400, 300, 2400, 1700) at full size.
        {"full size", {800, 600, 4800, 3400, 1, 1.0, false, false, false, 0, 0}, {400, 300, 2400, 1700}},
        {"a quarter of the sensor",
         {800, 600, 4800, 3400, 2, 1.0, false, false, false, 0, 0},
         {200, 150, 1200, 850}},
        // 0.075 x 400 = 30, x 300 = 22.5 -> 22; 30 + 0.075 x 2000 = 180; 22 + 105 = 127.
        {"first reduction", {800, 600, 4800, 3400, 1, 0.075, false, false, false, 0, 0}, {30, 22, 180, 127}},
        {"to the requested size",
         {800, 600, 4800, 3400, 1, 0.5, false, false, true, 640, 480},
         {200, 150, 840, 630}},
        // Camera 259: 300 x 0.50153 = 150.46 -> 150; 150 + 1400 x 0.50153 = 852.1 -> 852.
        {"tall pixels", {800, 600, 4800, 3400, 1, 1.0, true, false, false, 0, 0}, {400, 150, 2400, 852}},
        {"tall pixels stretched first",
         {800, 600, 4800, 3400, 1, 0.5, true, true, true, 640, 480},
         {200, 150, 840, 850}},
    };
    for (const Case& c : cases) {
        const PravonRect r = CKvTolmoFilterChain::CropRectangle(c.in);
        EXPECT_EQ(r.left, c.expected.left) << c.what;
        EXPECT_EQ(r.top, c.expected.top) << c.what;
        EXPECT_EQ(r.right, c.expected.right) << c.what;
        EXPECT_EQ(r.bottom, c.expected.bottom) << c.what;
    }
}

// The profile utilities while it lives; it must outlive the chains, whose stages hold engines of its cache.
struct UtilitiesUser {
    UtilitiesUser() { CKvFileSavingUtilities::AddUser(); }
    ~UtilitiesUser() { CKvFileSavingUtilities::RemoveUser(); }
};

// A built chain over a 16-bit RGB picture, with the profile utilities over a machine with the profiles.
class ChainOverRgb : public ::testing::Test {
protected:
    void SetUp() override {
        CKvFileSavingUtilities::Get()->SetProfileFolder(machine.Folder());
        const std::string f = machine.Folder();
        CKvFileSavingUtilities::Get()->FillStandardTable(f + "KVsRGB.icm", f + "KvCMYK.icm", f + "KvLch2.icm",
                                                         "");
        plane = kvtest::MakePlane(40, 30, PravonColorSpace::kRGB16, kvtest::FillPattern::Random, 3);
        image = kvtest::MakeImage(manager, plane);
        tags = new CPravonTagControl();
        snapshot.sourceImage = image.get();
        snapshot.tagControl = tags;
        ASSERT_EQ(chain.Build(&manager, image.get()), CKvTolmoFilterChain::kOk);
    }
    void TearDown() override { tags->Release(); }
    // The tags a raw picture of camera model 258 records: taken in its sRGB mode, automatic white balance.
    void TagAsRawCamera() {
        snapshot.rawFlag = 1;
        snapshot.cameraModelCode = 258;
        const LONG colorMode = 0, whiteBalance[2] = {0, 0};
        tags->WriteTag(0x8008D, 9, sizeof colorMode, &colorMode);
        tags->WriteTag(0x80005, 9, sizeof whiteBalance, whiteBalance);
    }
    // The largest difference of the chain's output from the source plane; -1 when their sizes differ.
    long WorstAgainstSource() {
        kvtest::TestPlane out;
        EXPECT_EQ(kvtest::PullAll(chain.GetOutput()->GetOutput(), &out), nullptr);
        long worst = out.width == plane.width && out.height == plane.height ? 0 : -1;
        for (LONG y = 0; worst >= 0 && y < plane.height; ++y)
            for (LONG x = 0; x < plane.width; ++x)
                for (LONG c = 0; c < 3; ++c)
                    worst =
                        std::max(worst, std::labs(long{out.Sample(x, y, c)} - long{plane.Sample(x, y, c)}));
        return worst;
    }
    // The largest difference of the chain's output from lcms2 converting the source plane from the
    // profile file to the standard sRGB profile directly; -1 when lcms2 cannot.
    long WorstAgainstLcms2(const std::string& from) {
        kvtest::TestPlane out;
        EXPECT_EQ(kvtest::PullAll(chain.GetOutput()->GetOutput(), &out), nullptr);
        long worst = out.width == plane.width && out.height == plane.height ? 0 : -1;
        for (LONG y = 0; worst >= 0 && y < plane.height; ++y) {
            const std::vector<WORD> expected = kvtest::Lcms2ConvertRgb16(
                from, machine.Profile("KVsRGB.icm"), reinterpret_cast<const WORD*>(plane.Row(y)),
                static_cast<std::size_t>(plane.width));
            for (std::size_t i = 0; i < expected.size(); ++i)
                worst =
                    std::max(worst, std::labs(long{out.Sample(LONG(i / 3), y, LONG(i % 3))} - expected[i]));
            worst = expected.empty() ? -1 : worst;
        }
        return worst;
    }

    UtilitiesUser user;
    kvtest::ProfileMachine machine{KV_MAKE_PROFILES};
    CPravonMemoryManager manager{16};
    kvtest::TestPlane plane;
    PravonImagePtr image;
    CPravonTagControl* tags = nullptr;
    ImageProperties snapshot;
    CKvTolmoFilterChain chain;
};

TEST_F(ChainOverRgb, ALinearPictureConvertedToSrgbMatchesLcms2) {
    const cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    cmsToneCurve* curves[3] = {linear, linear, linear};
    cmsHPROFILE linearProfile = cmsCreateRGBProfile(&d65, &primaries, curves);
    cmsFreeToneCurve(linear);
    const std::string linearPath = machine.Profile("linear.icc");
    ASSERT_TRUE(cmsSaveProfileToFile(linearProfile, linearPath.c_str()));
    snapshot.embeddedProfile = 1;
    snapshot.embeddedProfilePath = linearPath;
    snapshot.defaultProfileRequested = 1;
    ASSERT_EQ(chain.Update(&snapshot, CKvTolmoFilterChain::kEverything, 1.0), CKvTolmoFilterChain::kOk);
    EXPECT_TRUE(chain.GetStage(CKvTolmoFilterChain::kOutputConversionStage)->IsEnabled());
    EXPECT_EQ(chain.GetOutputProfile(), machine.Profile("KVsRGB.icm"));
    EXPECT_EQ(chain.GetProfileDescription(), "KORVEL sRGB") << "read without its version";
    const long worst = WorstAgainstLcms2(linearPath);
    // Both roads are lcms2 over the same profiles; they may differ only by its interpolation of an
    // optimised transform against the plain one, well below one 8-bit step (257).
    EXPECT_GE(worst, 0);
    EXPECT_LE(worst, 64);
    cmsCloseProfile(linearProfile);
}

// A raw picture's samples are in the camera profile generated for its camera and settings, which the
// output conversion starts from; a camera the generator does not know is converted from its file's own
// profile, or, when its file gave none, taken as sRGB: never a failed update.
TEST_F(ChainOverRgb, ARawPictureIsConvertedFromItsGeneratedCameraProfile) {
    TagAsRawCamera();
    ASSERT_EQ(chain.Update(&snapshot, CKvTolmoFilterChain::kEverything, 1.0), CKvTolmoFilterChain::kOk);
    ASSERT_TRUE(chain.GetStage(CKvTolmoFilterChain::kOutputConversionStage)->IsEnabled());
    EXPECT_EQ(chain.GetOutputProfile(), machine.Profile("KVsRGB.icm"));
    const std::string generated = CKvFileSavingUtilities::Get()->GenerateCameraProfile(snapshot);
    // The MA family's name in mode number 1 (colour mode 0), some table row, tone mode 3, tables 308.
    const std::string name = generated.substr(std::min(generated.size(), machine.Folder().size()));
    EXPECT_EQ(name.substr(0, 9), "Kvx_MA_1_") << name;
    EXPECT_EQ(name.substr(std::max<std::size_t>(name.size(), 11) - 11), "_03_308.icm") << name;
    cmsHPROFILE camera = cmsOpenProfileFromFile(generated.c_str(), "r");
    ASSERT_NE(camera, nullptr);
    char description[64] = {};
    cmsGetProfileInfoASCII(camera, cmsInfoDescription, "en", "US", description, sizeof description);
    cmsCloseProfile(camera);
    EXPECT_STREQ(description, "Korvel MA/H/X for KRX Mode1 v2.0.0.3000");
    const long worst = WorstAgainstLcms2(generated);
    // The chain's engine is the same lcms2 transform of the same two profiles, unoptimised in both.
    EXPECT_GE(worst, 0);
    EXPECT_LE(worst, 1);

    struct Case {
        WORD model;
        int result;
        const char* text;
    } const cases[] = {{0, CKvTolmoFilterChain::kOk, ""}, {513, CKvTolmoFilterChain::kOk, ""}};
    for (const Case& c : cases) {
        snapshot.cameraModelCode = c.model;
        EXPECT_EQ(chain.Update(&snapshot, CKvTolmoFilterChain::kEverything, 1.0), c.result) << c.model;
        EXPECT_EQ(chain.GetErrorText(), c.text) << c.model;
        EXPECT_EQ(CKvFileSavingUtilities::Get()->GenerateCameraProfile(snapshot),
                  machine.Profile("KVsRGB.icm"))
            << c.model << ": the processed-raw models deliver sRGB, and so does a file without colour data";
    }

    // The file's own profile, given by the camera raw loader, is written once under a name of its content.
    cmsHPROFILE own = cmsCreate_sRGBProfile();
    cmsUInt32Number size = 0;
    ASSERT_TRUE(cmsSaveProfileToMem(own, nullptr, &size));
    std::vector<BYTE> bytes(size);
    ASSERT_TRUE(cmsSaveProfileToMem(own, bytes.data(), &size));
    cmsCloseProfile(own);
    ASSERT_PV_OK(tags->WriteTag(CPravonCameraRawLoad::kCameraColorProfileTag, 1, size, bytes.data()));
    snapshot.cameraModelCode = 0;
    ASSERT_EQ(chain.Update(&snapshot, CKvTolmoFilterChain::kEverything, 1.0), CKvTolmoFilterChain::kOk);
    const std::string path = chain.GetInputProfile();
    EXPECT_EQ(path.substr(0, machine.Folder().size() + 5), machine.Folder() + "Kvx_F") << path;
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::vector<BYTE>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), bytes);
    // An sRGB profile of its own converts to the standard one leaving every colour as it was: within the
    // steps of the standard profile's curve as it is stored, 4096 linear values of 16 bits, whose inverse
    // moves a sample just above black by a few codes.
    constexpr long kStoredCurveSteps = 8;
    const long moved = WorstAgainstSource();
    EXPECT_GE(moved, 0);
    EXPECT_LE(moved, kStoredCurveSteps);
    snapshot.cameraModelCode = 258;
    EXPECT_EQ(CKvFileSavingUtilities::Get()->CameraProfile(snapshot), generated)
        << "the maker's own models keep their generated profile";
}

TEST_F(ChainOverRgb, WithoutAReasonToConvertTheOutputStageStaysOffAndAMissingProfileFails) {
    ASSERT_EQ(chain.Update(&snapshot, CKvTolmoFilterChain::kEverything, 1.0), CKvTolmoFilterChain::kOk);
    EXPECT_FALSE(chain.GetStage(CKvTolmoFilterChain::kOutputConversionStage)->IsEnabled());
    snapshot.embeddedProfile = 1;
    snapshot.embeddedProfilePath = machine.Profile("none.icc");
    EXPECT_EQ(chain.Update(&snapshot, 0, 1.0), CKvTolmoFilterChain::kColorEngineError);
}

// The saturation compensation of a raw picture: the settings' level when their override is set, else the
// second byte of the camera record; a crop hands the size settings' resolution to the source.
TEST_F(ChainOverRgb, CompensationFromTheCameraRecordAndTheCropsResolution) {
    TagAsRawCamera();
    std::vector<BYTE> record(304, 0);
    record[1] = 2;
    tags->WriteTag(0x80097, 7, 304, record.data());
    CKvExposureAdjustment settings;
    settings.SetFourthValue(4);
    struct Case {
        BYTE overrideByte;
        LONG expected;
    } const cases[] = {{0, 2}, {1, 4}};
    for (const Case& c : cases) {
        settings.SetFirstFlag(c.overrideByte);
        snapshot.exposure = c.overrideByte ? &settings : nullptr;
        snapshot.exposureEnabled = c.overrideByte;
        ASSERT_EQ(chain.Update(&snapshot, CKvTolmoFilterChain::kEverything, 1.0), CKvTolmoFilterChain::kOk);
        ASSERT_TRUE(chain.GetStage(CKvTolmoFilterChain::kLchConversionStage)->IsEnabled())
            << "a compensation asks for LCh";
        EXPECT_TRUE(chain.GetStage(CKvTolmoFilterChain::kSaturationCompensationStage)->IsEnabled());
        EXPECT_EQ(static_cast<CFltSatComp*>(chain.GetStage(CKvTolmoFilterChain::kSaturationCompensationStage))
                      ->GetCompensation(),
                  c.expected);
    }

    const CKvRect crop(4, 6, 24, 30);
    CKvSizeRes size(plane.width, plane.height, &crop, UnitValue::PerInch(240));
    snapshot.sizeRes = &size;
    chain.SetActive(1);
    ASSERT_EQ(chain.Update(&snapshot, CKvTolmoFilterChain::kCropChanged, 1.0), CKvTolmoFilterChain::kOk);
    EXPECT_TRUE(chain.GetStage(CKvTolmoFilterChain::kCropStage)->IsEnabled());
    double resolution = 0;
    ASSERT_EQ(image->GetResolution(&resolution), nullptr);
    EXPECT_EQ(resolution, 240.0);
}

TEST_F(ChainOverRgb, TheCurveRuleSwitchesTheCurveStages) {
    CKvLutGroup first, second;
    snapshot.lutGroup1 = &first;
    snapshot.lutGroup2 = &second;
    snapshot.lutGroup1Enabled = snapshot.lutGroup2Enabled = 1;
    snapshot.separateCurves = 1;
    ASSERT_EQ(chain.Update(&snapshot, 0x1 | 0x2, 1.0), CKvTolmoFilterChain::kOk);
    EXPECT_FALSE(chain.GetStage(CKvTolmoFilterChain::kFirstCurvesStage)->IsEnabled()) << "neutral groups";
    EXPECT_FALSE(chain.GetStage(CKvTolmoFilterChain::kSecondCurvesStage)->IsEnabled());
    dynamic_cast<CKvLutChannel*>(second.GetChannelAt(0))->SetGamma(2.0);
    ASSERT_FALSE(second.IsNeutral());
    ASSERT_EQ(chain.Update(&snapshot, 0x2, 1.0), CKvTolmoFilterChain::kOk);
    EXPECT_TRUE(chain.GetStage(CKvTolmoFilterChain::kSecondCurvesStage)->IsEnabled())
        << "kept apart, the second group has its own stage";
    EXPECT_FALSE(chain.GetStage(CKvTolmoFilterChain::kFirstCurvesStage)->IsEnabled());
    snapshot.separateCurves = 0;
    ASSERT_EQ(chain.Update(&snapshot, 0x2, 1.0), CKvTolmoFilterChain::kOk);
    EXPECT_FALSE(chain.GetStage(CKvTolmoFilterChain::kSecondCurvesStage)->IsEnabled())
        << "together, the first stage carries both";
    EXPECT_TRUE(chain.GetStage(CKvTolmoFilterChain::kFirstCurvesStage)->IsEnabled());
    snapshot.lutGroup1Enabled = snapshot.lutGroup2Enabled = 0;
    ASSERT_EQ(chain.Update(&snapshot, 0x1, 1.0), CKvTolmoFilterChain::kOk);
    EXPECT_FALSE(chain.GetStage(CKvTolmoFilterChain::kFirstCurvesStage)->IsEnabled()) << "both groups off";
}

} // namespace

namespace {

TEST(StageSetup, TheSensitivityTagTunesTheDemosaicing) {
    struct Case {
        WORD first, second, model;
        LONG expected;
    } const cases[] = {{0, 400, 258, 400}, {0, 3200, 259, 3200}, {1, 3200, 258, -1}, {1, 6400, 258, -2},
                       {1, 1600, 259, -1}, {1, 3200, 259, -2},   {1, 1600, 258, 0},  {2, 400, 258, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(CKvTolmoFilterChain::DemosaicSensitivity(c.first, c.second, c.model), c.expected)
            << c.first << " " << c.second << " " << c.model;
}

TEST_F(ChainOverRgb, TheVignetteStageTakesTheLensRecordOfItsVersion) {
    CKvVignette vignette;
    vignette.SetAmount(80);
    snapshot.vignette = &vignette;
    snapshot.vignetteEnabled = 1;
    const double diagonal = 28.4, fNumber = 4.0;
    ASSERT_EQ(tags->WriteTag(0x8000A, 4, 8, &diagonal), nullptr);
    ASSERT_EQ(tags->WriteTag(0x829D, 4, 8, &fNumber), nullptr);
    const BYTE flags[8] = {0, 0, 1, 0, 0, 0, 0, 0};
    ASSERT_EQ(tags->WriteTag(0x80083, 0x105, 8, flags), nullptr);
    BYTE record[31];
    for (int i = 0; i < 31; ++i)
        record[i] = static_cast<BYTE>(100 + i);
    struct Case {
        const char* version;
        double fNumber;
        bool lens;
        BYTE first, last;
    } const cases[] = {
        {"0100", 4.0, true, 113, 118}, {"0101", 4.0, true, 104, 122}, {"0200", 1.0, false, 0, 0}};
    auto* stage = static_cast<CFltVignette*>(chain.GetStage(CKvTolmoFilterChain::kVignetteStage));
    for (const Case& c : cases) {
        std::memcpy(record, c.version, 4);
        ASSERT_EQ(tags->WriteTag(0x80098, 0x108, 31, record), nullptr);
        ASSERT_EQ(chain.Update(&snapshot, 0x400, 1.0), CKvTolmoFilterChain::kOk) << c.version;
        EXPECT_TRUE(stage->IsEnabled()) << c.version;
        EXPECT_EQ(stage->GetFNumber(), c.fNumber) << c.version;
        EXPECT_DOUBLE_EQ(stage->GetAmount(), 0.8);
        EXPECT_DOUBLE_EQ(stage->GetSensorDiagonal(), 28.4);
        ASSERT_EQ(stage->HasLensId(), c.lens) << c.version;
        if (c.lens) {
            EXPECT_EQ(stage->GetLensId().front(), c.first) << c.version;
            EXPECT_EQ(stage->GetLensId().back(), c.last) << c.version;
        }
    }
    tags->RemoveTag(0x8000A);
    std::memcpy(record, "0100", 4);
    tags->WriteTag(0x80098, 0x108, 31, record);
    ASSERT_EQ(chain.Update(&snapshot, 0x400, 1.0), CKvTolmoFilterChain::kOk);
    EXPECT_EQ(stage->GetFNumber(), 1.0) << "without the sensor's size";
    vignette.SetAmount(0);
    ASSERT_EQ(chain.Update(&snapshot, 0x400, 1.0), CKvTolmoFilterChain::kOk);
    EXPECT_FALSE(stage->IsEnabled());
}

} // namespace

namespace {

TEST(StageSetupRedEye, FoundPupilsAreWrittenBackAndAClearRequestIsServedOnce) {
    kvtest::ProfileMachine machine{KV_MAKE_PROFILES};
    UtilitiesUser user;
    CKvFileSavingUtilities::Get()->SetProfileFolder(machine.Folder());
    CPravonMemoryManager manager{16};
    const std::vector<kvtest::TestPupil> pupils = {{12, 28, 4}, {60, 30, 4}};
    PravonImagePtr image =
        kvtest::MakeImage(manager, kvtest::MakePortrait(96, 72, PravonColorSpace::kRGB8, pupils));
    CKvTolmoFilterChain chain;
    ASSERT_EQ(chain.Build(&manager, image.get()), CKvTolmoFilterChain::kOk);
    CKvFnRedEye state;
    ImageProperties snapshot;
    snapshot.sourceImage = image.get();
    snapshot.redEye = &state;
    snapshot.redEyeEnabled = 1;
    ASSERT_EQ(chain.Update(&snapshot, 0x1000, 1.0), CKvTolmoFilterChain::kOk);
    EXPECT_FALSE(chain.GetStage(CKvTolmoFilterChain::kRedEyeStage)->IsEnabled()) << "mode off";
    state.SetMode(CKvFnRedEye::kModeAutomatic);
    ASSERT_EQ(chain.Update(&snapshot, 0x1000, 1.0), CKvTolmoFilterChain::kOk);
    EXPECT_TRUE(chain.GetStage(CKvTolmoFilterChain::kRedEyeStage)->IsEnabled());
    EXPECT_EQ(state.GetAutomaticRegions().size(), pupils.size()) << "the regions found go into the settings";
    state.SetMode(CKvFnRedEye::kModeManual);
    const std::vector<BYTE> saved = kvtest::SavedRedEyeRegion({10, 10, 14, 14});
    CKvRegionBuffer region;
    ASSERT_TRUE(region.Allocate(static_cast<DWORD>(saved.size())));
    region.Write(saved.data(), static_cast<DWORD>(saved.size()));
    state.GetManualRegions().push_back(region);
    state.SetClearManualRequest(true);
    ASSERT_EQ(chain.Update(&snapshot, 0x1000, 1.0), CKvTolmoFilterChain::kOk);
    EXPECT_FALSE(state.GetClearManualRequest());
    EXPECT_EQ(static_cast<CFltFnRedeye*>(chain.GetStage(CKvTolmoFilterChain::kRedEyeStage))->GetMode(),
              CKvFnRedEye::kModeManual);
    // A click near the second pupil with the detect-at-point byte set: that pupil joins the manual list
    // and the byte is served once.
    static_cast<CFltFnRedeye*>(chain.GetStage(CKvTolmoFilterChain::kRedEyeStage))
        ->SetClickPoint(pupils[1].x, pupils[1].y);
    state.SetAutomaticDone(true);
    ASSERT_EQ(chain.Update(&snapshot, 0x1000, 1.0), CKvTolmoFilterChain::kOk);
    EXPECT_FALSE(state.GetAutomaticDone());
    EXPECT_EQ(state.GetManualRegions().size(), 1u);
}

} // namespace

namespace {

// Colour noise reduction works on Lab: the picture goes there (stage 6) and from there to the output
// profile (stage 8); a flat colour, which the noise stage leaves alone, comes back as it was.
TEST_F(ChainOverRgb, ColourNoiseTakesThePictureThroughLabAndBack) {
    kvtest::TestPlane flat =
        kvtest::MakePlane(40, 30, PravonColorSpace::kRGB16, kvtest::FillPattern::Constant, 0);
    for (LONG y = 0; y < flat.height; ++y)
        for (LONG x = 0; x < flat.width; ++x) {
            flat.SetSample(x, y, 0, 52000);
            flat.SetSample(x, y, 1, 30000);
            flat.SetSample(x, y, 2, 9000);
        }
    ASSERT_EQ(kvtest::WritePlane(image.get(), flat), nullptr);
    CKvNoiseReduction noise;
    noise.SetLevel(5);
    snapshot.noiseReduction = &noise;
    snapshot.noiseReductionEnabled = 1;
    ASSERT_EQ(chain.Update(&snapshot, CKvTolmoFilterChain::kEverything, 1.0), CKvTolmoFilterChain::kOk);
    ASSERT_TRUE(chain.GetStage(CKvTolmoFilterChain::kLabConversionStage)->IsEnabled());
    ASSERT_TRUE(chain.GetStage(CKvTolmoFilterChain::kColorNoiseStage)->IsEnabled());
    EXPECT_EQ(
        static_cast<CFltColorNoise*>(chain.GetStage(CKvTolmoFilterChain::kColorNoiseStage))->GetStrength(),
        0.63);
    ASSERT_TRUE(chain.GetStage(CKvTolmoFilterChain::kOutputConversionStage)->IsEnabled())
        << "from Lab to the output profile";
    kvtest::TestPlane out;
    ASSERT_EQ(kvtest::PullAll(chain.GetOutput()->GetOutput(), &out), nullptr);
    ASSERT_EQ(out.colorSpace, PravonColorSpace::kRGB16);
    // Two 16-bit conversions, each through a grid lcms2 precalculates: within one 8-bit step.
    for (LONG c = 0; c < 3; ++c)
        EXPECT_NEAR(static_cast<double>(out.Sample(20, 15, c)), static_cast<double>(flat.Sample(20, 15, c)),
                    257.0)
            << c;
    noise.SetLevel(11);
    ASSERT_EQ(chain.Update(&snapshot, 0x200, 1.0), CKvTolmoFilterChain::kOk);
    EXPECT_FALSE(chain.GetStage(CKvTolmoFilterChain::kColorNoiseStage)->IsEnabled())
        << "level 11 has no strength";
}

} // namespace
