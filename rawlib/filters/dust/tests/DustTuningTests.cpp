#include "DustTestSupport.h"

#include "rawlib/filters/dust/KvDustTuning.h"

#include "testing/PravonTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using namespace dusttest;

ULONG Aperture(double fNumber) {
    ULONG code = 9999;
    EXPECT_PV_OK(KvDust::ApertureCode(fNumber, &code)) << fNumber;
    return code;
}

TEST(DustTuningValues, ApertureCodesFromTheTableAndTheFormula) {
    struct Case {
        double fNumber;
        ULONG code;
    };
    // 24 x log2 N rounded, worked by hand; the listed f-numbers take their table values instead.
    for (const Case c :
         {Case{5.6, 60}, Case{3.5, 44}, Case{8, 72}, Case{1, 0}, Case{2, 24}, Case{4, 48}, Case{16, 96},
          Case{2.8, 36}, Case{29, 116}, Case{25, 112}, Case{22, 108}, Case{14, 92}, Case{13, 88},
          Case{11, 84}, Case{2.2, 28}, Case{1.2, 8}, Case{1.1, 4}, Case{2048, 8}, Case{0.5, 232}}) {
        EXPECT_EQ(Aperture(c.fNumber), c.code) << c.fNumber;
    }
}

TEST(DustTuningValues, UnusableFNumbersAreRefused) {
    const double inf = std::numeric_limits<double>::infinity();
    for (double fNumber : {0.0, -0.0, -2.8, std::nan(""), inf, -inf}) {
        ULONG code = 7;
        EXPECT_PV_KIND(KvDust::ApertureCode(fNumber, &code), PravonKind::kOutOfRange) << fNumber;
        EXPECT_EQ(code, 7u);
    }
}

TEST(DustTuningValues, LensCodesByVersionAndKind) {
    struct Case {
        const char* version;
        BYTE code;
        BYTE kind;
        ULONG expected; // 0: refused
    };
    for (const Case c :
         {Case{"0100", 50, 0, 50}, Case{"0101", 24, 0, 24}, Case{"0100", 50, 1, 35}, Case{"0101", 50, 15, 35},
          Case{"0100", 50, 21, 23}, Case{"0100", 0, 26, 33}, Case{"0101", 99, 34, 14}, Case{"0100", 0, 0, 0},
          Case{"0102", 50, 0, 0}, Case{"0200", 50, 1, 0}}) {
        ULONG code = 0;
        const Bytes lens = LensData(c.version, c.code, c.kind);
        if (c.expected == 0) {
            EXPECT_PV_KIND(KvDust::LensCode(lens.data(), &code), PravonKind::kOutOfRange) << c.version;
        } else {
            EXPECT_PV_OK(KvDust::LensCode(lens.data(), &code));
            EXPECT_EQ(code, c.expected) << c.version << " kind " << int{c.kind};
        }
    }
}

TEST(DustTuningValues, SensitivityQualityAndGains) {
    EXPECT_EQ(KvDust::SensitivityWord(0, 400), 400);
    EXPECT_EQ(KvDust::SensitivityWord(3, 1600), 1600);
    EXPECT_EQ(KvDust::SensitivityWord(1, 1600), -1);
    EXPECT_EQ(KvDust::SensitivityWord(2, 3200), -2);
    EXPECT_EQ(KvDust::QualityFactor(0), 16);
    EXPECT_EQ(KvDust::QualityFactor(1), 8);
    EXPECT_EQ(KvDust::QualityFactor(2), 4);
    EXPECT_EQ(KvDust::QualityFactor(3), 1);
    EXPECT_EQ(KvDust::QualityFactor(32), 1);
    EXPECT_EQ(KvDust::GainWord(1.0), 0x01000000u);
    EXPECT_EQ(KvDust::GainWord(2.5), 0x02800000u);
    EXPECT_EQ(KvDust::GainWord(0.0), 0u);
    EXPECT_EQ(KvDust::GainWord(255.5), 0xFF800000u);
    for (double unusable : {256.0, 1e300, -0.5, std::nan(""), std::numeric_limits<double>::infinity()})
        EXPECT_EQ(KvDust::GainWord(unusable), 0x01000000u) << unusable;
}

std::vector<ULONG> Words(const Bytes& bytes) {
    std::vector<ULONG> words;
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4)
        words.push_back(static_cast<ULONG>(bytes[i] | bytes[i + 1] << 8 | bytes[i + 2] << 16 |
                                           static_cast<ULONG>(bytes[i + 3]) << 24));
    return words;
}

Bytes Build(const CameraTags& tags) {
    PravonTagControlPtr control = MakeTags(tags);
    Bytes vector;
    EXPECT_PV_OK(KvDust::BuildTuning(control.get(), &vector));
    return vector;
}

