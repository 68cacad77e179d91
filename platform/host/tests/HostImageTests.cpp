// The host's pictures as modules get them: images of the imaging framework made from pictures of one,
// three and four channels, resized by area means, items with properties, and pictures written to files.
#include "HostFixture.h"

#include "platform/zizoraz/IproImageFile.h"

#include "platform/win/utf16.h"

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
    m_host->AddItem(Held(4, std::make_shared<CHostPicture>(CHostPicture::Solid(8, 4, {10, 200, 30}))));
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
    for (const Case& c : cases) {
        CKvwOutputData output;
        output.filePath.Initialize(folder, c.name, c.scale, PravonColorSpace::kRGB8, 5, c.width, c.height);
        const CHostReply reply = m_host->DefaultReply(WriteRequest(4, &output));
        EXPECT_EQ(reply.result, kKvwHandled) << c.name;
        EXPECT_TRUE(reply.completions.empty()) << c.name;
        IproPixels pixels;
        ASSERT_TRUE(IproImageFile::Load(Utf::Utf8ToWide(folder + c.name).c_str(), pixels)) << c.name;
        EXPECT_EQ(pixels.width, c.expectedWidth) << c.name;
        EXPECT_EQ(pixels.height, c.expectedHeight) << c.name;
        const std::uint32_t middle = pixels.At(pixels.width / 2, pixels.height / 2);
        EXPECT_NEAR(static_cast<int>(middle >> 16 & 0xFF), 10, c.tolerance) << c.name;
        EXPECT_NEAR(static_cast<int>(middle >> 8 & 0xFF), 200, c.tolerance) << c.name;
        EXPECT_NEAR(static_cast<int>(middle & 0xFF), 30, c.tolerance) << c.name;
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
        EXPECT_EQ(reply.completions[0].id,
                  flags == 4 ? kKvwNotify_ImageLoaded : KvwHostMessage::kPreviewReady);
        EXPECT_EQ(reply.completions[0].words[0], 6u);
        EXPECT_EQ(reply.completions[0].words[6], KvwPluginRequest::kPreview);
    }
}

} // namespace
