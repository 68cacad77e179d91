#include "platform/pravon/CPravonMemoryImage.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TestPlane.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using kvtest::FillPattern;
using kvtest::TestPlane;

class PravonImageTest : public ::testing::Test {
protected:
    PravonImagePtr MakeEmpty(LONG width, LONG height, LONG colorSpace = PravonColorSpace::kRGB8) {
        IPravonImage* image = nullptr;
        EXPECT_PV_OK(manager.CreateImage(1, &image));
        PravonImagePtr owned(image);
        EXPECT_PV_OK(image->SetColorSpace(colorSpace));
        EXPECT_PV_OK(image->SetSize(width, height));
        return owned;
    }
    CPravonMemoryManager manager{8};
};

TEST_F(PravonImageTest, TileRectanglesAreCutToTheImage) {
    auto image = MakeEmpty(37, 23);
    IPravonTile* tile = nullptr;
    ASSERT_PV_OK(image->GetTile(4, 2, &tile));
    EXPECT_EQ(tile->GetRect(), CPravonRect(32, 16, 37, 23));
    ASSERT_PV_OK(image->GetTile(1, 1, &tile));
    EXPECT_EQ(tile->GetRect(), CPravonRect(8, 8, 16, 16));
    EXPECT_PV_KIND(image->GetTile(5, 0, &tile), PravonKind::kBadArgument);
    EXPECT_PV_KIND(image->GetTile(0, -1, &tile), PravonKind::kBadArgument);
    bool exists = true;
    EXPECT_PV_KIND(image->TileExists(0, 3, &exists), PravonKind::kBadArgument);
}

TEST_F(PravonImageTest, EveryTileHasTheSameWordAlignedRowBytes) {
    auto image = MakeEmpty(37, 23, PravonColorSpace::kRGB8); // 8 x 3 bytes = 24
    LONG rowBytes = 0;
    ASSERT_PV_OK(image->GetRowBytes(&rowBytes));
    EXPECT_EQ(rowBytes, 24);
    IPravonTile* edge = nullptr;
    IPravonTile* inner = nullptr;
    ASSERT_PV_OK(image->GetTile(4, 2, &edge));
    ASSERT_PV_OK(image->GetTile(0, 0, &inner));
    EXPECT_EQ(edge->GetRowBytes(), rowBytes);
    EXPECT_EQ(inner->GetRowBytes(), rowBytes);
    EXPECT_EQ(IPravonDataSource::RowBytesFor(7, PravonColorSpace::kRGB8), 24); // 21 bytes, rounded to 24
    EXPECT_EQ(IPravonDataSource::RowBytesFor(7, 0x01020001), 4);               // 7 bits
    EXPECT_EQ(IPravonDataSource::RowBytesFor(256, PravonColorSpace::kRGB16), 1536);
}

TEST_F(PravonImageTest, NewTilesAreWhollyInvalidAndZeroFilled) {
    auto image = MakeEmpty(20, 20);
    IPravonTile* tile = nullptr;
    ASSERT_PV_OK(image->GetTile(2, 2, &tile));
    EXPECT_TRUE(tile->IsWhollyInvalid());
    PravonRect invalid;
    EXPECT_TRUE(tile->IsInvalid(&invalid));
    EXPECT_EQ(invalid, tile->GetRect());
    void* data = nullptr;
    ASSERT_PV_OK(image->LockTile(2, 2, &data, nullptr));
    const auto* bytes = static_cast<const BYTE*>(data);
    for (LONG i = 0; i < tile->GetRowBytes() * 8; ++i)
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
    EXPECT_TRUE(tile->IsWhollyInvalid()) << "locking changes no validity";
    EXPECT_PV_OK(image->UnlockTile(2, 2));
}

