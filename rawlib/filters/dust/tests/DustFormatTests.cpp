#include "DustTestSupport.h"

#include "rawlib/filters/dust/CDustBlockList.h"
#include "rawlib/filters/dust/CDustImageEncoder.h"
#include "rawlib/filters/dust/KvDustImageRows.h"
#include "rawlib/filters/dust/KvDustMapFormat.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

namespace {

using namespace dusttest;

Bytes Counting(std::size_t count) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<BYTE>(i * 7 + i / 251);
    return bytes;
}

TEST(DustBlockList, GivesBackExactlyWhatWasAppendedAtEveryBlockBoundary) {
    struct Case {
        std::size_t length;
        std::size_t blocks;
    };
    for (const Case c : {Case{0, 0}, Case{1, 1}, Case{16383, 1}, Case{16384, 1}, Case{16385, 2},
                         Case{32768, 2}, Case{32769, 3}}) {
        const Bytes input = Counting(c.length);
        CDustBlockList list;
        // In uneven pieces, so that appends cross block boundaries.
        for (std::size_t at = 0; at < input.size(); at += 5000)
            ASSERT_PV_OK(list.Append(input.data() + at, std::min<std::size_t>(5000, input.size() - at)));
        EXPECT_EQ(list.GetLength(), c.length);
        EXPECT_EQ(list.GetBlockCount(), c.blocks) << c.length;
        EXPECT_EQ(list.ToBytes(), input) << c.length;
    }
}

TEST(DustImageEncoder, WritesTheZlibStreamOfTheRowsAtEveryStripHeight) {
    const kvtest::TestPlane plane =
        kvtest::MakePlane(131, 77, PravonColorSpace::kGrey8, kvtest::FillPattern::Gradient);
    const Bytes expected = ZlibStream(Samples(plane));
    for (LONG tileSize : {7, 16, 256}) {
        CPravonMemoryManager manager(tileSize);
        PravonImagePtr image = kvtest::MakeImage(manager, plane);
        CDustBlockList out;
        ASSERT_PV_OK(CDustImageEncoder::Encode(image.get(), &out));
        // Deflate's output does not depend on how its input was cut into strips.
        EXPECT_EQ(out.ToBytes(), expected) << "tile size " << tileSize;
    }
}

TEST(DustImageEncoder, RefusesImagesThatAreNotEightBitGrey) {
    CPravonMemoryManager manager;
    PravonImagePtr image = kvtest::MakeImage(
        manager, kvtest::MakePlane(8, 8, PravonColorSpace::kRGB8, kvtest::FillPattern::Constant, 3));
    CDustBlockList out;
    EXPECT_PV_KIND(CDustImageEncoder::Encode(image.get(), &out), PravonKind::kUnsupportedColorSpace);
}

TEST(DustImageEncoder, StreamsOfWholeBlocksKeepTheirLastFullBlock) {
    for (std::size_t length : {std::size_t{16384}, std::size_t{32768}}) {
        const LONG width = 200;
        const LONG height = static_cast<LONG>(length / 150);
        const Bytes samples = SamplesWithStreamOf(length, width, height);
        ASSERT_FALSE(samples.empty());
        CPravonMemoryManager manager(64);
        PravonImagePtr image = kvtest::MakeImage(manager, PlaneOf(width, height, samples));
        CDustBlockList out;
        ASSERT_PV_OK(CDustImageEncoder::Encode(image.get(), &out));
        EXPECT_EQ(out.GetLength(), length);
        EXPECT_EQ(out.GetBlockCount(), length / CDustBlockList::kBlockSize)
            << "no empty block is opened at the end";
        EXPECT_EQ(Inflate(out.ToBytes(), samples.size()), samples);
    }
}

TEST(DustOrientation, WordsHoldTwiceTheWholeAngleAndTheFlip) {
    struct Case {
        bool flip;
        double angle;
        ULONG word;
        double angleBack;
    };
    for (const Case c :
         {Case{false, 0, 0, 0}, Case{true, 0, 1, 0}, Case{true, 90, 181, 90}, Case{false, 180, 360, 180},
          Case{false, 90.7, 180, 90}, Case{true, 270, 541, 270},
          Case{false, -90, static_cast<ULONG>(-180), -90}, Case{true, -90, static_cast<ULONG>(-179), -90}}) {
        EXPECT_EQ(KvDust::OrientationWord(c.flip, c.angle), c.word) << c.angle;
        bool flip = !c.flip;
        double angle = 12345;
        KvDust::SplitOrientation(c.word, &flip, &angle);
        EXPECT_EQ(flip, c.flip) << c.word;
        EXPECT_EQ(angle, c.angleBack) << c.word;
    }
    EXPECT_EQ(KvDust::OrientationWord(false, std::nan("")), 0u);
}

TEST(DustImageRows, ClampedReadsRepeatTheNearestEdgePixel) {
    // 3 x 2 image, values 10 * row + column.
    kvtest::TestPlane plane(3, 2, PravonColorSpace::kGrey8);
    for (LONG y = 0; y < 2; ++y)
        for (LONG x = 0; x < 3; ++x)
            plane.SetSample(x, y, 0, static_cast<ULONG>(10 * y + x));
    CPravonMemoryManager manager(2);
    PravonImagePtr image = kvtest::MakeImage(manager, plane);
    struct Case {
        PravonRect rect;
        Bytes expected;
    };
    const Case cases[] = {
        {{-2, -1, 5, 3},
         {0, 0, 0, 1, 2, 2, 2, 0, 0, 0, 1, 2, 2, 2, 10, 10, 10, 11, 12, 12, 12, 10, 10, 10, 11, 12, 12, 12}},
        {{-3, 0, -1, 1}, {0, 0}},
        {{4, 1, 6, 2}, {12, 12}},
        {{1, 5, 2, 6}, {11}},
    };
    for (const Case& c : cases) {
        const std::size_t width = static_cast<std::size_t>(c.rect.right - c.rect.left);
        Bytes out(c.expected.size(), 0xFF);
        ASSERT_PV_OK(KvDust::GetClampedRect(image.get(), c.rect, out.data(), width));
        EXPECT_EQ(out, c.expected) << c.rect.left << "," << c.rect.top;
    }
}

TEST(DustImageRows, PutRectFillsAndValidatesTheTiles) {
    CPravonMemoryManager manager(4);
    IPravonImage* made = nullptr;
    ASSERT_PV_OK(manager.CreateImage(1, &made));
    PravonImagePtr image(made);
    ASSERT_PV_OK(image->SetColorSpace(PravonColorSpace::kGrey8));
    ASSERT_PV_OK(image->SetSize(9, 5));
    Bytes rows(9 * 5);
    std::iota(rows.begin(), rows.end(), BYTE{0});
    ASSERT_PV_OK(KvDust::PutRect(image.get(), CPravonRect(0, 0, 9, 5), rows.data(), 9));
    EXPECT_TRUE(kvtest::PlanesMatch(PlaneOf(9, 5, rows), Pull(image.get())));
}

} // namespace
