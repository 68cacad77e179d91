#include "mail_plugin/FileSaveFit.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using Size = graphtypes::TSize_T<LONG>;

// The saved size of a picture scaled by the factor, rounded as the canvas library rounds it.
Size Scaled(const Size& picture, float factor) {
    return Size(static_cast<LONG>(std::lround(picture.cx * static_cast<double>(factor))),
                static_cast<LONG>(std::lround(picture.cy * static_cast<double>(factor))));
}

TEST(FileSaveFit, OrdinaryPicturesFitTheBoxAndAreNeverEnlarged) {
    struct Case {
        const char* what;
        Size picture, maximum, saved;
        float factor;
    };
    const Case cases[] = {
        {"box above a landscape picture", {800, 600}, {1600, 1200}, {800, 600}, 1.0f},
        {"box above a portrait picture", {600, 800}, {1600, 1200}, {600, 800}, 1.0f},
        {"one side equal, the other inside", {640, 400}, {640, 480}, {640, 400}, 1.0f},
        {"full size", {4000, 3000}, {4000, 3000}, {4000, 3000}, 1.0f},
        {"square, by its height", {1000, 1000}, {640, 480}, {480, 480}, 0.48f},
        {"landscape below 4:3 keeps the height inside", {1280, 1024}, {640, 480}, {600, 480}, 0.46875f},
        {"4:3 landscape", {4000, 3000}, {640, 480}, {640, 480}, 0.16f},
        {"3:4 portrait", {3000, 4000}, {640, 480}, {360, 480}, 0.12f},
        {"wide panorama, by its width", {6000, 1000}, {640, 480}, {640, 107}, 640.0f / 6000.0f},
        {"host size 0 x 0", {0, 0}, {640, 480}, {0, 0}, 1.0f},
        {"negative height", {640, -1}, {640, 480}, {640, -1}, 1.0f},
        {"no maximum", {4000, 3000}, {0, 0}, {4000, 3000}, 1.0f},
    };
    for (const Case& c : cases) {
        const float factor = FileSaveFit::ScaleFactor(c.picture, c.maximum);
        EXPECT_FLOAT_EQ(factor, c.factor) << c.what;
        EXPECT_EQ(Scaled(c.picture, factor), c.saved) << c.what;
    }
    // Exactly 1, not merely close: the saver then writes the picture unscaled.
    EXPECT_EQ(FileSaveFit::ScaleFactor({640, 400}, {640, 480}), 1.0f);
    EXPECT_EQ(FileSaveFit::ScaleFactor({640, 480}, {640, 480}), 1.0f);
}

TEST(FileSaveFit, DesignPagesFollowTheHostsNumbers) {
    struct Case {
        const char* what;
        Size picture, maximum;
        bool resized;
        Size target;
    };
    const Case cases[] = {
        // 640 x 49151 / 65535 = 479.9976
        {"scaled width", {65535, 49151}, {640, 480}, true, {640, 480}},
        {"scaled width, portrait page", {65535, 92681}, {800, 600}, true, {800, 1131}},
        {"scaled width, no height", {65535, 0}, {640, 480}, false, {}},
        {"scaled width, no maximum width", {65535, 49151}, {0, 480}, false, {}},
        // 480 x 2100 / 2970 = 339.39
        {"height branch", {2100, 2970}, {640, 480}, true, {339, 480}},
        {"height branch rounds half away from zero", {3, 2}, {640, 3}, true, {5, 3}},
        {"height branch, zero height", {2100, 0}, {640, 480}, false, {}},
        {"height branch, zero maximum height", {2100, 2970}, {640, 0}, false, {}},
        {"height branch, negative height", {2100, -5}, {640, 480}, false, {}},
    };
    for (const Case& c : cases) {
        Size target(-7, -7);
        EXPECT_EQ(FileSaveFit::DesignPageSize(c.picture, c.maximum, target), c.resized) << c.what;
        if (c.resized)
            EXPECT_EQ(target, c.target) << c.what;
        else
            EXPECT_EQ(target, Size(-7, -7)) << c.what << ": the target is left alone";
    }
}

} // namespace
