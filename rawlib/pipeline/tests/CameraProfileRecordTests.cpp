#include "rawlib/pipeline/KvCameraProfileRecord.h"

#include "platform/quasel/CPravonTagControl.h"
#include "rawlib/settings/CKvExposureAdjustment.h"
#include "rawlib/settings/CKvWBAdjustment.h"
#include "rawlib/settings/ImageProperties.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A raw picture of one camera model whose camera tags each case writes.
class CameraProfileRecordTest : public ::testing::Test {
public:
    void SetUp() override { tags = new CPravonTagControl(); }
    void TearDown() override { tags->Release(); }
    CameraProfileParams Record(WORD model) {
        snapshot.tagControl = tags;
        snapshot.cameraModelCode = model;
        snapshot.rawFlag = 1;
        return CameraProfileRecord(snapshot, &curve);
    }
    void Long(ULONG tag, LONG value, LONG type = 9) { tags->WriteTag(tag, type, 4, &value); }
    void Words(LONG first, LONG second) {
        const LONG words[2] = {first, second};
        tags->WriteTag(0x80005, 9, sizeof words, words);
    }

    CPravonTagControl* tags = nullptr;
    ImageProperties snapshot;
    std::vector<WORD> curve;
};

TEST_F(CameraProfileRecordTest, ColourModeAndWhiteBalanceFromTheCameraTags) {
    constexpr ULONG kMode = 0x8008D, kWb = 0x80005, kSubMode = 0x80090, kFineTune = 0x8000B;
    struct Tag {
        ULONG tag;
        LONG type;
        std::vector<LONG> words;
    };
    struct Case {
        const char* what;
        WORD model;
        std::vector<Tag> written;
        LONG camera, colorMode, kind;
        DWORD tagValue, kelvin;
        LONG subMode;
    } const cases[] = {
        // Without any white balance, where the rules find no profile: daylight's preset at 5200 K.
        {"nothing recorded", 258, {}, 3, 0, 4, 0, 5200, 0},
        {"tag mode 6 without white balance", 259, {{kMode, 9, {6}}}, 2, 0, 4, 0, 5200, 0},
        {"no colour mode, automatic white balance", 258, {{kWb, 9, {0, 0}}}, 3, 0, 1, 0, 0, 0},
        // Where the rules find a profile without it, nothing is put in its place.
        {"MA without its colour mode", 257, {}, 1, 1, 0, 0, 0, 0},
        {"tag mode 3", 1025, {{kMode, 9, {3}}}, 4, 4, 0, 0, 0, 0},
        {"automatic with a sub-mode", 1026, {{kWb, 9, {0, 0}}, {kSubMode, 3, {2}}}, 6, 0, 1, 0, 0, 2},
        {"a sub-mode not of type 3", 260, {{kWb, 9, {0, 0}}, {kSubMode, 9, {2}}}, 5, 0, 1, 0, 0, 0},
        {"low bits 7", 258, {{kWb, 9, {0x27, 0}}}, 3, 0, 3, 7, 0, 0},
        {"fine tune 1", 258, {{kWb, 9, {2, 0}}, {kFineTune, 9, {1}}}, 3, 0, 2, 2, 3700, 2},
        {"fine tune -1 unsigned", 258, {{kWb, 9, {2, 0}}, {kFineTune, 9, {0xFFFF}}}, 3, 0, 2, 2, 5500, 2},
        {"fine tune -4", 258, {{kWb, 9, {2, 0}}, {kFineTune, 9, {-4}}}, 3, 0, 2, 2, 7200, 2},
        {"fine tune 9", 258, {{kWb, 9, {2, 0}}, {kFineTune, 9, {9}}}, 3, 0, 2, 2, 4200, 1},
        {"value 4", 258, {{kWb, 9, {4, 0}}}, 3, 0, 2, 4, 0, 0},
    };
    for (const Case& c : cases) {
        tags->Release();
        tags = new CPravonTagControl();
        for (const Tag& t : c.written)
            tags->WriteTag(t.tag, t.type, static_cast<ULONG>(4 * t.words.size()), t.words.data());
        const CameraProfileParams p = Record(c.model);
        EXPECT_EQ(p.camera, c.camera) << c.what;
        EXPECT_EQ(p.colorMode, c.colorMode) << c.what;
        EXPECT_EQ(p.colorModeFromState, 0) << c.what;
        EXPECT_EQ(p.whiteBalanceKind, c.kind) << c.what;
        EXPECT_EQ(p.whiteBalanceTagValue, c.tagValue) << c.what;
        EXPECT_EQ(p.colorTemperature, c.kelvin) << c.what;
        EXPECT_EQ(p.subMode, c.subMode) << c.what;
        CCameraProfileGen generator;
        generator.Initialize(p);
        EXPECT_TRUE(generator.IsValidated()) << c.what << ": the generator finds a profile";
    }
}

