// Pictures of host items through an item codec: the calls the library makes, the pixels it keeps, and
// every way a codec can let it down.
#include "IproTestSupport.h"

#include "testing/ScriptedCodec.h"

#include <string>
#include <vector>

using namespace iprotest;
using kvtest::ScriptedCodec;

namespace {

class NuidLoad : public Started {
protected:
    void SetUp() override {
        Started::SetUp();
        Codec().Reset();
    }
    void TearDown() override {
        EXPECT_EQ(Codec().Live(), 0) << "every codec made was destroyed";
        Codec().Reset();
        Started::TearDown();
    }
    static ScriptedCodec& Codec() { return ScriptedCodec::Instance(); }
};

TEST_F(NuidLoad, PixelsComeAsTheCodecReadsThemInTheLibrarysOwnLayout) {
    // Three pixels in a row, blue-green-red-alpha as Read gives them, the last one with no alpha.
    ScriptedCodec::Picture picture{3, 1, {10, 20, 30, 0xFF, 200, 100, 50, 0xFF, 0, 0, 0, 0}};
    Codec().SetPicture(L"42", picture);
    int cancel = 0;
    IproHandle image = kIproNoHandle;
    ASSERT_EQ(iproCreateImageFromNUID(L"42", ScriptedCodec::Table(), &cancel, &image), 1);
    const IproPixels pixels = PixelsOf(image);
    ASSERT_EQ(pixels.width, 3);
    ASSERT_EQ(pixels.height, 1);
    EXPECT_EQ(pixels.argb[0], Argb(255, 30, 20, 10));
    EXPECT_EQ(pixels.argb[1], Argb(255, 50, 100, 200));
    EXPECT_EQ(pixels.argb[2], 0u) << "a pixel the codec left unwritten is transparent";
    EXPECT_EQ(Codec().LastCancel(), &cancel) << "the codec waits on the caller's cancel object";
    const std::vector<std::string> expected = {"Create",    "Open 42", "GetInfo", "SetOption 3x1",
                                               "Read 12 4", "GetInfo", "Destroy"};
    EXPECT_EQ(Codec().Calls(), expected);
    iproReleaseHandle(image);
}

TEST_F(NuidLoad, AMaximumFitsThePictureInsideItWithItsProportionsAndParametersGoFirst) {
    Codec().SetPicture(L"7", ScriptedCodec::Solid(400, 100, 1, 2, 3));
    LONG preview = 1;
    IproCodecParam entry{IPRO_PARAM_USE_PREVIEW, reinterpret_cast<std::uintptr_t>(&preview)};
    IproCodecParam* entries[] = {&entry};
    const IproCodecParamList params{sizeof(IproCodecParamList), 1, entries};
    IproHandle image = kIproNoHandle;
    ASSERT_EQ(iproCreateImageFromNUID2(L"7", ScriptedCodec::Table(), nullptr, &params, 100, 100, &image), 1);
    LONG width = 0, height = 0;
    ASSERT_EQ(iproGetImageSize(image, &width, &height), 1);
    EXPECT_EQ(width, 100);
    EXPECT_EQ(height, 25);
    const std::vector<std::string> calls = Codec().Calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[1], "SetParameters preview=1");
    EXPECT_EQ(calls[4], "SetOption 100x25");
    iproReleaseHandle(image);

    // A picture inside the maximum keeps its size: it is never enlarged.
    Codec().SetPicture(L"8", ScriptedCodec::Solid(30, 20, 1, 2, 3));
    ASSERT_EQ(iproCreateImageFromNUID2(L"8", ScriptedCodec::Table(), nullptr, nullptr, 100, 100, &image), 1);
    ASSERT_EQ(iproGetImageSize(image, &width, &height), 1);
    EXPECT_EQ(width, 30);
    EXPECT_EQ(height, 20);
    iproReleaseHandle(image);
}