TEST(DustTuningBuild, GathersTheFifteenWordsFromTheTags) {
    CameraTags tags = DefaultCameraTags();
    tags.cameraModel = 260;
    tags.quality = 2;
    tags.fNumber = 5.6;
    tags.lensData = LensData("0101", 70, 0);
    tags.sensitivity = Bytes{0, 0, 0x20, 0x03}; // 0, 800
    Bytes info = RealBytes(2.0);
    const Bytes blue = RealBytes(1.5);
    info.insert(info.end(), blue.begin(), blue.end());
    info.resize(32, 0);
    tags.cameraInfo = info;
    tags.cfaPattern = Bytes{0, 2, 0, 2, 0, 1, 1, 2};
    tags.colorMode = 2;
    tags.toneCurve = 5;
    Bytes settings(304, 0);
    settings[4] = 9;
    tags.cameraSettings = settings;
    const std::vector<ULONG> expected = {0x54747344, 4,          12,         2,          260, 60, 70, 800,
                                         0x02000000, 0x01800000, 0x00020002, 0x00010102, 2,   5,  9};
    EXPECT_EQ(Words(Build(tags)), expected);
}

TEST(DustTuningBuild, OptionalTagsFallBackToTheirDefaults) {
    // No sensitivity, camera information, colour-filter pattern, colour mode, tone curve or settings record.
    const std::vector<ULONG> expected = {0x54747344, 4,          12, 1, 257, 72, 50, 200,
                                         0x01000000, 0x01000000, 0,  0, 0,   0,  2};
    EXPECT_EQ(Words(Build(DefaultCameraTags())), expected);
    // Camera information too short for two reals, or holding gains no fixed-point word can carry.
    CameraTags shortInfo = DefaultCameraTags();
    shortInfo.cameraInfo = RealBytes(2.0);
    EXPECT_EQ(Words(Build(shortInfo))[8], 0x01000000u);
    CameraTags nanInfo = DefaultCameraTags();
    Bytes info = RealBytes(std::nan(""));
    const Bytes big = RealBytes(1e9);
    info.insert(info.end(), big.begin(), big.end());
    nanInfo.cameraInfo = info;
    EXPECT_EQ(Words(Build(nanInfo))[8], 0x01000000u);
    EXPECT_EQ(Words(Build(nanInfo))[9], 0x01000000u);
}

TEST(DustTuningBuild, MissingOrUnusableRequiredTagsAreErrors) {
    struct Case {
        const char* what;
        CameraTags tags;
        LONG kind;
    };
    const auto with = [](auto change) {
        CameraTags t = DefaultCameraTags();
        change(t);
        return t;
    };
    const Case cases[] = {
        {"no quality tag", with([](CameraTags& t) { t.quality.reset(); }), PravonKind::kMissingInput},
        {"no camera model", with([](CameraTags& t) { t.cameraModel.reset(); }), 0},
        {"camera type 513", with([](CameraTags& t) { t.cameraModel = 513; }), PravonKind::kOutOfRange},
        {"no f-number", with([](CameraTags& t) { t.fNumber.reset(); }), PravonKind::kMissingInput},
        {"f-number not a number", with([](CameraTags& t) { t.fNumber = std::nan(""); }),
         PravonKind::kOutOfRange},
        {"f-number over zero",
         with([](CameraTags& t) { t.fNumber = std::numeric_limits<double>::infinity(); }),
         PravonKind::kOutOfRange},
        {"no lens data", with([](CameraTags& t) { t.lensData.reset(); }), PravonKind::kMissingInput},
        {"lens data short", with([](CameraTags& t) { t.lensData = Bytes(30, '0'); }),
         PravonKind::kOutOfRange},
        {"lens code 0", with([](CameraTags& t) { t.lensData = LensData("0100", 0, 0); }),
         PravonKind::kOutOfRange},
        {"pattern 3 x 2", with([](CameraTags& t) { t.cfaPattern = Bytes{0, 3, 0, 2, 0, 1, 1, 2, 1, 0}; }),
         PravonKind::kOutOfRange},
        {"pattern short", with([](CameraTags& t) { t.cfaPattern = Bytes{0, 2, 0, 2, 0, 1}; }),
         PravonKind::kOutOfRange},
    };
    for (const Case& c : cases) {
        PravonTagControlPtr control = MakeTags(c.tags);
        Bytes vector{1, 2, 3};
        PravonErrorPtr error(KvDust::BuildTuning(control.get(), &vector));
        ASSERT_NE(error, nullptr) << c.what;
        if (c.kind != 0) {
            EXPECT_EQ(error->GetKind(), c.kind) << c.what << "\n" << error->Describe();
        }
        EXPECT_EQ(vector, (Bytes{1, 2, 3})) << c.what;
    }
}

Bytes Vector(std::initializer_list<ULONG> words) {
    Bytes bytes;
    for (ULONG w : words)
        PutWord(bytes, w);
    return bytes;
}

DustTuning Read(const Bytes& vector) {
    DustTuning tuning;
    EXPECT_PV_OK(KvDust::ReadTuning(vector.data(), vector.size(), &tuning));
    return tuning;
}

