// Packed colours from option texts, the colour chooser and the font faces of a device context.
#include "plugin_framework/PackedColor.h"
#include "plugin_framework/TColorPicker.h"
#include "plugin_framework/TFontInfo.h"
#include "plugin_framework/TWindow.h"

#include "platform/win/WinColorDialog.h"
#include "platform/win/WinFonts.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ParseHexColor, TakesOnlyANumberSignWithSixOrEightHexDigits) {
    constexpr DWORD kKept = 0x12345678;
    const struct {
        const wchar_t* text;
        bool parsed;
        DWORD colour;
    } cases[] = {
        {L"#ff8000", true, 0xFF0080FF},
        {L"#FF8000", true, 0xFF0080FF},
        {L"#aBcDeF", true, 0xFFEFCDAB},
        {L"#00000000", true, 0x00000000},
        {L"#01020380", true, 0x80030201},
        {L"#102030ff", true, 0xFF302010},
        {L"", false, kKept},
        {L"#", false, kKept},
        {L"#fff", false, kKept},
        {L"#12345", false, kKept},
        {L"#1234567", false, kKept},
        {L"#123456789", false, kKept},
        {L"#12345g", false, kKept},
        {L"#12 456", false, kKept},
        {L"#-12345", false, kKept},
        {L"0xff8000", false, kKept},
        {L"ff8000", false, kKept},
        {L"ff80001", false, kKept},
        {L"#\x0663"
         L"12345",
         false, kKept},
    };
    for (const auto& c : cases) {
        DWORD colour = kKept;
        EXPECT_EQ(ParseHexColor(c.text, colour), c.parsed) << "\"" << TStringA(c.text) << "\"";
        EXPECT_EQ(colour, c.colour) << "\"" << TStringA(c.text) << "\"";
    }
}

TEST(ParseHexColor, ReadsWhatTheOptionsWrite) {
    // Red is the low byte; the flag byte is not written and reads back as 0xFF.
    const struct {
        DWORD colour;
        const wchar_t* text;
    } cases[] = {{0x00000000u, L"#000000"},
                 {0x00FFFFFFu, L"#ffffff"},
                 {0x00123456u, L"#563412"},
                 {0x7FA0B0C0u, L"#c0b0a0"}};
    for (const auto& c : cases) {
        const TString text = HexColor(c.colour);
        EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(text)), c.text);
        DWORD read = 0;
        ASSERT_TRUE(ParseHexColor(text, read));
        EXPECT_EQ(read, PackedColor::SetFlagByte(c.colour));
    }
}

class ColourPicker : public ::testing::Test {
protected:
    void SetUp() override { WinUserTest::ResetColorDialog(); }
    void TearDown() override { WinUserTest::ResetColorDialog(); }
};

TEST_F(ColourPicker, AConfirmedChoiceComesBackWithTheFlagByteSet) {
    TColorData data{};
    data.colour = 0x7F102030; // a flag byte the dialog must not see
    data.custom[5] = RGB(9, 9, 9);
    data.owner = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x777));
    TColorPicker picker;
    picker.SetColorData(&data);
    WinUserTest::QueueColorDialogAnswer(true, RGB(0x40, 0x50, 0x60));
    DWORD chosen = 0;
    ASSERT_TRUE(picker.Choose(chosen));
    EXPECT_EQ(chosen, 0xFF605040u);
    const std::vector<WinUserTest::ColorDialogCall> calls = WinUserTest::ColorDialogCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].initial, 0x00102030u) << "the current colour, flag byte cleared";
    EXPECT_EQ(calls[0].flags, CC_RGBINIT);
    EXPECT_EQ(calls[0].owner, data.owner);
    EXPECT_EQ(calls[0].custom[5], RGB(9, 9, 9));
    EXPECT_EQ(data.colour, 0x7F102030u) << "the record is the caller's to update";
}

TEST_F(ColourPicker, ACancelledChoiceGivesTheCurrentColour) {
    TColorData data{};
    data.colour = 0x7F102030;
    TColorPicker picker;
    DWORD chosen = 0x11111111;
    EXPECT_FALSE(picker.Choose(chosen)) << "no record";
    EXPECT_EQ(chosen, 0x11111111u);
    EXPECT_TRUE(WinUserTest::ColorDialogCalls().empty());
    picker.SetColorData(&data);
    WinUserTest::QueueColorDialogAnswer(false);
    EXPECT_FALSE(picker.Choose(chosen));
    EXPECT_EQ(chosen, 0x7F102030u) << "the current colour, flag byte as it was";
}

TEST(FontFaces, TrueTypeAndDeviceFacesEachOnce) {
    WinGdiTest::UseFontList({{L"Serif", L"Regular", TRUETYPE_FONTTYPE},
                             {L"Serif", L"Bold", TRUETYPE_FONTTYPE},
                             {L"Terminal", L"Regular", RASTER_FONTTYPE},
                             {L"Printer", L"Regular", DEVICE_FONTTYPE},
                             {L"Both", L"Regular", DEVICE_FONTTYPE | RASTER_FONTTYPE},
                             {L"Serif", L"Italic", TRUETYPE_FONTTYPE}});
    TWindow window;
    ASSERT_TRUE(window.Create(L"FontFacesWnd", 0, TWindow::TRect(0, 0, 10, 10), nullptr));
    HDC dc = window.GetDC();
    std::vector<TString> faces = {L"left over"};
    EXPECT_TRUE(EnumerateFontFaces(faces, dc));
    const std::vector<TString> expected = {L"Serif", L"Printer", L"Both"};
    EXPECT_EQ(faces, expected);
    window.ReleaseDC(dc);
    EXPECT_TRUE(EnumerateFontFaces(faces, nullptr));
    EXPECT_TRUE(faces.empty());
    WinGdiTest::UseInstalledFonts();
    window.Destroy();
}

} // namespace
