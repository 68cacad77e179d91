#include "IproTestSupport.h"

#include "platform/win/WinGdi.h"

#include <cmath>

using namespace iprotest;

namespace {

constexpr std::uint32_t kClear = 0;

class Drawing : public Started {
protected:
    void SetUp() override {
        Started::SetUp();
        m_image = NewImage(20, 10);
        m_canvas = CanvasOf(m_image);
    }
    std::uint32_t At(LONG x, LONG y) { return PixelsOf(m_image).At(x, y); }
    // Every pixel inside the rectangle is the colour, every other one is untouched (transparent).
    ::testing::AssertionResult Only(LONG left, LONG top, LONG right, LONG bottom, std::uint32_t colour) {
        const IproPixels pixels = PixelsOf(m_image);
        for (LONG y = 0; y < pixels.height; ++y) {
            for (LONG x = 0; x < pixels.width; ++x) {
                const bool inside = x >= left && x < right && y >= top && y < bottom;
                const std::uint32_t expected = inside ? colour : kClear;
                if (pixels.At(x, y) != expected)
                    return ::testing::AssertionFailure() << "pixel " << x << "," << y << " is " << std::hex
                                                         << pixels.At(x, y) << ", not " << expected;
            }
        }
        return ::testing::AssertionSuccess();
    }

