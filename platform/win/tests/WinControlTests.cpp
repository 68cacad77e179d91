#include "ControlFixture.h"

#include "platform/win/WinGdiDraw.h"

#include <string>

using namespace usertest;

namespace {

TEST_F(ControlTest, StandardClassesExistForEveryModuleAndNameThemselves) {
    const wchar_t* names[] = {L"static",
                              L"EDIT",
                              L"Button",
                              L"combobox",
                              L"ListBox",
                              L"msctls_progress32",
                              L"msctls_trackbar32",
                              L"MSCTLS_UPDOWN32"};
    for (const wchar_t* name : names) {
        HWND control = Control(name, 0, 1);
        ASSERT_NE(control, nullptr) << "class " << std::wstring(name).size();
        wchar_t className[32];
        ASSERT_GT(GetClassNameW(control, className, 32), 0);
        EXPECT_EQ(wcscasecmp(className, name), 0);
        WNDCLASSW info{};
        EXPECT_TRUE(GetClassInfoW(NewInstance(), name, &info)) << "found from any module";
        EXPECT_FALSE(UnregisterClassW(name, m_instance)) << "a module cannot take the system's class away";
        DestroyWindow(control);
    }
}

TEST_F(ControlTest, CheckStatesFollowTheButtonType) {
    const struct {
        DWORD type;
        WPARAM set;
        LRESULT expected;
    } cases[] = {
        {BS_AUTOCHECKBOX, BST_CHECKED, BST_CHECKED},
        {BS_AUTOCHECKBOX, BST_INDETERMINATE, BST_CHECKED},
        {BS_AUTOCHECKBOX, BST_UNCHECKED, BST_UNCHECKED},
        {BS_AUTO3STATE, BST_INDETERMINATE, BST_INDETERMINATE},
        {BS_3STATE, BST_CHECKED, BST_CHECKED},
        {BS_AUTORADIOBUTTON, BST_CHECKED, BST_CHECKED},
        {BS_PUSHBUTTON, BST_CHECKED, BST_UNCHECKED},
        {BS_OWNERDRAW, BST_CHECKED, BST_UNCHECKED},
    };
    for (const auto& c : cases) {
        HWND button = Control(L"button", c.type, 5);
        SendMessageW(button, BM_SETCHECK, c.set, 0);
        EXPECT_EQ(SendMessageW(button, BM_GETCHECK, 0, 0), c.expected)
            << "type " << c.type << " set " << c.set;
        EXPECT_EQ(SendMessageW(button, BM_GETSTATE, 0, 0) & 3, c.expected);
        DestroyWindow(button);
    }
}

TEST_F(ControlTest, AClickSendsOneBnClickedAndTogglesAnAutomaticCheckBox) {
    HWND box = Control(L"button", BS_AUTOCHECKBOX, 7, RECT{10, 10, 110, 30}, L"Check");
    Pump();
    Click(box, 20, 10);
    const std::vector<Seen> clicks = Commands(BN_CLICKED);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(LOWORD(clicks[0].wParam), 7);
    EXPECT_EQ(clicks[0].lParam, reinterpret_cast<LPARAM>(box));
    EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(GetFocus(), box) << "a clicked button takes the focus";
    EXPECT_EQ(GetCapture(), nullptr);
    Click(box, 20, 10);
    EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(Commands(BN_CLICKED).size(), 2u);
}

TEST_F(ControlTest, AButtonReleasedOutsideSendsNoClick) {
    HWND button = Control(L"button", BS_PUSHBUTTON, 3, RECT{10, 10, 110, 40}, L"OK");
    Pump();
    ASSERT_TRUE(WinUserTest::InjectMouse(button, WM_LBUTTONDOWN, 50, 15, MK_LBUTTON));
    Pump();
    EXPECT_EQ(GetCapture(), button);
    EXPECT_EQ(SendMessageW(button, BM_GETSTATE, 0, 0) & BST_PUSHED, BST_PUSHED);
    // Dragged out (the capture keeps the messages coming), then released in the parent.
    ASSERT_TRUE(WinUserTest::InjectMouse(button, WM_MOUSEMOVE, 150, 15, MK_LBUTTON));
    Pump();
    EXPECT_EQ(SendMessageW(button, BM_GETSTATE, 0, 0) & BST_PUSHED, 0) << "outside it looks released";
    ASSERT_TRUE(WinUserTest::InjectMouse(button, WM_LBUTTONUP, 150, 15, 0));
    Pump();
    EXPECT_TRUE(Commands(BN_CLICKED).empty());
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(ControlTest, AutomaticRadioButtonsUncheckTheirGroupOnly) {
    HWND a = Control(L"button", BS_AUTORADIOBUTTON | WS_GROUP, 1, RECT{0, 0, 50, 20});
    HWND b = Control(L"button", BS_AUTORADIOBUTTON, 2, RECT{0, 20, 50, 40});
    HWND c = Control(L"button", BS_AUTORADIOBUTTON | WS_GROUP, 3, RECT{0, 40, 50, 60});
    SendMessageW(a, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(c, BM_SETCHECK, BST_CHECKED, 0);
    Pump();
    Click(b, 5, 5);
    EXPECT_EQ(SendMessageW(a, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(SendMessageW(b, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(c, BM_GETCHECK, 0, 0), BST_CHECKED) << "another group";
}

TEST_F(ControlTest, OwnerDrawnButtonsHaveTheirParentDrawThemWithTheirState) {
    std::vector<DRAWITEMSTRUCT> items;
    m_recorder.handler = [&](HWND, UINT message, WPARAM, LPARAM lParam, LRESULT& result) {
        if (message != WM_DRAWITEM)
            return false;
        items.push_back(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        result = TRUE;
        return true;
    };
    HWND button = Control(L"button", BS_OWNERDRAW, 9, RECT{5, 5, 65, 35});
    Pump();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].CtlType, ODT_BUTTON);
    EXPECT_EQ(items[0].CtlID, 9u);
    EXPECT_EQ(items[0].hwndItem, button);
    EXPECT_EQ(items[0].itemAction, ODA_DRAWENTIRE);
    EXPECT_EQ(items[0].itemState, 0u);
    EXPECT_EQ(items[0].rcItem.right, 60);
    EXPECT_EQ(items[0].rcItem.bottom, 30);
    ASSERT_TRUE(WinUserTest::InjectMouse(button, WM_LBUTTONDOWN, 10, 10, MK_LBUTTON));
    Pump();
    ASSERT_FALSE(items.empty());
    EXPECT_EQ(items.back().itemState, ODS_SELECTED | ODS_FOCUS);
    ASSERT_TRUE(WinUserTest::InjectMouse(button, WM_LBUTTONUP, 10, 10, 0));
    EnableWindow(button, FALSE);
    Pump();
    EXPECT_EQ(items.back().itemState & (ODS_DISABLED | ODS_SELECTED), ODS_DISABLED);
}

TEST_F(ControlTest, StaticsAskTheirParentForColoursWhenTheyPaint) {
    const COLORREF background = RGB(20, 120, 40);
    HBRUSH brush = CreateSolidBrush(background);
    std::vector<Seen> asked;
    m_recorder.handler = [&](HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
        if (message != WM_CTLCOLORSTATIC)
            return false;
        asked.push_back(Seen{nullptr, message, wParam, lParam, 0});
        SetBkColor(reinterpret_cast<HDC>(wParam), background);
        result = reinterpret_cast<LRESULT>(brush);
        return true;
    };
    HWND text = Control(L"static", SS_LEFT, 4, RECT{0, 0, 120, 30}, L"Hello");
    Pump();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].lParam, reinterpret_cast<LPARAM>(text));
    EXPECT_NE(asked[0].wParam, 0u) << "the context it paints with";
    EXPECT_EQ(Pixel(text, 115, 25), PixelOf(background)) << "the brush fills the control";

    // Without an answer the platform's defaults: the button face.
    m_recorder.handler = nullptr;
    SetWindowTextW(text, L"Again");
    Pump();
    EXPECT_EQ(Pixel(text, 115, 25), PixelOf(GetSysColor(COLOR_BTNFACE)));
    DestroyWindow(text);
    DeleteObject(brush);
}

TEST_F(ControlTest, EditBoxesAskForEditColoursUnlessTheyAreReadOnly) {
    std::vector<UINT> asked;
    m_recorder.handler = [&](HWND, UINT message, WPARAM, LPARAM, LRESULT&) {
        if (message == WM_CTLCOLOREDIT || message == WM_CTLCOLORSTATIC)
            asked.push_back(message);
        return false;
    };
    HWND edit = Control(L"edit", 0, 6, RECT{0, 0, 100, 24}, L"abc");
    HWND readOnly = Control(L"edit", ES_READONLY, 7, RECT{0, 30, 100, 54}, L"xyz");
    Pump();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0], WM_CTLCOLOREDIT);
    EXPECT_EQ(asked[1], WM_CTLCOLORSTATIC);
    EXPECT_EQ(Pixel(edit, 98, 22), PixelOf(GetSysColor(COLOR_WINDOW)));
    EXPECT_EQ(Pixel(readOnly, 98, 22), PixelOf(GetSysColor(COLOR_BTNFACE)));

    SendMessageW(edit, WM_CHAR, L'd', 0);
    SendMessageW(edit, WM_CHAR, L'\b', 0);
    SendMessageW(edit, WM_CHAR, L'\b', 0);
    SendMessageW(readOnly, WM_CHAR, L'q', 0);
    wchar_t buffer[16];
    GetWindowTextW(edit, buffer, 16);
    EXPECT_STREQ(buffer, L"ab");
    GetWindowTextW(readOnly, buffer, 16);
    EXPECT_STREQ(buffer, L"xyz");
    EXPECT_EQ(Commands(EN_CHANGE).size(), 3u) << "one notice per change of the text";
}

TEST_F(ControlTest, ControlsKeepTheFontTheyAreGiven) {
    LOGFONTW description{};
    description.lfHeight = -20;
    HFONT font = CreateFontIndirectW(&description);
    HWND text = Control(L"static", 0, 1);
    EXPECT_EQ(SendMessageW(text, WM_GETFONT, 0, 0), 0);
    SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    EXPECT_EQ(SendMessageW(text, WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(font));
    DestroyWindow(text);
    DeleteObject(font);
}

// The list messages of the combo box (the list box answers the same through its own).
TEST_F(ControlTest, ComboBoxListKeepsItsBoundsAndSelection) {
    HWND combo = Control(L"combobox", 0, 2);
    auto add = [&](const wchar_t* text) {
        return SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    };
    EXPECT_EQ(add(L"alpha"), 0);
    EXPECT_EQ(add(L"gamma"), 1);
    EXPECT_EQ(SendMessageW(combo, CB_INSERTSTRING, 1, reinterpret_cast<LPARAM>(L"beta")), 1);
    EXPECT_EQ(SendMessageW(combo, CB_INSERTSTRING, 4, reinterpret_cast<LPARAM>(L"far")), CB_ERR);
    EXPECT_EQ(
        SendMessageW(combo, CB_INSERTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(L"delta")), 3);
    EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 4);

    const struct {
        WPARAM index;
        LRESULT length;
        const wchar_t* text;
    } items[] = {{0, 5, L"alpha"}, {1, 4, L"beta"},      {2, 5, L"gamma"},
                 {3, 5, L"delta"}, {4, CB_ERR, nullptr}, {static_cast<WPARAM>(-1), CB_ERR, nullptr}};
    for (const auto& item : items) {
        EXPECT_EQ(SendMessageW(combo, CB_GETLBTEXTLEN, item.index, 0), item.length);
        wchar_t buffer[16] = L"untouched";
        EXPECT_EQ(SendMessageW(combo, CB_GETLBTEXT, item.index, reinterpret_cast<LPARAM>(buffer)),
                  item.length);
        EXPECT_STREQ(buffer, item.text ? item.text : L"untouched");
    }

    EXPECT_EQ(
        SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(L"GAMMA")),
        2);
    EXPECT_EQ(SendMessageW(combo, CB_FINDSTRINGEXACT, 2, reinterpret_cast<LPARAM>(L"gamma")), 2)
        << "wraps round";
    EXPECT_EQ(
        SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(L"gam")),
        CB_ERR);

    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(SendMessageW(combo, CB_SETCURSEL, 2, 0), 2);
    EXPECT_EQ(SendMessageW(combo, CB_DELETESTRING, 0, 0), 3) << "the count left";
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 1) << "the selection moves with its item";
    EXPECT_EQ(SendMessageW(combo, CB_DELETESTRING, 9, 0), CB_ERR);
    EXPECT_EQ(SendMessageW(combo, CB_SETCURSEL, 7, 0), CB_ERR);
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), CB_ERR) << "a bad index selects nothing";
    EXPECT_EQ(SendMessageW(combo, CB_RESETCONTENT, 0, 0), CB_OKAY);
    EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 0);
}

