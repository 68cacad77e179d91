#include "rawlib/pipeline/CCameraProfileGen.h"
#include "rawlib/pipeline/CCameraProfileTables.h"
#include "rawlib/pipeline/KvCameraProfileFile.h"
#include "rawlib/foundation/KvProfileFolder.h"

#include "platform/pravon/IPravonError.h"

#include "testing/AllocationSeam.h"
#include "testing/TempSystemRoot.h"
#include "tools/CKvCameraBaseProfile.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<BYTE> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<BYTE>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A machine whose profile folder holds both base profiles.
class CameraProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = static_cast<const char*>(GetProfileFolder());
        fs::create_directories(m_folder);
        for (const bool fixedProfile : {false, true}) {
            std::string problem;
            const std::vector<BYTE> bytes = CKvCameraBaseProfile::Bytes(fixedProfile, &problem);
            ASSERT_FALSE(bytes.empty()) << problem;
            WriteBytes(Base(fixedProfile), bytes);
        }
    }
    std::string Base(bool fixedProfile) const {
        return m_folder +
               (fixedProfile ? CCameraProfileGen::kFixedProfileName : CCameraProfileGen::kBaseProfileName);
    }

    kvtest::TempSystemRoot m_machine;
    std::string m_folder;
};

// MD read from its tags: plain, so case 1 takes the table index as the row of matrix set A.
CameraProfileParams PlainMd(LONG colorMode, LONG tableIndex) {
    CameraProfileParams p;
    p.camera = 4;
    p.colorMode = colorMode;
    p.whiteBalanceKind = 2;
    p.toneMode = 3;
    p.tableIndex = tableIndex;
    return p;
}

// A camera whose colour mode and white balance come from the camera-settings state.
CameraProfileParams FromState(LONG camera, LONG colorMode, LONG whiteBalanceKind, DWORD temperature,
                              LONG subMode) {
    CameraProfileParams p;
    p.camera = camera;
    p.colorMode = colorMode;
    p.colorModeFromState = 1;
    p.whiteBalanceKind = whiteBalanceKind;
    p.toneMode = 3;
    p.toneSource = 1;
    p.colorTemperature = temperature;
    p.subMode = subMode;
    return p;
}

std::string NameOf(const CameraProfileParams& p) {
    CCameraProfileGen generator;
    generator.Initialize(p);
    char name[CCameraProfileGen::kPathLimit];
    return generator.Name(name, sizeof name, "Kvx_") == 0 ? name : "(refused)";
}

