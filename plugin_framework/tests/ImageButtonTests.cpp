// Image buttons on real control windows under injected mouse input, drawn classically and, with the test
// visual-styles library, themed.
#include "ControlPanel.h"

#include "plugin_framework/TImgBtnCtrl.h"
#include "plugin_framework/WindowCanvas.h"

#include "platform/win/WinModule.h"
#include "platform/win/tests/uxtheme/TestUxTheme.h"

#include <vector>

using namespace controltest;

namespace {

constexpr int kButtonId = 31;
const TControl::TRect kButtonRect(20, 20, 80, 60); // 60 x 40
// The images are 16 x 16, centred: they cover (22, 12) to (38, 28) of the button, whose centre is (30, 20).
constexpr LONG kCentreX = 30;
constexpr LONG kCentreY = 20;
// Inside the button, outside its image and its focus rectangle.
constexpr LONG kFaceX = 6;
constexpr LONG kFaceY = 6;

constexpr DWORD Packed(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return 0xFF000000u | b << 16 | g << 8 | r;
}

// The grey a disabled picture of one colour turns into: half grey, plus half its brightness
// (77 r + 150 g + 29 b) / 256.
constexpr std::uint32_t GreyedPixel(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    const std::uint32_t grey = 128 + ((77 * r + 150 * g + 29 * b) >> 8) / 2;
    return 0xFF000000u | grey << 16 | grey << 8 | grey;
}

TiProImage* FlatImage(DWORD colour) {
    TiProImage* image = TiProImage::Create(graphtypes::TSize_T<LONG>(16, 16));
    TiProCanvas* canvas = TiProCanvas::CreateFromImage(*image);
    canvas->FillRectangle(TiProCanvas::TRect(0, 0, 16, 16), colour, IPRO_FILL_COPY);
    canvas->Release();
    delete canvas;
    return image;
}

class ImageButton : public ControlPanel {
protected:
    void SetUp() override {
        ASSERT_EQ(iproStartup(), 1);
        ControlPanel::SetUp();
        for (DWORD colour : {Packed(220, 0, 0), Packed(0, 200, 0), Packed(0, 0, 210), Packed(255, 255, 0)})
            m_images.push_back(FlatImage(colour));
        ASSERT_TRUE(m_panel.AddCommandHandler(kButtonId, m_clicks.Handler()));
    }
    void TearDown() override {
        m_button = TRefPtr<TImgBtnCtrl>();
        ControlPanel::TearDown();
        for (TiProImage* image : m_images) {
            image->Release();
            delete image;
        }
        WinModule::SetLibrarySearchFolders({});
        ResetOSVersionForTesting();
        iproShutdown();
    }

    // The button, made as a dialog makes it: a control window of the template, then its wrapper.
    void MakeButton() {
        ResetOSVersionForTesting();
        m_button = Make<TImgBtnCtrl>();
        HWND window = Control(L"button", BS_OWNERDRAW, kButtonId,
                              RECT{kButtonRect.left, kButtonRect.top, kButtonRect.right, kButtonRect.bottom});
        ASSERT_TRUE(m_button->Attach(window, false));
        m_button->SetNormalImage(m_images[0]);
        m_button->SetHotImage(m_images[1]);
        m_button->SetPressedImage(m_images[2]);
        m_button->SetDisabledImage(m_images[3]);
        Pump();
    }
    HWND Button() const { return m_button->GetHandle(); }
    std::uint32_t Centre() const { return Pixel(Button(), kCentreX, kCentreY); }
    std::uint32_t Face() const { return Pixel(Button(), kFaceX, kFaceY); }
    // Mouse input in the panel's coordinates.
    void Mouse(UINT message, LONG x, LONG y, WPARAM keys = 0) {
        Inject(m_panel.GetHandle(), message, x, y, keys);
    }

