#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonImageData.h"
#include "testing/PravonTestSupport.h"
#include "testing/TestPlane.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using kvtest::FillPattern;
using kvtest::TestPlane;

// Written rectangles land where they belong over a grid of small tiles, and nothing else changes.
TEST(PravonSetData, RectangleAcrossTilesAndPastTheEdgeWritesOnlyItsPartOnTheImage) {
    CPravonMemoryManager manager(4);
    const TestPlane before = kvtest::MakePlane(11, 9, PravonColorSpace::kRGB8, FillPattern::Coordinates);
    PravonImagePtr image = kvtest::MakeImage(manager, before);
    ASSERT_NE(image, nullptr);
    // 6 x 5 pixels from (7, 6): only 4 x 3 of them are on the image.
    const PravonRect rect{7, 6, 13, 11};
    std::vector<BYTE> patch(6 * 5 * 3 + 2);
    const std::size_t rowBytes = 6 * 3 + 2;
    for (std::size_t i = 0; i < patch.size(); ++i)
        patch[i] = static_cast<BYTE>(200 + i % 50);
    ASSERT_PV_OK(PravonSetData(image.get(), rect, patch.data(), rowBytes));

    TestPlane after(11, 9, PravonColorSpace::kRGB8);
    ASSERT_PV_OK(image->GetData(CPravonRect(0, 0, 11, 9), after.data.data(), after.rowBytes));
    for (LONG y = 0; y < 9; ++y) {
        for (LONG x = 0; x < 11; ++x) {
            for (LONG c = 0; c < 3; ++c) {
                const bool inside = x >= 7 && y >= 6;
                const ULONG expected =
                    inside ? patch[static_cast<std::size_t>(y - 6) * rowBytes + (x - 7) * 3 + c]
                           : before.Sample(x, y, c);
                ASSERT_EQ(after.Sample(x, y, c), expected) << x << "," << y << " channel " << c;
            }
        }
    }
}

TEST(PravonSetData, RefusesPixelsOfPartBytesShortRowsAndMissingArguments) {
    CPravonMemoryManager manager(4);
    IPravonImage* raw = nullptr;
    ASSERT_PV_OK(manager.CreateImage(1, &raw));
    PravonImagePtr image(raw);
    ASSERT_PV_OK(image->SetColorSpace(0x01020001)); // one bit, one channel
    ASSERT_PV_OK(image->SetSize(8, 8));
    BYTE buffer[64] = {};
    EXPECT_PV_KIND(PravonSetData(image.get(), PravonRect{0, 0, 8, 8}, buffer, 8),
                   PravonKind::kUnsupportedColorSpace);
    ASSERT_PV_OK(image->SetColorSpace(PravonColorSpace::kGrey8));
    EXPECT_PV_KIND(PravonSetData(image.get(), PravonRect{0, 0, 8, 8}, buffer, 7), PravonKind::kBadArgument);
    EXPECT_PV_KIND(PravonSetData(image.get(), PravonRect{0, 0, 8, 8}, nullptr, 8), PravonKind::kBadArgument);
    EXPECT_PV_KIND(PravonSetData(nullptr, PravonRect{0, 0, 8, 8}, buffer, 8), PravonKind::kBadArgument);
    EXPECT_PV_OK(PravonSetData(image.get(), PravonRect{20, 20, 28, 28}, buffer, 8)) << "wholly off the image";
}

} // namespace
