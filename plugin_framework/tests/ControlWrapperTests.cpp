#include "ControlPanel.h"

#include "plugin_framework/PackedColor.h"
#include "plugin_framework/TArrowsCtrl.h"
#include "plugin_framework/TBtnCtrl.h"
#include "plugin_framework/TCheckBoxCtrl.h"
#include "plugin_framework/TComboBoxCtrl.h"
#include "plugin_framework/TEditCtrl.h"
#include "plugin_framework/TOwnerDrawCtrl.h"
#include "plugin_framework/TProgCtrl.h"
#include "plugin_framework/TSliderCtrl.h"
#include "plugin_framework/TStaticCtrl.h"

#include "platform/win/WinGdiDraw.h"

#include <iterator>
#include <string>
#include <utility>

using namespace controltest;

namespace {

// Tells when it goes.
class NotedControl : public TControl {
public:
    explicit NotedControl(int* gone = nullptr) : m_gone(gone) {}
    ~NotedControl() override {
        if (m_gone)
            ++*m_gone;
    }

private:
    int* m_gone;
};

TEST(ControlWrapper, WithoutAWindowEveryCallFailsSoftly) {
    TRefPtr<TComboBoxCtrl> combo = Make<TComboBoxCtrl>();
    TString text = L"left alone";
    EXPECT_FALSE(combo->SetText(L"x"));
    EXPECT_FALSE(combo->GetText(text));
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_FALSE(combo->Show(true));
    EXPECT_FALSE(combo->IsVisible());
    EXPECT_FALSE(combo->Enable(true));
    EXPECT_EQ(combo->GetParentWindow(), nullptr);
    TControl::TRect rect(1, 2, 3, 4);
    EXPECT_FALSE(combo->GetClientRect(rect));
    EXPECT_FALSE(combo->GetRectInParent(rect));
    EXPECT_FALSE(combo->Invalidate(nullptr, true));
    EXPECT_FALSE(combo->Update());
    EXPECT_EQ(combo->GetDC(), nullptr);
    EXPECT_FALSE(combo->Move(TControl::TPoint(1, 1)));
    EXPECT_FALSE(combo->SetSize(TControl::TSize(5, 5), true));
    EXPECT_FALSE(combo->MoveBy(TControl::TPoint(1, 1)));
    Probe probe;
    EXPECT_FALSE(combo->AddMessageHandler(WM_PAINT, probe.Handler()));
    EXPECT_FALSE(combo->AddCommandHandler(BN_CLICKED, probe.Handler()));
    EXPECT_FALSE(combo->AddNotifyHandler(UDN_DELTAPOS, probe.Handler()));
    EXPECT_FALSE(combo->AddString(L"a"));
    EXPECT_FALSE(combo->GetItemText(0, text));
    EXPECT_EQ(combo->FindStringExact(L"a"), -1);
    EXPECT_FALSE(combo->DeleteString(0));
    EXPECT_EQ(combo->GetCurSel(), -1);
    EXPECT_FALSE(combo->SetCurSel(0));
    EXPECT_EQ(combo->GetCount(), 0);
    EXPECT_FALSE(combo->ResetContent());
    EXPECT_FALSE(combo->Destroy());
    EXPECT_FALSE(combo->Attach(nullptr, false));
    EXPECT_TRUE(combo->SetFocus());
    EXPECT_TRUE(combo->SetExtraValue(7));
    EXPECT_EQ(combo->GetExtraValue(), 7);

    TRefPtr<TCheckBoxCtrl> box = Make<TCheckBoxCtrl>();
    LONG state = 5;
    EXPECT_FALSE(box->GetCheck(state));
    EXPECT_EQ(state, 5);
    EXPECT_FALSE(box->SetCheck(1));
    TRefPtr<TSliderCtrl> slider = Make<TSliderCtrl>();
    EXPECT_EQ(slider->GetPos(), -1);
    EXPECT_EQ(slider->GetRangeMin(), -1);
    EXPECT_EQ(slider->GetRangeMax(), -1);
    EXPECT_FALSE(slider->SetPos(3));
    TRefPtr<TProgCtrl> bar = Make<TProgCtrl>();
    EXPECT_FALSE(bar->SetPos(4));
    EXPECT_EQ(bar->GetPos(), 4) << "kept for when there is a window";
    const DWORD colour = 0xFF102030;
    EXPECT_FALSE(bar->SetTextColor(&colour));
    EXPECT_EQ(bar->GetTextColor(), 0x00102030u) << "kept with its flag byte cleared";
    TFontInfo font;
    EXPECT_FALSE(bar->SetFont(&font));
    EXPECT_EQ(bar->GetFontHandle(), nullptr);
}

TEST_F(ControlPanel, AttachingSubclassesTheControlAndDetachingGivesItBack) {
    HWND button = Control(L"button", BS_PUSHBUTTON, 5);
    const LONG_PTR original = GetWindowLongPtrW(button, GWLP_WNDPROC);
    int gone = 0;
    auto* first = new NotedControl(&gone);
    ASSERT_TRUE(first->Attach(button, false));
    EXPECT_TRUE(first->IsAttached());
    EXPECT_EQ(TControl::FromHandle(button), first);
    EXPECT_EQ(GetWindowLongPtrW(button, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&TControl::ControlProc));
    EXPECT_FALSE(first->Attach(Control(L"static", 0, 6), false)) << "one window per wrapper";
    EXPECT_EQ(first->GetParentWindow(), &m_panel);

    // A second wrapper takes the window over; the first is released.
    TRefPtr<TBtnCtrl> second = Make<TBtnCtrl>();
    ASSERT_TRUE(second->Attach(button, false));
    EXPECT_EQ(gone, 1);
    EXPECT_EQ(TControl::FromHandle(button), second.Get());
    EXPECT_TRUE(second->Detach());
    EXPECT_EQ(GetWindowLongPtrW(button, GWLP_WNDPROC), original);
    EXPECT_EQ(GetWindowLongPtrW(button, GWLP_USERDATA), 0);
    EXPECT_EQ(TControl::FromHandle(button), nullptr);
    EXPECT_TRUE(IsWindow(button)) << "an attached window is only given back";
    EXPECT_EQ(TControl::FromHandle(m_panel.GetHandle()), nullptr) << "a framework window holds no wrapper";
}

TEST_F(ControlPanel, AnOwnedWindowIsDestroyedWithItsWrapper) {
    HWND owned = Control(L"static", 0, 1);
    HWND given = Control(L"static", 0, 2);
    {
        TRefPtr<TStaticCtrl> a = Make<TStaticCtrl>();
        TRefPtr<TStaticCtrl> b = Make<TStaticCtrl>();
        ASSERT_TRUE(a->Attach(owned, true));
        ASSERT_TRUE(b->Attach(given, false));
        EXPECT_TRUE(a->Destroy());
        EXPECT_FALSE(IsWindow(owned));
        EXPECT_EQ(a->GetHandle(), nullptr);
    }
    EXPECT_TRUE(IsWindow(given));
    EXPECT_EQ(TControl::FromHandle(given), nullptr) << "the wrapper let go of it when it went";
}

TEST_F(ControlPanel, HandlersRunBeforeTheControlAndOneSkipsIt) {
    HWND edit = Control(L"edit", 0, 3, RECT{0, 0, 100, 20}, L"abc");
    TRefPtr<TEditCtrl> wrapper = Make<TEditCtrl>();
    ASSERT_TRUE(wrapper->Attach(edit, false));
    Probe chars;
    ASSERT_TRUE(wrapper->AddMessageHandler(WM_CHAR, chars.Handler()));
    EXPECT_FALSE(wrapper->AddMessageHandler(WM_CHAR, Probe().Handler())) << "the first registration wins";
    SendMessageW(edit, WM_CHAR, L'd', 77);
    EXPECT_EQ(chars.calls, 1);
    EXPECT_EQ(chars.last.key, WM_CHAR);
    EXPECT_EQ(chars.last.extra, 77);
    EXPECT_EQ(chars.last.hwnd, edit);
    TString text;
    ASSERT_TRUE(wrapper->GetText(text));
    EXPECT_EQ(text, TString(L"abcd")) << "any answer but 1 lets the control type";
    chars.answer = 1;
    SendMessageW(edit, WM_CHAR, L'e', 0);
    wrapper->GetText(text);
    EXPECT_EQ(text, TString(L"abcd")) << "1 keeps the character from the control";

    // Commands and notices that the parent passes back come under their codes.
    Probe changes;
    ASSERT_TRUE(wrapper->AddCommandHandler(EN_CHANGE, changes.Handler()));
    ASSERT_TRUE(wrapper->SetText(L"new"));
    EXPECT_EQ(changes.calls, 1);
    EXPECT_EQ(changes.last.key, EN_CHANGE);
    EXPECT_EQ(LOWORD(changes.last.wParam), 3);
}

TEST_F(ControlPanel, AWrapperReleasedDuringItsOwnMessageIsSafe) {
    // The dialog that holds the wrapper closes under a click: the parent's command handler releases it
    // while the button's own procedure is still answering the button-up.
    HWND button = Control(L"button", BS_PUSHBUTTON, 11, RECT{10, 10, 60, 30});
    int gone = 0;
    auto* wrapper = new NotedControl(&gone);
    ASSERT_TRUE(wrapper->Attach(button, false));
    struct Closing {
        TControl* wrapper;
        int clicks = 0;
    } closing{wrapper};
    ASSERT_TRUE(
        m_panel.AddCommandHandler(11, TMessageHandler{&closing, [](TMessageInfo*, void* context) -> LONG {
                                                          auto* c = static_cast<Closing*>(context);
                                                          ++c->clicks;
                                                          if (c->wrapper)
                                                              std::exchange(c->wrapper, nullptr)->Release();
                                                          return 0;
                                                      }}));
    Pump();
    Inject(m_panel.GetHandle(), WM_LBUTTONDOWN, 20, 20, MK_LBUTTON);
    Inject(m_panel.GetHandle(), WM_LBUTTONUP, 20, 20);
    EXPECT_EQ(closing.clicks, 1);
    EXPECT_EQ(gone, 1) << "gone once the message was done";
    EXPECT_EQ(TControl::FromHandle(button), nullptr);
    EXPECT_EQ(GetCapture(), nullptr) << "the button finished its click";

    // A wrapper released by its own handler: the control still answers the message.
    HWND box = Control(L"button", BS_AUTOCHECKBOX, 12, RECT{10, 40, 60, 60});
    auto* own = new NotedControl(&gone);
    ASSERT_TRUE(own->Attach(box, false));
    ASSERT_TRUE(
        own->AddMessageHandler(BM_SETCHECK, TMessageHandler{own, [](TMessageInfo*, void* context) -> LONG {
                                                                static_cast<TControl*>(context)->Release();
                                                                return 0;
                                                            }}));
    SendMessageW(box, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_EQ(gone, 2);
    EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_CHECKED);
}

TEST_F(ControlPanel, FontsAreMadeForTheScreenResolution) {
    const struct {
        DWORD dpi;
        LONG points;
        LONG style;
        LONG height;
        LONG weight;
        BYTE italic;
    } cases[] = {
        {96, 10, 0, -13, FW_NORMAL, 0},
        {96, 9, TFontInfo::kBold, -12, FW_BOLD, 0},
        {120, 10, TFontInfo::kItalic, -17, FW_NORMAL, 1},
        {144, 12, TFontInfo::kBold | TFontInfo::kItalic, -24, FW_BOLD, 1},
    };
    HWND text = Control(L"static", 0, 1);
    TRefPtr<TStaticCtrl> wrapper = Make<TStaticCtrl>();
    ASSERT_TRUE(wrapper->Attach(text, false));
    const DWORD before = WinGdiTest::LiveObjects();
    for (const auto& c : cases) {
        WinSeams::SetScreenDpi(c.dpi);
        TFontInfo info;
        const std::wstring longFace = L"A face whose name runs well past thirty-one characters";
        info.face = longFace.c_str();
        info.size = c.points;
        info.style = c.style;
        ASSERT_TRUE(wrapper->SetFont(&info));
        EXPECT_TRUE(wrapper->HasFont());
        HFONT font = wrapper->GetFontHandle();
        EXPECT_EQ(SendMessageW(text, WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(font));
        LOGFONTW made{};
        ASSERT_EQ(GetObjectW(font, sizeof(made), &made), static_cast<int>(sizeof(made)));
        EXPECT_EQ(made.lfHeight, c.height) << c.points << " points at " << c.dpi << " dpi";
        EXPECT_EQ(made.lfWeight, c.weight);
        EXPECT_EQ(made.lfItalic, c.italic);
        EXPECT_EQ(made.lfQuality, ANTIALIASED_QUALITY);
        EXPECT_EQ(std::wstring(made.lfFaceName), longFace.substr(0, LF_FACESIZE - 1));
        EXPECT_EQ(WinGdiTest::LiveObjects(), before + 1) << "the previous font is deleted";
    }
    ASSERT_TRUE(wrapper->SetFont(nullptr));
    EXPECT_FALSE(wrapper->HasFont());
    EXPECT_EQ(SendMessageW(text, WM_GETFONT, 0, 0), 0) << "back to the system font";
    EXPECT_EQ(WinGdiTest::LiveObjects(), before);
}

TEST_F(ControlPanel, CheckStatesTravelAsTheThreeKnownValues) {
    HWND box = Control(L"button", BS_AUTO3STATE, 4);
    TRefPtr<TCheckBoxCtrl> wrapper = Make<TCheckBoxCtrl>();
    ASSERT_TRUE(wrapper->Attach(box, false));
    const struct {
        LONG set;
        LONG expected;
    } cases[] = {{1, 1}, {2, 2}, {0, 0}, {2, 2}, {3, 0}, {-1, 0}, {1, 1}, {7, 0}};
    for (const auto& c : cases) {
        ASSERT_TRUE(wrapper->SetCheck(c.set));
        LONG state = 99;
        ASSERT_TRUE(wrapper->GetCheck(state));
        EXPECT_EQ(state, c.expected) << "set " << c.set;
    }
}

TEST_F(ControlPanel, ComboIndicesOutsideTheListAreRefusedBeforeAnyMessage) {
    HWND combo = Control(L"combobox", 0, 9);
    TRefPtr<TComboBoxCtrl> wrapper = Make<TComboBoxCtrl>();
    ASSERT_TRUE(wrapper->Attach(combo, false));
    // Every list message that reaches the control is counted.
    Probe sent;
    for (UINT message :
         {CB_ADDSTRING, CB_INSERTSTRING, CB_DELETESTRING, CB_SETCURSEL, CB_GETLBTEXT, CB_GETLBTEXTLEN})
        ASSERT_TRUE(wrapper->AddMessageHandler(message, sent.Handler()));
    ASSERT_TRUE(wrapper->AddString(L"one"));
    ASSERT_TRUE(wrapper->AddString(L"three"));
    ASSERT_TRUE(wrapper->AddString(L"two", 1));
    ASSERT_TRUE(wrapper->AddString(L"four", 3)) << "the end is a place to insert";
    EXPECT_EQ(wrapper->GetCount(), 4);
    const int afterAdding = sent.calls;

    const LONG refused[] = {-2, 5, 99};
    for (LONG index : refused)
        EXPECT_FALSE(wrapper->AddString(L"x", index)) << index;
    TString text = L"kept";
    for (LONG index : {-1, 4, 50}) {
        EXPECT_FALSE(wrapper->GetItemText(index, text)) << index;
        EXPECT_FALSE(wrapper->DeleteString(index)) << index;
        EXPECT_FALSE(wrapper->SetCurSel(index == -1 ? -2 : index)) << index;
    }
    EXPECT_EQ(text, TString(L"kept"));
    EXPECT_EQ(sent.calls, afterAdding) << "nothing reached the control";

    const wchar_t* expected[] = {L"one", L"two", L"three", L"four"};
    for (LONG i = 0; i < 4; ++i) {
        ASSERT_TRUE(wrapper->GetItemText(i, text));
        EXPECT_EQ(text, TString(expected[i]));
    }
    EXPECT_EQ(wrapper->FindStringExact(L"THREE"), 2);
    EXPECT_EQ(wrapper->FindStringExact(L"five"), -1);
    ASSERT_TRUE(wrapper->SetCurSel(3));
    EXPECT_EQ(wrapper->GetCurSel(), 3);
    ASSERT_TRUE(wrapper->DeleteString(0));
    EXPECT_EQ(wrapper->GetCurSel(), 2);
    ASSERT_TRUE(wrapper->SetCurSel(-1));
    EXPECT_EQ(wrapper->GetCurSel(), -1);
    ASSERT_TRUE(wrapper->ResetContent());
    EXPECT_EQ(wrapper->GetCount(), 0);
}

TEST_F(ControlPanel, ProgressStepsStopAtTheMaximum) {
    HWND bar = Control(L"msctls_progress32", 0, 2);
    TRefPtr<TProgCtrl> wrapper = Make<TProgCtrl>();
    ASSERT_TRUE(wrapper->Attach(bar, false));
    ASSERT_TRUE(wrapper->SetMin(0)) << "the range 0..0 goes to the control first";
    EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 0);
    ASSERT_TRUE(wrapper->SetMax(100));
    ASSERT_TRUE(wrapper->SetStep(5));
    const struct {
        LONG start;
        LONG after;
    } steps[] = {{0, 5}, {94, 99}, {95, 100}, {97, 100}, {100, 100}};
    for (const auto& s : steps) {
        ASSERT_TRUE(wrapper->SetPos(s.start));
        ASSERT_TRUE(wrapper->StepIt());
        EXPECT_EQ(wrapper->GetPos(), s.after) << "from " << s.start;
        EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), s.after);
    }
    ASSERT_TRUE(wrapper->OffsetPos(30));
    EXPECT_EQ(wrapper->GetPos(), 130) << "no limit of its own";
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 100) << "the control keeps to its range";
    wrapper->SetPos(0x7FFFFFF0);
    wrapper->OffsetPos(0x100);
    EXPECT_EQ(wrapper->GetPos(), 0x7FFFFFFF) << "no overflow";
}