TEST_F(CameraProfileRecordTest, TheCameraRecordGainsAndSensitivity) {
    std::vector<BYTE> record(304, 0);
    for (int i = 7; i <= 12; ++i)
        record[static_cast<std::size_t>(i)] = static_cast<BYTE>(10 * i);
    tags->WriteTag(0x80097, 7, 304, record.data());
    const double gains[4] = {2.25, 1.5, 0, 0};
    tags->WriteTag(0x8000C, 4, sizeof gains, gains);
    const BYTE flag[8] = {1};
    tags->WriteTag(0x80087, 7, sizeof flag, flag);
    const WORD iso[2] = {0, 800};
    tags->WriteTag(0x80002, 3, sizeof iso, iso);
    Words(8, 4000);
    Long(0x8008D, 3);
    CameraProfileParams p = Record(1025);
    EXPECT_EQ(p.tableIndex, 370) << "byte 7, 300 rows on for MD in its tag mode 3";
    EXPECT_EQ(p.recordByte, 80);
    const BYTE reversed[4] = {120, 110, 100, 90};
    EXPECT_EQ(std::vector<BYTE>(p.recordBytes, p.recordBytes + 4), std::vector<BYTE>(reversed, reversed + 4));
    EXPECT_EQ(p.redGain, 2.25);
    EXPECT_EQ(p.blueGain, 1.5);
    EXPECT_EQ(p.whiteBalanceFlag, 1);
    EXPECT_EQ(p.sensitivity, 800);
    EXPECT_EQ(p.rawWhiteBalance[0], 8);
    EXPECT_EQ(p.rawWhiteBalance[1], 4000);
    // No aperture or exposure time: 0 + 0 - (log2 800 - 1.643856).
    EXPECT_NEAR(p.brightnessValue, -8.0, 1e-5);
    Long(0x8008D, 2);
    EXPECT_EQ(Record(1025).tableIndex, 70);
    EXPECT_EQ(Record(258).tableIndex, 70);
}

TEST_F(CameraProfileRecordTest, TheSettingsStatesComeBeforeTheTags) {
    Words(2, 0);
    Long(0x8008D, 1);
    CKvExposureAdjustment exposure;
    CKvWBAdjustment wb;
    snapshot.exposure = &exposure;
    snapshot.exposureEnabled = 1;
    snapshot.whiteBalance = &wb;
    snapshot.whiteBalanceEnabled = 1;
    struct Case {
        LONG stateColorMode, wbMode, preset;
        LONG colorMode, fromState, kind, subMode;
        BYTE flag;
    } const cases[] = {
        {3, 3, 1280, 1, 1, 4, 3, 1},
        {1, 4, 770, 2, 1, 5, 1, 0},
        // A state of mode 0 gives no white balance, which the generator has no row for: daylight.
        {7, 0, 1026, 0, 1, 4, 0, 0},
        // As shot or old gains: the tags' value 2 without a fine tune.
        {0, 2, 1280, 2, 0, 2, 1, 0},
        {0, 1, 1280, 2, 0, 2, 1, 0},
    };
    for (const Case& c : cases) {
        exposure.SetSecondValue(c.stateColorMode);
        wb.SetMode(c.wbMode);
        wb.SetPreset(c.preset);
        const CameraProfileParams p = Record(258);
        EXPECT_EQ(p.colorMode, c.colorMode) << c.stateColorMode;
        EXPECT_EQ(p.colorModeFromState, c.fromState) << c.stateColorMode;
        EXPECT_EQ(p.whiteBalanceKind, c.kind) << c.wbMode;
        EXPECT_EQ(p.subMode, c.subMode) << c.wbMode;
        EXPECT_EQ(p.whiteBalanceFlag, c.flag) << c.wbMode;
    }
}

TEST_F(CameraProfileRecordTest, TheCustomToneCurveIsRenderedForTheRecord) {
    Long(0x80081, 16, 3);
    const CameraProfileParams p = Record(258);
    ASSERT_EQ(p.toneMode, 16);
    ASSERT_EQ(curve.size(), 65536u);
    EXPECT_EQ(p.customCurve, curve.data());
    EXPECT_EQ(p.curveInputBits, 16);
    EXPECT_EQ(p.curveOutputBits, 16);
    EXPECT_LT(curve[1000], curve[60000]) << "a rising curve";
    const CameraProfileParams refused = CameraProfileRecord(snapshot, nullptr);
    EXPECT_EQ(refused.toneMode, 3) << "without room for the curve, the camera's standard tone";
    EXPECT_EQ(refused.toneSource, 1);
    EXPECT_EQ(refused.customCurve, nullptr);
}

} // namespace
