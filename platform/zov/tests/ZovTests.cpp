#include "platform/zov/KVCM.h"
#include "testing/IccBytesWriter.h"
#include "testing/IccTestProfiles.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

using kvtest::IccTestProfile;

struct Transform {
    HKVCMXFORM h = nullptr;
    Transform() { EXPECT_EQ(KVCMCreateXForm(&h), KVCM_OK); }
    ~Transform() {
        if (h)
            KVCMDestroyXForm(h);
    }
};

struct Object {
    HKVCMCML h = nullptr;
    Object() { EXPECT_EQ(KVCMCreateCML(&h), KVCM_OK); }
    ~Object() { KVCMDestroyCML(h); }
    ULONG Builds() const {
        ULONG n = 0;
        EXPECT_EQ(KVCMGetBuildCount(h, &n), KVCM_OK);
        return n;
    }
};

class Zov : public ::testing::Test {
protected:
    std::string Profile(IccTestProfile which) {
        const char* names[] = {"srgb.icc", "wide.icc", "g22.icc", "grey.icc", "lab.icc"};
        return kvtest::WriteIccTestProfile(folder, which, names[static_cast<int>(which)]);
    }
    // A transform between the two profiles attached to the object, with the given bit sizes.
    void Configure(Transform& x, Object& o, const std::string& in, const std::string& out, LONG inBits,
                   LONG outBits, LONG intent = 0) {
        ASSERT_EQ(KVCMSetInputProfileFile(x.h, in.c_str()), KVCM_OK);
        ASSERT_EQ(KVCMSetOutputProfileFile(x.h, out.c_str()), KVCM_OK);
        ASSERT_EQ(KVCMSetIntent(x.h, intent), KVCM_OK);
        ASSERT_EQ(KVCMSetTransform(o.h, x.h), KVCM_OK);
        ASSERT_EQ(KVCMSetInputBitSize(o.h, inBits), KVCM_OK);
        ASSERT_EQ(KVCMSetOutputBitSize(o.h, outBits), KVCM_OK);
    }

    kvtest::TempFolder folder;
};

std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<std::uint8_t>(rng());
    return v;
}

cmsUInt32Number Format(cmsUInt32Number type, int channels, int bits) {
    return COLORSPACE_SH(type) | CHANNELS_SH(channels) | BYTES_SH(bits / 8);
}

// What lcms2 alone makes of packed pixels.
std::vector<std::uint8_t> Direct(const std::string& in, cmsUInt32Number inFormat, const std::string& out,
                                 cmsUInt32Number outFormat, const std::vector<std::uint8_t>& pixels,
                                 std::size_t count, int intent = 0) {
    cmsHPROFILE a = cmsOpenProfileFromFile(in.c_str(), "r");
    cmsHPROFILE b = cmsOpenProfileFromFile(out.c_str(), "r");
    cmsHTRANSFORM t = cmsCreateTransform(a, inFormat, b, outFormat, intent, 0);
    EXPECT_NE(t, nullptr);
    std::vector<std::uint8_t> result(count * T_CHANNELS(outFormat) * T_BYTES(outFormat));
    if (t)
        cmsDoTransform(t, pixels.data(), result.data(), static_cast<cmsUInt32Number>(count));
    cmsDeleteTransform(t);
    cmsCloseProfile(a);
    cmsCloseProfile(b);
    return result;
}