TEST_F(ControlPanel, SliderAsksAndTellsTheControl) {
    HWND slider = Control(L"msctls_trackbar32", 0, 2);
    TRefPtr<TSliderCtrl> wrapper = Make<TSliderCtrl>();
    ASSERT_TRUE(wrapper->Attach(slider, false));
    EXPECT_EQ(wrapper->GetRangeMin(), 0);
    EXPECT_EQ(wrapper->GetRangeMax(), 100);
    ASSERT_TRUE(wrapper->SetRangeMin(-20));
    ASSERT_TRUE(wrapper->SetRangeMax(20));
    ASSERT_TRUE(wrapper->SetPos(-30));
    EXPECT_EQ(wrapper->GetPos(), -20);
    ASSERT_TRUE(wrapper->SetPos(7));
    EXPECT_EQ(wrapper->GetPos(), 7);
}

TEST_F(ControlPanel, UpDownClicksMoveTheWrappersPositionWithinItsRange) {
    HWND arrows = Control(L"msctls_updown32", 0, 21, RECT{200, 10, 216, 40});
    TRefPtr<TArrowsCtrl> wrapper = Make<TArrowsCtrl>();
    ASSERT_TRUE(wrapper->Attach(arrows, false));
    wrapper->SetMax(10);
    wrapper->SetStep(3);
    EXPECT_FALSE(wrapper->SetPos(11));
    EXPECT_FALSE(wrapper->SetPos(-1));
    ASSERT_TRUE(wrapper->SetPos(8));
    // The parent's own handler of the notice runs after the wrapper's and reads the new position.
    struct Reader {
        TArrowsCtrl* arrows;
        std::vector<LONG> seen;
    } reader{wrapper.Get(), {}};
    ASSERT_TRUE(m_panel.AddNotifyHandler(UDN_DELTAPOS, 21,
                                         TMessageHandler{&reader, [](TMessageInfo*, void* context) -> LONG {
                                                             auto* r = static_cast<Reader*>(context);
                                                             r->seen.push_back(r->arrows->GetPos());
                                                             return 0;
                                                         }}));
    Pump();
    // The up arrow (upper half) reports a negative change on the platform's range, which grows the value.
    const struct {
        LONG y;
        LONG expected;
    } clicks[] = {{5, 10}, {5, 10}, {25, 7}, {25, 4}, {25, 1}, {25, 0}, {5, 3}};
    for (const auto& c : clicks) {
        Inject(arrows, WM_LBUTTONDOWN, 8, c.y, MK_LBUTTON);
        Inject(arrows, WM_LBUTTONUP, 8, c.y);
        EXPECT_EQ(wrapper->GetPos(), c.expected);
    }
    ASSERT_EQ(reader.seen.size(), std::size(clicks));
    EXPECT_EQ(reader.seen[0], 10) << "at the maximum the value stays";
    EXPECT_EQ(reader.seen[5], 0);
}

