// The standard profiles against lcms2's own idea of each space.
#include "tools/CKvStandardProfiles.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
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

TEST(StandardProfiles, UnknownNamesGiveNothing) {
    EXPECT_TRUE(CKvStandardProfiles::Bytes("KVMA_KRX.icm").empty());
    EXPECT_EQ(CKvStandardProfiles::List().size(), 7u);
}

} // namespace