// A picture whose codec states a size beyond what can be held (an A4 design page's proportion words) is
// read at the size it takes inside the maximum; without a maximum it is refused.
TEST_F(NuidLoad, APictureStatedLargerThanCanBeHeldIsReadFittedIntoTheMaximum) {
    ScriptedCodec::Picture page = ScriptedCodec::Solid(4, 6, 1, 2, 3);
    page.statedWidth = 46337;
    page.statedHeight = 65535;
    Codec().SetPicture(L"5", page);
    IproHandle image = kIproNoHandle;
    ASSERT_EQ(iproCreateImageFromNUID2(L"5", ScriptedCodec::Table(), nullptr, nullptr, 100, 100, &image), 1);
    LONG width = 0, height = 0;
    ASSERT_EQ(iproGetImageSize(image, &width, &height), 1);
    // 100 high, and 100 x 46337 / 65535 = 70.7 wide.
    EXPECT_EQ(width, 71);
    EXPECT_EQ(height, 100);
    EXPECT_EQ(PixelsOf(image).argb[0], Argb(255, 1, 2, 3));
    iproReleaseHandle(image);
    EXPECT_EQ(iproCreateImageFromNUID2(L"5", ScriptedCodec::Table(), nullptr, nullptr, 0, 0, &image), 0);
    EXPECT_EQ(image, kIproNoHandle);
}

TEST_F(NuidLoad, ACodecThatFailsOrDeliversTheWrongPixelsGivesNoImageAndIsDestroyed) {
    struct Case {
        const char* what;
        const char* failing;
        long readDelta;
        LONG reportedWidth;
    };
    const Case cases[] = {
        {"Open fails", "Open", 0, 0},
        {"GetInfo fails", "GetInfo", 0, 0},
        {"SetOption fails", "SetOption", 0, 0},
        {"Read fails (a cancel, say)", "Read", 0, 0},
        {"one byte too few", nullptr, -1, 0},
        {"one pixel too many", nullptr, 4, 0},
        {"another size reported after the read", nullptr, 0, 5},
    };
    for (const Case& c : cases) {
        Codec().Reset();
        Codec().SetPicture(L"9", ScriptedCodec::Solid(4, 3, 9, 9, 9));
        if (c.failing)
            Codec().FailAt(c.failing);
        Codec().ChangeReadBytes(c.readDelta);
        if (c.reportedWidth)
            Codec().ReportAfterRead(c.reportedWidth, 3);
        IproHandle image = 123;
        EXPECT_EQ(iproCreateImageFromNUID(L"9", ScriptedCodec::Table(), nullptr, &image), 0) << c.what;
        EXPECT_EQ(image, kIproNoHandle) << c.what;
        EXPECT_EQ(Codec().Live(), 0) << c.what;
        EXPECT_EQ(Codec().Calls().back(), "Destroy") << c.what;
    }
    EXPECT_EQ(ZizorazTest::LiveHandles(), 0u);
}

TEST_F(NuidLoad, ATableThatIsNotWholeOrACodecNotMadeIsNeverDriven) {
    Codec().SetPicture(L"9", ScriptedCodec::Solid(2, 2, 9, 9, 9));
    IproCodecTable shorter = *ScriptedCodec::Table();
    shorter.size -= sizeof(void*);
    IproCodecTable missing = *ScriptedCodec::Table();
    missing.Write = nullptr;
    IproHandle image = kIproNoHandle;
    EXPECT_EQ(iproCreateImageFromNUID(L"9", &shorter, nullptr, &image), 0);
    EXPECT_EQ(iproCreateImageFromNUID(L"9", &missing, nullptr, &image), 0);
    EXPECT_EQ(iproCreateImageFromNUID(L"9", nullptr, nullptr, &image), 0);
    EXPECT_EQ(iproCreateImageFromNUID(nullptr, ScriptedCodec::Table(), nullptr, &image), 0);
    EXPECT_TRUE(Codec().Calls().empty());
    Codec().FailAt("Create");
    EXPECT_EQ(iproCreateImageFromNUID(L"9", ScriptedCodec::Table(), nullptr, &image), 0);
    const std::vector<std::string> expected = {"Create"};
    EXPECT_EQ(Codec().Calls(), expected) << "a codec that was not made is not destroyed";
}

} // namespace
