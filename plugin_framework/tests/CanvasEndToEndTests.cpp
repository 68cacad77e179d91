// The canvas road from end to end: shapes and a picture loaded from a file are drawn through the
// framework's wrappers into a window's device context; the window's pixels are saved as a PNG (left in
// the build folder for a person to look at), read back, and checked at known points.
#include "plugin_framework/ImageFitting.h"
#include "plugin_framework/TiProObjects.h"
#include "plugin_framework/WindowCanvas.h"

#include "SavedPicture.h"

#include "platform/win/WinGdi.h"
#include "platform/win/utf16.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using graphtypes::TSize_T;
using Rect = TiProCanvas::TRect;

constexpr DWORD Packed(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return 0xFF000000u | b << 16 | g << 8 | r;
}
constexpr std::uint32_t Argb(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return 0xFF000000u | r << 16 | g << 8 | b;
}

// A picture of four flat quarters, written as a PNG by the canvas library.
std::string WriteQuarters(const kvtest::TempFolder& folder) {
    TiProImage* picture = TiProImage::Create(TSize_T<LONG>(20, 20));
    TiProCanvas* canvas = TiProCanvas::CreateFromImage(*picture);
    canvas->FillRectangle(Rect(0, 0, 10, 10), Packed(250, 200, 0), IPRO_FILL_COPY);
    canvas->FillRectangle(Rect(10, 0, 20, 10), Packed(0, 160, 80), IPRO_FILL_COPY);
    canvas->FillRectangle(Rect(0, 10, 10, 20), Packed(120, 0, 160), IPRO_FILL_COPY);
    canvas->FillRectangle(Rect(10, 10, 20, 20), Packed(20, 20, 20), IPRO_FILL_COPY);
    const std::string path = folder.File("quarters.png");
    EXPECT_EQ(iproSaveImage(picture->GetHandle(), Utf::Utf8ToWide(path).c_str(), IPRO_SAVE_REPLACE, nullptr),
              1);
    canvas->Release();
    picture->Release();
    delete canvas;
    delete picture;
    return path;
}

TEST(CanvasEndToEnd, ShapesAndAPictureDrawnIntoAWindowAreSavedAndReadBack) {
    ASSERT_EQ(iproStartup(), 1);
    kvtest::TempFolder folder;
    const std::string picturePath = WriteQuarters(folder);

    TWindow window;
    ASSERT_TRUE(window.Create(L"CanvasEndToEndWnd", 0, TWindow::TRect(0, 0, 160, 120), nullptr));
    TiProCanvas* canvas = nullptr;
    HDC dc = nullptr;
    ASSERT_TRUE(CreateWindowCanvas(&window, canvas, dc));
    canvas->FillRectangle(Rect(0, 0, 160, 120), Packed(255, 255, 255), IPRO_FILL_COPY);
    canvas->FillRectangle(Rect(10, 10, 60, 50), Packed(200, 30, 30), IPRO_FILL_BLEND);
    canvas->FillEllipse(Rect(70, 60, 150, 110), Packed(30, 60, 200), IPRO_FILL_BLEND);
    canvas->DrawEllipse(Rect(70, 60, 150, 110), Packed(0, 0, 0), 2);
    const IproPointF triangle[] = {{10, 110}, {60, 110}, {35, 70}};
    canvas->FillPolygon(triangle, 3, Packed(40, 160, 40), IPRO_FILL_BLEND);
    canvas->FillPie(Rect(8, 62, 28, 82), 180, 90, Packed(250, 140, 0), IPRO_FILL_BLEND);

    // The picture, fitted into 40 x 40 (twice its size) and drawn at 100, 10.
    TFilePath location;
    location.Set(Utf::Utf8ToWide(picturePath).c_str());
    TiProImage* picture = nullptr;
    ASSERT_TRUE(LoadImageFitted(location, TSize_T<double>(40, 40), false, L"", picture));
    TSize_T<LONG> fitted;
    picture->GetSize(fitted);
    EXPECT_EQ(fitted, TSize_T<LONG>(40, 40));
    canvas->DrawImage(*picture, Rect(100, 10, 140, 50), 255);
    // Its lower-right quarter once more, unscaled, half transparent over the red rectangle.
    canvas->DrawImage(*picture, Rect(40, 30, 60, 50), 128);
    ASSERT_TRUE(ReleaseWindowCanvas(&window, canvas, dc));

    LONG width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
    ASSERT_TRUE(WinGdiTest::ReadWindowPixels(window.GetHandle(), &width, &height, &pixels));
    ASSERT_EQ(width, 160);
    ASSERT_EQ(height, 120);
    const std::optional<IproPixels> saved =
        kvtest::SaveAndReadBack(IproPixels{width, height, pixels}, "canvas-window.png");
    ASSERT_TRUE(saved);
    const IproPixels& read = *saved;
    EXPECT_EQ(read.argb, pixels) << "the PNG holds the window's pixels exactly";
    const struct {
        LONG x, y;
        std::uint32_t expected;
        const char* what;
    } points[] = {
        {5, 5, Argb(255, 255, 255), "background"},
        {20, 20, Argb(200, 30, 30), "red rectangle"},
        {110, 85, Argb(30, 60, 200), "centre of the blue ellipse"},
        {72, 62, Argb(255, 255, 255), "outside the ellipse, inside its box"},
        {35, 105, Argb(40, 160, 40), "inside the triangle"},
        {12, 67, Argb(250, 140, 0), "the pie's upper-left quarter"},
        {24, 76, Argb(255, 255, 255), "the pie box's lower-right quarter"},
        {105, 15, Argb(250, 200, 0), "the picture's upper-left quarter"},
        {135, 15, Argb(0, 160, 80), "upper right"},
        {105, 45, Argb(120, 0, 160), "lower left"},
        {135, 45, Argb(20, 20, 20), "lower right"},
        {150, 30, Argb(255, 255, 255), "right of the picture"},
    };
    for (const auto& p : points)
        EXPECT_EQ(read.At(p.x, p.y), p.expected) << p.what << " at " << p.x << "," << p.y;
    // Half the upper-left quarter's yellow over the red rectangle: each channel midway, within rounding.
    const std::uint32_t blend = read.At(45, 35);
    EXPECT_NEAR(static_cast<int>(blend >> 16 & 0xFF), (250 + 200) / 2, 2);
    EXPECT_NEAR(static_cast<int>(blend >> 8 & 0xFF), (200 + 30) / 2, 2);
    EXPECT_NEAR(static_cast<int>(blend & 0xFF), (0 + 30) / 2, 2);

    picture->Release();
    delete picture;
    window.Destroy();
    iproShutdown();
}

} // namespace
