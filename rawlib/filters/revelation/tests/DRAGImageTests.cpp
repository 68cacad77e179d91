#include "rawlib/filters/revelation/CDRAGImage.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using namespace kvtest;

struct Planar {
    DragRect rect;
    std::size_t n;
    std::vector<std::uint16_t> samples;
    Planar(DragRect r, int planes)
        : rect(r), n(static_cast<std::size_t>(r.right - r.left) * (r.bottom - r.top)),
          samples(n * planes, 0xBEEF) {}
    std::uint16_t At(int plane, LONG x, LONG y) const {
        return samples[plane * n + static_cast<std::size_t>(y - rect.top) * (rect.right - rect.left) +
                       (x - rect.left)];
    }
};

class DRAGImage : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(m_manager.GetLockCount(), 0); }
    CPravonMemoryManager m_manager{4};
};

// Rows that reach past the image read its nearest edge pixels, 8-bit samples widened to 16 bits.
TEST_F(DRAGImage, RowsOutsideTheImageReadItsEdgePixels) {
    const TestPlane rgb = MakePlane(9, 6, PravonColorSpace::kRGB8, FillPattern::Coordinates);
    const TestPlane grey = MakePlane(9, 6, PravonColorSpace::kGrey16, FillPattern::Random, 4);
    PravonImagePtr image = MakeImage(m_manager, rgb);
    PravonImagePtr second = MakeImage(m_manager, grey);
    CDRAGImage description;
    ASSERT_PV_OK(description.Describe(image.get(), second.get()));
    const DragRect rect{-3, -2, 12, 8};
    Planar out(rect, 4);
    ASSERT_EQ(CDRAGImage::RowSource(&rect, out.samples.data(), &description), nullptr);
    for (LONG y = rect.top; y < rect.bottom; ++y) {
        for (LONG x = rect.left; x < rect.right; ++x) {
            const LONG cx = std::clamp<LONG>(x, 0, 8), cy = std::clamp<LONG>(y, 0, 5);
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(out.At(c, x, y), rgb.Sample(cx, cy, c) * 257) << x << ", " << y << " plane " << c;
            ASSERT_EQ(out.At(3, x, y), grey.Sample(cx, cy, 0)) << x << ", " << y;
        }
    }
    description.Release();
}

TEST_F(DRAGImage, AGreyImageFillsAllThreePlanes) {
    const TestPlane grey = MakePlane(5, 5, PravonColorSpace::kGrey8, FillPattern::Random, 2);
    PravonImagePtr image = MakeImage(m_manager, grey);
    CDRAGImage description;
    ASSERT_PV_OK(description.Describe(image.get()));
    const DragRect rect{0, 0, 5, 5};
    Planar out(rect, 3);
    ASSERT_EQ(CDRAGImage::RowSource(&rect, out.samples.data(), &description), nullptr);
    for (LONG y = 0; y < 5; ++y)
        for (LONG x = 0; x < 5; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(out.At(c, x, y), grey.Sample(x, y, 0) * 257);
    description.Release();
}

// What the library writes lands inside the image only: 16-bit images take the samples, 8-bit ones their
// high bytes, grey ones plane 0.
TEST_F(DRAGImage, WritesAreClippedToTheImage) {
    for (LONG cs : {PravonColorSpace::kRGB16, PravonColorSpace::kRGB8, PravonColorSpace::kGrey16}) {
        SCOPED_TRACE(cs);
        const TestPlane before = MakePlane(9, 7, cs, FillPattern::Constant, 3);
        PravonImagePtr image = MakeImage(m_manager, before);
        CDRAGImage description;
        ASSERT_PV_OK(description.DescribeForWriting(image.get(), false));
        const DragRect rect{-4, 2, 12, 9};
        Planar in(rect, 3);
        for (std::size_t i = 0; i < in.samples.size(); ++i)
            in.samples[i] = static_cast<std::uint16_t>(i * 977);
        ASSERT_EQ(CDRAGImage::RowSink(&rect, in.samples.data(), &description), nullptr);
        description.Release();
        TestPlane after;
        ASSERT_PV_OK(PullAll(image.get(), &after));
        const bool wide = PravonColorSpace::BitsPerSample(cs) == 16;
        for (LONG y = 0; y < 7; ++y) {
            for (LONG x = 0; x < 9; ++x) {
                for (LONG c = 0; c < after.Channels(); ++c) {
                    // Rows 2 and below are inside the written rectangle.
                    ULONG expected = before.Sample(x, y, c);
                    if (y >= 2)
                        expected = wide ? in.At(c, x, y) : static_cast<ULONG>(in.At(c, x, y) >> 8);
                    ASSERT_EQ(after.Sample(x, y, c), expected) << x << ", " << y;
                }
            }
        }
    }
}

TEST_F(DRAGImage, RectanglesFarOutsideAreRefused) {
    PravonImagePtr image =
        MakeImage(m_manager, MakePlane(9, 7, PravonColorSpace::kRGB16, FillPattern::Constant, 1));
    CDRAGImage description;
    ASSERT_PV_OK(description.DescribeForWriting(image.get(), false));
    const DragRect cases[] = {
        {-25, 0, 5, 5},     // beyond the margin at the left
        {0, 0, 9 + 25, 5},  // and at the right
        {0, -100000, 5, 5}, // far above
        {5, 0, 4, 5},       // turned inside out
        {0, 5, 5, 4},       {-1000000, -1000000, 1000000, 1000000},
    };
    std::vector<std::uint16_t> buffer(64 * 3, 0);
    for (const DragRect& rect : cases) {
        EXPECT_PV_KIND(static_cast<IPravonError*>(CDRAGImage::RowSink(&rect, buffer.data(), &description)),
                       PravonKind::kBadArgument);
        EXPECT_PV_KIND(static_cast<IPravonError*>(CDRAGImage::RowSource(&rect, buffer.data(), &description)),
                       PravonKind::kBadArgument);
    }
    const DragRect empty{3, 3, 3, 3};
    EXPECT_EQ(CDRAGImage::RowSink(&empty, buffer.data(), &description), nullptr);
    description.Release();
}

TEST_F(DRAGImage, AWatchedImageAnnouncesWhatWasWritten) {
    PravonImagePtr image =
        MakeImage(m_manager, MakePlane(9, 7, PravonColorSpace::kGrey16, FillPattern::Constant, 1));
    NotificationRecorder watcher;
    ASSERT_PV_OK(PravonConnect(image.get(), &watcher));
    CDRAGImage description;
    ASSERT_PV_OK(description.DescribeForWriting(image.get(), true));
    const DragRect rect{-2, 3, 4, 20};
    std::vector<std::uint16_t> buffer(6 * 17, 7);
    ASSERT_EQ(CDRAGImage::RowSink(&rect, buffer.data(), &description), nullptr);
    description.Release();
    ASSERT_EQ(watcher.Count(PravonNotification::kData), 1u);
    ASSERT_TRUE(watcher.heard.back().rect.has_value());
    EXPECT_EQ(*watcher.heard.back().rect, (PravonRect{0, 3, 4, 7})) << "the part inside the image";
    ASSERT_PV_OK(PravonDisconnect(image.get(), &watcher));
}

} // namespace
