// The standard profiles against lcms2's own idea of each space.
#include "platform/zov/KVCM.h"
#include "testing/IccTestProfiles.h"
#include "testing/TempFolder.h"
#include "tools/CKvStandardProfiles.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <random>
#include <vector>

namespace {

cmsHPROFILE Open(const char* name) {
    const std::vector<unsigned char> bytes = CKvStandardProfiles::Bytes(name);
    return bytes.empty() ? nullptr
                         : cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size()));
}

TEST(StandardProfiles, TheSrgbProfileConvertsAsLcms2sOwn) {
    cmsHPROFILE ours = Open("KVsRGB.icm");
    cmsHPROFILE reference = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    ASSERT_NE(ours, nullptr);
    cmsHTRANSFORM a =
        cmsCreateTransform(ours, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsHTRANSFORM b =
        cmsCreateTransform(reference, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    for (double r : {0.0, 0.02, 0.3, 1.0})
        for (double g : {0.0, 0.5, 1.0})
            for (double bl : {0.0, 0.04, 0.8}) {
                const double rgb[3] = {r, g, bl};
                cmsCIELab x, y;
                cmsDoTransform(a, rgb, &x, 1);
                cmsDoTransform(b, rgb, &y, 1);
                EXPECT_LT(cmsDeltaE(&x, &y), 0.05) << r << " " << g << " " << bl;
            }
    cmsDeleteTransform(a);
    cmsDeleteTransform(b);
    for (cmsHPROFILE p : {ours, reference, lab})
        cmsCloseProfile(p);
}

TEST(StandardProfiles, TheLchProfileTakesLabToPolarCoordinatesAndBack) {
    cmsHPROFILE lch = Open("KVLch2.icm");
    cmsHPROFILE lab = Open("KVLab.icm");
    ASSERT_NE(lch, nullptr);
    ASSERT_NE(lab, nullptr);
    const cmsUInt32Number wide = CHANNELS_SH(3) | BYTES_SH(2);
    cmsHTRANSFORM to = cmsCreateTransform(lab, TYPE_Lab_DBL, lch, wide, INTENT_PERCEPTUAL, 0);
    cmsHTRANSFORM from = cmsCreateTransform(lch, wide, lab, TYPE_Lab_DBL, INTENT_PERCEPTUAL, 0);
    ASSERT_NE(to, nullptr);
    ASSERT_NE(from, nullptr);
    // Hues on both sides of the jump at b = 0, near grey and far out.
    const cmsCIELab cases[] = {{50, 20, -30}, {70, -40, 10}, {30, 5, 5},    {50, 30, -0.3},
                               {50, 30, 0.3}, {60, 100, 60}, {90, -60, -1}, {20, -3, -8}};
    for (const cmsCIELab& in : cases) {
        cmsUInt16Number encoded[3];
        cmsDoTransform(to, &in, encoded, 1);
        const double chroma = std::hypot(in.a, in.b);
        double hue = std::atan2(in.b, in.a) * 180 / 3.14159265358979323846;
        hue += hue < 0 ? 360 : 0;
        EXPECT_NEAR(encoded[0] * 100.0 / 65535, in.L, 0.01);
        EXPECT_NEAR(encoded[1] * CKvStandardProfiles::kLchChromaTop / 65535, chroma, 0.4)
            << in.a << " " << in.b;
        const double turned = std::remainder(encoded[2] * 360.0 / 65535 - hue, 360.0);
        EXPECT_LT(std::fabs(turned), 0.5) << in.a << " " << in.b;
        cmsCIELab back;
        cmsDoTransform(from, encoded, &back, 1);
        EXPECT_LT(cmsDeltaE(&in, &back), 0.6) << in.a << " " << in.b;
    }
    cmsDeleteTransform(to);
    cmsDeleteTransform(from);
    cmsCloseProfile(lch);
    cmsCloseProfile(lab);
}

// 16-bit pixels through the colour engine, as the development's colour stages convert them.
std::vector<std::uint16_t> ThroughEngine(const std::string& from, const std::string& to,
                                         const std::vector<std::uint16_t>& pixels) {
    HKVCMXFORM transform = nullptr;
    HKVCMCML engine = nullptr;
    std::vector<std::uint16_t> out(pixels.size());
    const LONG count = static_cast<LONG>(pixels.size() / 3), rowBytes = count * 3 * 2;
    EXPECT_EQ(KVCMCreateXForm(&transform), KVCM_OK);
    EXPECT_EQ(KVCMCreateCML(&engine), KVCM_OK);
    EXPECT_EQ(KVCMSetInputProfileFile(transform, from.c_str()), KVCM_OK);
    EXPECT_EQ(KVCMSetOutputProfileFile(transform, to.c_str()), KVCM_OK);
    EXPECT_EQ(KVCMSetTransform(engine, transform), KVCM_OK);
    EXPECT_EQ(KVCMSetInputBitSize(engine, 16), KVCM_OK);
    EXPECT_EQ(KVCMSetOutputBitSize(engine, 16), KVCM_OK);
    EXPECT_EQ(KVCMProcessInterleavedData(engine, count, 1, pixels.data(), out.data(), rowBytes, rowBytes),
              KVCM_OK);
    KVCMDestroyCML(engine);
    KVCMDestroyXForm(transform);
    return out;
}

// 16-bit RGB converted to LCh by the colour engine gives the lightness, chroma and hue lcms2 finds in double
// precision, to the accuracy of lcms2's own 16-bit conversions, also where the hue jumps from the top of
// its range to 0 (b crossing 0 with a above 0): no pixel there turns half way round the circle. Back from
// LCh, the engine gives the RGB that lcms2 makes of the Lab those LCh samples stand for.
TEST(StandardProfiles, SixteenBitRgbGoesToLchAndBackAsLabDoesAlsoAtTheHuesJump) {
    kvtest::TempFolder folder;
    const auto write = [&](const char* name) {
        const std::string path = folder.File(name);
        const std::vector<unsigned char> bytes = CKvStandardProfiles::Bytes(name);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    };
    const std::string srgb = write("KVsRGB.icm");
    const std::string lchPath = write("KVLch2.icm");
    // Reds and pinks whose blue runs finely through the value where b changes sign, and random colours.
    std::vector<std::uint16_t> rgb;
    for (int r = 40000; r <= 65535; r += 5000)
        for (int g = 0; g <= 30000; g += 6000)
            for (int b = 0; b <= 40000; b += 40)
                rgb.insert(rgb.end(), {std::uint16_t(r), std::uint16_t(g), std::uint16_t(b)});
    std::mt19937 random(5);
    for (int i = 0; i < 3 * 4000; ++i)
        rgb.push_back(static_cast<std::uint16_t>(random()));
    const std::vector<std::uint16_t> lch = ThroughEngine(srgb, lchPath, rgb);
    const std::vector<std::uint16_t> back = ThroughEngine(lchPath, srgb, lch);

    cmsHPROFILE in = cmsOpenProfileFromFile(srgb.c_str(), "r");
    cmsHPROFILE lab = cmsCreateLab2Profile(nullptr);
    cmsHTRANSFORM toLab = cmsCreateTransform(in, TYPE_RGB_16, lab, TYPE_Lab_DBL, INTENT_PERCEPTUAL, 0);
    cmsHTRANSFORM fromLab = cmsCreateTransform(lab, TYPE_Lab_DBL, in, TYPE_RGB_16, INTENT_PERCEPTUAL, 0);
    ASSERT_NE(toLab, nullptr);
    ASSERT_NE(fromLab, nullptr);
    int turned = 0;
    double worst = 0;
    for (std::size_t i = 0; i < rgb.size() / 3; ++i) {
        cmsCIELab expected;
        cmsDoTransform(toLab, &rgb[3 * i], &expected, 1);
        EXPECT_NEAR(lch[3 * i] * 100.0 / 65535, expected.L, 0.5);
        EXPECT_NEAR(lch[3 * i + 1] * CKvStandardProfiles::kLchChromaTop / 65535,
                    std::hypot(expected.a, expected.b), 0.5);
        const cmsCIELCh polar{lch[3 * i] * 100.0 / 65535,
                              lch[3 * i + 1] * CKvStandardProfiles::kLchChromaTop / 65535,
                              lch[3 * i + 2] * 360.0 / 65535};
        cmsCIELab decoded;
        cmsLCh2Lab(&decoded, &polar);
        std::uint16_t made[3];
        cmsDoTransform(fromLab, &decoded, made, 1);
        // Within a 2048th of the range: lcms2 rounds the linear value to 16 bits before it looks up its
        // inverted curve, a step of 13 codes where the sRGB curve is steepest, and then interpolates a table
        // of 4096 points.
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(back[3 * i + c], made[c], 32) << "pixel " << i;
        // Where chroma is small the hue is barely defined and moves with every rounding.
        if (std::hypot(expected.a, expected.b) < 3)
            continue;
        const double hue = std::atan2(expected.b, expected.a) * 180 / 3.14159265358979323846;
        const double off = std::fabs(std::remainder(lch[3 * i + 2] * 360.0 / 65535 - hue, 360.0));
        turned += off > 90;
        worst = std::max(worst, std::hypot(expected.a, expected.b) * off * 3.14159265358979323846 / 180);
    }
    EXPECT_EQ(turned, 0) << "pixels turned half way round";
    EXPECT_LT(worst, 0.5) << "Lab units along the hue circle";
    cmsDeleteTransform(toLab);
    cmsDeleteTransform(fromLab);
    cmsCloseProfile(in);
    cmsCloseProfile(lab);
}

TEST(StandardProfiles, UnknownNamesGiveNothing) {
    EXPECT_TRUE(CKvStandardProfiles::Bytes("KVMA_KRX.icm").empty());
    EXPECT_EQ(CKvStandardProfiles::List().size(), 7u);
}

} // namespace
