#include "IproTestSupport.h"

#include "platform/zizoraz/IproResample.h"

#include "testing/Deadline.h"

#include <atomic>
#include <thread>
#include <vector>

using namespace iprotest;

namespace {

using ImageHandles = Started;

TEST(ImageLibrary, AnswersNothingUntilStartedAndAfterTheLastShutdown) {
    IproHandle image = 7;
    EXPECT_EQ(iproCreateImage(4, 4, &image), 0);
    EXPECT_EQ(image, kIproNoHandle);
    EXPECT_EQ(iproInit(), 0);
    EXPECT_EQ(iproShutdown(), 0) << "a shutdown without a start";

    ASSERT_EQ(iproStartup(), 1);
    ASSERT_EQ(iproStartup(), 1);
    ASSERT_EQ(iproCreateImage(4, 4, &image), 1);
    EXPECT_EQ(iproShutdown(), 1);
    LONG width = 0, height = 0;
    EXPECT_EQ(iproGetImageSize(image, &width, &height), 1) << "one start is still open";
    EXPECT_EQ(iproInit(), 1);
    EXPECT_EQ(iproShutdown(), 1);
    EXPECT_EQ(iproGetImageSize(image, &width, &height), 0);
    EXPECT_EQ(ZizorazTest::LiveHandles(), 0u);
}

TEST_F(ImageHandles, ReleasedHandleIsRefusedByEveryCallAndNeverNamesALaterObject) {
    IproHandle image = NewImage(3, 2);
    IproHandle canvas = CanvasOf(image);
    ASSERT_EQ(iproReleaseHandle(image), 1);
    EXPECT_EQ(iproReleaseHandle(image), 0);

    IproHandle later = NewImage(5, 5);
    EXPECT_NE(later, image);
    LONG width = 0, height = 0;
    EXPECT_EQ(iproGetImageSize(image, &width, &height), 0);
    EXPECT_EQ(iproResizeImage(image, 4, 4), 0);
    EXPECT_EQ(iproRotateFlipImage(image, 1), 0);
    EXPECT_EQ(iproDrawImage(canvas, image, 0, 0, 1, 1, 255), 0);
    EXPECT_EQ(iproGetImageSize(kIproNoHandle, &width, &height), 0);
    EXPECT_EQ(iproGetImageSize(canvas, &width, &height), 0) << "a canvas is not an image";
    EXPECT_EQ(iproFillRectangle(image, 0, 0, 1, 1, 0xFFFFFFFF, 0), 0) << "nor an image a canvas";
}

TEST_F(ImageHandles, CanvasKeepsItsImageAliveAfterTheImageHandleIsReleased) {
    IproHandle image = NewImage(4, 4);
    IproHandle canvas = CanvasOf(image);
    std::weak_ptr<CIproImage> kept = IproHandles::FindImage(image);
    ASSERT_EQ(iproReleaseHandle(image), 1);
    EXPECT_FALSE(kept.expired());
    EXPECT_EQ(iproFillRectangle(canvas, 0, 0, 4, 4, Packed(255, 1, 2, 3), IPRO_FILL_COPY), 1);
    ASSERT_EQ(iproReleaseHandle(canvas), 1);
    EXPECT_TRUE(kept.expired()) << "the image goes with the last holder";
}

TEST_F(ImageHandles, SizesOutsideTheLimitsGiveNoImage) {
    ZizorazTest::SetMaxPixels(100);
    const struct {
        LONG width, height;
        bool made;
    } cases[] = {
        {1, 1, true},  {10, 10, true}, {100, 1, true}, {11, 10, false}, {0, 5, false},
        {5, 0, false}, {-1, 5, false}, {5, -3, false}, {101, 1, false},
    };
    for (const auto& c : cases) {
        IproHandle image = 0;
        EXPECT_EQ(iproCreateImage(c.width, c.height, &image), c.made ? 1 : 0) << c.width << "x" << c.height;
        EXPECT_EQ(image != kIproNoHandle, c.made);
    }
    ZizorazTest::ResetMaxPixels();
    IproHandle image = 0;
    EXPECT_EQ(iproCreateImage(IproLimits::kMaxSide + 1, 1, &image), 0) << "wider than cairo draws";
    EXPECT_EQ(iproCreateImage(4, 4, nullptr), 0);
}

TEST_F(ImageHandles, NewImageIsTransparentBlack) {
    IproHandle image = NewImage(3, 2);
    LONG width = 0, height = 0;
    ASSERT_EQ(iproGetImageSize(image, &width, &height), 1);
    EXPECT_EQ(width, 3);
    EXPECT_EQ(height, 2);
    EXPECT_EQ(PixelsOf(image).argb, std::vector<std::uint32_t>(6, 0u));
    EXPECT_EQ(iproGetImageSize(image, nullptr, &height), 0);
}

// A 2 x 3 image of the letters a..f, row by row, and what each code makes of it (worked out by turning
// a card by hand).
TEST_F(ImageHandles, EachRotateFlipCodeTurnsAndMirrorsA2By3Image) {
    const std::uint32_t a = Argb(255, 1, 0, 0), b = Argb(255, 2, 0, 0), c = Argb(255, 3, 0, 0),
                        d = Argb(255, 4, 0, 0), e = Argb(255, 5, 0, 0), f = Argb(255, 6, 0, 0);
    const IproPixels source{2, 3, {a, b, c, d, e, f}};
    const struct {
        LONG code;
        LONG width, height;
        std::vector<std::uint32_t> pixels;
    } cases[] = {
        {IPRO_ROTATE_NONE, 2, 3, {a, b, c, d, e, f}},
        {IPRO_ROTATE_90, 3, 2, {e, c, a, f, d, b}},
        {IPRO_ROTATE_180, 2, 3, {f, e, d, c, b, a}},
        {IPRO_ROTATE_270, 3, 2, {b, d, f, a, c, e}},
        {IPRO_FLIP_X, 2, 3, {b, a, d, c, f, e}},
        {IPRO_ROTATE_90_FLIP_X, 3, 2, {a, c, e, b, d, f}},
        {IPRO_ROTATE_180_FLIP_X, 2, 3, {e, f, c, d, a, b}},
        {IPRO_ROTATE_270_FLIP_X, 3, 2, {f, d, b, e, c, a}},
    };
    for (const auto& expected : cases) {
        IproHandle image = NewImage(source);
        ASSERT_EQ(iproRotateFlipImage(image, expected.code), 1) << expected.code;
        const IproPixels turned = PixelsOf(image);
        EXPECT_EQ(turned.width, expected.width) << expected.code;
        EXPECT_EQ(turned.height, expected.height) << expected.code;
        EXPECT_EQ(turned.argb, expected.pixels) << expected.code;
        iproReleaseHandle(image);
    }
    IproHandle image = NewImage(source);
    EXPECT_EQ(iproRotateFlipImage(image, 8), 0);
    EXPECT_EQ(iproRotateFlipImage(image, -1), 0);
    EXPECT_EQ(PixelsOf(image).argb, source.argb) << "a refused code changes nothing";
}

TEST_F(ImageHandles, ResizeIsBilinearAtPixelCentres) {
    // Enlarging 0, 255 to four pixels samples at -0.25, 0.25, 0.75, 1.25 of the source.
    IproHandle ramp = NewImage(IproPixels{2, 1, {Argb(255, 0, 0, 0), Argb(255, 255, 100, 8)}});
    ASSERT_EQ(iproResizeImage(ramp, 4, 1), 1);
    const std::vector<std::uint32_t> enlarged = {Argb(255, 0, 0, 0), Argb(255, 64, 25, 2),
                                                 Argb(255, 191, 75, 6), Argb(255, 255, 100, 8)};
    EXPECT_EQ(PixelsOf(ramp).argb, enlarged);

    // Halving averages each 2 x 2 block (rounded half up).
    IproPixels blocks{4, 2, {}};
    for (std::uint32_t v : {0u, 10u, 100u, 101u, 20u, 30u, 200u, 203u})
        blocks.argb.push_back(Argb(255, v, v, v));
    IproHandle image = NewImage(blocks);
    ASSERT_EQ(iproResizeImage(image, 2, 1), 1);
    EXPECT_EQ(PixelsOf(image).argb,
              (std::vector<std::uint32_t>{Argb(255, 15, 15, 15), Argb(255, 151, 151, 151)}));

    const IproPixels numbered = Numbered(5, 4);
    IproHandle same = NewImage(numbered);
    ASSERT_EQ(iproResizeImage(same, 5, 4), 1);
    EXPECT_EQ(PixelsOf(same).argb, numbered.argb);
    EXPECT_EQ(iproResizeImage(same, 0, 4), 0);
    EXPECT_EQ(PixelsOf(same).width, 5) << "a refused size leaves the image as it was";
}

TEST_F(ImageHandles, DecoderParametersNeedAListOfTheirOwnSize) {
    IproHandle image = NewImage(2, 2);
    LONG usePreview = 1;
    DWORD mode = 0x1000;
    IproCodecParam preview{IPRO_PARAM_USE_PREVIEW, reinterpret_cast<std::uintptr_t>(&usePreview)};
    IproCodecParam modeWord{IPRO_PARAM_MODE, reinterpret_cast<std::uintptr_t>(&mode)};
    IproCodecParam* entries[] = {&preview, &modeWord};
    IproCodecParamList list{sizeof(IproCodecParamList), 2, entries};
    EXPECT_EQ(iproSetImageDecoderParams(image, &list), 1);
    std::shared_ptr<CIproImage> kept = IproHandles::FindImage(image);
    EXPECT_EQ(kept->usePreview, 1);
    EXPECT_EQ(kept->mode, 0x1000u);
    list.size = 12;
    EXPECT_EQ(iproSetImageDecoderParams(image, &list), 0);
    EXPECT_EQ(iproSetImageDecoderParams(image, nullptr), 1);
    EXPECT_EQ(kept->usePreview, 0);
    EXPECT_EQ(kept->mode, 1u);
}

TEST_F(ImageHandles, ReleaseTwiceReachesTheLibraryTwiceAndSucceedsOnce) {
    std::vector<std::pair<std::string, IproHandle>> calls;
    ZizorazTest::SetCallObserver(
        [&](const char* call, IproHandle first) { calls.emplace_back(call, first); });
    IproHandle image = NewImage(1, 1);
    EXPECT_EQ(iproReleaseHandle(image), 1);
    EXPECT_EQ(iproReleaseHandle(image), 0);
    ZizorazTest::SetCallObserver(nullptr);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].first, "iproCreateImage");
    EXPECT_EQ(calls[2], std::make_pair(std::string("iproReleaseHandle"), image));
}

// Canvases on two threads draw into one image while a third resizes it and a fourth releases and makes
// handles: every call finds either the old or the new pixels, never half of each.
TEST_F(ImageHandles, ThreadsDrawResizeAndReleaseWithoutRaces) {
    kvtest::Watchdog watchdog("threads on one image");
    IproHandle image = NewImage(64, 64);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            IproHandle canvas = kIproNoHandle;
            if (iproCreateCanvasFromImage(image, &canvas) != 1)
                ++failures;
            for (int i = 0; i < 200; ++i) {
                if (iproFillRectangle(canvas, t * 8.0f, 0, 8, 8, Packed(255, 200, 0, 0), IPRO_FILL_COPY) !=
                        1 ||
                    iproDrawImage(canvas, image, 0, 0, 16, 16, 128) != 1)
                    ++failures;
            }
            iproReleaseHandle(canvas);
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < 100; ++i) {
            if (iproResizeImage(image, 32 + i % 40, 32 + i % 30) != 1)
                ++failures;
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; i < 200; ++i) {
            IproHandle other = kIproNoHandle;
            if (iproCreateImage(8, 8, &other) != 1 || iproReleaseHandle(other) != 1)
                ++failures;
        }
    });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
}

} // namespace
