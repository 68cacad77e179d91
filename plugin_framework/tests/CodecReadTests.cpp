// The pixels a codec's Read hands over: every destination format with pictures of one, three and four
// channels in both pixel orders on 2 x 2 pictures, the row stride, the fit, and buffers that stay within
// their bounds whatever size is asked for.
#include "ImageTestSupport.h"

#include "plugin_framework/TCodecReadBuffer.h"

namespace {

using imagetest::BytesSink;
using imagetest::Codec;

constexpr DWORD kStored = IPRO_MODE_STORED_ORDER;
constexpr DWORD kOther = 1;
constexpr int kFF = -1;

// 2 x 2 pictures, pixels in row order: grey 10, 20, 30, 40; three channels (1, 2, 3), (31, 32, 33), (61,
// 62, 63), (91, 92, 93); four channels (1, 2, 3, 4), (41, 42, 43, 44), (81, ...), (121, ...).
std::shared_ptr<const CHostPicture> TwoByTwo(LONG channels) {
    CHostPicture picture{2, 2, channels, {}};
    for (LONG pixel = 0; pixel < 4; ++pixel) {
        for (LONG c = 0; c < channels; ++c) {
            const LONG step = channels == 1 ? 10 : channels == 3 ? 30 : 40;
            picture.samples.push_back(
                static_cast<BYTE>(channels == 1 ? step * (pixel + 1) : step * pixel + c + 1));
        }
    }
    return std::make_shared<const CHostPicture>(picture);
}

struct Case {
    DWORD format;
    LONG channels;
    DWORD mode;
    // Either the source bytes each destination byte takes (kFF: 0xFF), repeated per pixel, or, with copy
    // set, the source row copied as far as both rows reach.
    std::vector<int> order;
    bool copy = false;
};

// The destination rows the table says, worked out from the picture's samples.
std::vector<BYTE> Expected(const Case& c, const CHostPicture& picture) {
    const std::size_t pixelBytes = TCodecReadBuffer::PixelBytes(c.format);
    const std::size_t rowBytes = pixelBytes * 2;
    std::vector<BYTE> out(rowBytes * 2, 0);
    for (LONG y = 0; y < 2; ++y) {
        BYTE* row = out.data() + rowBytes * y;
        if (c.copy) {
            const std::size_t sourceRow = 2 * static_cast<std::size_t>(picture.channels);
            for (std::size_t i = 0; i < std::min(sourceRow, rowBytes); ++i)
                row[i] = picture.samples[sourceRow * y + i];
            continue;
        }
        for (LONG x = 0; x < 2 && !c.order.empty(); ++x)
            for (std::size_t b = 0; b < pixelBytes; ++b)
                row[pixelBytes * x + b] = c.order[b] == kFF ? 0xFF : picture.Sample(x, y, c.order[b]);
    }
    return out;
}

class CodecRead : public imagetest::ImageHostTest {};

TEST_F(CodecRead, EveryDestinationFormatConvertsEachChannelCountInEitherOrder) {
    const Case cases[] = {
        {IPRO_FORMAT_GREY8, 1, kOther, {}, true},
        {IPRO_FORMAT_GREY8, 3, kStored, {}, true},
        {IPRO_FORMAT_RGB24, 3, kOther, {}, true},
        {IPRO_FORMAT_RGB24, 1, kStored, {}, true},
        {IPRO_FORMAT_BGR24, 1, kStored, {0, 0, 0}},
        {IPRO_FORMAT_BGR24, 1, kOther, {0, 0, 0}},
        {IPRO_FORMAT_BGR24, 3, kStored, {}, true},
        {IPRO_FORMAT_BGR24, 3, kOther, {2, 1, 0}},
        {IPRO_FORMAT_BGR24, 4, kStored, {}, true},
        {IPRO_FORMAT_BGR24, 4, kOther, {2, 1, 0}},
        {IPRO_FORMAT_BGRA32, 1, kStored, {0, 0, 0, kFF}},
        {IPRO_FORMAT_BGRA32, 1, kOther, {0, 0, 0, kFF}},
        {IPRO_FORMAT_BGRA32, 3, kStored, {0, 1, 2, kFF}},
        {IPRO_FORMAT_BGRA32, 3, kOther, {2, 1, 0, kFF}},
        {IPRO_FORMAT_BGRA32, 4, kStored, {0, 1, 2, kFF}},
        {IPRO_FORMAT_BGRA32, 4, kOther, {3, 2, 1, kFF}},
        {IPRO_FORMAT_RGBA32, 1, kStored, {0, 0, 0, kFF}},
        {IPRO_FORMAT_RGBA32, 1, kOther, {0, 0, 0, kFF}},
        {IPRO_FORMAT_RGBA32, 3, kStored, {0, 1, 2, kFF}},
        {IPRO_FORMAT_RGBA32, 3, kOther, {0, 1, 2, kFF}},
        {IPRO_FORMAT_RGBA32, 4, kStored, {3, 2, 1, kFF}},
        {IPRO_FORMAT_RGBA32, 4, kOther, {1, 2, 3, kFF}},
        // A format the codec does not write: the buffer stays zero.
        {0x2000, 3, kOther, {}},
    };
    KvwItemId item = 0;
    for (const Case& c : cases) {
        ++item;
        AddItem(item, TwoByTwo(c.channels));
        BytesSink sink;
        const bool read = OnWorker([&] {
            Codec codec;
            return codec.SetParameter(IPRO_PARAM_MODE, static_cast<LONG>(c.mode)) && codec.Open(item) &&
                   codec.Read(c.format, 1, sink);
        });
        ASSERT_TRUE(read) << std::hex << c.format << " " << c.channels;
        EXPECT_EQ(sink.data, Expected(c, *TwoByTwo(c.channels)))
            << "format " << std::hex << c.format << std::dec << ", " << c.channels << " channels, mode "
            << c.mode;
    }
}

TEST_F(CodecRead, AWantedSizeLargerThanThePictureLeavesItAndTheRestOfTheBufferZero) {
    AddItem(1, TwoByTwo(3));
    BytesSink sink;
    ASSERT_TRUE(OnWorker([&] {
        Codec codec;
        return codec.Open(1) && codec.SetSize(4, 3) && codec.Read(IPRO_FORMAT_BGRA32, 4, sink);
    }));
    ASSERT_EQ(sink.data.size(), 16u * 3);
    EXPECT_EQ(sink.data[3], 0xFF) << "(0, 0) is the picture's";
    EXPECT_EQ(sink.data[4 + 2], 31) << "(1, 0) red";
    EXPECT_EQ(sink.data[2 * 4 + 3], 0) << "(2, 0) is beyond the picture";
    EXPECT_EQ(sink.data[16 * 2 + 3], 0) << "(0, 2) is beyond the picture";
}

TEST_F(CodecRead, AHalfWidthAndAQuarterHeightScaleThePictureByAQuarter) {
    AddItem(1, Pattern(40, 40));
    BytesSink sink;
    IproCodecInfo info{};
    ASSERT_TRUE(OnWorker([&] {
        Codec codec;
        return codec.Open(1) && codec.SetSize(20, 10) && codec.Read(IPRO_FORMAT_BGRA32, 4, sink) &&
               codec.Info(info);
    }));
    EXPECT_EQ(info.width, 20);
    EXPECT_EQ(info.height, 10);
    EXPECT_EQ(info.colorSpace, PravonColorSpace::kRGB8);
    EXPECT_EQ(info.bitsPerPixel, 24);
    ASSERT_EQ(sink.data.size(), 20u * 10 * 4);
    EXPECT_EQ(sink.data[(9 * 20 + 9) * 4 + 3], 0xFF) << "the picture is 10 x 10";
    EXPECT_EQ(sink.data[10 * 4 + 3], 0) << "and no wider";
}

TEST(CodecReadBuffer, RowsArePaddedToTheAlignmentAndAnAlignmentBelowOneIsOne) {
    struct Case {
        DWORD format;
        LONG alignment, width;
        std::size_t stride;
    };
    const Case cases[] = {
        {IPRO_FORMAT_BGR24, 4, 5, 16},  {IPRO_FORMAT_BGR24, 1, 5, 15},   {IPRO_FORMAT_BGR24, 0, 5, 15},
        {IPRO_FORMAT_BGR24, -8, 5, 15}, {IPRO_FORMAT_BGRA32, 64, 3, 64}, {IPRO_FORMAT_GREY8, 2, 7, 8},
    };
    for (const Case& c : cases) {
        TCodecReadBuffer buffer;
        ASSERT_TRUE(buffer.Allocate(c.format, c.alignment, c.width, 3));
        EXPECT_EQ(buffer.GetStride(), c.stride) << c.alignment << " " << c.width;
        EXPECT_EQ(buffer.GetBytes().size(), c.stride * 3);
        EXPECT_TRUE(
            std::all_of(buffer.GetBytes().begin(), buffer.GetBytes().end(), [](BYTE b) { return b == 0; }));
    }
}

TEST(CodecReadBuffer, SizesThatCannotBeHeldAreRefusedAndRowsStayWithinTheBuffer) {
    TCodecReadBuffer buffer;
    EXPECT_FALSE(buffer.Allocate(IPRO_FORMAT_BGRA32, 4, 0, 10));
    EXPECT_FALSE(buffer.Allocate(IPRO_FORMAT_BGRA32, 4, 10, -1));
    EXPECT_FALSE(buffer.Allocate(IPRO_FORMAT_BGRA32, 4, 30000, 30000)) << "3.6 GB is above the cap";
    EXPECT_FALSE(buffer.Allocate(IPRO_FORMAT_BGRA32, 0x7FFFFFFF, 2, 2)) << "nor is an alignment that large";
    ASSERT_TRUE(buffer.Allocate(IPRO_FORMAT_BGRA32, 4, 2, 1));
    // A source row wider than the buffer is cut; rows outside it and pixels of two channels, which a
    // four-byte format has no rule for, write nothing.
    const BYTE wide[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    buffer.PutRow(0, wide, 3, 3, 1);
    buffer.PutRow(1, wide, 3, 3, 1);
    buffer.PutRow(-1, wide, 3, 3, 1);
    const std::vector<BYTE> expected = {3, 2, 1, 0xFF, 6, 5, 4, 0xFF};
    EXPECT_EQ(buffer.GetBytes(), expected);
    buffer.PutRow(0, wide, 3, 2, 1);
    EXPECT_EQ(buffer.GetBytes(), expected);
}

} // namespace