TEST_F(ControlPanel, StaticColourAnswersFollowWhatIsSet) {
    HWND text = Control(L"static", 0, 1, RECT{0, 0, 150, 30}, L"Colour");
    TRefPtr<TStaticCtrl> wrapper = Make<TStaticCtrl>();
    ASSERT_TRUE(wrapper->Attach(text, false));
    HDC dc = GetDC(text);
    auto ask = [&](UINT message) {
        TMessageInfo info{};
        info.key = message;
        info.wParam = reinterpret_cast<WPARAM>(dc);
        info.lParam = reinterpret_cast<LPARAM>(text);
        return wrapper->OnCtlColor(&info);
    };
    EXPECT_EQ(ask(WM_CTLCOLORSTATIC), 0) << "neither colour: the platform colours it";

    const DWORD red = 0xFF0000C8; // the flag byte set, as read from options
    ASSERT_TRUE(wrapper->SetTextColor(&red));
    SetBkMode(dc, OPAQUE);
    EXPECT_EQ(ask(WM_CTLCOLORSTATIC), reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE)));
    EXPECT_EQ(GetTextColor(dc), RGB(200, 0, 0));
    EXPECT_EQ(GetBkMode(dc), TRANSPARENT) << "text colour only: transparent over the button face";
    EXPECT_EQ(ask(WM_CTLCOLOREDIT), 0) << "a static answers only its own colour message";

    const DWORD green = 0x00207020;
    ASSERT_TRUE(wrapper->SetBkColor(&green));
    EXPECT_EQ(ask(WM_CTLCOLORSTATIC), reinterpret_cast<LRESULT>(wrapper->GetBkBrush()));
    EXPECT_EQ(GetBkColor(dc), RGB(0x20, 0x70, 0x20));
    LOGBRUSH brush{};
    ASSERT_EQ(GetObjectW(wrapper->GetBkBrush(), sizeof(brush), &brush), static_cast<int>(sizeof(brush)));
    EXPECT_EQ(brush.lbColor, RGB(0x20, 0x70, 0x20));

    ASSERT_TRUE(wrapper->SetTextColor(nullptr));
    EXPECT_EQ(ask(WM_CTLCOLORSTATIC), reinterpret_cast<LRESULT>(wrapper->GetBkBrush())) << "background only";
    ReleaseDC(text, dc);

    // Painted, through the framework window that passes the question on.
    Pump();
    EXPECT_EQ(Pixel(text, 148, 28), PixelOf(RGB(0x20, 0x70, 0x20)));
    ASSERT_TRUE(wrapper->SetBkColor(nullptr));
    Pump();
    EXPECT_EQ(Pixel(text, 148, 28), PixelOf(GetSysColor(COLOR_BTNFACE)));
}

