#include "filters/CBGRizeFilter.h"

#include "testing/FilterOverPlane.h"
#include "testing/ImageCompare.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace {

using namespace kvtest;

// The bytes a display expects for a source pixel: blue, green, red, each the top 8 bits of its sample.
std::array<BYTE, 3> NativeBytes(const TestPlane& plane, LONG x, LONG y) {
    const int shift = plane.BitsPerSample() - 8;
    if (plane.Channels() == 1) {
        const BYTE v = static_cast<BYTE>(plane.Sample(x, y, 0) >> shift);
        return {v, v, v};
    }
    return {static_cast<BYTE>(plane.Sample(x, y, 2) >> shift),
            static_cast<BYTE>(plane.Sample(x, y, 1) >> shift),
            static_cast<BYTE>(plane.Sample(x, y, 0) >> shift)};
}

TEST(BGRize, SinglePixelsBecomeTheirNativeBytes) {
    const struct {
        LONG colorSpace;
        std::array<ULONG, 3> samples; // as many as the space has channels
        std::array<BYTE, 3> bytes;
    } cases[] = {
        {PravonColorSpace::kRGB16, {0x1234, 0x5678, 0x9ABC}, {0x9A, 0x56, 0x12}},
        {PravonColorSpace::kGrey8, {200}, {200, 200, 200}},
        {PravonColorSpace::kGrey16, {0xABCD}, {0xAB, 0xAB, 0xAB}},
        {PravonColorSpace::kRGB8, {1, 2, 250}, {250, 2, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "colour space 0x" << std::hex << c.colorSpace);
        TestPlane plane(1, 1, c.colorSpace);
        for (LONG ch = 0; ch < plane.Channels(); ++ch)
            plane.SetSample(0, 0, ch, c.samples[ch]);
        FilterOverPlane<CBGRizeFilter> graph(plane, 16);
        const TestPlane out = graph.Pull();
        ASSERT_EQ(out.colorSpace, PravonColorSpace::kBGR8);
        EXPECT_EQ(out.Row(0)[0], c.bytes[0]);
        EXPECT_EQ(out.Row(0)[1], c.bytes[1]);
        EXPECT_EQ(out.Row(0)[2], c.bytes[2]);
    }
}

TEST(BGRize, WholeImagesMatchTheReferenceAtEveryTileSize) {
    for (LONG colorSpace : {PravonColorSpace::kGrey8, PravonColorSpace::kGrey16, PravonColorSpace::kRGB8,
                            PravonColorSpace::kRGB16}) {
        SCOPED_TRACE(testing::Message() << "colour space 0x" << std::hex << colorSpace);
        const TestPlane plane = MakePlane(37, 23, colorSpace, FillPattern::Random, 5);
        TestPlane out;
        ASSERT_TRUE(SameAtEveryTileSize(
            FilterGraph<CBGRizeFilter>(plane, [](CBGRizeFilter&) -> IPravonError* { return nullptr; }),
            &out));
        ASSERT_EQ(out.width, plane.width);
        ASSERT_EQ(out.height, plane.height);
        for (LONG y = 0; y < plane.height; ++y)
            for (LONG x = 0; x < plane.width; ++x) {
                const std::array<BYTE, 3> expected = NativeBytes(plane, x, y);
                ASSERT_EQ(0, std::memcmp(out.Row(y) + 3 * x, expected.data(), 3)) << "at " << x << "," << y;
            }
    }
}

TEST(BGRize, EveryTileCarriesATopDownBitmapHeader) {
    FilterOverPlane<CBGRizeFilter> graph(MakePlane(20, 20, PravonColorSpace::kRGB8, FillPattern::Random, 2),
                                         16);
    void* data = nullptr;
    BITMAPINFOHEADER* header = nullptr;
    ASSERT_PV_OK(graph.filter->LockTile(1, 1, &data, &header));
    ASSERT_NE(header, nullptr);
    LONG rowBytes = 0;
    ASSERT_PV_OK(graph.filter->GetRowBytes(&rowBytes));
    ASSERT_EQ(rowBytes, 48) << "a 16-pixel row of three bytes a pixel needs no padding";
    // 40, 16, -16, 1, 24, uncompressed, 48 * 16 bytes, 3880 pixels a metre each way, no colours.
    const BYTE expected[40] = {0x28, 0,    0, 0, 0x10, 0, 0, 0, 0xF0, 0xFF, 0xFF, 0xFF, 1, 0,
                               0x18, 0,    0, 0, 0,    0, 0, 3, 0,    0,    0x28, 0x0F, 0, 0,
                               0x28, 0x0F, 0, 0, 0,    0, 0, 0, 0,    0,    0,    0};
    BYTE actual[40];
    static_assert(sizeof(BITMAPINFOHEADER) == sizeof actual);
    std::memcpy(actual, header, sizeof actual);
    for (std::size_t i = 0; i < sizeof actual; ++i)
        EXPECT_EQ(actual[i], expected[i]) << "byte " << i;
    EXPECT_PV_OK(graph.filter->UnlockTile(1, 1));
}

TEST(BGRize, AnyOtherSourceFailsEveryQueryOfTheEnabledFilter) {
    FilterOverPlane<CBGRizeFilter> graph(MakePlane(8, 8, PravonColorSpace::kCMYK8, FillPattern::Random, 3),
                                         16);
    const auto refused = [](IPravonError* e) {
        PravonErrorPtr owned(e);
        return e && e->HasText("Bad source data color space");
    };
    LONG width = 0;
    LONG height = 0;
    LONG colorSpace = 0;
    LONG rowBytes = 0;
    void* data = nullptr;
    EXPECT_TRUE(refused(graph.filter->GetSize(&width, &height)));
    EXPECT_TRUE(refused(graph.filter->GetColorSpace(&colorSpace)));
    EXPECT_TRUE(refused(graph.filter->GetRowBytes(&rowBytes)));
    EXPECT_TRUE(refused(graph.filter->LockTile(0, 0, &data, nullptr)));
    ASSERT_PV_OK(graph.filter->Enable(false, false));
    ASSERT_PV_OK(graph.filter->GetColorSpace(&colorSpace));
    EXPECT_EQ(colorSpace, PravonColorSpace::kCMYK8) << "a disabled filter answers from its source";
}

TEST(BGRize, ASourceColourSpaceChangeIsAnnouncedAsNewPixelsWhileEnabled) {
    FilterOverPlane<CBGRizeFilter> graph(MakePlane(30, 20, PravonColorSpace::kRGB8, FillPattern::Random, 4),
                                         16);
    TestPlane before = graph.Pull();
    ASSERT_PV_OK(graph.source->SetColorSpace(PravonColorSpace::kGrey8));
    const TestPlane grey = MakePlane(30, 20, PravonColorSpace::kGrey8, FillPattern::Random, 9);
    ASSERT_PV_OK(WritePlane(graph.source.get(), grey));
    IPravonDataDestination::ChangeColorSpace change{PravonColorSpace::kRGB8, PravonColorSpace::kGrey8};
    ASSERT_PV_OK(PravonSendDataNotification(graph.source.get(), PravonNotification::kColorSpace, &change));
    ASSERT_EQ(graph.recorder.heard.size(), 1u);
    EXPECT_EQ(graph.recorder.heard[0].type, PravonNotification::kData);
    ASSERT_TRUE(graph.recorder.heard[0].rect);
    EXPECT_EQ(CPravonRect(*graph.recorder.heard[0].rect), CPravonRect(0, 0, 30, 20));
    const TestPlane after = graph.Pull();
    EXPECT_EQ(after.colorSpace, PravonColorSpace::kBGR8);
    EXPECT_EQ(after.Row(7)[3 * 5], static_cast<BYTE>(grey.Sample(5, 7, 0))) << "the output was regenerated";

    graph.recorder.Clear();
    ASSERT_PV_OK(graph.filter->Enable(false, false));
    change = {PravonColorSpace::kGrey8, PravonColorSpace::kRGB16};
    ASSERT_PV_OK(graph.source->SetColorSpace(PravonColorSpace::kRGB16));
    ASSERT_PV_OK(PravonSendDataNotification(graph.source.get(), PravonNotification::kColorSpace, &change));
    ASSERT_EQ(graph.recorder.heard.size(), 1u);
    EXPECT_EQ(graph.recorder.heard[0].type, PravonNotification::kColorSpace)
        << "a disabled filter passes the change on, its geometry being its source's";
}

} // namespace
