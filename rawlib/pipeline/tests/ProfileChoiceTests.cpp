#include "testing/ProfileMachine.h"

#include "rawlib/pipeline/CKvFileSavingUtilities.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/quasel/CPravonTagControl.h"
#include "rawlib/settings/CKvExposureAdjustment.h"
#include "rawlib/settings/ImageProperties.h"
#include "testing/PravonTestSupport.h"
#include "testing/TestPlane.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr ULONG kColorModeTag = 0x8008D;

// A picture of one colour space with its tags, and the profile utilities over a machine's profile folder.
class ProfileChoice : public ::testing::Test {
protected:
    void SetUp() override {
        utilities.SetProfileFolder(machine.Folder());
        tags = new CPravonTagControl();
    }
    void TearDown() override { tags->Release(); }

    ImageProperties Snapshot(LONG colorSpace, WORD model) {
        image = kvtest::MakeImage(manager, kvtest::MakePlane(4, 4, colorSpace, kvtest::FillPattern::Random));
        ImageProperties snapshot;
        snapshot.sourceImage = image.get();
        snapshot.tagControl = tags;
        snapshot.cameraModelCode = model;
        return snapshot;
    }
    void WriteRationals(ULONG tag, const std::vector<std::uint32_t>& values) {
        ASSERT_EQ(tags->WriteTag(tag, 5, static_cast<ULONG>(4 * values.size()), values.data()), nullptr);
    }
    // Every EXIF value of an uncalibrated Adobe RGB picture.
    void WriteAdobeExif() {
        ASSERT_EQ(tags->WriteTag(0x9000, 7, 4, "0221"), nullptr);
        const WORD uncalibrated = 0xFFFF;
        ASSERT_EQ(tags->WriteTag(0xA001, 3, 2, &uncalibrated), nullptr);
        WriteRationals(0x13E, {313, 1000, 329, 1000});
        WriteRationals(0x13F, {64, 100, 33, 100, 21, 100, 71, 100, 15, 100, 6, 100});
        WriteRationals(0x211, {299, 1000, 587, 1000, 114, 1000});
        WriteRationals(0xA500, {22, 10});
    }
    std::string Name(const std::string& path) const { return path.substr(machine.Folder().size()); }

    kvtest::ProfileMachine machine{KV_MAKE_PROFILES};
    CKvFileSavingUtilities utilities;
    CPravonMemoryManager manager{16};
    PravonImagePtr image;
    CPravonTagControl* tags = nullptr;
};

TEST_F(ProfileChoice, TheStandardTableNamesItsFilesAndTellsWhetherAllExist) {
    const std::string f = machine.Folder();
    EXPECT_TRUE(
        utilities.FillStandardTable(f + "KVsRGB.icm", f + "KvCMYK.icm", f + "KvLch2.icm", f + "KVLab.icm"));
    EXPECT_EQ(utilities.GetStandardProfile(4), f + "KVsRGB.icm");
    EXPECT_EQ(utilities.GetStandardProfile(2), f + "KvLch2.icm") << "found whatever its letter case";
    EXPECT_EQ(utilities.GetStandardProfile(5), "");
    EXPECT_FALSE(utilities.FillStandardTable(f + "KVsRGB.icm", f + "KvCMYK.icm", f + "KvLch2.icm", ""));
    utilities.SetProfileFolder(std::string(300, 'x'));
    EXPECT_EQ(utilities.GetProfilePath("KVsRGB.icm"), "") << "an overlong path is refused, never cut";
}