// What lcms2 makes of packed RGB pixels in double precision, in units of the output's depth. Conversions
// between two RGB profiles are ours, and come within a level of it (lcms2's own 16-bit road resamples them
// into a grid that strays at the gamut's edge).
std::vector<double> Precise(const std::string& in, cmsUInt32Number inFormat, const std::string& out,
                            int outBits, const std::vector<std::uint8_t>& pixels, std::size_t count,
                            int intent = 0) {
    cmsHPROFILE a = cmsOpenProfileFromFile(in.c_str(), "r");
    cmsHPROFILE b = cmsOpenProfileFromFile(out.c_str(), "r");
    cmsHTRANSFORM t = cmsCreateTransform(a, inFormat, b, TYPE_RGB_DBL, intent, 0);
    EXPECT_NE(t, nullptr);
    std::vector<double> result(count * 3);
    if (t)
        cmsDoTransform(t, pixels.data(), result.data(), static_cast<cmsUInt32Number>(count));
    cmsDeleteTransform(t);
    cmsCloseProfile(a);
    cmsCloseProfile(b);
    for (double& v : result)
        v = std::clamp(v, 0.0, 1.0) * (outBits == 8 ? 255.0 : 65535.0);
    return result;
}

// The largest difference between packed samples of the depth and expected values.
double Worst(const std::vector<std::uint8_t>& got, int bits, const std::vector<double>& expected) {
    double worst = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        double sample = got[i];
        if (bits == 16) {
            std::uint16_t word;
            std::memcpy(&word, got.data() + 2 * i, 2);
            sample = word;
        }
        worst = std::max(worst, std::fabs(sample - expected[i]));
    }
    return worst;
}

// Converts packed pixels through the object with padded rows, checks that the padding is untouched and
// returns the packed result.
std::vector<std::uint8_t> ThroughObject(Object& o, const std::vector<std::uint8_t>& pixels, LONG w, LONG h,
                                        std::size_t inPixel, std::size_t outPixel) {
    const std::size_t inRow = w * inPixel + 6;
    const std::size_t outRow = w * outPixel + 10;
    std::vector<std::uint8_t> in(inRow * h, 0x5A);
    std::vector<std::uint8_t> out(outRow * h, 0xAB);
    for (LONG y = 0; y < h; ++y)
        std::memcpy(in.data() + y * inRow, pixels.data() + y * w * inPixel, w * inPixel);
    EXPECT_EQ(KVCMProcessInterleavedData(o.h, w, h, in.data(), out.data(), static_cast<LONG>(inRow),
                                         static_cast<LONG>(outRow)),
              KVCM_OK);
    std::vector<std::uint8_t> packed;
    for (LONG y = 0; y < h; ++y) {
        const std::uint8_t* row = out.data() + y * outRow;
        packed.insert(packed.end(), row, row + w * outPixel);
        for (std::size_t i = w * outPixel; i < outRow; ++i)
            EXPECT_EQ(row[i], 0xAB) << "row " << y << " written past its pixels";
    }
    return packed;
}

TEST_F(Zov, ConvertsWithinALevelOfLcms2InDoublePrecisionForEveryPairOfBitSizes) {
    const std::string srgb = Profile(IccTestProfile::SRGB);
    const std::string wide = Profile(IccTestProfile::WideGamut);
    const LONG w = 37, h = 5;
    for (auto [inBits, outBits] : {std::pair{8, 8}, {8, 16}, {16, 16}, {16, 8}}) {
        SCOPED_TRACE(testing::Message() << inBits << " to " << outBits << " bits");
        Transform x;
        Object o;
        Configure(x, o, srgb, wide, inBits, outBits, 1);
        const auto pixels = RandomBytes(std::size_t(w) * h * 3 * inBits / 8, 7);
        const auto expected =
            Precise(srgb, Format(PT_RGB, 3, inBits), wide, outBits, pixels, std::size_t(w) * h, 1);
        EXPECT_LE(Worst(ThroughObject(o, pixels, w, h, 3 * inBits / 8, 3 * outBits / 8), outBits, expected),
                  1.0);
    }
}

