// JPEG files decoded at a wanted size: libjpeg's scaling by eighths, the smallest not below the wanted size.
#include "IproTestSupport.h"

#include "platform/zizoraz/IproJpegCodec.h"

#include <cmath>

using namespace iprotest;

namespace {

std::vector<std::uint8_t> SolidJpeg(LONG width, LONG height, std::uint32_t colour) {
    IproPixels pixels{width, height,
                      std::vector<std::uint32_t>(static_cast<std::size_t>(width) * height, colour)};
    std::vector<std::uint8_t> bytes;
    EXPECT_TRUE(IproJpegCodec::Encode(pixels, 90, bytes));
    return bytes;
}

TEST(JpegScale, DecodesAtTheSmallestEighthNotBelowTheWantedSize) {
    struct Case {
        LONG width, height, wantedWidth, wantedHeight, decodedWidth, decodedHeight;
    };
    const Case cases[] = {
        {1600, 1200, 640, 480, 800, 600},  // 3/8 gives 600 x 450, below
        {1600, 1200, 600, 450, 600, 450},  // exactly 3/8
        {1600, 1200, 0, 0, 1600, 1200},    // no wanted size
        {1600, 1200, 640, 0, 1600, 1200},  // half a wanted size is none
        {1600, 1200, 1601, 1, 1600, 1200}, // never above the full size
        {1000, 750, 125, 94, 125, 94},     // 1/8, rounded up as libjpeg rounds
        {1000, 750, 126, 10, 250, 188},    // the width rules
        {1001, 17, 10, 3, 126, 3},         // sides that do not divide
    };
    for (const Case& c : cases) {
        const auto bytes = SolidJpeg(c.width, c.height, Argb(255, 40, 120, 200));
        IproPixels decoded;
        ASSERT_TRUE(
            IproJpegCodec::Decode(bytes.data(), bytes.size(), c.wantedWidth, c.wantedHeight, decoded));
        EXPECT_EQ(decoded.width, c.decodedWidth) << c.width << "x" << c.height << " for " << c.wantedWidth;
        EXPECT_EQ(decoded.height, c.decodedHeight) << c.width << "x" << c.height << " for " << c.wantedWidth;
        const std::uint32_t centre = decoded.At(decoded.width / 2, decoded.height / 2);
        EXPECT_NEAR(static_cast<int>(centre >> 16 & 0xFF), 40, 3);
        EXPECT_NEAR(static_cast<int>(centre & 0xFF), 200, 3);
        LONG width = 0, height = 0;
        ASSERT_TRUE(IproJpegCodec::ReadSize(bytes.data(), bytes.size(), width, height));
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, c.height);
    }
}

TEST(JpegScale, ACorruptBodyFailsAtAnyScale) {
    auto bytes = SolidJpeg(256, 192, Argb(255, 1, 2, 3));
    LONG width = 0, height = 0;
    bytes.resize(bytes.size() / 2);
    EXPECT_TRUE(IproJpegCodec::ReadSize(bytes.data(), bytes.size(), width, height)) << "the header is whole";
    IproPixels decoded;
    EXPECT_FALSE(IproJpegCodec::Decode(bytes.data(), bytes.size(), 32, 24, decoded));
    EXPECT_FALSE(IproJpegCodec::Decode(bytes.data(), bytes.size(), decoded));
    const std::uint8_t notJpeg[] = {0x89, 'P', 'N', 'G'};
    EXPECT_FALSE(IproJpegCodec::ReadSize(notJpeg, sizeof notJpeg, width, height));
}

} // namespace