TEST_F(ProfileChoice, CameraModelsAndTheirColourModesChooseTheOutputSpace) {
    const std::string f = machine.Folder();
    utilities.FillStandardTable(f + "KVsRGB.icm", f + "KvCMYK.icm", f + "KvLch2.icm", "");
    CKvExposureAdjustment settings;
    struct Case {
        WORD model;
        LONG settingsMode; // -1: camera settings off
        LONG tagMode;      // 99: no tag
        const char* expected;
    } const cases[] = {
        {513, 2, 2, "KVsRGB.icm"},   {258, 1, 2, "KVsRGB.icm"},    {258, 2, 0, "KVAdobe.icm"},
        {258, 4, 2, "KVsRGB.icm"},   {258, 6, 2, "KVsRGB.icm"},    {258, 3, 2, "KVNTSC.icm"},
        {258, 7, 2, "KVNTSC.icm"},   {258, 0, 2, "KVAdobe.icm"},   {258, 0, -1, "KVNTSC.icm"},
        {258, -1, 5, "KVsRGB.icm"},  {1025, -1, 99, "KVNTSC.icm"}, {1026, -1, 2, "KVAdobe.icm"},
        {260, -1, -1, "KVNTSC.icm"},
    };
    for (const Case& c : cases) {
        tags->RemoveTag(kColorModeTag);
        if (c.tagMode != 99)
            tags->WriteTag(kColorModeTag, 9, 4, &c.tagMode);
        ImageProperties snapshot = Snapshot(PravonColorSpace::kRGB16, c.model);
        settings.SetSecondValue(c.settingsMode);
        snapshot.exposure = &settings;
        snapshot.exposureEnabled = c.settingsMode >= 0;
        EXPECT_EQ(Name(utilities.ChooseDefaultOutputProfile(snapshot)), c.expected)
            << c.model << " " << c.settingsMode << " " << c.tagMode;
    }
}

TEST_F(ProfileChoice, ExifDataChooseAdobeRgbOnlyWhenEveryValueMatches) {
    const std::string f = machine.Folder();
    utilities.FillStandardTable(f + "KVsRGB.icm", f + "KvCMYK.icm", f + "KvLch2.icm", "");
    struct Case {
        const char* what;
        std::function<void()> change;
        const char* rgb; // null: no RGB answer
    } const cases[] = {
        {"all of Adobe RGB", [] {}, "KVAdobe.icm"},
        {"the same white point in other terms",
         [&] {
             WriteRationals(0x13E, {626, 2000, 329, 1000});
         },
         "KVAdobe.icm"},
        {"version 0220", [&] { tags->WriteTag(0x9000, 7, 4, "0220"); }, nullptr},
        {"no version", [&] { tags->RemoveTag(0x9000); }, nullptr},
        {"calibrated sRGB",
         [&] {
             const WORD srgb = 1;
             tags->WriteTag(0xA001, 3, 2, &srgb);
         },
         "KVsRGB.icm"},
        {"another gamma",
         [&] {
             WriteRationals(0xA500, {18, 10});
         },
         "KVsRGB.icm"},
        {"a zero denominator",
         [&] {
             WriteRationals(0xA500, {0, 0});
         },
         "KVsRGB.icm"},
        {"no primaries", [&] { tags->RemoveTag(0x13F); }, "KVsRGB.icm"},
        {"short coefficients",
         [&] {
             WriteRationals(0x211, {299, 1000});
         },
         "KVsRGB.icm"},
    };
    for (const Case& c : cases) {
        WriteAdobeExif();
        c.change();
        const ImageProperties snapshot = Snapshot(PravonColorSpace::kRGB8, 0);
        std::string path;
        ASSERT_EQ(utilities.ChooseRgbProfile(snapshot, &path), c.rgb != nullptr) << c.what;
        const std::string expected = c.rgb ? c.rgb : "KVsRGB.icm";
        EXPECT_EQ(Name(utilities.ChooseDefaultOutputProfile(snapshot)), expected) << c.what;
        EXPECT_EQ(Name(utilities.GenerateCameraProfile(snapshot)), expected)
            << c.what << ": as the input too";
    }
}

TEST_F(ProfileChoice, GreyEmbeddedAndDefaultRequestsComeFirst) {
    const std::string f = machine.Folder();
    utilities.FillStandardTable(f + "KVsRGB.icm", f + "KvCMYK.icm", f + "KvLch2.icm", "");
    WriteAdobeExif();
    ImageProperties grey = Snapshot(PravonColorSpace::kGrey16, 0);
    EXPECT_EQ(Name(utilities.ChooseDefaultOutputProfile(grey)), "KVGrayG22.icm");
    ImageProperties asked = Snapshot(PravonColorSpace::kRGB16, 0);
    asked.defaultProfileRequested = 1;
    EXPECT_EQ(Name(utilities.ChooseDefaultOutputProfile(asked)), "KVsRGB.icm");
    ImageProperties embedded = Snapshot(PravonColorSpace::kRGB16, 258);
    embedded.embeddedProfile = 1;
    embedded.embeddedProfilePath = f + "KVNTSC.icm";
    EXPECT_EQ(utilities.ChooseDefaultOutputProfile(embedded), f + "KVNTSC.icm");
    CPravonFilterCMLEngine::Holder holder;
    LONG bits = 0;
    ASSERT_TRUE(utilities.GetCameraEngine(&holder, embedded, f + "KVsRGB.icm", &bits));
    EXPECT_EQ(bits, 16);
    EXPECT_FALSE(utilities.GetEngine(&holder, f + "missing.icm", f + "KVsRGB.icm"))
        << "a missing file gives no engine";
}

} // namespace