TEST(CameraProfileGen, SelectsTheRowThatTheRulesGive) {
    // Rows worked by hand from the row tables (entry 7k + 6 - t, tone 3) and the explicit colour-mode-4 rows.
    CameraProfileParams md5 = FromState(5, 0, 2, 0, 0);
    md5.rawWhiteBalance[0] = 8;
    md5.rawWhiteBalance[1] = 4000;
    CameraProfileParams noGains = FromState(1, 0, 1, 0, 0);
    noGains.redGain = noGains.blueGain = 1.0; // no usable pair: index 90, 5000 K
    CameraProfileParams mahGains = FromState(2, 0, 1, 0, 0);
    mahGains.redGain = mahGains.blueGain = 1.0; // no gain index: 84, 5202 K
    CameraProfileParams alternate = FromState(4, 0, 1, 0, 0);
    alternate.tableIndex = 336; // the alternate index 36: 4500 K
    CameraProfileParams mcAdobe = PlainMd(3, 10);
    mcAdobe.camera = 6; // set C, the index raised by 700
    // MD in colour mode 4, sub-mode 0: the exposure row of the limited record byte. At brightness 0 the
    // limits are 33 and 129 (the eighth threshold pair), so 200 becomes 129: temperature class 6, class
    // start 6, tone group 0 of brightness class 0.
    CameraProfileParams exposure = FromState(4, 4, 1, 0, 0);
    exposure.toneSource = 2;
    exposure.recordByte = 200;
    // Bright daylight: limits 25 and 200, class 7 (start 0), brightness class 4; the record bytes are
    // clamped to the table however large.
    CameraProfileParams bright = exposure;
    bright.brightnessValue = 20;
    bright.recordBytes[0] = bright.recordBytes[1] = bright.recordBytes[2] = bright.recordBytes[3] = 255;
    // MBH with the table index decoded (case 102): the index is raised by 500 and read in its class.
    const auto mbhIndex = [](LONG index) {
        CameraProfileParams p = FromState(5, 0, 1, 0, 0);
        p.tableIndex = index;
        return p;
    };
    const struct {
        const char* what;
        CameraProfileParams params;
        std::string name;
    } cases[] = {
        {"alternate table index", alternate, "Kvx_MD_1_0010_03_308.icm"},
        {"MC in colour mode 3 takes set C", mcAdobe, "Kvx_MC_2_0710_03_308.icm"},
        {"exposure row", exposure, "Kvx_MD_3_0306_03_308.icm"},
        {"exposure row in bright light", bright, "Kvx_MD_3_0304_03_308.icm"},
        {"plain MD, table index", PlainMd(0, 10), "Kvx_MD_1_0010_03_308.icm"},
        {"plain MD, colour mode 4 names its first group", PlainMd(4, 10), "Kvx_MD_3_0310_03_308.icm"},
        {"MA at 3499 K", FromState(1, 0, 4, 3499, 0), "Kvx_MA_1_0003_03_308.icm"},
        {"MA at 3500 K", FromState(1, 0, 4, 3500, 0), "Kvx_MA_1_0010_03_308.icm"},
        {"MA at 6649 K", FromState(1, 0, 4, 6649, 0), "Kvx_MA_1_0010_03_308.icm"},
        {"MA at 6650 K", FromState(1, 0, 4, 6650, 0), "Kvx_MA_1_0017_03_308.icm"},
        {"MA sub-mode 2 at 3499 K", FromState(1, 0, 4, 3499, 2), "Kvx_MA_1_0003_03_308.icm"},
        {"MA sub-mode 1 at 3500 K", FromState(1, 0, 4, 3500, 1), "Kvx_MA_1_0031_03_308.icm"},
        {"MA colour mode 4 at 3699 K", FromState(1, 4, 4, 3699, 0), "Kvx_MA_3_0302_03_308.icm"},
        {"MA colour mode 4 at 3700 K", FromState(1, 4, 4, 3700, 0), "Kvx_MA_3_0308_03_308.icm"},
        {"MA colour mode 4 at 6649 K", FromState(1, 4, 4, 6649, 0), "Kvx_MA_3_0422_03_308.icm"},
        {"MA colour mode 4 at 6650 K", FromState(1, 4, 4, 6650, 0), "Kvx_MA_3_0452_03_308.icm"},
        {"MA colour mode 4 sub-mode 3: second group", FromState(1, 4, 4, 5000, 3),
         "Kvx_MA_3_0087_03_308.icm"},
        {"MBH words (8, 4000): selection row 1", md5, "Kvx_MBH_1_0510_03_308.icm"},
        {"gains with no usable pair", noGains, "Kvx_MA_1_0010_03_308.icm"},
        {"gain index of no value", mahGains, "Kvx_MA_1_0010_03_308.icm"},
        {"MBH index 21: 5000 K sub-mode 2", mbhIndex(21), "Kvx_MBH_1_0524_03_308.icm"},
        {"MBH index 600: 7000 K", mbhIndex(600), "Kvx_MBH_1_0517_03_308.icm"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NameOf(c.params), c.name) << c.what;
}

TEST(CameraProfileGen, PicksTheSelectionCaseOfCameraColourModeAndWhiteBalance) {
    // Camera, colour mode, colour mode from the state, tone source, then the case for white-balance kinds
    // 0 to 5 (0: refused). Kinds 4 and 5 make a record not plain.
    const struct {
        LONG camera, colorMode;
        BYTE fromState;
        LONG toneSource;
        DWORD cases[6];
    } rows[] = {
        {1, 1, 1, 1, {10, 10, 10, 10, 10, 10}},     {1, 0, 0, 0, {10, 10, 10, 10, 10, 10}},
        {1, 0, 1, 1, {0, 12, 3, 12, 5, 12}},        {1, 3, 1, 1, {0, 12, 3, 12, 5, 12}},
        {2, 1, 1, 1, {10, 10, 10, 10, 10, 10}},     {3, 2, 1, 1, {0, 11, 3, 12, 5, 12}},
        {2, 4, 1, 1, {0, 13, 13, 14, 15, 14}},      {1, 5, 1, 1, {0, 212, 203, 206, 205, 204}},
        {4, 0, 0, 0, {1, 1, 1, 1, 5, 4}},           {4, 0, 0, 1, {0, 2, 3, 4, 5, 4}},
        {4, 4, 1, 1, {0, 6, 7, 8, 9, 8}},           {4, 6, 1, 1, {0, 202, 203, 206, 205, 204}},
        {4, 1, 1, 1, {0, 0, 0, 0, 0, 0}},           {5, 0, 0, 0, {101, 101, 101, 101, 105, 104}},
        {5, 5, 1, 1, {0, 202, 203, 206, 205, 204}}, {5, 0, 1, 1, {0, 102, 103, 106, 105, 104}},
        {6, 2, 0, 0, {0, 102, 103, 106, 105, 104}}, {6, 0, 0, 0, {201, 201, 201, 201, 205, 204}},
        {6, 3, 1, 1, {0, 202, 203, 206, 205, 204}}, {0, 0, 1, 1, {0, 0, 0, 0, 0, 0}},
    };
    for (const auto& row : rows)
        for (LONG w = 0; w <= 5; ++w) {
            CameraProfileParams p;
            p.camera = row.camera;
            p.colorMode = row.colorMode;
            p.colorModeFromState = row.fromState;
            p.toneSource = row.toneSource;
            p.whiteBalanceKind = w;
            p.toneMode = 3;
            p.colorTemperature = 5000;
            CCameraProfileGen generator;
            generator.Initialize(p);
            EXPECT_EQ(generator.SelectionCase(), row.cases[w])
                << "camera " << row.camera << " colour mode " << row.colorMode << " kind " << w;
        }
}

TEST(CameraProfileGen, HoldsThePrintedTables) {
    using namespace KvCameraTables;
    // Row tables: 7k + 6 - t with the classes of each row, and the explicit colour-mode-4 rows of table A.
    EXPECT_EQ(kRowTableA[4][0], 7 * 3 + 6);
    EXPECT_EQ(kRowTableA[15][6], 7 * 11);
    EXPECT_EQ(kRowTableA[18][2], 39);
    EXPECT_EQ(kRowTableA[21][6], 150);
    EXPECT_EQ(kRowTableA[23][3], 7 * 13 + 3);
    EXPECT_EQ(kRowTableB[20][1], 7 * 15 + 5);
    EXPECT_EQ(kRowTableC[0][6], 7 * 6);
    EXPECT_EQ(kRowTableC[9][0], 7 * 1 + 6);
    // The grid input table is the sRGB decoding on 12 bits.
    for (const int i : {0, 160, 161, 2048, 4095}) {
        const double v = i / 4095.0;
        const double decoded = v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        EXPECT_EQ(kGridInput[i], WORD(std::floor(4095.0 * decoded))) << i;
    }
    // The setting table and its sub-modes, and the first brightness limits of sub-mode 0.
    EXPECT_EQ(kSettingTable[3][5], 210);
    EXPECT_EQ(kSettingTable[4][2], 90);
    EXPECT_EQ(kSettingSubModes[4][3], 2);
    EXPECT_EQ(kSettingSubModes[2][3], 0);
    const BYTE lows[6] = {90, 74, 62, 52, 45, 39}, highs[6] = {107, 110, 113, 117, 120, 123};
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(kBrightnessLimits[0][0][k], lows[k]) << k;
        EXPECT_EQ(kBrightnessLimits[0][1][k], highs[k]) << k;
    }
    // Row 0 of hue table C is the neutral row; the grid sets' printed tone 3.
    for (int n = 0; n < 16; ++n) {
        EXPECT_EQ(kHueTableC[0][n], 0.0);
        EXPECT_EQ(kHueTableC[0][16 + n], 1.0);
        EXPECT_EQ(kHueTableC[0][32 + n], 0.0);
        EXPECT_EQ(kHueTableC[0][48 + n], 0.0);
        EXPECT_EQ(kHueTableC[0][64 + n], 1.0);
    }
    EXPECT_EQ(kToneParameters[kToneGridOther][3][2], -13.4517);
    EXPECT_EQ(kToneParameters[kToneGridMode4Or6][3][2], 22.587);
    EXPECT_EQ(kToneParameters[kToneGridMode3][3][0], kToneParameters[kToneDirect][2][0]);
    EXPECT_EQ(kToneParameters[kToneDirect][6][12], 0.621836);
}