TEST_F(ControlTest, SortedListsInsertInOrderWithoutRegardToCase) {
    HWND list = Control(L"listbox", LBS_SORT, 2);
    for (const wchar_t* text : {L"pear", L"Apple", L"fig", L"banana"})
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    const wchar_t* expected[] = {L"Apple", L"banana", L"fig", L"pear"};
    ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 4);
    for (WPARAM i = 0; i < 4; ++i) {
        wchar_t buffer[16];
        ASSERT_EQ(SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(buffer)),
                  static_cast<LRESULT>(std::wcslen(expected[i])));
        EXPECT_STREQ(buffer, expected[i]);
    }
    EXPECT_EQ(SendMessageW(list, LB_SETITEMDATA, 1, 77), TRUE);
    EXPECT_EQ(SendMessageW(list, LB_GETITEMDATA, 1, 0), 77);
    EXPECT_EQ(SendMessageW(list, LB_GETITEMDATA, 4, 0), LB_ERR);
}

TEST_F(ControlTest, ProgressBarKeepsItsPositionInsideItsRange) {
    HWND bar = Control(L"msctls_progress32", 0, 3, RECT{0, 0, 102, 12});
    EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, TRUE, 0), 0);
    EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 100);
    EXPECT_EQ(SendMessageW(bar, PBM_SETPOS, 40, 0), 0) << "the previous position";
    EXPECT_EQ(SendMessageW(bar, PBM_SETPOS, 140, 0), 40);
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 100);
    SendMessageW(bar, PBM_SETRANGE32, 0, 0);
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0) << "a range of 0..0 is accepted";
    Pump();
    EXPECT_EQ(Pixel(bar, 50, 6), PixelOf(GetSysColor(COLOR_BTNFACE))) << "and shows an empty bar";

    SendMessageW(bar, PBM_SETRANGE32, 10, 30);
    PBRANGE range{};
    SendMessageW(bar, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 10);
    EXPECT_EQ(range.iHigh, 30);
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 10);
    EXPECT_EQ(SendMessageW(bar, PBM_SETSTEP, 8, 0), 10) << "the step starts at 10";
    const int steps[] = {18, 26, 14, 22};
    for (int expected : steps) {
        SendMessageW(bar, PBM_STEPIT, 0, 0);
        EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), expected) << "past the end it starts over";
    }
    SendMessageW(bar, PBM_DELTAPOS, static_cast<WPARAM>(-100), 0);
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 10);

    // Half of 0..100 covers half of the 100 pixels inside the frame.
    SendMessageW(bar, PBM_SETRANGE32, 0, 100);
    SendMessageW(bar, PBM_SETPOS, 50, 0);
    Pump();
    EXPECT_EQ(Pixel(bar, 50, 6), PixelOf(GetSysColor(COLOR_HIGHLIGHT)));
    EXPECT_EQ(Pixel(bar, 52, 6), PixelOf(GetSysColor(COLOR_BTNFACE)));
}

