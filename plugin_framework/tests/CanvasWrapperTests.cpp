#include "plugin_framework/ImageFitting.h"
#include "plugin_framework/TiProCodecParameters.h"
#include "plugin_framework/TiProObjects.h"
#include "plugin_framework/WindowCanvas.h"

#include "platform/win/WinGdi.h"
#include "platform/win/utf16.h"
#include "platform/zizoraz/IproHandles.h"
#include "platform/zizoraz/IproResample.h"
#include "platform/zizoraz/ZizorazTest.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

using graphtypes::TSize_T;

struct WrapperDeleter {
    void operator()(TiProBaseObject* object) const {
        object->Release();
        delete object;
    }
};
template <class T>
using Owned = std::unique_ptr<T, WrapperDeleter>;

class CanvasWrappers : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(iproStartup(), 1); }
    void TearDown() override {
        ZizorazTest::SetCallObserver(nullptr);
        iproShutdown();
    }

    // Counts the library's calls of one name and keeps their first handles.
    std::vector<IproHandle>& Watch(const std::string& name) {
        ZizorazTest::SetCallObserver([this, name](const char* call, IproHandle first) {
            if (name == call)
                m_seen.push_back(first);
        });
        return m_seen;
    }
    static Owned<TiProImage> Image(LONG width, LONG height) {
        return Owned<TiProImage>(TiProImage::Create(TSize_T<LONG>(width, height)));
    }
    static TSize_T<LONG> SizeOf(TiProImage& image) {
        TSize_T<LONG> size;
        image.GetSize(size);
        return size;
    }

    std::vector<IproHandle> m_seen;
};

TEST_F(CanvasWrappers, ReleaseTwiceHandsTheLibraryNoHandleTheSecondTime) {
    TiProImage* image = TiProImage::Create(TSize_T<LONG>(2, 2));
    ASSERT_NE(image, nullptr);
    const IproHandle handle = image->GetHandle();
    std::vector<IproHandle>& releases = Watch("iproReleaseHandle");
    image->Release();
    image->Release();
    EXPECT_EQ(releases, (std::vector<IproHandle>{handle, kIproNoHandle}));
    EXPECT_EQ(image->GetHandle(), kIproNoHandle);
    delete image;
}

TEST_F(CanvasWrappers, FactoriesGiveNullWhenTheLibraryGivesNoHandle) {
    EXPECT_EQ(TiProImage::Create(TSize_T<LONG>(0, 5)), nullptr);
    EXPECT_EQ(TiProImage::CreateFromFile(L"/nonexistent/picture.png"), nullptr);
    EXPECT_EQ(TiProCanvas::CreateFromHDC(nullptr), nullptr);
    Owned<TiProImage> image = Image(3, 3);
    image->Release();
    EXPECT_EQ(TiProCanvas::CreateFromImage(*image), nullptr) << "a released image";
    EXPECT_EQ(SizeOf(*image), TSize_T<LONG>(0, 0)) << "a size the library does not give is (0, 0)";
}

TEST_F(CanvasWrappers, RectangleWithRightLeftOfLeftGoesWithANegativeWidth) {
    Owned<TiProImage> image = Image(10, 10);
    Owned<TiProCanvas> canvas(TiProCanvas::CreateFromImage(*image));
    canvas->FillRectangle(TiProCanvas::TRect(8, 2, 3, 6), 0xFFFFFFFF, IPRO_FILL_COPY);
    const IproPixels pixels = [&] {
        std::shared_ptr<CIproImage> target = IproHandles::FindImage(image->GetHandle());
        std::lock_guard<std::mutex> guard(target->lock);
        return target->pixels;
    }();
    EXPECT_EQ(pixels.argb, std::vector<std::uint32_t>(100, 0u)) << "not turned into a rectangle from 3 to 8";
    canvas->FillRectangle(TiProCanvas::TRect(3, 2, 8, 6), 0xFF0000FF, IPRO_FILL_COPY);
    std::shared_ptr<CIproImage> target = IproHandles::FindImage(image->GetHandle());
    EXPECT_EQ(target->pixels.At(3, 2), 0xFFFF0000u) << "red in the low byte of the packed colour";
    EXPECT_EQ(target->pixels.At(8, 2), 0u);
}