namespace {

TEST_F(ProfileChoice, CameraProfileParametersFromTheSettingsOrTheTags) {
    ImageProperties snapshot = Snapshot(PravonColorSpace::kRawMosaic16, 258);
    CKvFileSavingUtilities::CameraProfileParameters p =
        CKvFileSavingUtilities::GetCameraProfileParameters(snapshot);
    EXPECT_EQ(p.camera, 3);
    // No aperture, exposure time or sensitivity: 0 + 0 - (log2 200 - 1.643856).
    EXPECT_NEAR(p.brightness, -6.0, 1e-6);
    EXPECT_EQ(p.toneMode, 3);
    // Exposure time and f-number as the camera loaders write them: 8-byte reals. F4, 1/125 s, ISO 200:
    // Av = log2(16) = 4, Tv = log2(125) = 6.965784, Sv = log2(200) - 1.643856 = 6.
    const auto writeReal = [&](ULONG tag, double value) {
        ASSERT_EQ(tags->WriteTag(tag, 12, sizeof value, &value), nullptr);
    };
    writeReal(33437, 4.0);
    writeReal(33434, 1.0 / 125);
    const WORD iso[2] = {0, 200};
    tags->WriteTag(0x80002, 3, 4, iso);
    EXPECT_NEAR(CKvFileSavingUtilities::GetCameraProfileParameters(snapshot).brightness, 4.965784, 1e-5);
    for (const double unusable : {0.0, -0.01, std::numeric_limits<double>::infinity()}) {
        writeReal(33434, unusable);
        EXPECT_NEAR(CKvFileSavingUtilities::GetCameraProfileParameters(snapshot).brightness, 4 + 0 - 6.0,
                    1e-5)
            << unusable << " as the exposure time counts as missing";
    }

    struct Case {
        LONG tagTone;    // -1: no tag
        BYTE recordByte; // 0xFF: no record
        LONG colorMode;
        LONG expected;
    } const cases[] = {{1, 0xFF, 0, 0}, {2, 0xFF, 0, 6}, {5, 0xFF, 0, 1}, {6, 0xFF, 0, 5}, {16, 0xFF, 0, 16},
                       {4, 0xFF, 0, 3}, {4, 12, 0, 5},   {4, 20, 0, 6},   {4, 21, 2, 2},   {4, 200, 0, 3},
                       {3, 0xFF, 2, 2}, {3, 0xFF, 3, 2}, {3, 0xFF, 1, 3}, {-1, 0xFF, 0, 3}};
    for (const Case& c : cases) {
        tags->RemoveTag(0x80081);
        tags->RemoveTag(0x80097);
        tags->RemoveTag(0x8008D);
        if (c.tagTone >= 0)
            tags->WriteTag(0x80081, 3, 4, &c.tagTone);
        if (c.recordByte != 0xFF) {
            std::vector<BYTE> record(304, 0);
            record[4] = c.recordByte;
            tags->WriteTag(0x80097, 7, 304, record.data());
        }
        tags->WriteTag(0x8008D, 9, 4, &c.colorMode);
        EXPECT_EQ(CKvFileSavingUtilities::GetCameraProfileParameters(snapshot).toneMode, c.expected)
            << c.tagTone << " " << int{c.recordByte} << " " << c.colorMode;
    }
    CKvExposureAdjustment settings;
    snapshot.exposure = &settings;
    snapshot.exposureEnabled = 1;
    const LONG bySettings[][2] = {{2, 0}, {3, 6}, {4, 16}, {5, 1}, {6, 5}, {7, 3}};
    for (const auto& [mode, expected] : bySettings) {
        settings.SetMode(mode);
        EXPECT_EQ(CKvFileSavingUtilities::GetCameraProfileParameters(snapshot).toneMode, expected) << mode;
    }
}

} // namespace
