// The host's pictures as modules get them: images of the imaging framework made from pictures of one,
// three and four channels, resized by area means, items with properties, and pictures written to files.
#include "HostFixture.h"

#include "platform/host/CHostPhotos.h"
#include "platform/zizoraz/IproImageFile.h"

#include "platform/win/utf16.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {

// The host's pattern, worked out here on its own: (x * 7 + y * 13 + channel * 61) mod 256.
BYTE PatternSample(LONG x, LONG y, LONG channel) {
    return static_cast<BYTE>((x * 7 + y * 13 + channel * 61) % 256);
}

struct ImageRef {
    IKvwImage* image = nullptr;
    ~ImageRef() {
        if (image)
            image->Release();
    }
};

class HostImages : public HostTest {
protected:
    CHostItemRecord Held(KvwItemId id, std::shared_ptr<const CHostPicture> picture) {
        CHostItemRecord item;
        item.id = id;
        item.fullPicture = std::move(picture);
        item.fullHeld = true;
        return item;
    }
    CHostRequest WriteRequest(KvwItemId id, CKvwOutputData* output) {
        CHostRequest request;
        request.id = KvwPluginRequest::kWriteImage;
        request.words = {KvwItemIdLow(id),
                         KvwItemIdHigh(id),
                         reinterpret_cast<KvwWord>(output),
                         1,
                         kKvwRecordOutputData,
                         6,
                         0,
                         kKvwFrameworkRequestTag};
        return request;
    }
};

TEST_F(HostImages, ImagesAreFrameworkImagesOfTheirPictureWithOneThreeOrFourChannels) {
    struct Case {
        LONG channels;
        LONG colorSpace;
    };
    for (const Case& c :
         {Case{1, PravonColorSpace::kGrey8}, Case{3, PravonColorSpace::kRGB8}, Case{4, kHostFourChannels8}}) {
        CHostItemRecord item;
        item.id = 10 + c.channels;
        item.fullWidth = 5;
        item.fullHeight = 3;
        item.fullHeld = true;
        item.channels = c.channels;
        m_host->AddItem(item);
        ImageRef ref;
        ASSERT_EQ(m_host->Items().GetFullImage(KvwItemIdLow(item.id), 0, &ref.image, 1, nullptr), kKvwOk);
        EXPECT_EQ(ref.image->GetWidth(), 5);
        EXPECT_EQ(ref.image->GetHeight(), 3);
        IPravonDataSource* source = ref.image->GetDataSource();
        ASSERT_NE(source, nullptr);
        LONG colorSpace = 0;
        ASSERT_PV_OK(source->GetColorSpace(&colorSpace));
        EXPECT_EQ(colorSpace, c.colorSpace);
        // The rectangle (1, 1) .. (4, 3), read back in one call.
        std::vector<BYTE> read(3 * 2 * c.channels);
        ASSERT_PV_OK(source->GetData(PravonRect{1, 1, 4, 3}, read.data(), 3 * c.channels));
        for (LONG y = 1; y < 3; ++y)
            for (LONG x = 1; x < 4; ++x)
                for (LONG ch = 0; ch < c.channels; ++ch)
                    EXPECT_EQ(read[((y - 1) * 3 + (x - 1)) * c.channels + ch], PatternSample(x, y, ch))
                        << c.channels << " channels at " << x << "," << y;
    }
}