TEST_F(CanvasWrappers, FlattenedParametersListEntriesInPositionOrder) {
    TiProCodecParameters parameters;
    const IproCodecParamList* list = reinterpret_cast<const IproCodecParamList*>(1);
    parameters.Flatten(list);
    EXPECT_EQ(list, nullptr) << "an empty map gives no list";

    LONG quality = 80;
    float scale = 0.5f;
    parameters[5] = IproCodecParam{IPRO_PARAM_QUALITY, reinterpret_cast<std::uintptr_t>(&quality)};
    parameters[1] = IproCodecParam{IPRO_PARAM_SCALE, reinterpret_cast<std::uintptr_t>(&scale)};
    EXPECT_EQ(parameters[3].type, 0u) << "an absent position is made with both words 0";
    parameters.Flatten(list);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->size, sizeof(IproCodecParamList));
    ASSERT_EQ(list->count, 3u);
    EXPECT_EQ(list->entries[0]->type, IPRO_PARAM_SCALE);
    EXPECT_EQ(list->entries[1]->type, 0u);
    EXPECT_EQ(list->entries[2]->value, reinterpret_cast<std::uintptr_t>(&quality));
}

TEST_F(CanvasWrappers, DecoderOptionsReachTheImage) {
    Owned<TiProImage> image = Image(2, 2);
    SetImageDecoderOptions(image.get(), 7, 0x1000);
    std::shared_ptr<CIproImage> kept = IproHandles::FindImage(image->GetHandle());
    EXPECT_EQ(kept->usePreview, 1) << "any flag byte but 0 is 1";
    EXPECT_EQ(kept->mode, 0x1000u);
    SetImageDecoderOptions(image.get(), 0, 2);
    EXPECT_EQ(kept->usePreview, 0);
    EXPECT_EQ(kept->mode, 2u);
    SetImageDecoderOptions(nullptr, 1, 1);
    image->SetDecoderParameters(nullptr);
    EXPECT_EQ(kept->mode, 1u) << "no parameters forget the options";
}

TEST(ImageTypes, ExtensionsNameTheirTypes) {
    const struct {
        const wchar_t* extension;
        LONG type;
    } cases[] = {{L"jpg", 1}, {L"JPEG", 1}, {L"gif", 2}, {L"Tif", 3},  {L"tiff", 3},
                 {L"png", 4}, {L"bmp", -1}, {L"", -1},   {L"jpg ", -1}};
    for (const auto& c : cases)
        EXPECT_EQ(ImageTypeFromExtension(c.extension), c.type) << Utf::WideToUtf8(c.extension);
}