TEST_F(Zov, ConvertsBetweenRgbGreyAndLab) {
    const std::string srgb = Profile(IccTestProfile::SRGB);
    const std::string grey = Profile(IccTestProfile::Grey);
    const std::string lab = Profile(IccTestProfile::Lab);
    const LONG w = 19, h = 3;
    struct Case {
        std::string in, out;
        cmsUInt32Number inType, outType;
        int inChannels, outChannels, inBits, outBits;
    };
    for (const Case& c :
         {Case{srgb, lab, PT_RGB, PT_Lab, 3, 3, 8, 16}, Case{srgb, grey, PT_RGB, PT_GRAY, 3, 1, 16, 8},
          Case{grey, srgb, PT_GRAY, PT_RGB, 1, 3, 8, 8}}) {
        SCOPED_TRACE(testing::Message() << c.in << " to " << c.out);
        Transform x;
        Object o;
        Configure(x, o, c.in, c.out, c.inBits, c.outBits);
        LONG inChannels = 0, outChannels = 0;
        EXPECT_EQ(KVCMGetInputChannels(o.h, &inChannels), KVCM_OK);
        EXPECT_EQ(KVCMGetOutputChannels(o.h, &outChannels), KVCM_OK);
        EXPECT_EQ(inChannels, c.inChannels);
        EXPECT_EQ(outChannels, c.outChannels);
        const auto pixels = RandomBytes(std::size_t(w) * h * c.inChannels * c.inBits / 8, 11);
        const auto expected = Direct(c.in, Format(c.inType, c.inChannels, c.inBits), c.out,
                                     Format(c.outType, c.outChannels, c.outBits), pixels, std::size_t(w) * h);
        EXPECT_EQ(ThroughObject(o, pixels, w, h, c.inChannels * c.inBits / 8, c.outChannels * c.outBits / 8),
                  expected);
    }
}

// From Lab the engine gives what lcms2 computes in double precision, also for colours at and beyond the
// edge of the RGB gamut, where a table resampled over Lab would bend smooth gradients into streaks: to a
// matrix-shaper profile of version 2 (converted on our side) and to lcms2's sRGB of version 4.
TEST_F(Zov, LabReachesRgbAsInDoublePrecisionAlsoAtTheGamutsEdge) {
    const std::string lab = Profile(IccTestProfile::Lab);
    const LONG w = 64, h = 16;
    for (const IccTestProfile which : {IccTestProfile::Gamma22, IccTestProfile::SRGB}) {
        const std::string rgb = Profile(which);
        SCOPED_TRACE(rgb);
        // Random Lab, most of it outside the gamut, and the saturated colours of the RGB cube's surface.
        std::vector<std::uint8_t> pixels = RandomBytes(std::size_t(w) * h * 6 / 2, 13);
        std::vector<std::uint8_t> surface;
        for (int i = 0; i < w * h / 2; ++i) {
            const std::uint16_t v = static_cast<std::uint16_t>(i * 131 % 65536);
            const std::uint16_t rgbSample[3] = {65535, v, 0};
            const std::uint8_t* bytes = reinterpret_cast<const std::uint8_t*>(rgbSample);
            surface.insert(surface.end(), bytes, bytes + 6);
        }
        const auto onSurface = Direct(rgb, TYPE_RGB_16, lab, TYPE_Lab_16, surface, std::size_t(w) * h / 2);
        pixels.insert(pixels.end(), onSurface.begin(), onSurface.end());
        Transform x;
        Object o;
        Configure(x, o, lab, rgb, 16, 16);
        const auto converted = ThroughObject(o, pixels, w, h, 6, 6);
        // Doubles, which the library's formats count as 0 bytes a sample.
        std::vector<double> expected(std::size_t(w) * h * 3);
        cmsHPROFILE from = cmsOpenProfileFromFile(lab.c_str(), "r");
        cmsHPROFILE to = cmsOpenProfileFromFile(rgb.c_str(), "r");
        cmsHTRANSFORM precise = cmsCreateTransform(from, TYPE_Lab_16, to, TYPE_RGB_DBL, 0, 0);
        ASSERT_NE(precise, nullptr);
        cmsDoTransform(precise, pixels.data(), expected.data(), static_cast<cmsUInt32Number>(w * h));
        cmsDeleteTransform(precise);
        cmsCloseProfile(from);
        cmsCloseProfile(to);
        const auto* got = reinterpret_cast<const std::uint16_t*>(converted.data());
        int worst = 0;
        for (std::size_t i = 0; i < std::size_t(w) * h * 3; ++i) {
            const int d =
                std::abs(got[i] - static_cast<int>(std::lround(std::clamp(expected[i], 0.0, 1.0) * 65535)));
            worst = std::max(worst, d);
        }
        // Within a 4096th of the range: lcms2 evaluates in single precision, which moves a few codes just
        // above black, where the curves rise steeply.
        EXPECT_LE(worst, 16) << "16-bit codes";
    }
}