TEST_F(HostImages, AnImageIsResizedByTheMeansOfTheAreasItsNewPixelsCover) {
    struct Case {
        LONG width, height;
        std::vector<BYTE> samples;
        LONG toWidth, toHeight;
        std::vector<BYTE> expected;
    };
    const Case cases[] = {
        // Halved both ways: means of 2 x 2 blocks, 32.5 rounding up.
        {4, 2, {0, 100, 200, 50, 10, 20, 30, 40}, 2, 1, {33, 80}},
        // Three into two: the middle pixel is shared by halves, (0 + 45) / 1.5 and (45 + 180) / 1.5.
        {3, 1, {0, 90, 180}, 2, 1, {30, 150}},
        // Enlarged: the pixel repeats.
        {1, 1, {77}, 2, 2, {77, 77, 77, 77}},
    };
    for (const Case& c : cases) {
        auto picture = std::make_shared<CHostPicture>(CHostPicture{c.width, c.height, 1, c.samples});
        m_host->AddItem(Held(1, picture));
        ImageRef ref;
        ASSERT_EQ(m_host->Items().GetFullImage(1, 0, &ref.image, 1, nullptr), kKvwOk);
        ASSERT_TRUE(ref.image->Resize(c.toWidth, c.toHeight));
        ASSERT_EQ(ref.image->GetWidth(), c.toWidth);
        ASSERT_EQ(ref.image->GetHeight(), c.toHeight);
        std::vector<BYTE> read(c.expected.size());
        ASSERT_PV_OK(ref.image->GetDataSource()->GetData(PravonRect{0, 0, c.toWidth, c.toHeight}, read.data(),
                                                         static_cast<std::size_t>(c.toWidth)));
        EXPECT_EQ(read, c.expected) << c.width << "x" << c.height << " to " << c.toWidth << "x" << c.toHeight;
        EXPECT_FALSE(ref.image->Resize(0, 1));
        EXPECT_FALSE(ref.image->Resize(4, -2));
        EXPECT_EQ(ref.image->GetWidth(), c.toWidth) << "a refused size changes nothing";
    }
    EXPECT_EQ(CHostImage::Live(), 0);
}

// The host's 16-bit pattern, worked out here on its own.
std::uint32_t WidePatternSample(LONG x, LONG y, LONG channel) {
    return static_cast<std::uint32_t>((x * 1031 + y * 3079 + channel * 7919) % 65536);
}

// A 16-bit picture of the samples, as the host keeps them (the low byte first).
std::shared_ptr<CHostPicture> WidePicture(LONG width, LONG height, LONG channels,
                                          const std::vector<std::uint16_t>& values) {
    auto picture = std::make_shared<CHostPicture>(CHostPicture{width, height, channels, {}, 16});
    for (std::uint16_t value : values) {
        picture->samples.push_back(static_cast<BYTE>(value & 0xFF));
        picture->samples.push_back(static_cast<BYTE>(value >> 8));
    }
    return picture;
}

TEST_F(HostImages, SixteenBitPicturesAreServedAsSixteenBitImages) {
    struct Case {
        LONG channels;
        LONG colorSpace;
    };
    for (const Case& c : {Case{1, PravonColorSpace::kGrey16}, Case{3, PravonColorSpace::kRGB16},
                          Case{4, kHostFourChannels16}}) {
        m_host->AddItem(
            Held(20 + c.channels, std::make_shared<CHostPicture>(CHostPicture::Pattern16(5, 3, c.channels))));
        ImageRef ref;
        ASSERT_EQ(m_host->Items().GetFullImage(20 + c.channels, 0, &ref.image, 1, nullptr), kKvwOk);
        LONG colorSpace = 0;
        ASSERT_PV_OK(ref.image->GetDataSource()->GetColorSpace(&colorSpace));
        EXPECT_EQ(colorSpace, c.colorSpace);
        std::vector<std::uint16_t> read(3 * 2 * static_cast<std::size_t>(c.channels));
        ASSERT_PV_OK(
            ref.image->GetDataSource()->GetData(PravonRect{1, 1, 4, 3}, read.data(), 3 * c.channels * 2));
        for (LONG y = 1; y < 3; ++y)
            for (LONG x = 1; x < 4; ++x)
                for (LONG ch = 0; ch < c.channels; ++ch)
                    EXPECT_EQ(read[((y - 1) * 3 + (x - 1)) * c.channels + ch], WidePatternSample(x, y, ch))
                        << c.channels << " channels at " << x << "," << y;
    }
}

