// The item store's JPEG photos: sizes from the file's header, delivery decoded at the wanted size.
#include "HostFixture.h"

#include "platform/host/CHostImage.h"
#include "platform/host/CHostPhotos.h"
#include "platform/zizoraz/IproPngCodec.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <set>

namespace {

using HostPhotos = HostTest;

struct ImageSize {
    LONG width, height;
    bool operator==(const ImageSize&) const = default;
};

TEST_F(HostPhotos, AJpegItemIsDeliveredAtTheSmallestEighthNotBelowTheWantedSize) {
    m_host->AddItem(
        CHostPhotos::JpegItem(7, "/photos/a.jpg", CHostPhotos::SolidJpeg(1600, 1200, {200, 30, 40})));
    CKvwSourceData source;
    ASSERT_EQ(m_host->Items().GetSourceData(7, 0, &source, 0), kKvwOk);
    EXPECT_EQ(source.width, 1600u);
    EXPECT_EQ(source.height, 1200u);
    const struct {
        std::optional<CKvwSizeRecord> wanted;
        ImageSize delivered;
    } cases[] = {
        {std::nullopt, {1600, 1200}},
        {CKvwSizeRecord{640, 480}, {800, 600}},
        {CKvwSizeRecord{200, 150}, {200, 150}},
        {CKvwSizeRecord{4000, 3000}, {1600, 1200}},
    };
    for (const auto& c : cases) {
        IKvwImage* image = nullptr;
        ASSERT_EQ(m_host->Items().GetFullImage(7, 0, &image, 0, c.wanted ? &*c.wanted : nullptr), kKvwOk);
        EXPECT_EQ((ImageSize{image->GetWidth(), image->GetHeight()}), c.delivered);
        image->Release();
    }
    const auto picture = CHostPhotos::Decode(CHostPhotos::SolidJpeg(64, 48, {200, 30, 40}), nullptr);
    ASSERT_TRUE(picture);
    EXPECT_NEAR(picture->Sample(10, 10, 0), 200, 2);
    EXPECT_NEAR(picture->Sample(10, 10, 1), 30, 2);
    EXPECT_NEAR(picture->Sample(10, 10, 2), 40, 2);
}

// The centre pixel of an image as red, green, blue.
std::array<ULONG, 3> CentreColour(IKvwImage& image) {
    PravonPixel pixel;
    if (PravonErrorPtr(image.GetDataSource()->GetPixel(image.GetWidth() / 2, image.GetHeight() / 2, &pixel)))
        return {};
    return {pixel.sample[0], pixel.sample[1], pixel.sample[2]};
}

TEST_F(HostPhotos, FullImagesAskedForAgainAreTheJpegAsItIsNowAtTheSizeAskedForNow) {
    const auto near = [](const std::array<ULONG, 3>& got, const std::array<ULONG, 3>& want) {
        for (int c = 0; c < 3; ++c)
            if (got[c] + 3 < want[c] || got[c] > want[c] + 3)
                return false;
        return true;
    };
    const CKvwSizeRecord small{200, 150}, large{640, 480};
    struct Step {
        std::optional<std::array<ULONG, 3>> replaceWith; // the item added again with a new JPEG
        const CKvwSizeRecord* wanted;
        ImageSize delivered;
        std::array<ULONG, 3> colour;
    };
    const Step steps[] = {
        {std::array<ULONG, 3>{200, 30, 40}, &small, {200, 150}, {200, 30, 40}},
        {std::nullopt, &small, {200, 150}, {200, 30, 40}},    // the same again
        {std::nullopt, &large, {800, 600}, {200, 30, 40}},    // another size
        {std::nullopt, nullptr, {1600, 1200}, {200, 30, 40}}, // its own size
        {std::nullopt, &large, {800, 600}, {200, 30, 40}},
        {std::array<ULONG, 3>{20, 90, 210}, &large, {800, 600}, {20, 90, 210}}, // a new picture, same size
        {std::nullopt, &large, {800, 600}, {20, 90, 210}},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        const Step& step = steps[i];
        if (step.replaceWith) {
            const auto& rgb = *step.replaceWith;
            m_host->AddItem(CHostPhotos::JpegItem(
                7, "/photos/a.jpg",
                CHostPhotos::SolidJpeg(
                    1600, 1200,
                    {static_cast<BYTE>(rgb[0]), static_cast<BYTE>(rgb[1]), static_cast<BYTE>(rgb[2])})));
        }
        IKvwImage* image = nullptr;
        ASSERT_EQ(m_host->Items().GetFullImage(7, 0, &image, 0, step.wanted), kKvwOk) << i;
        EXPECT_EQ((ImageSize{image->GetWidth(), image->GetHeight()}), step.delivered) << i;
        EXPECT_TRUE(near(CentreColour(*image), step.colour)) << i;
        // Each image is the module's own: changing one leaves the next delivered whole.
        EXPECT_TRUE(image->Resize(3, 2));
        image->Release();
    }
}

TEST_F(HostPhotos, ACorruptJpegDeliversNothing) {
    std::vector<BYTE> cut = CHostPhotos::SceneJpeg(320, 240);
    cut.resize(cut.size() / 3);
    m_host->AddItem(CHostPhotos::JpegItem(8, "/photos/cut.jpg", cut));
    std::vector<BYTE> garbage(500, 0x5A);
    m_host->AddItem(CHostPhotos::JpegItem(9, "/photos/garbage.jpg", garbage));
    for (DWORD id : {8u, 9u}) {
        IKvwImage* image = reinterpret_cast<IKvwImage*>(1);
        EXPECT_EQ(m_host->Items().GetFullImage(id, 0, &image, 0, nullptr), kKvwNothingToWorkOn) << id;
        EXPECT_EQ(image, nullptr);
    }
    CKvwSourceData source;
    ASSERT_EQ(m_host->Items().GetSourceData(9, 0, &source, 0), kKvwOk);
    EXPECT_EQ(source.width, 0u) << "bytes without a header have no size";
    EXPECT_EQ(CHostImage::Live(), 0);
}

TEST_F(HostPhotos, PhotoFilesBecomeItemsUnderTheirPathsAndFilesThatAreNoPicturesAreRefused) {
    // A 3 x 2 PNG of one colour, and a JPEG of another.
    IproPixels pixels;
    ASSERT_TRUE(IproLimits::MakePixels(3, 2, pixels));
    std::fill(pixels.argb.begin(), pixels.argb.end(), 0xFF0A141Eu);
    std::vector<BYTE> png;
    ASSERT_TRUE(IproPngCodec::Encode(pixels, png));
    std::vector<BYTE> cutPng = png;
    cutPng.resize(cutPng.size() - 20);
    const struct {
        const char* name;
        std::vector<BYTE> bytes;
        std::string error; // empty: an item
        LONG width, height;
    } files[] = {
        {"beach.png", png, "", 3, 2},
        {"old town.jpg", CHostPhotos::SolidJpeg(64, 48, {200, 30, 40}), "", 64, 48},
        {"empty.jpg", {}, "is empty", 0, 0},
        {"notes.png", {'h', 'e', 'l', 'l', 'o'}, "is neither a JPEG nor a PNG picture", 0, 0},
        {"cut.png", cutPng, "is a damaged PNG picture", 0, 0},
    };
    KvwItemId id = 30;
    for (const auto& f : files) {
        const std::string path = m_temp.Write(f.name, f.bytes);
        CHostItemRecord item;
        std::string error;
        EXPECT_EQ(CHostPhotos::FileItem(++id, path, item, error), f.error.empty()) << f.name;
        EXPECT_EQ(error, f.error) << f.name;
        if (!f.error.empty())
            continue;
        EXPECT_EQ(item.data.path, path) << f.name;
        m_host->AddItem(item);
        IKvwImage* image = nullptr;
        ASSERT_EQ(m_host->Items().GetFullImage(KvwItemIdLow(id), 0, &image, 0, nullptr), kKvwOk) << f.name;
        EXPECT_EQ(std::make_pair(image->GetWidth(), image->GetHeight()), std::make_pair(f.width, f.height));
        image->Release();
    }
    CHostItemRecord item;
    std::string error;
    EXPECT_FALSE(CHostPhotos::FileItem(40, m_temp.Path(), item, error)) << "a folder";
    EXPECT_EQ(error, "cannot be read");
    EXPECT_FALSE(CHostPhotos::FileItem(41, m_temp.Path() + "/not there.jpg", item, error));
    EXPECT_EQ(error, "cannot be read");
}

TEST_F(HostPhotos, AwkwardPathsAreDistinctButShareABaseName) {
    const auto paths = CHostPhotos::AwkwardPaths();
    EXPECT_EQ(std::set<std::string>(paths.begin(), paths.end()).size(), paths.size());
    std::multiset<std::string> bases;
    for (const std::string& path : paths)
        bases.insert(path.substr(path.find_last_of('/') + 1));
    EXPECT_EQ(bases.count("IMG_0001.jpg"), 2u);
}

} // namespace