TEST_F(Zov, ConvertsInPlaceEvenWhenTheOutputIsWider) {
    const std::string srgb = Profile(IccTestProfile::SRGB);
    const std::string wide = Profile(IccTestProfile::WideGamut);
    Transform x;
    Object o;
    Configure(x, o, srgb, wide, 8, 16);
    std::uint8_t scratch[12] = {200, 30, 90, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const auto expected = Precise(srgb, TYPE_RGB_8, wide, 16, {200, 30, 90}, 1);
    ASSERT_EQ(KVCMProcessInterleavedData(o.h, 1, 1, scratch, scratch, 0, 0), KVCM_OK);
    EXPECT_LE(Worst(std::vector<std::uint8_t>(scratch, scratch + 6), 16, expected), 1.0);
    EXPECT_EQ(scratch[6], 4) << "nothing written past the pixel";

    const auto row = RandomBytes(12, 2);
    std::vector<std::uint8_t> buffer(24);
    std::memcpy(buffer.data(), row.data(), row.size());
    ASSERT_EQ(KVCMProcessInterleavedData(o.h, 4, 1, buffer.data(), buffer.data(), 0, 0), KVCM_OK);
    EXPECT_LE(Worst(buffer, 16, Precise(srgb, TYPE_RGB_8, wide, 16, row, 4)), 1.0)
        << "a row converted in place";
}

TEST_F(Zov, BuildsTheConversionOnceForManyCalls) {
    const std::string srgb = Profile(IccTestProfile::SRGB);
    const std::string wide = Profile(IccTestProfile::WideGamut);
    Transform x;
    Object o;
    Configure(x, o, srgb, wide, 8, 8);
    std::uint8_t pixels[3 * 16] = {};
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(KVCMProcessInterleavedData(o.h, 16, 1, pixels, pixels, 0, 0), KVCM_OK);
    EXPECT_EQ(o.Builds(), 1u);
}

TEST_F(Zov, ProfilesIntentBitSizesAndTablesRebuildTheConversion) {
    const std::string srgb = Profile(IccTestProfile::SRGB);
    const std::string wide = Profile(IccTestProfile::WideGamut);
    const std::string g22 = Profile(IccTestProfile::Gamma22);
    Transform x;
    Object o;
    Configure(x, o, srgb, wide, 8, 8);
    std::uint8_t pixels[12] = {};
    auto convert = [&] { ASSERT_EQ(KVCMProcessInterleavedData(o.h, 1, 1, pixels, pixels, 0, 0), KVCM_OK); };
    convert();
    ASSERT_EQ(o.Builds(), 1u);

    ASSERT_EQ(KVCMSetOutputProfileFile(x.h, g22.c_str()), KVCM_OK);
    convert();
    EXPECT_EQ(o.Builds(), 2u) << "other output profile";
    ASSERT_EQ(KVCMSetIntent(x.h, 2), KVCM_OK);
    convert();
    EXPECT_EQ(o.Builds(), 3u) << "other intent";
    ASSERT_EQ(KVCMSetOutputBitSize(o.h, 16), KVCM_OK);
    convert();
    EXPECT_EQ(o.Builds(), 4u) << "other output bits";
    std::vector<USHORT> table(256);
    for (int i = 0; i < 256; ++i)
        table[i] = static_cast<USHORT>(255 - i);
    const USHORT* tables[4] = {table.data(), nullptr, nullptr, nullptr};
    ASSERT_EQ(KVCMSetInputLUT(o.h, 8, 8, 1, tables), KVCM_OK);
    convert();
    EXPECT_EQ(o.Builds(), 5u) << "an input table";
}

TEST_F(Zov, ProofModeTheSameProfileAgainAndReattachingKeepTheConversion) {
    const std::string srgb = Profile(IccTestProfile::SRGB);
    const std::string wide = Profile(IccTestProfile::WideGamut);
    Transform x;
    Object o;
    Configure(x, o, srgb, wide, 16, 8);
    std::vector<USHORT> table(256, 7);
    const USHORT* tables[4] = {table.data(), table.data(), nullptr, nullptr};
    ASSERT_EQ(KVCMMergeOutputLUT(o.h, 8, 8, 3, tables), KVCM_OK);
    std::uint8_t pixels[12] = {};
    ASSERT_EQ(KVCMProcessInterleavedData(o.h, 1, 1, pixels, pixels, 0, 0), KVCM_OK);

    ASSERT_EQ(KVCMSetProofMode(x.h, TRUE), KVCM_OK);
    ASSERT_EQ(KVCMSetProofMode(x.h, FALSE), KVCM_OK);
    ASSERT_EQ(KVCMSetInputProfileFile(x.h, srgb.c_str()), KVCM_OK);
    ASSERT_EQ(KVCMSetIntent(x.h, 0), KVCM_OK);
    ASSERT_EQ(KVCMSetOutputBitSize(o.h, 8), KVCM_OK);
    ASSERT_EQ(KVCMMergeOutputLUT(o.h, 8, 8, 3, tables), KVCM_OK);
    ASSERT_EQ(KVCMSetTransform(o.h, nullptr), KVCM_OK);
    ASSERT_EQ(KVCMSetTransform(o.h, x.h), KVCM_OK);
    ASSERT_EQ(KVCMProcessInterleavedData(o.h, 1, 1, pixels, pixels, 0, 0), KVCM_OK);
    EXPECT_EQ(o.Builds(), 1u);
}

TEST_F(Zov, TablesStartMergedAndEmptyAndKeepWhatSetAndMergeGive) {
    Object o;
    bool merged = false;
    LONG inBits = -1, outBits = -1;
    for (LONG c = 0; c < 4; ++c) {
        ASSERT_EQ(KVCMGetInputLUTInfo(o.h, c, &merged, &inBits, &outBits), KVCM_OK);
        EXPECT_TRUE(merged);
        EXPECT_EQ(inBits, 0);
        EXPECT_EQ(outBits, 0);
    }
    std::vector<USHORT> table(4096);
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = static_cast<USHORT>(i * 16);
    const USHORT* tables[4] = {nullptr, table.data(), nullptr, table.data()};
    ASSERT_EQ(KVCMSetOutputLUT(o.h, 12, 16, 0x0F, tables), KVCM_OK);

    ASSERT_EQ(KVCMGetOutputLUTInfo(o.h, 1, &merged, &inBits, &outBits), KVCM_OK);
    EXPECT_FALSE(merged);
    EXPECT_EQ(inBits, 12);
    EXPECT_EQ(outBits, 16);
    ASSERT_EQ(KVCMGetOutputLUTInfo(o.h, 0, &merged, &inBits, &outBits), KVCM_OK);
    EXPECT_FALSE(merged) << "a null table in the mask is set too, without sizes";
    EXPECT_EQ(inBits, 0);
    std::vector<USHORT> back(4096);
    ASSERT_EQ(KVCMGetOutputLUT(o.h, 3, back.data()), KVCM_OK);
    EXPECT_EQ(back, table);
    EXPECT_EQ(KVCMGetOutputLUT(o.h, 0, back.data()), KVCM_E_NO_TABLE);
    ASSERT_EQ(KVCMGetInputLUTInfo(o.h, 1, &merged, &inBits, &outBits), KVCM_OK);
    EXPECT_TRUE(merged) << "the other side is untouched";

    ASSERT_EQ(KVCMMergeOutputLUT(o.h, 0, 0, 0x0F, nullptr), KVCM_OK);
    for (LONG c = 0; c < 4; ++c) {
        ASSERT_EQ(KVCMGetOutputLUTInfo(o.h, c, &merged, &inBits, &outBits), KVCM_OK);
        EXPECT_TRUE(merged);
        EXPECT_EQ(inBits + outBits, 0) << "merging no tables removes them";
    }
}

TEST_F(Zov, TablesOfImpossibleSizesAreRefusedAndChangeNothing) {
    Object o;
    std::vector<USHORT> table(256, 1);
    const USHORT* tables[4] = {table.data(), nullptr, nullptr, nullptr};
    EXPECT_EQ(KVCMSetInputLUT(o.h, 0, 8, 1, tables), KVCM_E_ARGUMENT);
    EXPECT_EQ(KVCMSetInputLUT(o.h, 17, 8, 1, tables), KVCM_E_ARGUMENT);
    EXPECT_EQ(KVCMSetInputLUT(o.h, 8, 17, 1, tables), KVCM_E_ARGUMENT);
    EXPECT_EQ(KVCMGetInputLUTInfo(o.h, 4, nullptr, nullptr, nullptr), KVCM_E_ARGUMENT);
    bool merged = false;
    ASSERT_EQ(KVCMGetInputLUTInfo(o.h, 0, &merged, nullptr, nullptr), KVCM_OK);
    EXPECT_TRUE(merged);
    ASSERT_EQ(KVCMSetInputLUT(o.h, 8, 8, 0x10, tables), KVCM_OK) << "mask bits above 3 are ignored";
    ASSERT_EQ(KVCMGetInputLUTInfo(o.h, 0, &merged, nullptr, nullptr), KVCM_OK);
    EXPECT_TRUE(merged);
}

// 16-bit RGB through a full-size input table on one channel and an output table on another, against
// the tables applied by hand around lcms2's conversion in double precision; the output table rises by up
// to two levels a level, so the converted level's rounding may move its result by two.
TEST_F(Zov, TablesApplyBeforeAndAfterTheConversion) {
    const std::string srgb = Profile(IccTestProfile::SRGB);
    const std::string wide = Profile(IccTestProfile::WideGamut);
    std::vector<USHORT> invert(65536), square(65536);
    for (std::size_t i = 0; i < invert.size(); ++i) {
        invert[i] = static_cast<USHORT>(65535 - i);
        square[i] = static_cast<USHORT>(i * i / 65535);
    }
    const LONG w = 23, h = 4;
    const std::size_t n = std::size_t(w) * h;
    const auto pixels = RandomBytes(n * 6, 3);
    for (bool merge : {false, true}) {
        Transform x;
        Object o;
        Configure(x, o, srgb, wide, 16, 16);
        const USHORT* in[4] = {nullptr, invert.data(), nullptr, nullptr};
        const USHORT* out[4] = {nullptr, nullptr, square.data(), nullptr};
        ASSERT_EQ((merge ? KVCMMergeInputLUT : KVCMSetInputLUT)(o.h, 16, 16, 0x0F, in), KVCM_OK);
        ASSERT_EQ((merge ? KVCMMergeOutputLUT : KVCMSetOutputLUT)(o.h, 16, 16, 0x0F, out), KVCM_OK);

        std::vector<std::uint8_t> before = pixels;
        auto* samples = reinterpret_cast<USHORT*>(before.data());
        for (std::size_t p = 0; p < n; ++p)
            samples[3 * p + 1] = invert[samples[3 * p + 1]];
        std::vector<double> expected = Precise(srgb, TYPE_RGB_16, wide, 16, before, n);
        for (std::size_t p = 0; p < n; ++p)
            expected[3 * p + 2] = square[static_cast<std::size_t>(std::lround(expected[3 * p + 2]))];
        EXPECT_LE(Worst(ThroughObject(o, pixels, w, h, 6, 6), 16, expected), 2.0)
            << (merge ? "merged" : "set");
    }
}

TEST_F(Zov, EightBitTablesApplyToEightBitData) {
    const std::string srgb = Profile(IccTestProfile::SRGB);
    const std::string wide = Profile(IccTestProfile::WideGamut);
    Transform x;
    Object o;
    Configure(x, o, srgb, wide, 8, 8);
    std::vector<USHORT> invert(256);
    for (int i = 0; i < 256; ++i)
        invert[i] = static_cast<USHORT>(255 - i);
    const USHORT* tables[4] = {invert.data(), invert.data(), invert.data(), nullptr};
    ASSERT_EQ(KVCMSetInputLUT(o.h, 8, 8, 7, tables), KVCM_OK);
    ASSERT_EQ(KVCMSetOutputLUT(o.h, 8, 8, 7, tables), KVCM_OK);

    const LONG w = 64, h = 2;
    const std::size_t n = std::size_t(w) * h;
    const auto pixels = RandomBytes(n * 3, 5);
    std::vector<std::uint8_t> wide16(n * 6);
    auto* samples = reinterpret_cast<USHORT*>(wide16.data());
    for (std::size_t i = 0; i < n * 3; ++i)
        samples[i] = static_cast<USHORT>((255 - pixels[i]) * 257);
    const auto converted = Direct(srgb, TYPE_RGB_16, wide, TYPE_RGB_16, wide16, n);
    const auto* values = reinterpret_cast<const USHORT*>(converted.data());
    const auto result = ThroughObject(o, pixels, w, h, 3, 3);
    for (std::size_t i = 0; i < n * 3; ++i) {
        const int expected = 255 - (values[i] + 128) / 257;
        EXPECT_NEAR(result[i], expected, 1) << "sample " << i;
    }
}

TEST_F(Zov, ProfileFilesThatAreMissingEmptyCutOrNotProfilesAreRefused) {
    const std::string srgb = Profile(IccTestProfile::SRGB);
    std::vector<std::uint8_t> whole = kvtest::IccBytesWriter().Bytes();
    std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + whole.size() - 9);
    const std::string bad[] = {
        folder.File("missing.icc"),
        folder.Write("empty.icc", std::vector<std::uint8_t>{}),
        folder.Write("cut.icc", cut),
        folder.Write("header.icc", std::vector<std::uint8_t>(whole.begin(), whole.begin() + 100)),
        folder.Write("text.icc", std::string(400, 'x')),
        folder.Path(),
    };
    for (const std::string& path : bad) {
        Transform x;
        Object o;
        ASSERT_EQ(KVCMSetInputProfileFile(x.h, srgb.c_str()), KVCM_OK);
        ASSERT_EQ(KVCMSetOutputProfileFile(x.h, srgb.c_str()), KVCM_OK);
        ASSERT_EQ(KVCMSetTransform(o.h, x.h), KVCM_OK);
        std::uint8_t pixel[12] = {};
        ASSERT_EQ(KVCMProcessInterleavedData(o.h, 1, 1, pixel, pixel, 0, 0), KVCM_OK);
        EXPECT_EQ(KVCMSetOutputProfileFile(x.h, path.c_str()), KVCM_E_PROFILE) << path;
        EXPECT_EQ(KVCMProcessInterleavedData(o.h, 1, 1, pixel, pixel, 0, 0), KVCM_E_NOT_READY)
            << "no conversion goes on with the profile before " << path;
    }
    EXPECT_EQ(KVCMSetInputProfileFile(nullptr, srgb.c_str()), KVCM_E_HANDLE);
}