TEST(CameraProfileGen, RefusesRecordsItCannotServe) {
    CameraProfileParams noCurve = PlainMd(0, 10);
    noCurve.toneMode = 16;
    CameraProfileParams badBits = noCurve;
    const std::vector<WORD> curve(65536, 0);
    badBits.customCurve = curve.data();
    badBits.curveInputBits = 14;
    badBits.curveOutputBits = 16;
    CameraProfileParams toneByte = PlainMd(0, 10);
    toneByte.toneMode = 21;
    // Case 2 decodes the table index: 84 lies in no range without the alternate-index flag.
    CameraProfileParams indexless = FromState(4, 0, 1, 5000, 0);
    indexless.tableIndex = 84;
    const struct {
        const char* what;
        CameraProfileParams params;
    } cases[] = {
        {"camera 0", FromState(0, 0, 2, 5000, 0)},
        {"MA in colour mode 0 from the state without white balance", FromState(1, 0, 0, 5000, 0)},
        {"MD in colour mode 1 when not plain", FromState(4, 1, 2, 5000, 0)},
        {"custom curve missing", noCurve},
        {"custom curve of 14 bits", badBits},
        {"tone mode outside 0 to 6 and 16", toneByte},
        {"set-A row beyond its group", PlainMd(0, 98)},
        {"table index with no temperature", indexless},
    };
    for (const auto& c : cases) {
        CCameraProfileGen generator;
        generator.Initialize(c.params);
        char name[CCameraProfileGen::kPathLimit];
        EXPECT_EQ(generator.Name(name, sizeof name, nullptr), PravonKind::kBadArgument) << c.what;
        EXPECT_EQ(generator.ProfileSize(), 0u) << c.what;
    }
}