    IproHandle m_image = kIproNoHandle;
    IproHandle m_canvas = kIproNoHandle;
};

TEST_F(Drawing, FillCoversItsRectangleOnlyInThePackedColour) {
    ASSERT_EQ(iproFillRectangle(m_canvas, 2, 3, 5, 4, Packed(255, 0x12, 0x34, 0x56), IPRO_FILL_BLEND), 1);
    EXPECT_TRUE(Only(2, 3, 7, 7, Argb(255, 0x12, 0x34, 0x56)));
}

TEST_F(Drawing, CopyModeReplacesAlphaWhereBlendingKeepsWhatShowsThrough) {
    ASSERT_EQ(iproFillRectangle(m_canvas, 0, 0, 20, 10, Packed(255, 0, 0, 255), IPRO_FILL_COPY), 1);
    ASSERT_EQ(iproFillRectangle(m_canvas, 0, 0, 10, 10, Packed(0, 255, 0, 0), IPRO_FILL_COPY), 1);
    ASSERT_EQ(iproFillRectangle(m_canvas, 10, 0, 10, 10, Packed(0, 255, 0, 0), IPRO_FILL_BLEND), 1);
    EXPECT_EQ(At(5, 5), kClear) << "copied: fully transparent";
    EXPECT_EQ(At(15, 5), Argb(255, 0, 0, 255)) << "blended: a transparent colour changes nothing";
}

// Red at opacity 128 over opaque blue: red 255 x 128/255 and blue 255 x 127/255, computed by hand.
TEST_F(Drawing, OpacityBlendsTheImageOverTheCanvas) {
    ASSERT_EQ(iproFillRectangle(m_canvas, 0, 0, 20, 10, Packed(255, 0, 0, 255), IPRO_FILL_COPY), 1);
    IproHandle red = NewImage(IproPixels{2, 2, std::vector<std::uint32_t>(4, Argb(255, 255, 0, 0))});
    ASSERT_EQ(iproDrawImage(m_canvas, red, 4, 4, 2, 2, 128), 1);
    const std::uint32_t blended = At(4, 4);
    EXPECT_EQ(blended >> 24, 255u);
    EXPECT_NEAR(static_cast<int>(blended >> 16 & 0xFF), 128, 1);
    EXPECT_EQ(blended >> 8 & 0xFF, 0u);
    EXPECT_NEAR(static_cast<int>(blended & 0xFF), 127, 1);
    EXPECT_EQ(At(3, 4), Argb(255, 0, 0, 255));
    EXPECT_EQ(iproDrawImage(m_canvas, red, 4, 4, 2, 2, 256), 0);
    EXPECT_EQ(iproDrawImage(m_canvas, red, 4, 4, 2, 2, -1), 0);
}

TEST_F(Drawing, ImageAtItsOwnSizeIsCopiedExactlyAndScaledIntoLargerRectangles) {
    const IproPixels numbered = Numbered(3, 2);
    IproHandle source = NewImage(numbered);
    ASSERT_EQ(iproDrawImage(m_canvas, source, 5, 4, 3, 2, 255), 1);
    const IproPixels drawn = PixelsOf(m_image);
    for (LONG y = 0; y < 10; ++y)
        for (LONG x = 0; x < 20; ++x) {
            const bool inside = x >= 5 && x < 8 && y >= 4 && y < 6;
            EXPECT_EQ(drawn.At(x, y), inside ? numbered.At(x - 5, y - 4) : kClear) << x << "," << y;
        }

    // A single pixel scaled into 4 x 3 fills them all with its colour.
    IproHandle dot = NewImage(IproPixels{1, 1, {Argb(255, 9, 99, 199)}});
    ASSERT_EQ(iproDrawImage(m_canvas, dot, 12, 1, 4, 3, 255), 1);
    for (LONG y = 1; y < 4; ++y)
        for (LONG x = 12; x < 16; ++x)
            EXPECT_EQ(At(x, y), Argb(255, 9, 99, 199)) << x << "," << y;
    EXPECT_EQ(At(16, 1), kClear);
}

TEST_F(Drawing, PartialDrawCopiesOnlyItsSourceRectangle) {
    const IproPixels numbered = Numbered(6, 5);
    IproHandle source = NewImage(numbered);
    // Source columns 2..4 and rows 1..2 land at 10, 6.
    ASSERT_EQ(iproDrawImage2(m_canvas, source, 10, 6, 2, 1, 3, 2), 1);
    const IproPixels drawn = PixelsOf(m_image);
    for (LONG y = 0; y < 10; ++y)
        for (LONG x = 0; x < 20; ++x) {
            const bool inside = x >= 10 && x < 13 && y >= 6 && y < 8;
            EXPECT_EQ(drawn.At(x, y), inside ? numbered.At(x - 10 + 2, y - 6 + 1) : kClear) << x << "," << y;
        }
    // A source rectangle reaching past the image copies only what the image has.
    ASSERT_EQ(iproDrawImage2(m_canvas, source, 0, 0, 4, 3, 10, 10), 1);
    EXPECT_EQ(At(1, 1), numbered.At(5, 4));
    EXPECT_EQ(At(2, 0), kClear);
    EXPECT_EQ(At(0, 2), kClear);
}

TEST_F(Drawing, NegativeOrEmptyRectanglesDrawNothingEvenAtTheEdges) {
    IproHandle source = NewImage(Numbered(4, 4));
    const struct {
        float left, top, width, height;
    } rectangles[] = {{0, 0, -5, 4}, {19, 9, -30, -30}, {0, 0, 4, 0}, {-3, -3, 0, 0}, {20, 0, -1, 10}};
    for (const auto& r : rectangles) {
        EXPECT_EQ(iproFillRectangle(m_canvas, r.left, r.top, r.width, r.height, Packed(255, 1, 1, 1), 2), 1);
        EXPECT_EQ(iproFillEllipse(m_canvas, r.left, r.top, r.width, r.height, Packed(255, 1, 1, 1), 0), 1);
        EXPECT_EQ(iproDrawImage(m_canvas, source, r.left, r.top, r.width, r.height, 255), 1);
        EXPECT_EQ(iproDrawImage2(m_canvas, source, r.left, r.top, 0, 0, r.width, r.height), 1);
    }
    EXPECT_TRUE(Only(0, 0, 0, 0, kClear));
}

TEST_F(Drawing, BadArgumentsAreRefused) {
    const IproPointF line[] = {{1, 1}, {10, 5}};
    EXPECT_EQ(iproFillRectangle(m_canvas, NAN, 0, 5, 5, 0xFFFFFFFF, 0), 0);
    EXPECT_EQ(iproFillRectangle(m_canvas, 0, 0, INFINITY, 5, 0xFFFFFFFF, 0), 0);
    EXPECT_EQ(iproDrawEllipse(m_canvas, 0, 0, 5, 5, 0xFFFFFFFF, 0), 0) << "a pen of width 0";
    EXPECT_EQ(iproDrawPie(m_canvas, 0, 0, 5, 5, NAN, 90, 0xFFFFFFFF, 1), 0);
    EXPECT_EQ(iproDrawPolygon(m_canvas, line, 1, 0xFFFFFFFF, 1), 0) << "one point";
    EXPECT_EQ(iproFillPolygon(m_canvas, nullptr, 3, 0xFFFFFFFF, 0), 0);
    EXPECT_EQ(iproDrawCurve(m_canvas, line, 2, 0xFFFFFFFF, -2), 0);
    EXPECT_EQ(iproSetScaleTransform(m_canvas, 0, 1, 0), 0) << "a scale that cannot be undone";
    EXPECT_EQ(iproSetScaleTransform(m_canvas, 1, 1, 2), 0) << "an order that is neither";
    EXPECT_TRUE(Only(0, 0, 0, 0, kClear));
}

TEST_F(Drawing, ShapesCoverTheirInsideAndLeaveTheirOutside) {
    const std::uint32_t white = Argb(255, 255, 255, 255);
    ASSERT_EQ(iproFillEllipse(m_canvas, 0, 0, 10, 10, Packed(255, 255, 255, 255), IPRO_FILL_COPY), 1);
    EXPECT_EQ(At(5, 5), white);
    EXPECT_EQ(At(0, 0), kClear) << "the ellipse's corner";
    EXPECT_EQ(At(9, 9), kClear);

    // A quarter pie from 0 over 90 degrees, clockwise with y down: the lower right quarter.
    ASSERT_EQ(iproFillPie(m_canvas, 10, 0, 10, 10, 0, 90, Packed(255, 255, 255, 255), IPRO_FILL_COPY), 1);
    EXPECT_EQ(At(17, 7), white);
    EXPECT_EQ(At(13, 3), kClear);
    EXPECT_EQ(At(17, 3), kClear);
    EXPECT_EQ(At(13, 7), kClear);
}

TEST_F(Drawing, PolygonsAndCurvesGoThroughTheirPoints) {
    const std::uint32_t red = Argb(255, 255, 0, 0);
    const IproPointF triangle[] = {{0, 0}, {10, 0}, {0, 10}};
    ASSERT_EQ(iproFillPolygon(m_canvas, triangle, 3, Packed(255, 255, 0, 0), IPRO_FILL_BLEND), 1);
    EXPECT_EQ(At(2, 2), red);
    EXPECT_EQ(At(8, 8), kClear);

    const IproPointF curve[] = {{11, 2}, {15, 8}, {19, 2}};
    ASSERT_EQ(iproDrawCurve(m_canvas, curve, 3, Packed(255, 0, 0, 255), 2), 1);
    EXPECT_EQ(At(15, 7), Argb(255, 0, 0, 255)) << "the middle point lies on the curve";
    EXPECT_EQ(At(15, 2), kClear) << "the curve bends down between its ends";

    const IproPointF square[] = {{1.5f, 1.5f}, {8.5f, 1.5f}, {8.5f, 8.5f}, {1.5f, 8.5f}};
    ASSERT_EQ(iproDrawPolygon(m_canvas, square, 4, Packed(255, 0, 255, 0), 1), 1);
    EXPECT_EQ(At(8, 5), Argb(255, 0, 255, 0)) << "the closing edges are drawn";
    EXPECT_EQ(At(5, 8), Argb(255, 0, 255, 0));
}

TEST_F(Drawing, TransformsMapCoordinatesInTheOrderAsked) {
    IproHandle matrix = kIproNoHandle;
    ASSERT_EQ(iproCreateMatrix(1, 0, 0, 1, 10, 0, &matrix), 1);
    ASSERT_EQ(iproSetTransformMatrix(m_canvas, matrix), 1);
    // Prepended, the scale applies first: x -> 2x + 10.
    ASSERT_EQ(iproSetScaleTransform(m_canvas, 2, 2, 0), 1);
    ASSERT_EQ(iproFillRectangle(m_canvas, 1, 1, 2, 2, Packed(255, 9, 9, 9), IPRO_FILL_COPY), 1);
    EXPECT_TRUE(Only(12, 2, 16, 6, Argb(255, 9, 9, 9)));

    IproHandle read = kIproNoHandle;
    ASSERT_EQ(iproCreateMatrix(1, 0, 0, 1, 0, 0, &read), 1);
    ASSERT_EQ(iproGetTransformMatrix(m_canvas, read), 1);
    float elements[6];
    ASSERT_EQ(iproGetMatrixElements(read, elements), 1);
    EXPECT_EQ(std::vector<float>(elements, elements + 6), (std::vector<float>{2, 0, 0, 2, 10, 0}));

    // Appended, it applies after: x -> (x + 10) x 2, so a translated origin moves by 20.
    ASSERT_EQ(iproSetTransformMatrix(m_canvas, matrix), 1);
    ASSERT_EQ(iproSetScaleTransform(m_canvas, 2, 1, 1), 1);
    ASSERT_EQ(iproGetTransformMatrix(m_canvas, read), 1);
    ASSERT_EQ(iproGetMatrixElements(read, elements), 1);
    EXPECT_EQ(std::vector<float>(elements, elements + 6), (std::vector<float>{2, 0, 0, 1, 20, 0}));

    IproHandle singular = kIproNoHandle;
    ASSERT_EQ(iproCreateMatrix(1, 2, 2, 4, 0, 0, &singular), 1);
    EXPECT_EQ(iproSetTransformMatrix(m_canvas, singular), 0);
    ASSERT_EQ(iproGetTransformMatrix(m_canvas, read), 1);
    ASSERT_EQ(iproGetMatrixElements(read, elements), 1);
    EXPECT_EQ(elements[0], 2) << "a refused matrix leaves the transform as it was";
    EXPECT_EQ(iproCreateMatrix(NAN, 0, 0, 1, 0, 0, &singular), 0);
}

TEST_F(Drawing, ImageDrawnIntoItsOwnCanvasReadsWhatItHadBefore) {
    SetPixels(m_image, Numbered(20, 10));
    const IproPixels before = PixelsOf(m_image);
    ASSERT_EQ(iproDrawImage2(m_canvas, m_image, 1, 0, 0, 0, 19, 10), 1);
    const IproPixels after = PixelsOf(m_image);
    for (LONG x = 1; x < 20; ++x)
        EXPECT_EQ(after.At(x, 3), before.At(x - 1, 3)) << x;
}

TEST_F(Drawing, CanvasOfADeviceContextDrawsIntoTheWindowWhileTheContextIsHeld) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = reinterpret_cast<HINSTANCE>(0x7e0000001000);
    windowClass.lpszClassName = L"CanvasTestWnd";
    ASSERT_NE(RegisterClassW(&windowClass), 0);
    HWND window = CreateWindowExW(0, L"CanvasTestWnd", L"", 0, 0, 0, 30, 20, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    HDC dc = GetDC(window);
    IproHandle canvas = kIproNoHandle;
    ASSERT_EQ(iproCreateCanvasFromHDC(dc, &canvas), 1);
    ASSERT_EQ(iproFillRectangle(canvas, 28, 18, 10, 10, Packed(255, 1, 2, 3), IPRO_FILL_COPY), 1);
    LONG width = 0;
    std::vector<std::uint32_t> pixels;
    ASSERT_TRUE(WinGdiTest::ReadWindowPixels(window, &width, nullptr, &pixels));
    EXPECT_EQ(pixels[19 * 30 + 29], Argb(255, 1, 2, 3)) << "clipped to the client area";
    EXPECT_EQ(pixels[17 * 30 + 29], kClear);

    ReleaseDC(window, dc);
    EXPECT_EQ(iproFillRectangle(canvas, 0, 0, 5, 5, Packed(255, 1, 2, 3), IPRO_FILL_COPY), 0);
    IproHandle other = kIproNoHandle;
    EXPECT_EQ(iproCreateCanvasFromHDC(dc, &other), 0);
    EXPECT_EQ(other, kIproNoHandle);
    DestroyWindow(window);
    UnregisterClassW(L"CanvasTestWnd", windowClass.hInstance);
}

} // namespace