TEST_F(ControlTest, TrackbarClampsAndReportsDragsToItsParent) {
    HWND slider = Control(L"msctls_trackbar32", 0, 8, RECT{0, 0, 116, 30});
    SendMessageW(slider, TBM_SETRANGEMIN, TRUE, 10);
    SendMessageW(slider, TBM_SETRANGEMAX, TRUE, 60);
    SendMessageW(slider, TBM_SETPOS, TRUE, 5);
    EXPECT_EQ(SendMessageW(slider, TBM_GETPOS, 0, 0), 10);
    SendMessageW(slider, TBM_SETPOS, TRUE, 99);
    EXPECT_EQ(SendMessageW(slider, TBM_GETPOS, 0, 0), 60);
    EXPECT_EQ(SendMessageW(slider, TBM_GETRANGEMIN, 0, 0), 10);
    EXPECT_EQ(SendMessageW(slider, TBM_GETRANGEMAX, 0, 0), 60);
    SendMessageW(slider, TBM_SETRANGEMAX, TRUE, 40);
    EXPECT_EQ(SendMessageW(slider, TBM_GETPOS, 0, 0), 40) << "a narrower range takes the position along";

    // The channel runs from x = 8 to x = 108: its middle is the middle of the range.
    Pump();
    Click(slider, 58, 15);
    const std::vector<Seen> scrolls = m_recorder.Of(WM_HSCROLL);
    ASSERT_EQ(scrolls.size(), 3u);
    EXPECT_EQ(LOWORD(scrolls[0].wParam), TB_THUMBTRACK);
    EXPECT_EQ(LOWORD(scrolls[1].wParam), TB_THUMBPOSITION);
    EXPECT_EQ(HIWORD(scrolls[1].wParam), 25);
    EXPECT_EQ(LOWORD(scrolls[2].wParam), TB_ENDTRACK);
    EXPECT_EQ(scrolls[1].lParam, reinterpret_cast<LPARAM>(slider));
    EXPECT_EQ(SendMessageW(slider, TBM_GETPOS, 0, 0), 25);
}