TEST(CameraProfileGen, TakesThePrintedRowsAndCurvesUnchanged) {
    // MD has no fixed matrix for set A and MBH none for set B, so their rows come out as printed.
    const double setA156[18] = {1.26499032,  -0.314047203, 0.049056885,  -0.081136002, 1.18177708,
                                -0.10064108, -0.026323715, -0.088890316, 1.11521403,   0.298828,
                                0.585938,    0.115234,     -0.172432674, -0.504151813, 0.676584488,
                                0.583262195, -0.439200725, -0.14406147};
    const double setB0[18] = {1.58789,   -0.445312, -0.142578, -0.154297, 1.25586,   -0.101562,
                              -0.201172, 0.0292969, 1.17188,   0.300781,  0.585938,  0.113281,
                              -0.046875, -0.613281, 0.660156,  0.390625,  -0.148438, -0.242188};
    CameraProfileParams mbh = PlainMd(0, 500);
    mbh.camera = 5;
    const struct {
        CameraProfileParams params;
        const double* row;
    } cases[] = {{PlainMd(0, 0), setA156}, {mbh, setB0}};
    for (const auto& c : cases) {
        CCameraProfileGen generator;
        generator.Initialize(c.params);
        ASSERT_TRUE(generator.IsValidated());
        for (int i = 0; i < 9; ++i) {
            EXPECT_DOUBLE_EQ(generator.M1()[i], c.row[i]) << i;
            EXPECT_DOUBLE_EQ(generator.M2()[i], c.row[9 + i]) << i;
        }
    }
    // MA multiplies row 0 (3300 K, tone 6) by its fixed matrix on the right.
    CameraProfileParams ma = FromState(1, 4, 4, 3300, 0);
    ma.toneMode = 6;
    CCameraProfileGen generator;
    generator.Initialize(ma);
    ASSERT_EQ(generator.SelectedRow(), 0);
    EXPECT_NEAR(generator.M1()[0],
                1.77156447 * 0.919348232 - 0.800973487 * 0.01509928 + 0.029409019 * 0.012188438, 1e-12);
    EXPECT_NEAR(generator.M1()[5],
                -0.130455965 * -0.016898367 + 1.26802677 * 0.011822937 - 0.137570805 * 0.980156867, 1e-12);
    // The direct path's tone 3, worked by hand from its printed parameters: the cubic, the power, the
    // shoulder, and the top clamped to 4095.
    const double tone3[13] = {0.208155, 0.4575,    -16.414,  4.5884, 1.5893,   -0.001,  1.2425,
                              0.5075,   -0.179653, 0.706082, 0.3075, 0.365839, 0.303118};
    EXPECT_NEAR(CCameraProfileGen::ToneCurve(tone3, 1.0), 3239.762 / 3520, 1e-6);
    CameraProfileParams md = PlainMd(0, 10);
    generator.Initialize(md);
    kvtest::TempSystemRoot machine;
    fs::create_directories(static_cast<const char*>(GetProfileFolder()));
    std::string problem;
    WriteBytes(std::string(static_cast<const char*>(GetProfileFolder())) +
                   CCameraProfileGen::kBaseProfileName,
               CKvCameraBaseProfile::Bytes(false, &problem));
    ASSERT_EQ(generator.Build(), 0) << problem;
    const std::pair<int, WORD> entries[] = {{0, 0}, {100, 347}, {500, 1650}, {1800, 3239}, {4095, 4095}};
    for (const auto& [i, value] : entries)
        EXPECT_EQ(generator.ToneTable()[i], value) << i;
}