    // The calls the test library recorded; the test holds the library itself to read them.
    std::vector<ThemeCall> ThemeCalls() const {
        if (!m_library)
            return {};
        auto calls = reinterpret_cast<TestUxThemeCallsProc>(GetProcAddress(m_library, "TestUxThemeCalls"));
        std::vector<ThemeCall> out(static_cast<std::size_t>(calls(nullptr, 0)));
        calls(out.data(), static_cast<int>(out.size()));
        return out;
    }
    std::vector<int> DrawnStates() const {
        std::vector<int> states;
        for (const ThemeCall& call : ThemeCalls()) {
            if (call.kind == ThemeCallKind::kDrawBackground) {
                EXPECT_EQ(call.part, BP_PUSHBUTTON);
                states.push_back(call.state);
            }
        }
        return states;
    }

    std::vector<TiProImage*> m_images;
    TRefPtr<TImgBtnCtrl> m_button;
    Probe m_clicks;
    HMODULE m_library = nullptr;
};

const wchar_t* const kFullLibrary = L"" KV_TEST_THEME_FULL_DIR "/UXTHEME.so";
const wchar_t* const kLackingLibrary = L"" KV_TEST_THEME_LACKING_DIR "/uxtheme.so";

const std::uint32_t kNormalPixel = PixelOf(RGB(220, 0, 0));

TEST_F(ImageButton, ClassicallyOnlyTheNormalAndTheDisabledImagesAreDrawn) {
    MakeButton();
    ASSERT_EQ(m_button->GetTheme(), 0u) << "no visual-styles library on this system";
    EXPECT_EQ(m_button->GetHotImage(), m_images[1]);
    EXPECT_EQ(Centre(), kNormalPixel);
    EXPECT_EQ(Face(), PixelOf(GetSysColor(COLOR_BTNFACE)));
    EXPECT_EQ(Pixel(Button(), 0, 0), PixelOf(GetSysColor(COLOR_BTNHIGHLIGHT))) << "a raised frame";

    Mouse(WM_MOUSEMOVE, 50, 40);
    EXPECT_TRUE(m_button->IsHovering());
    EXPECT_EQ(Centre(), kNormalPixel) << "the hot image is never drawn";
    Mouse(WM_LBUTTONDOWN, 50, 40, MK_LBUTTON);
    EXPECT_EQ(SendMessageW(Button(), BM_GETSTATE, 0, 0) & BST_PUSHED, BST_PUSHED);
    EXPECT_EQ(Centre(), kNormalPixel) << "nor the pressed one";
    EXPECT_EQ(Pixel(Button(), 0, 0), 0xFF000000u) << "focused: a black frame";
    EXPECT_EQ(Pixel(Button(), 1, 1), PixelOf(GetSysColor(COLOR_BTNSHADOW))) << "pressed: a shadow frame";
    EXPECT_EQ(Pixel(Button(), 23, 12), PixelOf(GetSysColor(COLOR_BTNFACE))) << "the image moved right";
    EXPECT_EQ(Pixel(Button(), 23, 13), kNormalPixel) << "and down";
    Mouse(WM_LBUTTONUP, 50, 40);
    EXPECT_EQ(m_clicks.calls, 1);

    EnableWindow(Button(), FALSE);
    Pump();
    EXPECT_EQ(Centre(), GreyedPixel(255, 255, 0)) << "the disabled image, greyed";
    EnableWindow(Button(), TRUE);
    Pump();
    EXPECT_EQ(Centre(), kNormalPixel) << "only while disabled";
    // Without a disabled image the normal one is greyed.
    m_button->SetDisabledImage(nullptr);
    EnableWindow(Button(), FALSE);
    Pump();
    EXPECT_EQ(Centre(), GreyedPixel(220, 0, 0));
}

TEST_F(ImageButton, ReleasedOutsideItSendsNoClickAndInsideOne) {
    MakeButton();
    Mouse(WM_MOUSEMOVE, 50, 40);
    Mouse(WM_LBUTTONDOWN, 50, 40, MK_LBUTTON);
    ASSERT_EQ(GetCapture(), Button());
    Mouse(WM_MOUSEMOVE, 150, 150, MK_LBUTTON);
    EXPECT_FALSE(m_button->IsHovering());
    EXPECT_EQ(SendMessageW(Button(), BM_GETSTATE, 0, 0) & BST_PUSHED, 0) << "it looks released outside";
    Mouse(WM_LBUTTONUP, 150, 150);
    EXPECT_EQ(m_clicks.calls, 0);
    EXPECT_EQ(GetCapture(), nullptr);

    Mouse(WM_MOUSEMOVE, 50, 40);
    Mouse(WM_LBUTTONDOWN, 50, 40, MK_LBUTTON);
    Mouse(WM_MOUSEMOVE, 150, 150, MK_LBUTTON);
    Mouse(WM_MOUSEMOVE, 55, 45, MK_LBUTTON);
    EXPECT_EQ(SendMessageW(Button(), BM_GETSTATE, 0, 0) & BST_PUSHED, BST_PUSHED) << "pushed again inside";
    Mouse(WM_LBUTTONUP, 55, 45);
    EXPECT_EQ(m_clicks.calls, 1);
    EXPECT_EQ(HIWORD(m_clicks.last.wParam), BN_CLICKED);
}

class ThemedImageButton : public ImageButton {
protected:
    void SetUp() override {
        ImageButton::SetUp();
        WinModule::SetLibrarySearchFolders({KV_TEST_THEME_FULL_DIR});
        m_library = LoadLibraryExW(kFullLibrary, 0, 0);
        ASSERT_NE(m_library, nullptr);
        // A library stays mapped once loaded: what earlier tests recorded is still there.
        reinterpret_cast<TestUxThemeResetProc>(GetProcAddress(m_library, "TestUxThemeReset"))();
    }
    void TearDown() override {
        ImageButton::TearDown();
        FreeLibrary(m_library);
    }
};

TEST_F(ThemedImageButton, TheFullLibraryDrawsEachStateOfThePushButton) {
    MakeButton();
    ASSERT_NE(m_button->GetTheme(), 0u);
    const std::vector<ThemeCall> opened = ThemeCalls();
    ASSERT_FALSE(opened.empty());
    EXPECT_EQ(opened[0].kind, ThemeCallKind::kOpen);
    EXPECT_EQ(opened[0].window, Button());
    EXPECT_STREQ(opened[0].classList, L"Button");
    EXPECT_EQ(DrawnStates().back(), PBS_NORMAL);
    EXPECT_EQ(Face(), PixelOf(TestThemeStateColour(PBS_NORMAL)));
    EXPECT_EQ(Centre(), kNormalPixel) << "in the theme's content rectangle";

    Mouse(WM_MOUSEMOVE, 50, 40);
    EXPECT_EQ(DrawnStates().back(), PBS_HOT);
    EXPECT_EQ(Face(), PixelOf(TestThemeStateColour(PBS_HOT)));
    EXPECT_EQ(Centre(), kNormalPixel) << "hot, with the normal image";
    Mouse(WM_LBUTTONDOWN, 50, 40, MK_LBUTTON);
    EXPECT_EQ(DrawnStates().back(), PBS_PRESSED);
    EXPECT_EQ(Centre(), kNormalPixel) << "pressed, with the normal image";
    Mouse(WM_MOUSEMOVE, 150, 150, MK_LBUTTON);
    EXPECT_EQ(DrawnStates().back(), PBS_HOT) << "held down away from the button";
    Mouse(WM_LBUTTONUP, 150, 150);
    EXPECT_EQ(m_clicks.calls, 0);
    EXPECT_EQ(DrawnStates().back(), PBS_DEFAULTED) << "released, it keeps the focus";
    EnableWindow(Button(), FALSE);
    Pump();
    EXPECT_EQ(DrawnStates().back(), PBS_DISABLED);
    EXPECT_EQ(Centre(), GreyedPixel(255, 255, 0));

    HWND window = Button();
    m_button->Destroy();
    EXPECT_EQ(ThemeCalls().back().kind, ThemeCallKind::kClose);
    EXPECT_TRUE(IsWindow(window)) << "its window stays with the panel";
    EXPECT_EQ(TControl::FromHandle(window), nullptr);
}

TEST_F(ThemedImageButton, HoverAndLeaveRepaint) {
    MakeButton();
    const std::size_t painted = DrawnStates().size();
    Mouse(WM_MOUSEMOVE, 50, 40);
    Mouse(WM_MOUSEMOVE, 52, 42);
    EXPECT_EQ(DrawnStates().size(), painted + 1) << "entering repaints once";
    Mouse(WM_MOUSEMOVE, 150, 150);
    EXPECT_TRUE(WinUserTest::PumpUntil([&] { return !m_button->IsHovering(); }, 5000))
        << "the leave notice came";
    EXPECT_EQ(DrawnStates().size(), painted + 2);
    EXPECT_EQ(DrawnStates().back(), PBS_NORMAL);

    // The record that tells it the mouse is gone does the same.
    Mouse(WM_MOUSEMOVE, 50, 40);
    ASSERT_TRUE(m_button->IsHovering());
    TMessageInfo gone{};
    gone.key = TImgBtnCtrl::kMouseGoneKey;
    EXPECT_EQ(m_button->OnCtlColor(&gone), 0);
    EXPECT_FALSE(m_button->IsHovering());
    Pump();
    EXPECT_EQ(DrawnStates().back(), PBS_NORMAL);
}

TEST_F(ImageButton, ClassicWithoutAFullLibraryOrOnAnotherSystem) {
    const struct {
        const char* what;
        const char* folder;
        const wchar_t* file;
        DWORD major;
        DWORD minor;
        bool libraryObject;
    } cases[] = {
        {"no library", nullptr, nullptr, 5, 1, true},
        {"a library lacking an entry point", KV_TEST_THEME_LACKING_DIR, kLackingLibrary, 5, 1, true},
        {"another system", KV_TEST_THEME_FULL_DIR, kFullLibrary, 6, 0, false},
    };
    for (const auto& c : cases) {
        WinModule::SetLibrarySearchFolders(c.folder ? std::vector<std::string>{c.folder}
                                                    : std::vector<std::string>{});
        WinSeams::SetReportedVersion(c.major, c.minor);
        MakeButton();
        EXPECT_EQ(m_button->GetThemeLibrary() != nullptr, c.libraryObject) << c.what;
        if (m_button->GetThemeLibrary()) {
            EXPECT_FALSE(m_button->GetThemeLibrary()->IsLoaded()) << c.what;
        }
        if (c.file) {
            HMODULE probe = LoadLibraryExW(c.file, 0, 0);
            ASSERT_NE(probe, nullptr);
            EXPECT_EQ(WinModule::LoadCount(probe), 1u) << c.what << ": only the test holds the library";
            FreeLibrary(probe);
        }
        EXPECT_EQ(m_button->GetTheme(), 0u);
        EXPECT_EQ(Face(), PixelOf(GetSysColor(COLOR_BTNFACE))) << c.what;
        EXPECT_EQ(Centre(), kNormalPixel) << c.what;
        m_button->Destroy();
        DestroyWindow(GetDlgItem(m_panel.GetHandle(), kButtonId));
        m_button = TRefPtr<TImgBtnCtrl>();
    }
}

TEST_F(ImageButton, ACanvasOverTheButtonDrawsIntoItsPixels) {
    MakeButton();
    TiProCanvas* canvas = nullptr;
    HDC dc = nullptr;
    ASSERT_TRUE(CreateControlCanvas(m_button.Get(), canvas, dc));
    canvas->FillRectangle(TiProCanvas::TRect(0, 0, 5, 5), Packed(1, 2, 3), IPRO_FILL_COPY);
    EXPECT_TRUE(ReleaseControlCanvas(m_button.Get(), canvas, dc));
    EXPECT_EQ(canvas, nullptr);
    EXPECT_EQ(Pixel(Button(), 2, 2), PixelOf(RGB(1, 2, 3)));
    EXPECT_FALSE(CreateControlCanvas(nullptr, canvas, dc));
    EXPECT_FALSE(ReleaseControlCanvas(m_button.Get(), canvas, dc)) << "no canvas to give back";
    TRefPtr<TImgBtnCtrl> unbound = Make<TImgBtnCtrl>();
    EXPECT_FALSE(CreateControlCanvas(unbound.Get(), canvas, dc));
    EXPECT_EQ(dc, nullptr);
}

} // namespace