TEST_F(HostImages, ASixteenBitImageIsResizedByAreaMeansInSixteenBits) {
    struct Case {
        LONG width, height;
        std::vector<std::uint16_t> samples;
        LONG toWidth, toHeight;
        std::vector<std::uint16_t> expected;
    };
    const Case cases[] = {
        // Means of 2 x 2 blocks: 1000.75 and 31385.5, rounded.
        {4, 2, {1000, 3000, 60000, 65535, 1, 2, 3, 4}, 2, 1, {1001, 31386}},
        // Three into two: (0 + 4500) / 1.5 and (4500 + 18000) / 1.5.
        {3, 1, {0, 9000, 18000}, 2, 1, {3000, 15000}},
    };
    for (const Case& c : cases) {
        m_host->AddItem(Held(2, WidePicture(c.width, c.height, 1, c.samples)));
        ImageRef ref;
        ASSERT_EQ(m_host->Items().GetFullImage(2, 0, &ref.image, 1, nullptr), kKvwOk);
        ASSERT_TRUE(ref.image->Resize(c.toWidth, c.toHeight));
        std::vector<std::uint16_t> read(c.expected.size());
        ASSERT_PV_OK(ref.image->GetDataSource()->GetData(PravonRect{0, 0, c.toWidth, c.toHeight}, read.data(),
                                                         static_cast<std::size_t>(c.toWidth) * 2));
        EXPECT_EQ(read, c.expected) << c.width << "x" << c.height;
    }
}

// The area mean of new pixel (ox, oy, channel) worked out here on its own: every old pixel weighted by the
// area of it that the new pixel's rectangle covers, in old pixels.
long double AreaMean(const CHostPicture& picture, LONG width, LONG height, LONG ox, LONG oy, LONG channel) {
    const long double sx = static_cast<long double>(picture.width) / width;
    const long double sy = static_cast<long double>(picture.height) / height;
    const long double left = ox * sx, right = (ox + 1) * sx, top = oy * sy, bottom = (oy + 1) * sy;
    long double sum = 0;
    for (LONG y = 0; y < picture.height; ++y)
        for (LONG x = 0; x < picture.width; ++x) {
            const long double across = std::min<long double>(right, x + 1) - std::max<long double>(left, x);
            const long double down = std::min<long double>(bottom, y + 1) - std::max<long double>(top, y);
            if (across > 0 && down > 0)
                sum += across * down * picture.Sample(x, y, channel);
        }
    return sum / (sx * sy);
}

TEST(HostResample, EveryNewSampleIsTheRoundedAreaMeanOfTheOldOnesItCovers) {
    struct Case {
        LONG width, height, channels, bits, toWidth, toHeight;
    };
    const Case cases[] = {
        {75, 50, 3, 8, 64, 43}, // the mail saver's last step, a DCT-scaled decode fitted into its box
        {31, 17, 3, 8, 7, 5},   // odd sides, shrunk by ratios that are not whole
        {40, 30, 1, 8, 20, 15}, // halved exactly
        {9, 7, 4, 8, 23, 16},   // enlarged by ratios that are not whole
        {16, 9, 3, 8, 5, 20},   // narrower and taller at once
        {13, 11, 3, 16, 6, 4},  // sixteen bits, shrunk
        {5, 4, 1, 16, 12, 9},   // sixteen bits, enlarged
        {1, 1, 3, 8, 1, 1},     // one pixel
    };
    for (const Case& c : cases) {
        const CHostPicture picture = c.bits == 16 ? CHostPicture::Pattern16(c.width, c.height, c.channels)
                                                  : CHostPicture::Pattern(c.width, c.height, c.channels);
        const CHostPicture out = ResamplePicture(picture, c.toWidth, c.toHeight);
        ASSERT_EQ(out.width, c.toWidth);
        ASSERT_EQ(out.height, c.toHeight);
        ASSERT_EQ(out.channels, c.channels);
        ASSERT_EQ(out.bits, c.bits);
        ASSERT_EQ(out.samples.size(), out.RowBytes() * static_cast<std::size_t>(c.toHeight));
        int differing = 0;
        for (LONG y = 0; y < c.toHeight; ++y)
            for (LONG x = 0; x < c.toWidth; ++x)
                for (LONG ch = 0; ch < c.channels; ++ch) {
                    const long double mean = AreaMean(picture, c.toWidth, c.toHeight, x, y, ch);
                    const long double got = out.Sample(x, y, ch);
                    // A mean this close to a half may round either way in double arithmetic.
                    const bool nearHalf = std::fabs(mean - std::floor(mean) - 0.5L) < 1e-6L;
                    if (nearHalf ? std::fabs(got - mean) > 0.5L + 1e-6L : got != std::llround(mean))
                        ++differing;
                }
        EXPECT_EQ(differing, 0) << c.width << "x" << c.height << "x" << c.channels << " (" << c.bits
                                << " bits) to " << c.toWidth << "x" << c.toHeight;
    }
}