TEST(CameraProfileGen, LaysOutTheTagTableFromTheTextLengths) {
    std::vector<BYTE> header(128, 0xAB), tail(CCameraProfileGen::kTailSize, 0);
    const DWORD sizes[3] = {20, 221248, 124};
    const std::vector<BYTE> out = CCameraProfileGen::Assemble(header.data(), 5, std::string(36, 'd'),
                                                              std::string(22, 'n'), tail.data(), sizes);
    ASSERT_EQ(out.size(), 221852u);
    const auto big = [&](std::size_t at) {
        return DWORD(out[at]) << 24 | DWORD(out[at + 1]) << 16 | DWORD(out[at + 2]) << 8 | out[at + 3];
    };
    EXPECT_EQ(big(0), 221852u); // the header's size is the profile's own
    EXPECT_EQ(std::vector<BYTE>(out.begin() + 84, out.begin() + 100), std::vector<BYTE>(16, 0));
    // The description record: its type, the ASCII count and text, then the script count and text again.
    EXPECT_EQ(std::string(out.begin() + 192, out.begin() + 196), "desc");
    EXPECT_EQ(big(200), 37u);
    EXPECT_EQ(std::string(out.begin() + 204, out.begin() + 240), std::string(36, 'd'));
    EXPECT_EQ(out[204 + 37 + 10], 37);
    EXPECT_EQ(std::string(out.begin() + 252, out.begin() + 288), std::string(36, 'd'));
    EXPECT_EQ(out[288], 0);
    EXPECT_EQ(std::string(out.begin() + 292, out.begin() + 296), "text");
    EXPECT_EQ(std::string(out.begin() + 300, out.begin() + 322), std::string(22, 'n'));
    const DWORD expected[5][2] = {{192, 97}, {292, 31}, {324, 20}, {344, 221248}, {221592, 124}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(big(136 + 12 * i), expected[i][0]) << i;
        EXPECT_EQ(big(140 + 12 * i), expected[i][1]) << i;
    }
}

struct LcmsProfile {
    explicit LcmsProfile(const std::string& path) : handle(cmsOpenProfileFromFile(path.c_str(), "r")) {}
    ~LcmsProfile() {
        if (handle)
            cmsCloseProfile(handle);
    }
    cmsHPROFILE handle;
};

// lcms2 reads the profile's A2B0 at grid node (i, j, k) as Lab.
cmsCIELab LcmsNode(cmsHPROFILE profile, int i, int j, int k) {
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM t = cmsCreateTransform(profile, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_PERCEPTUAL,
                                         cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE);
    const double rgb[3] = {i / 31.0, j / 31.0, k / 31.0};
    cmsCIELab out{};
    if (t)
        cmsDoTransform(t, rgb, &out, 1);
    cmsDeleteTransform(t);
    cmsCloseProfile(lab);
    return out;
}

// lcms2's own sRGB-to-Lab conversion of an encoded RGB triple.
cmsCIELab LcmsSrgb(const double rgb[3]) {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM t = cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC,
                                         cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE);
    cmsCIELab out{};
    cmsDoTransform(t, rgb, &out, 1);
    cmsDeleteTransform(t);
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);
    return out;
}