TEST_F(ControlPanel, OwnerDrawnButtonsDrawThroughTheirCallback) {
    TRefPtr<TOwnerDrawCtrl> wrapper = Make<TOwnerDrawCtrl>();
    ASSERT_TRUE(wrapper->Create(m_panel.GetHandle(), WS_VISIBLE, TControl::TRect(20, 20, 80, 50)));
    HWND button = wrapper->GetHandle();
    EXPECT_EQ(GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK, static_cast<LONG_PTR>(BS_OWNERDRAW));
    EXPECT_EQ(GetWindowLongPtrW(button, GWL_STYLE) & WS_CHILD, static_cast<LONG_PTR>(WS_CHILD));
    const DWORD blue = 0x00C80000;
    wrapper->SetBkColor(&blue);
    struct Drawn {
        int calls = 0;
        UINT state = 0;
        bool answer = true;
    } drawn;
    wrapper->SetDrawCallback(
        [](TOwnerDrawCtrl* control, void* context) {
            auto* d = static_cast<Drawn*>(context);
            ++d->calls;
            d->state = control->GetDrawItem()->itemState;
            return d->answer;
        },
        &drawn);
    Pump();
    EXPECT_EQ(drawn.calls, 1);
    EXPECT_EQ(wrapper->GetDrawItem(), nullptr) << "the record is the draw request's only";
    EXPECT_EQ(Pixel(button, 30, 15), PixelOf(RGB(0, 0, 0xC8))) << "the background colour fills the item";
    EXPECT_EQ(SendMessageW(button, WM_ERASEBKGND, 0, 0), 1) << "nothing is erased";
    EnableWindow(button, FALSE);
    Pump();
    EXPECT_EQ(drawn.calls, 2);
    EXPECT_EQ(drawn.state & ODS_DISABLED, ODS_DISABLED);
}

} // namespace