TEST_F(PravonImageTest, InvalidAreasGrowAsABoundingBoxUntilValidated) {
    auto image = MakeEmpty(32, 32);
    IPravonTile* tile = nullptr;
    ASSERT_PV_OK(image->GetTile(1, 1, &tile)); // 8..16
    tile->SetValid();
    EXPECT_FALSE(tile->IsInvalid(nullptr));
    tile->Invalidate(CPravonRect(9, 9, 10, 10));
    tile->Invalidate(CPravonRect(12, 13, 14, 30)); // reaches beyond the tile
    PravonRect box;
    ASSERT_TRUE(tile->IsInvalid(&box));
    EXPECT_EQ(box, CPravonRect(9, 9, 14, 16));
    EXPECT_FALSE(tile->IsWhollyInvalid());
    tile->Invalidate(CPravonRect(100, 100, 110, 110)); // elsewhere: nothing added
    ASSERT_TRUE(tile->IsInvalid(&box));
    EXPECT_EQ(box, CPravonRect(9, 9, 14, 16));
    tile->Validate();
    EXPECT_FALSE(tile->IsInvalid(nullptr));
    tile->Invalidate();
    EXPECT_TRUE(tile->IsWhollyInvalid());
}

TEST_F(PravonImageTest, LocksAreCountedAndAnUnlockedTileRefusesUnlock) {
    auto image = MakeEmpty(16, 16);
    void* a = nullptr;
    void* b = nullptr;
    ASSERT_PV_OK(image->LockTile(0, 0, &a, nullptr));
    ASSERT_PV_OK(image->LockTile(0, 0, &b, nullptr));
    EXPECT_EQ(a, b);
    auto* memory = static_cast<CPravonMemoryImage*>(image.get());
    EXPECT_EQ(memory->GetLockCount(), 2);
    EXPECT_EQ(manager.GetLockCount(), 2);
    EXPECT_PV_OK(image->UnlockTile(0, 0));
    EXPECT_PV_OK(image->UnlockTile(0, 0));
    EXPECT_PV_KIND(image->UnlockTile(0, 0), PravonKind::kBadArgument);
    EXPECT_PV_KIND(image->UnlockTile(1, 1), PravonKind::kBadArgument);
    EXPECT_PV_KIND(image->UnlockTile(9, 9), PravonKind::kBadArgument);
    EXPECT_EQ(manager.GetLockCount(), 0);
}

TEST_F(PravonImageTest, TheBitmapHeaderBelongsToTheTile) {
    auto image = MakeEmpty(16, 16);
    BITMAPINFOHEADER* header = nullptr;
    void* data = nullptr;
    ASSERT_PV_OK(image->LockTile(1, 0, &data, &header));
    ASSERT_NE(header, nullptr);
    header->biSize = 40;
    header->biWidth = 8;
    ASSERT_PV_OK(image->UnlockTile(1, 0));
    BITMAPINFOHEADER* again = nullptr;
    ASSERT_PV_OK(image->LockTile(1, 0, &data, &again));
    EXPECT_EQ(again, header);
    EXPECT_EQ(again->biWidth, 8);
    ASSERT_PV_OK(image->UnlockTile(1, 0));
}

TEST_F(PravonImageTest, ALockedTileSurvivesASizeChangeUntilItsLastUnlock) {
    auto image = MakeEmpty(16, 16);
    IPravonTile* tile = nullptr;
    ASSERT_PV_OK(image->GetTile(1, 1, &tile));
    const IPravonTileID oldId = tile->GetID();
    void* data = nullptr;
    ASSERT_PV_OK(image->LockTile(1, 1, &data, nullptr));
    ASSERT_PV_OK(image->LockTile(1, 1, &data, nullptr));
    ASSERT_PV_OK(image->SetSize(40, 40));
    ASSERT_PV_OK(image->SetColorSpace(PravonColorSpace::kRGB16));
    auto* memory = static_cast<CPravonMemoryImage*>(image.get());
    EXPECT_EQ(memory->GetRetiredCount(), 1u);
    EXPECT_EQ(memory->GetTileCount(), 0u);
    std::memset(data, 0xAB, 8 * 24); // still ours to write
    bool exists = false;
    ASSERT_PV_OK(image->TileExists(oldId, &exists));
    EXPECT_TRUE(exists);
    EXPECT_PV_KIND(image->LockTile(oldId, &data, nullptr), PravonKind::kInvalidState);
    EXPECT_PV_OK(image->UnlockTile(oldId));
    EXPECT_PV_OK(image->UnlockTile(1, 1)) << "the owed unlock reaches the retired tile";
    EXPECT_EQ(memory->GetRetiredCount(), 0u);
    EXPECT_PV_KIND(image->UnlockTile(oldId), PravonKind::kBadArgument);
}