TEST(DustTuningRead, EachVersionReadsItsOwnFields) {
    constexpr ULONG kMagic = 0x54747344;
    const DustTuning empty = Read({});
    EXPECT_EQ(empty.version, 0u);
    EXPECT_EQ(empty.qualityWord, 32u);
    EXPECT_EQ(empty.gains[0], 1.0);
    EXPECT_EQ(empty.gains[1], 1.0);
    EXPECT_EQ(empty.toneCurveRow, 2u);
    EXPECT_FALSE(empty.hasCfa);

    // Version 1: the gains are words 3 and 4.
    const DustTuning v1 =
        Read(Vector({kMagic, 1, 12, 0x02000000, 0x00800000, 0x00020002, 0x00000102, 6, 7, 8}));
    EXPECT_EQ(v1.qualityWord, 32u);
    EXPECT_EQ(v1.gains[0], 2.0);
    EXPECT_EQ(v1.gains[1], 0.5);
    EXPECT_TRUE(v1.hasCfa);
    EXPECT_EQ(v1.cfaCells, 0x102u);
    EXPECT_EQ(v1.colorMode, 6u);
    EXPECT_EQ(v1.toneCurveSelector, 7u);
    EXPECT_EQ(v1.toneCurveRow, 2u) << "read only from version 3";
    EXPECT_EQ(v1.cameraType, 0u);

    // Version 2: the quality word is word 3, the gains 4 and 5.
    const DustTuning v2 = Read(Vector({kMagic, 2, 12, 0, 0x03000000, 0x01000000}));
    EXPECT_EQ(v2.qualityWord, 0u);
    EXPECT_EQ(v2.gains[0], 3.0);
    EXPECT_EQ(v2.gains[1], 1.0);
    EXPECT_EQ(v2.toneCurveRow, 2u);

    const DustTuning v3 = Read(Vector({kMagic, 3, 12, 1, 0x01000000, 0x01000000, 0, 0, 4, 5, 11}));
    EXPECT_EQ(v3.toneCurveRow, 11u);
    EXPECT_EQ(v3.colorMode, 4u);
    EXPECT_FALSE(v3.hasCfa);

    const DustTuning v4 = Read(Vector({kMagic, 4, 12, 1, 259, 60, 35, static_cast<ULONG>(-2), 0x01400000,
                                       0x01000000, 0x00020002, 0x01000102, 1, 2, 3}));
    EXPECT_EQ(v4.cameraType, 259u);
    EXPECT_EQ(v4.apertureCode, 60u);
    EXPECT_EQ(v4.lensCode, 35u);
    EXPECT_EQ(v4.sensitivity, -2);
    EXPECT_EQ(v4.gains[0], 1.25);
    EXPECT_EQ(v4.cfaCells, 0x01000102u);
    EXPECT_EQ(v4.toneCurveRow, 3u);

    // A longer header is skipped; the fields start behind it.
    const DustTuning longer = Read(Vector({kMagic, 2, 16, 0xDEAD, 7, 0x02000000}));
    EXPECT_EQ(longer.qualityWord, 7u);
    EXPECT_EQ(longer.gains[0], 2.0);
}

TEST(DustTuningRead, BadHeadersAndLayoutsAreRefused) {
    constexpr ULONG kMagic = 0x54747344;
    struct Case {
        Bytes vector;
        LONG kind;
    };
    const Case cases[] = {
        {Vector({0x52747344, 4, 12}), PravonKind::kNoSource},
        {Vector({kMagic, 4, 11}), PravonKind::kNoSource},
        {Vector({kMagic, 1, 12, 0x01000000, 0x01000000, 0x00030002, 0}), PravonKind::kOutOfRange},
        {Vector({kMagic, 1, 12, 0x01000000, 0x01000000, 0x02000200, 0}), PravonKind::kOutOfRange},
    };
    for (const Case& c : cases) {
        DustTuning tuning;
        tuning.qualityWord = 77;
        EXPECT_PV_KIND(KvDust::ReadTuning(c.vector.data(), c.vector.size(), &tuning), c.kind);
        EXPECT_EQ(tuning.qualityWord, 77u);
    }
    // A huge header length leaves every field absent.
    const DustTuning far = Read(Vector({kMagic, 4, 0xFFFFFFF0, 1, 2, 3}));
    EXPECT_EQ(far.qualityWord, 32u);
    EXPECT_EQ(far.cameraType, 0u);
}

TEST(DustTuningRead, ReadsBackWhatWasBuilt) {
    CameraTags tags = DefaultCameraTags();
    tags.cameraModel = 1026;
    tags.fNumber = 3.5;
    tags.sensitivity = Bytes{1, 0, 0x40, 0x06};
    tags.cfaPattern = Bytes{0, 2, 0, 2, 1, 2, 0, 1};
    const DustTuning tuning = Read(Build(tags));
    EXPECT_EQ(tuning.version, 4u);
    EXPECT_EQ(tuning.cameraType, 1026u);
    EXPECT_EQ(tuning.apertureCode, 44u);
    EXPECT_EQ(tuning.lensCode, 50u);
    EXPECT_EQ(tuning.sensitivity, -1);
    EXPECT_EQ(tuning.qualityWord, 1u);
    EXPECT_TRUE(tuning.hasCfa);
    EXPECT_EQ(tuning.cfaCells, 0x01020001u);
    EXPECT_EQ(tuning.toneCurveRow, 2u);
}

} // namespace