// The picture's quadrants at the centres of the quadrants of an image of its size.
void ExpectQuadrants(IKvwImage& image, const std::array<std::uint32_t, 4>& colours, const char* what) {
    const LONG width = image.GetWidth(), height = image.GetHeight();
    for (int q = 0; q < 4; ++q) {
        const LONG x = (q % 2 == 0 ? 1 : 3) * width / 4, y = (q < 2 ? 1 : 3) * height / 4;
        PravonPixel pixel;
        ASSERT_PV_OK(image.GetDataSource()->GetPixel(x, y, &pixel));
        const std::uint32_t rgb = colours[static_cast<std::size_t>(q)];
        EXPECT_EQ((std::array<ULONG, 3>{pixel.sample[0], pixel.sample[1], pixel.sample[2]}),
                  (std::array<ULONG, 3>{rgb >> 16 & 0xFF, rgb >> 8 & 0xFF, rgb & 0xFF}))
            << what << ": quadrant " << q;
    }
}

TEST_F(HostImages, APreviewIsMadeAtTheSizeAskedForWithThePicturesProportions) {
    const std::array<std::uint32_t, 4> colours{0xC80000, 0x00C800, 0x0000C8, 0xC8C800};
    m_host->AddItem(CHostPhotos::QuadrantItem(3, CHostPhotos::QuadrantPicture(400, 300, colours)));
    const struct {
        DWORD width, height;
        bool made;
        LONG madeWidth, madeHeight;
        const char* what;
    } cases[] = {
        {40, 30, true, 40, 30, "the picture's proportions: exactly that size"},
        {40, 40, true, 53, 40, "square: the height asked for, the width 40 x 4 / 3"},
        {100, 20, true, 100, 75, "wide: the width asked for, the height 100 x 3 / 4"},
        {800, 600, true, 800, 600, "larger than the picture: enlarged"},
        {0, 30, false, 800, 600, "an empty size: the last preview stays"},
        {40000, 30, false, 800, 600, "beyond the canvas library's sides"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(m_host->Items().MakePreview(3, CKvwSizeRecord{c.width, c.height}), c.made) << c.what;
        ImageRef ref;
        ASSERT_EQ(m_host->Items().GetPreviewImage(3, 0, &ref.image, 0, nullptr), kKvwOk) << c.what;
        EXPECT_EQ(ref.image->GetWidth(), c.madeWidth) << c.what;
        EXPECT_EQ(ref.image->GetHeight(), c.madeHeight) << c.what;
        ExpectQuadrants(*ref.image, colours, c.what);
    }
    EXPECT_FALSE(m_host->Items().MakePreview(99, CKvwSizeRecord{40, 30})) << "no such item";
    EXPECT_EQ(CHostImage::Live(), 0);
}

TEST_F(HostImages, APreviewOfASixteenBitPictureIsMadeInEightBits) {
    // 0x8080 is 32896, the 8-bit level 128 (32896 / 257).
    CHostItemRecord item;
    item.id = 4;
    item.previewPicture = WidePicture(4, 3, 3, std::vector<std::uint16_t>(4 * 3 * 3, 0x8080));
    m_host->AddItem(item);
    ASSERT_TRUE(m_host->Items().MakePreview(4, CKvwSizeRecord{8, 6}));
    m_host->Items().Hold(4, false);
    ImageRef ref;
    ASSERT_EQ(m_host->Items().GetPreviewImage(4, 0, &ref.image, 0, nullptr), kKvwOk);
    LONG colorSpace = 0;
    ASSERT_PV_OK(ref.image->GetDataSource()->GetColorSpace(&colorSpace));
    EXPECT_EQ(colorSpace, PravonColorSpace::kRGB8);
    PravonPixel pixel;
    ASSERT_PV_OK(ref.image->GetDataSource()->GetPixel(5, 4, &pixel));
    EXPECT_EQ((std::array<ULONG, 3>{pixel.sample[0], pixel.sample[1], pixel.sample[2]}),
              (std::array<ULONG, 3>{128, 128, 128}));
}

TEST_F(HostImages, ItemsCarryTheirPropertiesWithTheirTypes) {
    CHostItemRecord record = Item(3);
    CKvwItemProperty title;
    title.type = 2;
    title.value = {'H', 'i', 0};
    record.properties[1001] = title;
    m_host->AddItem(record);
    IKvwItem* item = nullptr;
    ASSERT_EQ(m_host->Items().GetItem(3, 0, &item), kKvwOk);
    CKvwItemProperty property;
    EXPECT_EQ(item->GetProperty(1001, &property), kKvwOk);
    EXPECT_EQ(property.type, 2u);
    EXPECT_EQ(property.value, title.value);
    EXPECT_EQ(item->GetProperty(1002, &property), kKvwNothingToWorkOn);
    item->Release();
}

TEST_F(HostImages, AnOutputRequestWritesThePictureAsItsRecordSaysAndAnswersDoneAtOnce) {
    // The same colour (10, 200, 30) as an 8-bit picture, a JPEG photo and a 16-bit picture (10 x 257 is
    // 0x0A0A, and so on).
    m_host->AddItem(Held(4, std::make_shared<CHostPicture>(CHostPicture::Solid(8, 4, {10, 200, 30}))));
    m_host->AddItem(
        CHostPhotos::JpegItem(5, "/photos/green.jpg", CHostPhotos::SolidJpeg(8, 4, {10, 200, 30})));
    std::vector<std::uint16_t> wide;
    for (int i = 0; i < 8 * 4; ++i)
        wide.insert(wide.end(), {0x0A0A, 0xC8C8, 0x1E1E});
    m_host->AddItem(Held(6, WidePicture(8, 4, 3, wide)));
    const std::string folder = m_temp.Path() + "/";
    struct Case {
        const char* name;
        float scale;
        LONG width, height;
        LONG expectedWidth, expectedHeight;
        int tolerance;
    };
    const Case cases[] = {
        {"half.jpg", 0.5f, 0, 0, 4, 2, 6},
        {"sized.png", 1.0f, 6, 3, 6, 3, 0},
        {"sized-then-doubled.png", 2.0f, 3, 2, 6, 4, 0},
    };
    for (KvwItemId item : {4u, 5u, 6u}) {
        // A JPEG photo's colour is its encoder's rounding of it.
        const int photoTolerance = item == 5 ? 4 : 0;
        for (const Case& c : cases) {
            const std::string name = std::to_string(item) + "-" + c.name;
            CKvwOutputData output;
            output.filePath.Initialize(folder, name, c.scale, PravonColorSpace::kRGB8, 5, c.width, c.height);
            const CHostReply reply = m_host->DefaultReply(WriteRequest(item, &output));
            EXPECT_EQ(reply.result, kKvwHandled) << name;
            EXPECT_TRUE(reply.completions.empty()) << name;
            IproPixels pixels;
            ASSERT_TRUE(IproImageFile::Load(Utf::Utf8ToWide(folder + name).c_str(), pixels)) << name;
            EXPECT_EQ(pixels.width, c.expectedWidth) << name;
            EXPECT_EQ(pixels.height, c.expectedHeight) << name;
            const std::uint32_t middle = pixels.At(pixels.width / 2, pixels.height / 2);
            const int tolerance = c.tolerance + photoTolerance;
            EXPECT_NEAR(static_cast<int>(middle >> 16 & 0xFF), 10, tolerance) << name;
            EXPECT_NEAR(static_cast<int>(middle >> 8 & 0xFF), 200, tolerance) << name;
            EXPECT_NEAR(static_cast<int>(middle & 0xFF), 30, tolerance) << name;
        }
    }
}

TEST_F(HostImages, AnOutputRequestThatCannotBeDoneIsRefusedWithNothingWritten) {
    m_host->AddItem(Held(4, std::make_shared<CHostPicture>(CHostPicture::Solid(8, 4, {1, 2, 3}))));
    const std::string folder = m_temp.Path();
    struct Case {
        const char* what;
        KvwItemId item;
        const char* name;
        LONG level;
        float scale;
        KvwResult expected;
    };
    const Case cases[] = {
        {"a level above 5", 4, "a.jpg", 6, 1.0f, kKvwInvalidArgument},
        {"a level of 0", 4, "b.jpg", 0, 1.0f, kKvwInvalidArgument},
        {"a scale of 0", 4, "c.jpg", 3, 0.0f, kKvwInvalidArgument},
        {"an item the host does not have", 5, "d.jpg", 3, 1.0f, kKvwNothingToWorkOn},
        {"a file type the host does not write", 4, "e.gif", 3, 1.0f, kKvwNothingToWorkOn},
    };
    for (const Case& c : cases) {
        CKvwOutputData output;
        // The folder without its last separator: the host joins it to the name all the same.
        output.filePath.Initialize(folder, c.name, c.scale, PravonColorSpace::kRGB8, c.level, 0, 0);
        EXPECT_EQ(m_host->WriteOutput(WriteRequest(c.item, &output)), c.expected) << c.what;
        EXPECT_FALSE(std::filesystem::exists(folder + "/" + c.name)) << c.what;
    }
    CHostRequest wrongWords = WriteRequest(4, nullptr);
    EXPECT_EQ(m_host->WriteOutput(wrongWords), kKvwInvalidArgument);
}

TEST_F(HostImages, PreviewRequestsOfTheImageLoadManagerCompleteAsImageLoaded) {
    m_host->AddItem(Item(6));
    CKvwSizeRecord size{40, 30};
    for (KvwWord flags : {KvwWord{4}, KvwWord{6}}) {
        CHostRequest request;
        request.id = KvwPluginRequest::kPreview;
        request.words = {6,     0,  reinterpret_cast<KvwWord>(&size), 1, kKvwRecordSize,
                         flags, 64, kKvwFrameworkRequestTag};
        const CHostReply reply = m_host->DefaultReply(request);
        ASSERT_EQ(reply.completions.size(), 1u);
        // The preview is made at the size asked for and held.
        ImageRef ref;
        ASSERT_EQ(m_host->Items().GetPreviewImage(6, 0, &ref.image, 0, nullptr), kKvwOk);
        EXPECT_EQ(std::make_pair(ref.image->GetWidth(), ref.image->GetHeight()), std::make_pair(40, 30));
        EXPECT_EQ(reply.completions[0].id,
                  flags == 4 ? kKvwNotify_ImageLoaded : KvwHostMessage::kPreviewReady);
        EXPECT_EQ(reply.completions[0].words[0], 6u);
        EXPECT_EQ(reply.completions[0].words[6], KvwPluginRequest::kPreview);
    }
}

} // namespace