TEST_F(PravonImageTest, EqualValuesChangeNothingAndKeepTheTiles) {
    auto image = MakeEmpty(16, 16);
    IPravonTile* before = nullptr;
    ASSERT_PV_OK(image->GetTile(0, 0, &before));
    ASSERT_PV_OK(image->SetSize(16, 16));
    ASSERT_PV_OK(image->SetColorSpace(PravonColorSpace::kRGB8));
    IPravonTile* after = nullptr;
    ASSERT_PV_OK(image->GetTile(0, 0, &after));
    EXPECT_EQ(before, after);
    EXPECT_EQ(before->GetID(), after->GetID());
}

TEST_F(PravonImageTest, SizesAndColourSpacesThatCannotBeStoredAreRefused) {
    auto image = MakeEmpty(10, 10);
    EXPECT_PV_KIND(image->SetSize(-1, 5), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(image->SetSize(0x7FFFFFFF, 0x7FFFFFFF), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(image->SetColorSpace(0), PravonKind::kUnsupportedColorSpace);
    EXPECT_PV_KIND(image->SetColorSpace(0x03060201), PravonKind::kUnsupportedColorSpace); // 3-bit samples
    EXPECT_PV_KIND(image->SetColorSpace(0x01060201), PravonKind::kUnsupportedColorSpace); // 1-bit RGB
    EXPECT_PV_KIND(image->SetResolution(-1), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(image->SetTransform(false, std::numeric_limits<double>::infinity(), false),
                   PravonKind::kOutOfRange);
    PravonPalette palette;
    palette.count = 257;
    EXPECT_PV_KIND(image->SetPalette(palette), PravonKind::kOutOfRange);
    LONG w = 0, h = 0, cs = 0;
    ASSERT_PV_OK(image->GetSize(&w, &h));
    ASSERT_PV_OK(image->GetColorSpace(&cs));
    EXPECT_EQ(w, 10);
    EXPECT_EQ(h, 10);
    EXPECT_EQ(cs, PravonColorSpace::kRGB8);
    EXPECT_TRUE(CPravonMemoryImage::IsStorableColorSpace(0x01020001));
    EXPECT_TRUE(CPravonMemoryImage::IsStorableColorSpace(PravonColorSpace::kRawMosaic16));
    EXPECT_TRUE(CPravonMemoryImage::IsStorableColorSpace(PravonColorSpace::kCMYK8));
}

TEST_F(PravonImageTest, AnImageWithoutColourSpaceCannotLockTiles) {
    IPravonImage* raw = nullptr;
    ASSERT_PV_OK(manager.CreateImage(1, &raw));
    PravonImagePtr image(raw);
    ASSERT_PV_OK(image->SetSize(4, 4));
    void* data = nullptr;
    EXPECT_PV_KIND(image->LockTile(0, 0, &data, nullptr), PravonKind::kUnsupportedColorSpace);
    EXPECT_EQ(manager.GetLockCount(), 0);
}

TEST_F(PravonImageTest, TransformsAreStoredOrComposed) {
    auto image = MakeEmpty(4, 4);
    bool flip = true;
    double angle = 1;
    ASSERT_PV_OK(image->SetTransform(false, -90, false));
    ASSERT_PV_OK(image->GetTransform(&flip, &angle));
    EXPECT_FALSE(flip);
    EXPECT_DOUBLE_EQ(angle, 270);
    ASSERT_PV_OK(image->SetTransform(false, 180, true));
    ASSERT_PV_OK(image->GetTransform(&flip, &angle));
    EXPECT_DOUBLE_EQ(angle, 90);
    ASSERT_PV_OK(image->SetTransform(true, 30, true)); // a mirror turns the stored rotation around
    ASSERT_PV_OK(image->GetTransform(&flip, &angle));
    EXPECT_TRUE(flip);
    EXPECT_DOUBLE_EQ(angle, 300);
}

// One tile locked, written with its own value and validated, then unlocked: the way a generator makes it.
void MakeTile(IPravonImage& image, LONG column, LONG row) {
    IPravonTile* tile = nullptr;
    void* data = nullptr;
    ASSERT_PV_OK(image.GetTile(column, row, &tile));
    ASSERT_PV_OK(tile->Lock(&data, nullptr));
    static_cast<BYTE*>(data)[0] = static_cast<BYTE>(1 + column + 10 * row);
    tile->Validate();
    ASSERT_PV_OK(tile->Unlock());
}

bool IsValid(IPravonImage& image, LONG column, LONG row) {
    IPravonTile* tile = nullptr;
    EXPECT_PV_OK(image.GetTile(column, row, &tile));
    return tile && !tile->IsInvalid(nullptr);
}

TEST_F(PravonImageTest, KeptTileLinesLetTheLeastRecentlyLockedTilesGo) {
    // 4 x 3 tiles of 8 pixels; one line keeps as many tiles as the longer side has: 4.
    auto image = MakeEmpty(32, 24);
    auto* memory = static_cast<CPravonMemoryImage*>(image.get());
    EXPECT_PV_KIND(image->SetKeptTileLines(-1), PravonKind::kOutOfRange);
    ASSERT_PV_OK(image->SetKeptTileLines(1));
    for (LONG column = 0; column < 4; ++column)
        MakeTile(*image, column, 0);
    EXPECT_EQ(memory->GetHeldTileCount(), 4u);
    // Locking tile 0 again makes tile 1 the least recently locked, which goes for the fifth.
    IPravonTile* first = nullptr;
    void* data = nullptr;
    ASSERT_PV_OK(image->GetTile(0, 0, &first));
    ASSERT_PV_OK(first->Lock(&data, nullptr));
    ASSERT_PV_OK(first->Unlock());
    MakeTile(*image, 0, 1);
    EXPECT_EQ(memory->GetHeldTileCount(), 4u);
    EXPECT_TRUE(IsValid(*image, 0, 0));
    EXPECT_FALSE(IsValid(*image, 1, 0)) << "a tile that gave its memory back is to be made again";
    IPravonTile* gone = nullptr;
    ASSERT_PV_OK(image->GetTile(1, 0, &gone));
    EXPECT_TRUE(gone->IsWhollyInvalid());
    EXPECT_TRUE(IsValid(*image, 2, 0));

    // A locked tile keeps its memory and its pixels however many come after it.
    ASSERT_PV_OK(first->Lock(&data, nullptr));
    for (LONG column = 0; column < 4; ++column)
        MakeTile(*image, column, 2);
    EXPECT_TRUE(IsValid(*image, 0, 0));
    EXPECT_EQ(static_cast<BYTE*>(data)[0], 1);
    EXPECT_EQ(memory->GetHeldTileCount(), 4u);
    ASSERT_PV_OK(first->Unlock());

    // Made again after it went, a tile starts zero-filled like any fresh one.
    IPravonTile* again = nullptr;
    ASSERT_PV_OK(image->GetTile(1, 0, &again));
    ASSERT_PV_OK(again->Lock(&data, nullptr));
    EXPECT_EQ(static_cast<BYTE*>(data)[0], 0);
    ASSERT_PV_OK(again->Unlock());

    // 0 keeps every tile again; a new layout starts with none held.
    ASSERT_PV_OK(image->SetKeptTileLines(0));
    for (LONG row = 0; row < 3; ++row)
        for (LONG column = 0; column < 4; ++column)
            MakeTile(*image, column, row);
    EXPECT_EQ(memory->GetHeldTileCount(), 12u);
    ASSERT_PV_OK(image->SetKeptTileLines(2));
    ASSERT_PV_OK(image->SetSize(16, 40)); // 2 x 5 tiles: two lines keep 10, every one
    EXPECT_EQ(memory->GetHeldTileCount(), 0u);
    for (LONG row = 0; row < 5; ++row)
        for (LONG column = 0; column < 2; ++column)
            MakeTile(*image, column, row);
    EXPECT_EQ(memory->GetHeldTileCount(), 10u);
}

TEST_F(PravonImageTest, UsageIsAHintOnly) {
    IPravonImage* raw = nullptr;
    ASSERT_PV_OK(manager.CreateImage(0, &raw));
    PravonImagePtr image(raw);
    LONG usage = -1;
    ASSERT_PV_OK(image->GetUsage(&usage));
    EXPECT_EQ(usage, 0);
    TestPlane plane = kvtest::MakePlane(20, 12, PravonColorSpace::kGrey8, FillPattern::Random);
    ASSERT_PV_OK(kvtest::WritePlane(image.get(), plane));
    ASSERT_PV_OK(image->SetUsage(5));
    TestPlane back;
    ASSERT_PV_OK(kvtest::PullAll(image.get(), &back));
    EXPECT_EQ(back.data, plane.data) << "usage 0 keeps every tile";
}

TEST_F(PravonImageTest, ManagerTileSizeAppliesToLaterImages) {
    CPravonMemoryManager m;
    EXPECT_EQ(m.GetTileSize(), 256);
    EXPECT_PV_KIND(m.SetTileSize(0), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(m.SetTileSize(CPravonMemoryImage::kMaxTileSize + 1), PravonKind::kOutOfRange);
    ASSERT_PV_OK(m.SetTileSize(7));
    IPravonImage* raw = nullptr;
    ASSERT_PV_OK(m.CreateImage(1, &raw));
    PravonImagePtr image(raw);
    LONG ts = 0;
    ASSERT_PV_OK(image->GetTileSize(&ts));
    EXPECT_EQ(ts, 7);
    EXPECT_EQ(m.GetImageCount(), 1u);
    image.reset();
    EXPECT_EQ(m.GetImageCount(), 0u);
}

TEST_F(PravonImageTest, GridsCoverTheTilesUnderARectangle) {
    auto image = MakeEmpty(37, 23);
    IPravonTileGrid* raw = nullptr;
    ASSERT_PV_OK(image->MapRect(CPravonRect(0, 0, 37, 23), &raw));
    EXPECT_EQ(raw->GetColumnCount(), 5);
    EXPECT_EQ(raw->GetRowCount(), 3);
    raw->Release();

    ASSERT_PV_OK(image->MapRect(CPravonRect(5, 7, 20, 40), &raw)); // reaches below the image
    EXPECT_EQ(raw->GetFirstColumn(), 0);
    EXPECT_EQ(raw->GetFirstRow(), 0);
    EXPECT_EQ(raw->GetColumnCount(), 3);
    EXPECT_EQ(raw->GetRowCount(), 3);
    PravonRect whole;
    PravonRect part;
    ASSERT_PV_OK(raw->GetTileRect(2, 2, &whole));
    ASSERT_PV_OK(raw->GetClippedRect(2, 2, &part));
    EXPECT_EQ(whole, CPravonRect(16, 16, 24, 23));
    EXPECT_EQ(part, CPravonRect(16, 16, 20, 23));
    ASSERT_PV_OK(raw->GetClippedRect(0, 0, &part));
    EXPECT_EQ(part, CPravonRect(5, 7, 8, 8));
    EXPECT_PV_KIND(raw->GetTileRect(3, 0, &whole), PravonKind::kBadArgument);
    bool exists = true;
    ASSERT_PV_OK(raw->TileExists(1, 1, &exists));
    EXPECT_FALSE(exists);
    IPravonTile* tile = nullptr;
    ASSERT_PV_OK(raw->GetTile(1, 1, &tile));
    ASSERT_PV_OK(raw->TileExists(1, 1, &exists));
    EXPECT_TRUE(exists);

    void* data = nullptr;
    PravonRect tileRect;
    PravonRect clip;
    LONG rowBytes = 0;
    ASSERT_PV_OK(image->LockTile(raw, 2, 0, &data, &tileRect, &clip, &rowBytes));
    EXPECT_EQ(tileRect, CPravonRect(16, 0, 24, 8));
    EXPECT_EQ(clip, CPravonRect(16, 7, 20, 8));
    EXPECT_EQ(rowBytes, 24);
    EXPECT_PV_OK(image->UnlockTile(raw, 2, 0));
    EXPECT_PV_KIND(image->LockTile(raw, 3, 0, &data, nullptr, nullptr, nullptr), PravonKind::kBadArgument);
    raw->Release();

    ASSERT_PV_OK(image->MapRect(CPravonRect(10, 10, 10, 20), &raw));
    EXPECT_EQ(raw->GetColumnCount(), 0) << "an empty rectangle has no cells";
    EXPECT_EQ(raw->GetRowCount(), 0);
    raw->Release();
    ASSERT_PV_OK(image->MapRect(CPravonRect(50, 50, 60, 60), &raw));
    EXPECT_EQ(raw->GetColumnCount(), 0);
    raw->Release();
}

TEST_F(PravonImageTest, AGridOfAnotherSourceIsRefused) {
    auto a = MakeEmpty(16, 16);
    auto b = MakeEmpty(16, 16);
    IPravonTileGrid* grid = nullptr;
    ASSERT_PV_OK(a->MapRect(CPravonRect(0, 0, 16, 16), &grid));
    void* data = nullptr;
    EXPECT_PV_KIND(b->LockTile(grid, 0, 0, &data, nullptr, nullptr, nullptr), PravonKind::kBadArgument);
    EXPECT_PV_KIND(b->UnlockTile(grid, 0, 0), PravonKind::kBadArgument);
    EXPECT_PV_KIND(b->LockTile(nullptr, 0, 0, &data, nullptr, nullptr, nullptr), PravonKind::kBadArgument);
    IPravonTile* tile = nullptr;
    ASSERT_PV_OK(a->GetTile(0, 0, &tile));
    EXPECT_PV_KIND(b->LockTile(tile->GetID(), &data, nullptr), PravonKind::kBadArgument);
    grid->Release();
}

TEST_F(PravonImageTest, GetDataAndGetPixelReadAcrossTiles) {
    for (LONG cs : {PravonColorSpace::kRGB16, PravonColorSpace::kGrey8, LONG{0x01020001}, LONG{0x04020001}}) {
        SCOPED_TRACE(cs);
        TestPlane plane = kvtest::MakePlane(29, 19, cs, FillPattern::Coordinates);
        auto image = kvtest::MakeImage(manager, plane);
        ASSERT_TRUE(image);
        const CPravonRect rect(3, 5, 27, 18);
        std::size_t bytes = 0;
        ASSERT_PV_OK(image->GetDataSize(rect, &bytes));
        const TestPlane expected = plane.Crop(rect);
        EXPECT_EQ(bytes, expected.data.size());
        std::vector<std::uint8_t> buffer(bytes, 0);
        ASSERT_PV_OK(image->GetData(rect, buffer.data(), expected.rowBytes));
        EXPECT_EQ(buffer, expected.data);
        PravonPixel pixel;
        ASSERT_PV_OK(image->GetPixel(17, 9, &pixel));
        EXPECT_EQ(pixel.channels, PravonColorSpace::Channels(cs));
        EXPECT_EQ(pixel.sample[0], plane.Sample(17, 9, 0));
        EXPECT_PV_KIND(image->GetPixel(29, 0, &pixel), PravonKind::kOutOfRange);
        EXPECT_EQ(manager.GetLockCount(), 0);
    }
}

} // namespace
