#include "ControlFixture.h"

#include "platform/win/WinColorDialog.h"
#include "platform/win/WinFonts.h"
#include "platform/win/WinGdiDraw.h"
#include "platform/win/WinRegions.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

using namespace usertest;

namespace {

// Draws on the parent window's pixels through one context.
class DrawTest : public ControlTest {
protected:
    void SetUp() override {
        ControlTest::SetUp();
        m_dc = GetDC(m_parent);
        ASSERT_NE(m_dc, nullptr);
        RECT all{0, 0, 300, 200};
        FillRect(m_dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    void TearDown() override {
        ReleaseDC(m_parent, m_dc);
        ControlTest::TearDown();
    }
    std::uint32_t At(LONG x, LONG y) const { return Pixel(m_parent, x, y); }

    HDC m_dc = nullptr;
};

constexpr std::uint32_t kWhite = 0xFFFFFFFFu;

TEST(GdiObjects, BrushesAndFontsKeepWhatTheyWereMadeOf) {
    const DWORD before = WinGdiTest::LiveObjects();
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    LOGBRUSH described{};
    ASSERT_EQ(GetObjectW(brush, sizeof(described), &described), static_cast<int>(sizeof(LOGBRUSH)));
    EXPECT_EQ(described.lbColor, RGB(1, 2, 3));
    EXPECT_EQ(described.lbStyle, BS_SOLID);

    LOGFONTW font{};
    font.lfHeight = -13;
    font.lfWeight = FW_BOLD;
    font.lfItalic = 1;
    font.lfQuality = ANTIALIASED_QUALITY;
    const wchar_t longName[] = L"A face name that is much longer than thirty-one characters";
    std::copy_n(longName, LF_FACESIZE, font.lfFaceName);
    HFONT made = CreateFontIndirectW(&font);
    LOGFONTW kept{};
    ASSERT_EQ(GetObjectW(made, sizeof(kept), &kept), static_cast<int>(sizeof(LOGFONTW)));
    EXPECT_EQ(kept.lfHeight, -13);
    EXPECT_EQ(kept.lfWeight, FW_BOLD);
    EXPECT_EQ(kept.lfItalic, 1);
    EXPECT_EQ(kept.lfQuality, ANTIALIASED_QUALITY);
    EXPECT_EQ(std::wstring(kept.lfFaceName), std::wstring(longName, LF_FACESIZE - 1)) << "cut, terminated";
    EXPECT_EQ(GetObjectW(made, sizeof(kept) - 1, &kept), 0);
    EXPECT_EQ(WinGdiTest::LiveObjects(), before + 2);

    EXPECT_TRUE(DeleteObject(brush));
    EXPECT_FALSE(DeleteObject(brush)) << "a deleted handle names nothing";
    EXPECT_TRUE(DeleteObject(made));
    EXPECT_EQ(WinGdiTest::LiveObjects(), before);
    EXPECT_EQ(CreateFontIndirectW(nullptr), nullptr);

    HBRUSH face = GetSysColorBrush(COLOR_BTNFACE);
    EXPECT_TRUE(DeleteObject(face));
    ASSERT_EQ(GetObjectW(face, sizeof(described), &described), static_cast<int>(sizeof(LOGBRUSH)))
        << "system brushes survive";
    EXPECT_EQ(described.lbColor, GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(GetSysColorBrush(COLOR_BTNFACE), face);
    EXPECT_EQ(GetSysColorBrush(99), nullptr);
    EXPECT_EQ(GetSysColor(99), 0u);
}

TEST(GdiObjects, MulDivRoundsHalfAwayFromZero) {
    const struct {
        int a, b, c, expected;
    } cases[] = {
        {10, 96, 72, 13}, {9, 120, 72, 15},       {10, 144, 72, 20},      {-10, 96, 72, -13},
        {3, 1, 2, 2},     {-3, 1, 2, -2},         {5, 1, -2, -3},         {7, 0, 3, 0},
        {1, 1, 0, -1},    {0x7FFFFFFF, 2, 1, -1}, {0x40000000, 4, 2, -1}, {0x7FFFFFFF, 3, 3, 0x7FFFFFFF},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.expected) << c.a << " * " << c.b << " / " << c.c;
}

TEST_F(DrawTest, ContextsKeepTheirColoursAndMode) {
    EXPECT_EQ(GetTextColor(m_dc), RGB(0, 0, 0));
    EXPECT_EQ(GetBkColor(m_dc), RGB(255, 255, 255));
    EXPECT_EQ(GetBkMode(m_dc), OPAQUE);
    EXPECT_EQ(SetTextColor(m_dc, RGB(9, 8, 7)), RGB(0, 0, 0));
    EXPECT_EQ(SetBkColor(m_dc, RGB(1, 1, 1)), RGB(255, 255, 255));
    EXPECT_EQ(SetBkMode(m_dc, TRANSPARENT), OPAQUE);
    EXPECT_EQ(SetBkMode(m_dc, 7), 0) << "no such mode";
    EXPECT_EQ(GetTextColor(m_dc), RGB(9, 8, 7));
    EXPECT_EQ(GetBkColor(m_dc), RGB(1, 1, 1));
    EXPECT_EQ(GetBkMode(m_dc), TRANSPARENT);
    HDC other = GetDC(m_parent);
    EXPECT_EQ(GetTextColor(other), RGB(0, 0, 0)) << "each context its own";
    ReleaseDC(m_parent, other);
    EXPECT_EQ(GetTextColor(other), CLR_INVALID);

    LOGFONTW font{};
    font.lfHeight = -30;
    HFONT made = CreateFontIndirectW(&font);
    HGDIOBJ previous = SelectObject(m_dc, made);
    LOGFONTW system{};
    ASSERT_EQ(GetObjectW(previous, sizeof(system), &system), static_cast<int>(sizeof(LOGFONTW)));
    EXPECT_EQ(GetCurrentObject(m_dc, OBJ_FONT), made);
    EXPECT_EQ(SelectObject(m_dc, previous), made);
    DeleteObject(made);
}

TEST_F(DrawTest, FillAndFrameColourExactlyTheirRectangles) {
    HBRUSH red = CreateSolidBrush(RGB(200, 0, 0));
    HBRUSH blue = CreateSolidBrush(RGB(0, 0, 200));
    RECT fill{10, 10, 20, 15};
    RECT frame{30, 30, 40, 36};
    EXPECT_EQ(FillRect(m_dc, &fill, red), 1);
    EXPECT_EQ(FrameRect(m_dc, &frame, blue), 1);
    RECT outside{-50, -50, 5, 5};
    EXPECT_EQ(FillRect(m_dc, &outside, red), 1) << "cut to the surface";
    RECT nothing{0, 0, 300, 200};
    EXPECT_EQ(FillRect(m_dc, &nothing, static_cast<HBRUSH>(GetStockObject(NULL_BRUSH))), 1);
    const struct {
        LONG x, y;
        std::uint32_t expected;
    } points[] = {
        {10, 10, PixelOf(RGB(200, 0, 0))},
        {19, 14, PixelOf(RGB(200, 0, 0))},
        {20, 14, kWhite},
        {19, 15, kWhite},
        {30, 30, PixelOf(RGB(0, 0, 200))},
        {39, 35, PixelOf(RGB(0, 0, 200))},
        {35, 30, PixelOf(RGB(0, 0, 200))},
        {35, 33, kWhite},
        {40, 35, kWhite},
        {4, 4, PixelOf(RGB(200, 0, 0))},
        {5, 5, kWhite},
    };
    for (const auto& p : points)
        EXPECT_EQ(At(p.x, p.y), p.expected) << p.x << "," << p.y;
    DeleteObject(red);
    EXPECT_EQ(FillRect(m_dc, &fill, red), 0) << "a deleted brush";
    DeleteObject(blue);
}

TEST_F(DrawTest, ARegionDifferenceFillsTheFrameAroundTheHoleOnly) {
    const DWORD before = WinGdiTest::LiveObjects();
    HBRUSH grey = CreateSolidBrush(RGB(0xE5, 0xE5, 0xE5));
    HRGN ring = CreateRectRgn(110, 80, 10, 10); // corners in either order
    HRGN hole = CreateRectRgn(30, 20, 60, 50);
    HRGN far = CreateRectRgn(200, 150, 220, 170);
    ASSERT_TRUE(ring && hole && far);
    EXPECT_EQ(CombineRgn(ring, ring, far, RGN_DIFF), SIMPLEREGION);
    EXPECT_EQ(CombineRgn(ring, ring, hole, RGN_DIFF), COMPLEXREGION);
    EXPECT_EQ(CombineRgn(ring, ring, hole, 2), ERROR) << "only the difference is made";
    EXPECT_EQ(CombineRgn(ring, ring, reinterpret_cast<HRGN>(grey), RGN_DIFF), ERROR);
    EXPECT_EQ(FillRgn(m_dc, ring, grey), TRUE);
    const std::uint32_t g = PixelOf(RGB(0xE5, 0xE5, 0xE5));
    // Inside the region exactly: [10, 110) x [10, 80) without [30, 60) x [20, 50).
    for (LONG y = 0; y < 100; y += 3)
        for (LONG x = 0; x < 130; x += 3) {
            const bool inRing = x >= 10 && x < 110 && y >= 10 && y < 80;
            const bool inHole = x >= 30 && x < 60 && y >= 20 && y < 50;
            ASSERT_EQ(At(x, y), inRing && !inHole ? g : kWhite) << x << "," << y;
        }
    HRGN covered = CreateRectRgn(0, 0, 10, 10);
    HRGN cover = CreateRectRgn(-5, -5, 20, 20);
    EXPECT_EQ(CombineRgn(covered, covered, cover, RGN_DIFF), NULLREGION);
    EXPECT_EQ(FillRgn(m_dc, covered, grey), TRUE);
    EXPECT_EQ(At(5, 5), kWhite);
    for (HGDIOBJ object : {static_cast<HGDIOBJ>(ring), static_cast<HGDIOBJ>(hole), static_cast<HGDIOBJ>(far),
                           static_cast<HGDIOBJ>(covered), static_cast<HGDIOBJ>(cover)})
        EXPECT_EQ(DeleteObject(object), TRUE);
    EXPECT_EQ(FillRgn(m_dc, ring, grey), FALSE) << "a deleted region";
    DeleteObject(grey);
    EXPECT_EQ(WinGdiTest::LiveObjects(), before);
}

TEST_F(DrawTest, AFocusRectangleDrawnTwiceLeavesNothing) {
    RECT focus{50, 50, 60, 58};
    ASSERT_TRUE(DrawFocusRect(m_dc, &focus));
    EXPECT_EQ(At(50, 50), 0xFF000000u) << "white inverted";
    EXPECT_EQ(At(51, 50), kWhite) << "every other pixel";
    EXPECT_EQ(At(55, 54), kWhite) << "the inside stays";
    ASSERT_TRUE(DrawFocusRect(m_dc, &focus));
    for (LONG x = 48; x < 62; ++x) {
        for (LONG y = 48; y < 60; ++y)
            ASSERT_EQ(At(x, y), kWhite) << x << "," << y;
    }
}

TEST_F(DrawTest, ButtonFramesAreBevels) {
    RECT raised{10, 10, 40, 30};
    RECT sunken{50, 10, 80, 30};
    RECT box{90, 10, 103, 23};
    ASSERT_TRUE(DrawFrameControl(m_dc, &raised, DFC_BUTTON, DFCS_BUTTONPUSH | DFCS_HOT));
    ASSERT_TRUE(DrawFrameControl(m_dc, &sunken, DFC_BUTTON, DFCS_BUTTONPUSH | DFCS_PUSHED));
    ASSERT_TRUE(DrawFrameControl(m_dc, &box, DFC_BUTTON, DFCS_BUTTONCHECK | DFCS_CHECKED));
    EXPECT_FALSE(DrawFrameControl(m_dc, &box, 3, 0)) << "only buttons";
    const struct {
        LONG x, y;
        int colour;
    } points[] = {
        {10, 10, COLOR_BTNHIGHLIGHT}, {39, 29, COLOR_3DDKSHADOW}, {11, 11, COLOR_3DLIGHT},
        {38, 28, COLOR_BTNSHADOW},    {25, 20, COLOR_BTNFACE},    {50, 10, COLOR_3DDKSHADOW},
        {79, 29, COLOR_BTNHIGHLIGHT}, {65, 20, COLOR_BTNFACE},    {90, 10, COLOR_BTNSHADOW},
        {92, 12, COLOR_WINDOW},       {96, 16, COLOR_WINDOWTEXT},
    };
    for (const auto& p : points)
        EXPECT_EQ(At(p.x, p.y), PixelOf(GetSysColor(p.colour))) << p.x << "," << p.y;
}

// The callback fills its context's left half with a colour, its right half stays transparent.
BOOL HalfFill(HDC dc, LPARAM data, WPARAM, int width, int height) {
    HBRUSH brush = CreateSolidBrush(static_cast<COLORREF>(data));
    RECT half{0, 0, width / 2, height};
    FillRect(dc, &half, brush);
    DeleteObject(brush);
    return TRUE;
}

BOOL Refuse(HDC, LPARAM, WPARAM, int, int) {
    return FALSE;
}

TEST_F(DrawTest, DrawStateComposesTheCallbacksPixelsAndGreysThemWhenDisabled) {
    const COLORREF colour = RGB(200, 100, 0);
    ASSERT_TRUE(
        DrawStateW(m_dc, nullptr, HalfFill, static_cast<LPARAM>(colour), 0, 20, 20, 10, 6, DSS_NORMAL));
    ASSERT_TRUE(DrawStateW(m_dc, nullptr, HalfFill, static_cast<LPARAM>(colour), 0, 20, 40, 10, 6,
                           DST_COMPLEX | DSS_DISABLED));
    EXPECT_EQ(At(20, 20), PixelOf(colour));
    EXPECT_EQ(At(24, 25), PixelOf(colour));
    EXPECT_EQ(At(25, 22), kWhite) << "what the callback left transparent shows what was there";
    EXPECT_EQ(At(20, 26), kWhite) << "nothing below its height";
    // Greyed: half grey plus half the brightness (77 r + 150 g + 29 b) / 256.
    const std::uint32_t brightness = (77 * 200 + 150 * 100 + 29 * 0) >> 8;
    const std::uint32_t grey = 128 + brightness / 2;
    EXPECT_EQ(At(22, 42), 0xFF000000u | grey << 16 | grey << 8 | grey);
    EXPECT_EQ(At(27, 42), kWhite);

    EXPECT_FALSE(DrawStateW(m_dc, nullptr, Refuse, 0, 0, 60, 60, 4, 4, DSS_NORMAL));
    EXPECT_FALSE(DrawStateW(m_dc, nullptr, nullptr, 0, 0, 60, 60, 4, 4, DSS_NORMAL));
    EXPECT_FALSE(DrawStateW(m_dc, nullptr, HalfFill, 0, 0, 60, 60, 0, 4, DSS_NORMAL));
}

TEST_F(DrawTest, TextIsDrawnInTheContextsColourInsideItsRectangle) {
    SetTextColor(m_dc, RGB(0, 0, 255));
    SetBkColor(m_dc, RGB(255, 255, 0));
    RECT area{20, 20, 200, 60};
    const int height = DrawTextW(m_dc, L"Wide text", -1, &area, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    ASSERT_GT(height, 10);
    int ink = 0, background = 0, outside = 0;
    LONG width = 0;
    std::vector<std::uint32_t> pixels;
    ASSERT_TRUE(WinGdiTest::ReadWindowPixels(m_parent, &width, nullptr, &pixels));
    for (LONG y = 0; y < 200; ++y) {
        for (LONG x = 0; x < 300; ++x) {
            const std::uint32_t p = pixels[static_cast<std::size_t>(y) * width + x];
            const bool in = x >= 20 && x < 200 && y >= 20 && y < 60;
            // Letters are smoothed at their edges: ink is what is mostly the text colour.
            if ((p & 0xFF) > 200 && (p >> 8 & 0xFF) < 100 && (p >> 16 & 0xFF) < 100)
                ++ink;
            if (p == PixelOf(RGB(255, 255, 0)))
                ++background;
            if (!in && p != kWhite)
                ++outside;
        }
    }
    EXPECT_GT(ink, 20) << "the letters";
    EXPECT_GT(background, 100) << "an opaque background behind them";
    EXPECT_EQ(outside, 0);

    RECT measured{0, 0, 0, 0};
    EXPECT_EQ(DrawTextW(m_dc, L"Wide text", 4, &measured, DT_CALCRECT), height);
    RECT longer{0, 0, 0, 0};
    DrawTextW(m_dc, L"Wide text", -1, &longer, DT_CALCRECT);
    EXPECT_GT(measured.right, 10);
    EXPECT_GT(longer.right, measured.right);
    RECT twoLines{0, 0, 0, 0};
    EXPECT_EQ(DrawTextW(m_dc, L"one\ntwo", -1, &twoLines, DT_CALCRECT), 2 * height);

    // A font deleted under the context: the text still comes, in the system font.
    LOGFONTW large{};
    large.lfHeight = -40;
    HFONT font = CreateFontIndirectW(&large);
    SelectObject(m_dc, font);
    RECT big{0, 0, 0, 0};
    EXPECT_GT(DrawTextW(m_dc, L"Wide text", -1, &big, DT_CALCRECT), 40);
    DeleteObject(font);
    RECT fallback{0, 0, 0, 0};
    EXPECT_EQ(DrawTextW(m_dc, L"Wide text", -1, &fallback, DT_CALCRECT), height);
}

int Collect(const LOGFONTW* font, const TEXTMETRICW*, DWORD type, LPARAM data) {
    auto* seen = reinterpret_cast<std::vector<std::pair<std::wstring, DWORD>>*>(data);
    seen->emplace_back(font->lfFaceName, type);
    return seen->size() < 100000 ? 1 : 0;
}

int StopAtSecond(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM data) {
    return ++*reinterpret_cast<int*>(data) < 2 ? 1 : 0;
}

TEST_F(DrawTest, FontFamiliesComeFromAFixedListUnderTest) {
    WinGdiTest::UseFontList({{L"Alpha", L"Regular", TRUETYPE_FONTTYPE},
                             {L"Alpha", L"Bold", TRUETYPE_FONTTYPE},
                             {L"Pixel", L"Regular", RASTER_FONTTYPE},
                             {L"A family whose name is far too long to fit", L"Regular", TRUETYPE_FONTTYPE}});
    LOGFONTW all{};
    all.lfCharSet = DEFAULT_CHARSET;
    std::vector<std::pair<std::wstring, DWORD>> seen;
    EXPECT_EQ(EnumFontFamiliesExW(m_dc, &all, Collect, reinterpret_cast<LPARAM>(&seen), 0), 1);
    const std::vector<std::pair<std::wstring, DWORD>> expected = {
        {L"Alpha", TRUETYPE_FONTTYPE}, {L"Alpha", TRUETYPE_FONTTYPE}, {L"Pixel", RASTER_FONTTYPE}};
    EXPECT_EQ(seen, expected);

    LOGFONTW one = all;
    std::wcscpy(one.lfFaceName, L"pixel");
    seen.clear();
    EnumFontFamiliesExW(m_dc, &one, Collect, reinterpret_cast<LPARAM>(&seen), 0);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].first, L"Pixel");

    int calls = 0;
    EXPECT_EQ(EnumFontFamiliesExW(m_dc, &all, StopAtSecond, reinterpret_cast<LPARAM>(&calls), 0), 0);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(EnumFontFamiliesExW(nullptr, &all, StopAtSecond, reinterpret_cast<LPARAM>(&calls), 0), 0);
    WinGdiTest::UseInstalledFonts();
}

TEST_F(DrawTest, InstalledFontFamiliesComeFromFontconfig) {
    WinGdiTest::UseInstalledFonts();
    LOGFONTW all{};
    all.lfCharSet = DEFAULT_CHARSET;
    std::vector<std::pair<std::wstring, DWORD>> seen;
    EnumFontFamiliesExW(m_dc, &all, Collect, reinterpret_cast<LPARAM>(&seen), 0);
    // The build machine's packages bring the DejaVu fonts.
    const auto dejaVu =
        std::find(seen.begin(), seen.end(), std::make_pair(std::wstring(L"DejaVu Sans"), TRUETYPE_FONTTYPE));
    EXPECT_NE(dejaVu, seen.end());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end(),
                               [](const auto& a, const auto& b) { return a.first < b.first; }));
}

TEST(ColorDialog, AnswersFromTheScriptAndRecordsWhatItWasGiven) {
    WinUserTest::ResetColorDialog();
    COLORREF custom[16] = {};
    custom[3] = RGB(1, 2, 3);
    CHOOSECOLORW choice{};
    choice.lStructSize = sizeof(choice);
    choice.hwndOwner = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1234));
    choice.rgbResult = RGB(10, 20, 30);
    choice.lpCustColors = custom;
    choice.Flags = CC_RGBINIT | CC_FULLOPEN;

    WinUserTest::QueueColorDialogAnswer(true, RGB(40, 50, 60));
    WinUserTest::QueueColorDialogAnswer(false);
    EXPECT_TRUE(ChooseColorW(&choice));
    EXPECT_EQ(choice.rgbResult, RGB(40, 50, 60));
    EXPECT_FALSE(ChooseColorW(&choice));
    EXPECT_EQ(choice.rgbResult, RGB(40, 50, 60)) << "a cancelled dialog changes nothing";
    EXPECT_FALSE(ChooseColorW(&choice)) << "an empty script cancels";
    EXPECT_EQ(CommDlgExtendedError(), 0u);

    const std::vector<WinUserTest::ColorDialogCall> calls = WinUserTest::ColorDialogCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].owner, choice.hwndOwner);
    EXPECT_EQ(calls[0].initial, RGB(10, 20, 30));
    EXPECT_EQ(calls[0].flags, CC_RGBINIT | CC_FULLOPEN);
    ASSERT_EQ(calls[0].custom.size(), 16u);
    EXPECT_EQ(calls[0].custom[3], RGB(1, 2, 3));
    EXPECT_EQ(calls[1].initial, RGB(40, 50, 60));

    choice.lStructSize = 4;
    EXPECT_FALSE(ChooseColorW(&choice));
    EXPECT_EQ(CommDlgExtendedError(), CDERR_STRUCTSIZE);
    EXPECT_FALSE(ChooseColorW(nullptr));
    EXPECT_EQ(WinUserTest::ColorDialogCalls().size(), 3u) << "a refused call records nothing";
    WinUserTest::ResetColorDialog();
}

} // namespace