TEST_F(CameraProfileTest, Lcms2ReadsEveryGeneratedProfileAsTheGeneratorComputedIt) {
    CameraProfileParams mc = PlainMd(5, 700); // MC in colour mode 5: the grid path on the neutral hue row
    mc.camera = 6;
    const CameraProfileParams records[] = {PlainMd(0, 10), PlainMd(3, 40), FromState(1, 4, 4, 5000, 0),
                                           FromState(5, 2, 4, 5000, 0), mc};
    for (const CameraProfileParams& params : records) {
        const std::string path = static_cast<const char*>(GenerateCameraProfile(params));
        ASSERT_FALSE(path.empty()) << NameOf(params);
        CCameraProfileGen generator;
        generator.Initialize(params);
        ASSERT_EQ(generator.Build(), 0);
        EXPECT_EQ(fs::file_size(path), generator.ProfileSize());
        // The header states the file's own size and leaves the profile ID to be computed.
        const std::vector<BYTE> bytes = ReadFile(path);
        ASSERT_GE(bytes.size(), 128u);
        EXPECT_EQ(DWORD(bytes[0]) << 24 | DWORD(bytes[1]) << 16 | DWORD(bytes[2]) << 8 | bytes[3],
                  bytes.size());
        EXPECT_EQ(std::vector<BYTE>(bytes.begin() + 84, bytes.begin() + 100), std::vector<BYTE>(16, 0));
        LcmsProfile profile(path);
        ASSERT_NE(profile.handle, nullptr) << path;
        char description[128] = {};
        cmsGetProfileInfoASCII(profile.handle, cmsInfoDescription, "en", "US", description,
                               sizeof description);
        EXPECT_EQ(description, generator.Description());
        // First node camera black on both paths.
        EXPECT_EQ(generator.GridL()[0], 0);
        EXPECT_EQ(generator.GridA()[0], 32768);
        EXPECT_EQ(generator.GridB()[0], 32768);
        // At a node lcms2 interpolates nothing, so it gives back the stored 16-bit values decoded; 0.01
        // covers its float pipeline (1e-6) and the identity curves' rounding to 16 bits (1/65535 of a step).
        for (const int n : {0, 3, 9, 15, 21, 27, 31})
            for (const int node :
                 {1024 * n + 32 * n + n, 1024 * n + 32 * 7 + 31 - n, 1024 * 31 + 32 * n + 4}) {
                const int i = node / 1024, j = node / 32 % 32, k = node % 32;
                const cmsCIELab lab = LcmsNode(profile.handle, i, j, k);
                EXPECT_NEAR(lab.L, generator.GridL()[node] * 100.0 / 65280.0, 0.01) << path << " " << node;
                EXPECT_NEAR(lab.a, generator.GridA()[node] / 256.0 - 128.0, 0.01) << path << " " << node;
                EXPECT_NEAR(lab.b, generator.GridB()[node] / 256.0 - 128.0, 0.01) << path << " " << node;
            }
    }
}

TEST_F(CameraProfileTest, TheDirectPathGivesTheColoursOfItsMatricesInSrgb) {
    // Colour mode 0 ends in sRGB: the Lab of each node is lcms2's sRGB conversion of the RGB that the
    // matrices and tone table make of the node. The generator's sRGB matrix and decoding threshold differ
    // from lcms2's by less than 1e-4 in linear light, about 0.05 in Lab; 0.15 leaves room for the 16-bit
    // encoding.
    CCameraProfileGen generator;
    generator.Initialize(PlainMd(0, 10));
    ASSERT_EQ(generator.Build(), 0);
    const double* m1 = generator.M1();
    const double* m2 = generator.M2();
    const auto decode = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    for (const int node : {1024 * 16 + 32 * 16 + 16, 1024 * 20 + 32 * 18 + 14, 1024 * 12 + 32 * 15 + 19,
                           1024 * 25 + 32 * 25 + 25}) {
        const int n[3] = {node / 1024, node / 32 % 32, node % 32};
        double w[3];
        for (int r = 0; r < 3; ++r) {
            double v = 0;
            for (int c = 0; c < 3; ++c)
                v += m1[3 * r + c] * std::min(4095.0, 4095.0 * decode(n[c] / 31.0));
            w[r] = generator.ToneTable()[int(std::clamp(v, 0.0, 4095.0))] / 4095.0;
        }
        double ycc[3];
        for (int r = 0; r < 3; ++r)
            ycc[r] = m2[3 * r] * w[0] + m2[3 * r + 1] * w[1] + m2[3 * r + 2] * w[2];
        double rgb[3] = {ycc[0] + 1.4021 * ycc[2], ycc[0] - 0.3455 * ycc[1] - 0.7146 * ycc[2],
                         ycc[0] + 1.7712 * ycc[1]};
        for (double& v : rgb)
            v = std::clamp(v, 0.0, 1.0);
        const cmsCIELab expected = LcmsSrgb(rgb);
        EXPECT_NEAR(generator.GridL()[node] * 100.0 / 65280.0, expected.L, 0.15) << node;
        EXPECT_NEAR(generator.GridA()[node] / 256.0 - 128.0, expected.a, 0.15) << node;
        EXPECT_NEAR(generator.GridB()[node] / 256.0 - 128.0, expected.b, 0.15) << node;
    }
}