TEST(RotationTexts, GiveTheirAngles) {
    const TSize_T<LONG> landscape(400, 300), portrait(300, 400), square(300, 300);
    const TSize_T<double> wide(200, 100), tall(100, 200), even(100, 100);
    const struct {
        const wchar_t* text;
        TSize_T<LONG> image;
        TSize_T<double> target;
        LONG angle;
    } cases[] = {
        {L"", landscape, tall, 0},
        {L"90", landscape, wide, 90},
        {L"450", landscape, wide, 90},
        {L"45", landscape, wide, 0},
        {L"-90", landscape, wide, 0},
        {L"720", landscape, wide, 0},
        {L"270", landscape, wide, 270},
        {L"abc", landscape, wide, 0},
        {L"180 degrees", landscape, wide, 180},
        {L"99999999999", landscape, wide, 0},
        {L"best-fit", landscape, tall, 90},
        {L"best-fit", portrait, wide, 90},
        {L"best-fit", landscape, wide, 0},
        {L"best-fit", square, tall, 0},
        {L"best-fit", landscape, even, 0},
        {L"Best-fit", landscape, tall, 0},
        {L"best-fit", TSize_T<LONG>(0, 0), tall, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AngleFromRotationText(c.text, c.image, c.target), c.angle) << Utf::WideToUtf8(c.text);
}

TEST_F(CanvasWrappers, FitsInsideOrOverTheTarget) {
    const struct {
        TSize_T<double> target;
        bool fill;
        LONG angle;
        TSize_T<LONG> fitted;
    } cases[] = {
        {{200, 200}, false, 0, {200, 150}},  {{200, 200}, true, 0, {267, 200}}, // 266.67 rounded
        {{200, 100}, false, 90, {100, 75}},  {{200, 100}, false, 270, {100, 75}},
        {{200, 100}, true, 90, {267, 200}},  {{800, 600}, false, 0, {800, 600}}, // enlarged
        {{400, 300}, true, 180, {400, 300}}, {{100, 1000}, false, 0, {100, 75}},
    };
    for (const auto& c : cases) {
        Owned<TiProImage> image = Image(400, 300);
        EXPECT_TRUE(ResizeImageToFit(c.target, c.fill, c.angle, image.get())) << c.target.cx << " " << c.fill;
        EXPECT_EQ(SizeOf(*image), c.fitted)
            << c.target.cx << "x" << c.target.cy << " fill " << c.fill << " angle " << c.angle;
    }
}

TEST_F(CanvasWrappers, SizesThatCannotBeFittedResizeNothing) {
    const TSize_T<double> targets[] = {{0, 100},   {100, 0},        {-5, 100},
                                       {100, NAN}, {INFINITY, 100}, {0.001, 0.001}};
    for (const TSize_T<double>& target : targets) {
        Owned<TiProImage> image = Image(400, 300);
        std::vector<IproHandle>& resizes = Watch("iproResizeImage");
        EXPECT_FALSE(ResizeImageToFit(target, false, 0, image.get())) << target.cx << "x" << target.cy;
        EXPECT_FALSE(FitImageToSize(target, true, L"best-fit", image.get())) << target.cx << "x" << target.cy;
        EXPECT_TRUE(resizes.empty()) << target.cx << "x" << target.cy;
        EXPECT_EQ(SizeOf(*image), TSize_T<LONG>(400, 300));
        ZizorazTest::SetCallObserver(nullptr);
        m_seen.clear();
    }
    Owned<TiProImage> gone = Image(4, 4);
    gone->Release();
    EXPECT_FALSE(ResizeImageToFit(TSize_T<double>(10, 10), false, 0, gone.get()))
        << "an image without a size";
    EXPECT_FALSE(ResizeImageToFit(TSize_T<double>(10, 10), false, 0, nullptr));
}

TEST_F(CanvasWrappers, SameSizeMakesNoCall) {
    Owned<TiProImage> image = Image(300, 400);
    std::vector<IproHandle>& resizes = Watch("iproResizeImage");
    EXPECT_TRUE(ResizeImageToFit(TSize_T<double>(400, 300), false, 90, image.get()));
    EXPECT_TRUE(resizes.empty());
}

// Each flip text and angle, against the library's own turning by the code the table gives.
TEST_F(CanvasWrappers, FlipTextsAndAnglesChooseTheirCodes) {
    const struct {
        const wchar_t* flip;
        LONG angle;
        LONG code; // -1: no call
    } cases[] = {
        {L"h", 90, 5},  {L"h", 180, 6}, {L"h", 270, 7}, {L"h", 0, 4},   {L"h", 45, 4},
        {L"v", 90, 7},  {L"v", 180, 4}, {L"v", 270, 5}, {L"v", 0, 6},   {L"", 90, 1},
        {L"x", 180, 2}, {L"H", 270, 3}, {L"x", 0, -1},  {L"", 360, -1},
    };
    IproPixels numbered{2, 3, {}};
    for (std::uint32_t i = 1; i <= 6; ++i)
        numbered.argb.push_back(0xFF000000u | i);
    for (const auto& c : cases) {
        Owned<TiProImage> image = Image(2, 3);
        std::shared_ptr<CIproImage> pixels = IproHandles::FindImage(image->GetHandle());
        pixels->pixels = numbered;
        std::vector<IproHandle>& turns = Watch("iproRotateFlipImage");
        EXPECT_TRUE(RotateFlipImage(c.angle, c.flip, image.get()));
        EXPECT_EQ(turns.size(), c.code < 0 ? 0u : 1u) << Utf::WideToUtf8(c.flip) << " " << c.angle;
        IproPixels expected = numbered;
        if (c.code >= 0) {
            ASSERT_TRUE(IproResample::RotateFlip(numbered, c.code, expected));
        }
        EXPECT_EQ(pixels->pixels.argb, expected.argb) << Utf::WideToUtf8(c.flip) << " " << c.angle;
        ZizorazTest::SetCallObserver(nullptr);
        m_seen.clear();
    }
    EXPECT_FALSE(RotateFlipImage(90, L"h", nullptr));
}

TEST_F(CanvasWrappers, LoadsReplaceTheSlotFitAndTurnOnlyWithAFlipText) {
    kvtest::TempFolder folder;
    const std::string path = folder.File("landscape.png");
    {
        Owned<TiProImage> source = Image(40, 20);
        ASSERT_EQ(
            iproSaveImage(source->GetHandle(), Utf::Utf8ToWide(path).c_str(), IPRO_SAVE_REPLACE, nullptr), 1);
    }
    TFilePath location;
    location.Set(Utf::Utf8ToWide(path).c_str());

    TiProImage* slot = TiProImage::Create(TSize_T<LONG>(5, 5));
    const IproHandle old = slot->GetHandle();
    std::vector<IproHandle>& releases = Watch("iproReleaseHandle");
    ASSERT_TRUE(LoadImageFitted(location, TSize_T<double>(20, 20), false, L"", slot));
    EXPECT_EQ(releases, std::vector<IproHandle>{old}) << "the old image was released";
    EXPECT_EQ(SizeOf(*slot), TSize_T<LONG>(20, 10));

    ASSERT_TRUE(LoadImageFittedAndRotated(location, TSize_T<double>(10, 20), false, L"90", L"", slot));
    EXPECT_EQ(SizeOf(*slot), TSize_T<LONG>(20, 10)) << "fitted into 20 x 10, not turned without a flip text";
    ASSERT_TRUE(LoadImageFittedAndRotated(location, TSize_T<double>(10, 20), false, L"90", L"h", slot));
    EXPECT_EQ(SizeOf(*slot), TSize_T<LONG>(10, 20)) << "fitted, then turned a quarter";
    ASSERT_TRUE(LoadImageFittedAndRotated(location, TSize_T<double>(10, 20), false, L"best-fit", L"v", slot));
    EXPECT_EQ(SizeOf(*slot), TSize_T<LONG>(10, 20));
    EXPECT_FALSE(LoadImageFittedAndRotated(location, TSize_T<double>(0, 20), false, L"90", L"h", slot));

    TFilePath missing;
    missing.Set(Utf::Utf8ToWide(folder.File("missing.png")).c_str());
    EXPECT_FALSE(LoadImageFitted(missing, TSize_T<double>(20, 20), false, L"", slot));
    EXPECT_EQ(slot, nullptr) << "the slot is emptied when no image comes";
    EXPECT_EQ(ZizorazTest::LiveHandles(), 0u) << "every image of the slot was released";
}

TEST_F(CanvasWrappers, WindowCanvasDrawsIntoTheWindowAndGivesItsContextBack) {
    TWindow window;
    ASSERT_TRUE(window.Create(L"CanvasWrapperWnd", 0, TWindow::TRect(0, 0, 40, 30), nullptr));
    TiProCanvas* canvas = nullptr;
    HDC dc = nullptr;
    EXPECT_FALSE(CreateWindowCanvas(nullptr, canvas, dc));
    ASSERT_TRUE(CreateWindowCanvas(&window, canvas, dc));
    ASSERT_NE(dc, nullptr);
    canvas->FillRectangle(TiProCanvas::TRect(10, 10, 20, 20), 0xFF00FF00, IPRO_FILL_COPY);
    EXPECT_FALSE(ReleaseWindowCanvas(nullptr, canvas, dc));
    EXPECT_TRUE(ReleaseWindowCanvas(&window, canvas, dc));
    EXPECT_EQ(canvas, nullptr);
    EXPECT_EQ(WinGdi::SurfaceOfDC(dc), nullptr) << "the context went back to the window";
    EXPECT_FALSE(ReleaseWindowCanvas(&window, canvas, dc)) << "no canvas";

    LONG width = 0;
    std::vector<std::uint32_t> pixels;
    ASSERT_TRUE(WinGdiTest::ReadWindowPixels(window.GetHandle(), &width, nullptr, &pixels));
    EXPECT_EQ(pixels[15 * width + 15], 0xFF00FF00u);
    EXPECT_EQ(pixels[5 * width + 5], 0u);

    TWindow never;
    EXPECT_FALSE(CreateWindowCanvas(&never, canvas, dc)) << "a wrapper without a window";
    EXPECT_EQ(dc, nullptr);

    // Without a started library no canvas is made, and the context taken for it goes back at once.
    ASSERT_EQ(iproShutdown(), 1);
    dc = reinterpret_cast<HDC>(1);
    EXPECT_FALSE(CreateWindowCanvas(&window, canvas, dc));
    EXPECT_EQ(canvas, nullptr);
    EXPECT_EQ(dc, nullptr);
    ASSERT_EQ(iproStartup(), 1);
    window.Destroy();
}

} // namespace