TEST_F(ControlTest, UpDownAsksItsParentBeforeItMoves) {
    HWND arrows = Control(L"msctls_updown32", 0, 12, RECT{0, 0, 16, 30});
    int low = 0, high = 0;
    SendMessageW(arrows, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low), reinterpret_cast<LPARAM>(&high));
    EXPECT_EQ(low, 100) << "the platform's range runs from 100 down to 0";
    EXPECT_EQ(high, 0);
    SendMessageW(arrows, UDM_SETRANGE32, 0, 10);
    SendMessageW(arrows, UDM_SETPOS32, 0, 4);

    std::vector<NMUPDOWN> asked;
    bool refuse = false;
    m_recorder.handler = [&](HWND, UINT message, WPARAM, LPARAM lParam, LRESULT& result) {
        if (message != WM_NOTIFY)
            return false;
        const auto* change = reinterpret_cast<const NMUPDOWN*>(lParam);
        EXPECT_EQ(change->hdr.code, UDN_DELTAPOS);
        asked.push_back(*change);
        result = refuse ? 1 : 0;
        return true;
    };
    Pump();
    Click(arrows, 8, 5); // the up arrow
    Click(arrows, 8, 25);
    Click(arrows, 8, 25);
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].iPos, 4);
    EXPECT_EQ(asked[0].iDelta, 1);
    EXPECT_EQ(asked[1].iDelta, -1);
    EXPECT_EQ(asked[2].iPos, 4);
    EXPECT_EQ(SendMessageW(arrows, UDM_GETPOS32, 0, 0), 3);
    std::vector<Seen> moved;
    for (const Seen& s : m_recorder.Of(WM_VSCROLL)) {
        if (LOWORD(s.wParam) == SB_THUMBPOSITION)
            moved.push_back(s);
    }
    ASSERT_EQ(moved.size(), 3u);
    EXPECT_EQ(HIWORD(moved[0].wParam), 5);
    EXPECT_EQ(HIWORD(moved[2].wParam), 3);

    refuse = true;
    Click(arrows, 8, 5);
    EXPECT_EQ(SendMessageW(arrows, UDM_GETPOS32, 0, 0), 3) << "a refused change moves nothing";

    // At the end of the range the position stays.
    refuse = false;
    SendMessageW(arrows, UDM_SETPOS32, 0, 10);
    Click(arrows, 8, 5);
    EXPECT_EQ(SendMessageW(arrows, UDM_GETPOS32, 0, 0), 10);
}

} // namespace