TEST_F(CameraProfileTest, TheGridPathOnTheNeutralHueRowKeepsItsColourDifferences) {
    // MC in colour mode 5, set C row 0: the hue row changes nothing, so each node is lcms2's sRGB
    // conversion of M2's luma and colour differences decoded as they are (tolerance as for the direct path).
    CameraProfileParams mc = PlainMd(5, 700);
    mc.camera = 6;
    CCameraProfileGen generator;
    generator.Initialize(mc);
    ASSERT_EQ(generator.Build(), 0);
    ASSERT_NE(generator.HueRow(), nullptr);
    const auto decode = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    for (const int node : {1024 * 16 + 32 * 16 + 16, 1024 * 22 + 32 * 12 + 9, 1024 * 8 + 32 * 14 + 20,
                           1024 * 10 + 32 * 20 + 12}) {
        const int n[3] = {node / 1024, node / 32 % 32, node % 32};
        double code[3], w[3];
        for (int c = 0; c < 3; ++c) {
            const long input = std::lround(n[c] * 4095.0 / 31.0);
            code[c] = std::floor(4095.0 * decode(input / 4095.0));
        }
        for (int r = 0; r < 3; ++r) {
            const double* m1 = generator.M1() + 3 * r;
            const double v = m1[0] * code[0] + m1[1] * code[1] + m1[2] * code[2];
            w[r] = generator.ToneTable()[int(std::clamp(v, 0.0, 4095.0))] / 4095.0;
        }
        const double* m2 = generator.M2();
        const double y = m2[0] * w[0] + m2[1] * w[1] + m2[2] * w[2];
        const double cb = m2[3] * w[0] + m2[4] * w[1] + m2[5] * w[2];
        const double cr = m2[6] * w[0] + m2[7] * w[1] + m2[8] * w[2];
        double rgb[3] = {y + 1.4021 * cr, y - 0.7146 * cr - 0.3455 * cb, y + 1.7712 * cb};
        for (double& v : rgb)
            v = std::clamp(v, 0.0, 1.0);
        const cmsCIELab expected = LcmsSrgb(rgb);
        EXPECT_NEAR(generator.GridL()[node] * 100.0 / 65280.0, expected.L, 0.15) << node;
        EXPECT_NEAR(generator.GridA()[node] / 256.0 - 128.0, expected.a, 0.15) << node;
        EXPECT_NEAR(generator.GridB()[node] / 256.0 - 128.0, expected.b, 0.15) << node;
    }
}

TEST_F(CameraProfileTest, TheSameSettingsReuseTheFileAndOtherTonesGetANewOne) {
    const CameraProfileParams params = PlainMd(0, 10);
    const std::string first = static_cast<const char*>(GenerateCameraProfile(params));
    ASSERT_EQ(first, m_folder + "Kvx_MD_1_0010_03_308.icm");
    // Marked bytes of the same size survive the next request: the file is reused, not written again.
    std::vector<BYTE> marked = ReadFile(first);
    marked[400] ^= 0xFF;
    WriteBytes(first, marked);
    EXPECT_EQ(static_cast<const char*>(GenerateCameraProfile(params)), first);
    EXPECT_EQ(ReadFile(first), marked);
    // A file of another size is replaced.
    WriteBytes(first, {1, 2, 3});
    EXPECT_EQ(static_cast<const char*>(GenerateCameraProfile(params)), first);
    // 35 description and 44 notice characters: 221720 + round4(95) + round4(53).
    EXPECT_EQ(fs::file_size(first), 221720u + 96u + 56u);

    CameraProfileParams otherTone = params;
    otherTone.toneMode = 5;
    EXPECT_EQ(static_cast<const char*>(GenerateCameraProfile(otherTone)),
              m_folder + "Kvx_MD_1_0010_05_308.icm");
    // Custom curves: one file per curve, the same file for the same curve.
    std::vector<WORD> curveA(65536), curveB(65536);
    for (int i = 0; i < 65536; ++i) {
        curveA[i] = WORD(i);
        curveB[i] = WORD(i / 2);
    }
    CameraProfileParams custom = params;
    custom.toneMode = 16;
    custom.curveInputBits = custom.curveOutputBits = 16;
    custom.customCurve = curveA.data();
    const std::string a = static_cast<const char*>(GenerateCameraProfile(custom));
    custom.customCurve = curveB.data();
    const std::string b = static_cast<const char*>(GenerateCameraProfile(custom));
    EXPECT_NE(a, b);
    // The name is the 64-bit FNV-1a of the record's fields, the curve and the table version, worked out
    // apart from the library: a later run, or another build, finds the file of the same curve again.
    EXPECT_EQ(fs::path(a).filename(), "Kvx_U45695abe0a37d267.icm");
    std::vector<WORD> copyOfB = curveB;
    custom.customCurve = copyOfB.data();
    EXPECT_EQ(static_cast<const char*>(GenerateCameraProfile(custom)), b);
    // The tone table of a 16-bit curve samples every 16th entry and drops four bits.
    CCameraProfileGen generator;
    generator.Initialize(custom);
    ASSERT_EQ(generator.Build(), 0);
    EXPECT_EQ(generator.ToneTable()[100], (1600 / 2) >> 4);
    // Nothing but finished profiles is left in the folder.
    for (const auto& entry : fs::directory_iterator(m_folder))
        EXPECT_EQ(entry.path().extension(), ".icm") << entry.path();
}

