// The controls from end to end: a panel of coloured static texts, image buttons enabled and disabled, a
// check box and a progress bar at 40% paints itself in a framework window; the panel as the screen would
// show it is saved as a PNG (left in the build folder for a person to open), read back and checked at
// known points.
#include "ControlPanel.h"
#include "SavedPicture.h"

#include "plugin_framework/TCheckBoxCtrl.h"
#include "plugin_framework/TImgBtnCtrl.h"
#include "plugin_framework/TProgCtrl.h"
#include "plugin_framework/TStaticCtrl.h"

#include "platform/win/WinGdiDraw.h"

#include <cstdlib>

using namespace controltest;

namespace {

constexpr DWORD Packed(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return 0xFF000000u | b << 16 | g << 8 | r;
}

TiProImage* Picture(DWORD colour, DWORD centre) {
    TiProImage* image = TiProImage::Create(graphtypes::TSize_T<LONG>(20, 20));
    TiProCanvas* canvas = TiProCanvas::CreateFromImage(*image);
    canvas->FillRectangle(TiProCanvas::TRect(0, 0, 20, 20), colour, IPRO_FILL_COPY);
    canvas->FillEllipse(TiProCanvas::TRect(4, 4, 16, 16), centre, IPRO_FILL_BLEND);
    canvas->Release();
    delete canvas;
    return image;
}

// The panel fills itself with the button face.
LONG PaintPanel(TMessageInfo* info, void*) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(info->hwnd, &paint);
    RECT client{};
    GetClientRect(info->hwnd, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    EndPaint(info->hwnd, &paint);
    return 1;
}

TEST_F(ControlPanel, APanelOfControlsPaintsItselfAndIsSavedAsAPicture) {
    ASSERT_EQ(iproStartup(), 1);
    ASSERT_TRUE(m_panel.AddMessageHandler(kPaintMessageKey, TMessageHandler{nullptr, PaintPanel}));
    m_panel.SetSize(TWindow::TSize(260, 120), true);
    TFontInfo font;
    font.face = L"DejaVu Sans";
    font.size = 9;

    TRefPtr<TStaticCtrl> title = Make<TStaticCtrl>();
    ASSERT_TRUE(
        title->Attach(Control(L"static", SS_CENTERIMAGE, 1, RECT{10, 10, 150, 32}, L"Print sizes"), false));
    const DWORD navy = Packed(0, 0, 128);
    const DWORD cream = Packed(255, 240, 170);
    title->SetTextColor(&navy);
    title->SetBkColor(&cream);
    font.style = TFontInfo::kBold;
    title->SetFont(&font);

    TRefPtr<TStaticCtrl> note = Make<TStaticCtrl>();
    ASSERT_TRUE(note->Attach(Control(L"static", 0, 2, RECT{10, 36, 150, 54}, L"Red note"), false));
    const DWORD red = Packed(200, 0, 0);
    note->SetTextColor(&red);
    font.style = 0;
    note->SetFont(&font);

    TiProImage* enabledPicture = Picture(Packed(30, 110, 200), Packed(250, 250, 250));
    TiProImage* disabledPicture = Picture(Packed(0, 160, 60), Packed(0, 0, 0));
    TRefPtr<TImgBtnCtrl> enabled = Make<TImgBtnCtrl>();
    TRefPtr<TImgBtnCtrl> disabled = Make<TImgBtnCtrl>();
    ASSERT_TRUE(enabled->Attach(Control(L"button", BS_OWNERDRAW, 3, RECT{160, 10, 200, 44}), false));
    ASSERT_TRUE(
        disabled->Attach(Control(L"button", BS_OWNERDRAW | WS_DISABLED, 4, RECT{206, 10, 246, 44}), false));
    enabled->SetNormalImage(enabledPicture);
    disabled->SetNormalImage(enabledPicture);
    disabled->SetDisabledImage(disabledPicture);

    TRefPtr<TCheckBoxCtrl> option = Make<TCheckBoxCtrl>();
    ASSERT_TRUE(
        option->Attach(Control(L"button", BS_AUTOCHECKBOX, 5, RECT{10, 60, 150, 80}, L"Crop marks"), false));
    option->SetFont(&font);
    option->SetCheck(1);

    TRefPtr<TProgCtrl> progress = Make<TProgCtrl>();
    ASSERT_TRUE(progress->Attach(Control(L"msctls_progress32", 0, 6, RECT{10, 90, 210, 104}), false));
    progress->SetMin(0);
    progress->SetMax(100);
    progress->SetPos(40);
    Pump();

    LONG width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
    ASSERT_TRUE(WinGdiTest::ReadComposedPixels(m_panel.GetHandle(), &width, &height, &pixels));
    ASSERT_EQ(width, 260);
    ASSERT_EQ(height, 120);
    const std::optional<IproPixels> saved =
        kvtest::SaveAndReadBack(IproPixels{width, height, pixels}, "control-panel.png");
    ASSERT_TRUE(saved);
    const IproPixels& read = *saved;
    EXPECT_EQ(read.argb, pixels) << "the PNG holds the panel exactly";

    const std::uint32_t face = PixelOf(GetSysColor(COLOR_BTNFACE));
    const std::uint32_t greyedGreen = [] {
        const std::uint32_t grey = 128 + ((77 * 0 + 150 * 160 + 29 * 60) >> 8) / 2;
        return 0xFF000000u | grey << 16 | grey << 8 | grey;
    }();
    const struct {
        LONG x, y;
        std::uint32_t expected;
        const char* what;
    } points[] = {
        {5, 5, face, "the panel"},
        {146, 29, PixelOf(RGB(255, 240, 170)), "the title's background"},
        {146, 50, face, "the note: transparent over the button face"},
        {163, 14, face, "the enabled button's face"},
        {160, 10, PixelOf(GetSysColor(COLOR_BTNHIGHLIGHT)), "its raised frame, lit"},
        {199, 43, PixelOf(GetSysColor(COLOR_3DDKSHADOW)), "and shaded"},
        {172, 19, PixelOf(RGB(30, 110, 200)), "the enabled picture"},
        {180, 27, PixelOf(RGB(250, 250, 250)), "its centre"},
        {218, 19, greyedGreen, "the disabled picture, greyed"},
        {16, 69, PixelOf(GetSysColor(COLOR_WINDOWTEXT)), "the check mark"},
        {12, 65, PixelOf(GetSysColor(COLOR_WINDOW)), "inside the check box"},
        {12, 97, PixelOf(GetSysColor(COLOR_HIGHLIGHT)), "the progress bar's start"},
        {89, 97, PixelOf(GetSysColor(COLOR_HIGHLIGHT)), "40% of its 198 pixels"},
        {91, 97, face, "beyond 40%"},
        {208, 97, face, "its end"},
        {250, 110, face, "the panel's corner"},
    };
    for (const auto& p : points)
        EXPECT_EQ(read.At(p.x, p.y), p.expected) << p.what << " at " << p.x << "," << p.y;

    // The texts are there, in their colours.
    auto inkIn = [&](RECT area, std::uint32_t colour) {
        int ink = 0;
        for (LONG y = area.top; y < area.bottom; ++y) {
            for (LONG x = area.left; x < area.right; ++x) {
                const std::uint32_t p = read.At(x, y);
                int distance = 0;
                for (int shift = 0; shift < 24; shift += 8)
                    distance += std::abs(static_cast<int>(p >> shift & 0xFF) -
                                         static_cast<int>(colour >> shift & 0xFF));
                ink += distance < 60 ? 1 : 0;
            }
        }
        return ink;
    };
    EXPECT_GT(inkIn(RECT{10, 10, 150, 32}, PixelOf(RGB(0, 0, 128))), 20) << "the title";
    EXPECT_GT(inkIn(RECT{10, 36, 150, 54}, PixelOf(RGB(200, 0, 0))), 15) << "the note";
    EXPECT_GT(inkIn(RECT{27, 60, 150, 80}, PixelOf(RGB(0, 0, 0))), 15) << "the check box's text";

    enabled->Destroy();
    disabled->Destroy();
    for (TiProImage* image : {enabledPicture, disabledPicture}) {
        image->Release();
        delete image;
    }
    iproShutdown();
}

} // namespace