TEST_F(Zov, AHandWrittenMatrixProfileConverts) {
    const std::string hand = folder.Write("hand.icc", kvtest::IccBytesWriter().Bytes());
    const std::string srgb = Profile(IccTestProfile::SRGB);
    Transform x;
    Object o;
    Configure(x, o, hand, srgb, 8, 8);
    const auto pixels = RandomBytes(30, 9);
    EXPECT_EQ(ThroughObject(o, pixels, 10, 1, 3, 3), Direct(hand, TYPE_RGB_8, srgb, TYPE_RGB_8, pixels, 10));
}

TEST_F(Zov, BadCallsFailWithTheirCodes) {
    Object o;
    std::uint8_t pixel[12] = {};
    EXPECT_EQ(KVCMProcessInterleavedData(o.h, 1, 1, pixel, pixel, 0, 0), KVCM_E_NOT_READY);
    LONG channels = 0;
    EXPECT_EQ(KVCMGetInputChannels(o.h, &channels), KVCM_E_NOT_READY);
    EXPECT_EQ(KVCMSetInputBitSize(o.h, 12), KVCM_E_ARGUMENT);
    EXPECT_EQ(KVCMProcessInterleavedData(nullptr, 1, 1, pixel, pixel, 0, 0), KVCM_E_HANDLE);
    EXPECT_EQ(KVCMDestroyCML(nullptr), KVCM_E_HANDLE);
    EXPECT_EQ(KVCMCreateCML(nullptr), KVCM_E_ARGUMENT);

    Transform x;
    EXPECT_EQ(KVCMSetIntent(x.h, 4), KVCM_E_ARGUMENT);
    ASSERT_EQ(KVCMSetTransform(o.h, x.h), KVCM_OK);
    EXPECT_EQ(KVCMProcessInterleavedData(o.h, 1, 1, pixel, pixel, 0, 0), KVCM_E_NOT_READY)
        << "no profiles yet";

    const std::string srgb = Profile(IccTestProfile::SRGB);
    ASSERT_EQ(KVCMSetInputProfileFile(x.h, srgb.c_str()), KVCM_OK);
    ASSERT_EQ(KVCMSetOutputProfileFile(x.h, srgb.c_str()), KVCM_OK);
    std::vector<std::uint8_t> rows(64);
    EXPECT_EQ(KVCMProcessInterleavedData(o.h, -1, 1, rows.data(), rows.data(), 3, 3), KVCM_E_ARGUMENT);
    EXPECT_EQ(KVCMProcessInterleavedData(o.h, 4, 2, rows.data(), rows.data() + 32, 11, 12), KVCM_E_ARGUMENT)
        << "source rows shorter than their pixels";
    EXPECT_EQ(KVCMProcessInterleavedData(o.h, 4, 2, nullptr, rows.data(), 12, 12), KVCM_E_ARGUMENT);
    EXPECT_EQ(KVCMProcessInterleavedData(o.h, 0, 5, nullptr, nullptr, 0, 0), KVCM_OK) << "nothing to convert";
}

TEST_F(Zov, AnObjectKeepsItsTransformAfterTheTransformIsDestroyed) {
    const std::string srgb = Profile(IccTestProfile::SRGB);
    const std::string wide = Profile(IccTestProfile::WideGamut);
    Object a, b;
    {
        Transform x;
        Configure(x, a, srgb, wide, 8, 8);
        ASSERT_EQ(KVCMSetTransform(b.h, x.h), KVCM_OK);
    }
    const auto pixels = RandomBytes(24, 1);
    const auto expected = Precise(srgb, TYPE_RGB_8, wide, 8, pixels, 8);
    EXPECT_LE(Worst(ThroughObject(a, pixels, 8, 1, 3, 3), 8, expected), 1.0);
    EXPECT_LE(Worst(ThroughObject(b, pixels, 8, 1, 3, 3), 8, expected), 1.0);
}

TEST_F(Zov, ProfilePathsMayUseBackslashes) {
    const std::string srgb = Profile(IccTestProfile::SRGB);
    std::string windows = srgb;
    for (char& c : windows) {
        if (c == '/')
            c = '\\';
    }
    Transform x;
    EXPECT_EQ(KVCMSetInputProfileFile(x.h, windows.c_str()), KVCM_OK);
}

} // namespace