TEST_F(CameraProfileTest, AWriteThatCannotFinishLeavesNothingBehind) {
    // A folder under the profile's name: the renamed file cannot take its place.
    const std::string blocked = m_folder + "Kvx_MD_1_0010_03_308.icm";
    fs::create_directory(blocked);
    EXPECT_STREQ(GenerateCameraProfile(PlainMd(0, 10)), "");
    EXPECT_TRUE(fs::is_directory(blocked));
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(m_folder))
        files += entry.is_regular_file();
    EXPECT_EQ(files, 2u); // the two base profiles only
}

TEST_F(CameraProfileTest, NoMemoryForTheProfileIsReportedAndWritesNothing) {
    const CameraProfileParams params = PlainMd(0, 10);
    {
        // Below the base profile's and the grid tables' sizes.
        kvtest::RefuseAllocationsFrom refuse(60000);
        CCameraProfileGen generator;
        generator.Initialize(params);
        EXPECT_EQ(generator.Build(), PravonKind::kOutOfMemory);
        EXPECT_STREQ(GenerateCameraProfile(params), "");
    }
    EXPECT_FALSE(fs::exists(m_folder + "Kvx_MD_1_0010_03_308.icm"));
}

TEST_F(CameraProfileTest, TheFixedProfileIsHandedOnUnchangedAndNeverWritten) {
    const CameraProfileParams ma = FromState(1, 1, 2, 5000, 0);
    CCameraProfileGen generator;
    generator.Initialize(ma);
    ASSERT_TRUE(generator.IsFixedProfile());
    EXPECT_EQ(NameOf(ma), "KVMA_KRX.icm");
    EXPECT_EQ(generator.ProfileSize(), 221848u);
    ASSERT_EQ(generator.Build(), 0);
    std::vector<BYTE> out(generator.ProfileSize());
    ASSERT_EQ(generator.Serialize(out.data(), DWORD(out.size())), 0);
    EXPECT_EQ(out, ReadFile(Base(true)));
    EXPECT_EQ(generator.Serialize(out.data(), DWORD(out.size() - 1)), PravonKind::kBadArgument);
    EXPECT_EQ(static_cast<const char*>(GenerateCameraProfile(ma)), Base(true));
    // A fixed profile of another size is refused and left as it is.
    const std::vector<BYTE> shortened(out.begin(), out.end() - 4);
    WriteBytes(Base(true), shortened);
    EXPECT_STREQ(GenerateCameraProfile(ma), "");
    EXPECT_EQ(ReadFile(Base(true)), shortened);
}

TEST_F(CameraProfileTest, ACorruptBaseProfileIsRefused) {
    const std::vector<BYTE> good = ReadFile(Base(false));
    std::vector<BYTE> swapped = good; // A2B0 and B2A0 entries exchanged
    std::swap_ranges(swapped.begin() + 168, swapped.begin() + 180, swapped.begin() + 180);
    std::vector<BYTE> grid = good; // a grid of 33 points
    grid[344 + 10] = 33;
    std::vector<BYTE> count = good;
    count[131] = 6;
    const struct {
        const char* what;
        std::vector<BYTE> bytes;
        LONG error;
    } cases[] = {
        {"truncated", std::vector<BYTE>(good.begin(), good.end() - 1), PravonKind::kBadArgument},
        {"a byte longer",
         [&] {
             auto b = good;
             b.push_back(0);
             return b;
         }(),
         PravonKind::kBadArgument},
        {"tags out of order", swapped, PravonKind::kBadArgument},
        {"another grid", grid, PravonKind::kBadArgument},
        {"six tags", count, PravonKind::kBadArgument},
        {"only a header", std::vector<BYTE>(good.begin(), good.begin() + 100), PravonKind::kBadArgument},
    };
    const CameraProfileParams params = PlainMd(0, 10);
    for (const auto& c : cases) {
        WriteBytes(Base(false), c.bytes);
        CCameraProfileGen generator;
        generator.Initialize(params);
        EXPECT_EQ(generator.Build(), c.error) << c.what;
        EXPECT_STREQ(GenerateCameraProfile(params), "") << c.what;
        EXPECT_FALSE(fs::exists(m_folder + "Kvx_MD_1_0010_03_308.icm")) << c.what;
    }
    fs::remove(Base(false));
    CCameraProfileGen generator;
    generator.Initialize(params);
    EXPECT_EQ(generator.Build(), CameraProfileError::kCannotOpen);
}

} // namespace
