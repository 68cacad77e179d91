// The framework's dialog over the templates of the test language library: its procedure and handler maps,
// the wrappers of its controls, its ends, and its message box.
#include "DialogTestSupport.h"

#include "plugin_framework/TArrowsCtrl.h"
#include "plugin_framework/TBtnCtrl.h"
#include "plugin_framework/TCheckBoxCtrl.h"
#include "plugin_framework/TComboBoxCtrl.h"
#include "plugin_framework/TEditCtrl.h"
#include "plugin_framework/TOwnerDrawCtrl.h"
#include "plugin_framework/TProgCtrl.h"
#include "plugin_framework/TSliderCtrl.h"
#include "plugin_framework/TStaticCtrl.h"

#include "platform/win/WinControls.h"
#include "platform/win/WinInput.h"
#include "platform/win/WinKeyboard.h"

#include <typeindex>
#include <typeinfo>

namespace {

using dialogtest::CountingDialog;
using dialogtest::kControlsDialog;
using dialogtest::Once;

class DialogTest : public dialogtest::DialogFixture {
protected:
    // A modeless controls dialog, with the test's reference.
    TRefPtr<CountingDialog> Open() {
        TRefPtr<CountingDialog> dialog = TRefPtr<CountingDialog>::Adopt(Make());
        EXPECT_TRUE(dialog->CreateModeless(kControlsDialog, nullptr));
        return dialog;
    }
    static LONG Count(TMessageInfo* info, void* context) {
        auto* seen = static_cast<std::vector<DWORD>*>(context);
        seen->push_back(info->key);
        return 1;
    }
};

TEST_F(DialogTest, TheProcedureAnswersFalseThoughAHandlerRan) {
    TRefPtr<CountingDialog> dialog = Open();
    HWND window = dialog->GetHandle();
    std::vector<DWORD> seen;
    ASSERT_TRUE(dialog->AddCommandHandler(4242, TMessageHandler{&seen, &DialogTest::Count}));
    ASSERT_TRUE(dialog->AddMessageHandler(WM_APP + 3, TMessageHandler{&seen, &DialogTest::Count}));
    ASSERT_TRUE(dialog->AddNotifyHandler(EN_CHANGE, 1005, TMessageHandler{&seen, &DialogTest::Count}));

    EXPECT_EQ(TDialog::DialogProc(window, WM_COMMAND, MAKEWPARAM(4242, 0), 0), FALSE);
    EXPECT_EQ(TDialog::DialogProc(window, WM_APP + 3, 0, 0), FALSE);
    // A command from a control without a command handler reaches the notification map by (code, id).
    SetWindowTextW(dialog->GetDlgItem(1005), L"changed");
    EXPECT_EQ(seen, (std::vector<DWORD>{4242, WM_APP + 3, EN_CHANGE}));

    // The colour messages a wrapper answers give its brush.
    const DWORD colour = 0x00336699;
    TControl* label = dialog->GetControl(1004);
    ASSERT_NE(label, nullptr);
    label->SetBkColor(&colour);
    HDC dc = GetDC(label->GetHandle());
    EXPECT_EQ(SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                           reinterpret_cast<LPARAM>(label->GetHandle())),
              reinterpret_cast<LRESULT>(label->GetBkBrush()));
    ReleaseDC(label->GetHandle(), dc);
    dialog->Close();
}

TEST_F(DialogTest, EveryControlOfTheTemplateHasTheWrapperOfItsKindFromTheStart) {
    TRefPtr<CountingDialog> dialog = Open();
    const struct {
        int id;
        LONG kind;
        std::type_index wrapper;
    } cases[] = {
        {1004, TDialog::kStatic, typeid(TStaticCtrl)},
        {1005, TDialog::kEdit, typeid(TEditCtrl)},
        {IDOK, TDialog::kButton, typeid(TBtnCtrl)},
        {1012, TDialog::kButton, typeid(TBtnCtrl)}, // a check box without automatic checking
        {1001, TDialog::kCheckBox, typeid(TCheckBoxCtrl)},
        {1002, TDialog::kRadioButton, typeid(TCheckBoxCtrl)},
        {1011, TDialog::kCheckBox, typeid(TCheckBoxCtrl)}, // a group box has both bits of the test
        {1003, TDialog::kOwnerDraw, typeid(TOwnerDrawCtrl)},
        {1007, TDialog::kComboBox, typeid(TComboBoxCtrl)},
        {1008, TDialog::kProgress, typeid(TProgCtrl)},
        {1009, TDialog::kTrackbar, typeid(TSliderCtrl)},
        {1010, TDialog::kUpDown, typeid(TArrowsCtrl)},
    };
    for (const auto& c : cases) {
        HWND control = dialog->GetDlgItem(c.id);
        ASSERT_NE(control, nullptr) << c.id;
        EXPECT_EQ(TDialog::ControlKind(control), c.kind) << c.id;
        TControl* made = TControl::FromHandle(control);
        ASSERT_NE(made, nullptr) << "wrapped when the dialog opened: " << c.id;
        EXPECT_EQ(std::type_index(typeid(*made)), c.wrapper) << c.id;
        EXPECT_EQ(dialog->GetControl(c.id), made) << "the same wrapper again: " << c.id;
        EXPECT_EQ(made->GetHandle(), control);
        EXPECT_TRUE(made->IsAttached()) << "the dialog's control is not the wrapper's to destroy";
    }
    EXPECT_EQ(TDialog::ControlKind(dialog->GetDlgItem(1006)), TDialog::kListBox);
    EXPECT_EQ(dialog->GetControl(1006), nullptr) << "a list box has no wrapper";
    EXPECT_EQ(dialog->GetControl(9999), nullptr);
    // Both statics that share the id -1 have their own wrapper.
    std::vector<HWND> unnamed;
    EnumChildWindows(
        dialog->GetHandle(),
        [](HWND child, LPARAM list) {
            if (GetDlgCtrlID(child) == 0xFFFF)
                reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&unnamed));
    ASSERT_EQ(unnamed.size(), 2u);
    EXPECT_NE(TControl::FromHandle(unnamed[0]), nullptr);
    EXPECT_NE(TControl::FromHandle(unnamed[1]), nullptr);
    EXPECT_NE(TControl::FromHandle(unnamed[0]), TControl::FromHandle(unnamed[1]));
    EXPECT_EQ(TDialog::ControlKind(nullptr), TDialog::kUnreadable);
    EXPECT_EQ(TDialog::ControlKind(dialog->GetHandle()), TDialog::kOther) << "the dialog's own class";
    dialog->Close();
    EXPECT_EQ(TControl::FromHandle(unnamed[0]), nullptr);
}

TEST_F(DialogTest, OkGivesOneEscapeZeroEnterOneAndASubclassItsOwnValue) {
    TRefPtr<CountingDialog> dialog = TRefPtr<CountingDialog>::Adopt(Make());
    const struct {
        const char* what;
        std::function<void(HWND)> end;
        LONG result;
    } cases[] = {
        {"OnOK", [&](HWND) { dialog->OnOK(); }, 1},
        {"Escape", [](HWND) { WinUserTest::InjectKey(nullptr, VK_ESCAPE); }, 0},
        {"Enter", [](HWND) { WinUserTest::InjectKey(nullptr, VK_RETURN); }, 1},
        {"a result of its own", [&](HWND) { dialog->Finish(7); }, 7},
        {"the OK button clicked",
         [](HWND window) {
             HWND ok = GetDlgItem(window, IDOK);
             WinUserTest::InjectMouse(ok, WM_LBUTTONDOWN, 5, 5, MK_LBUTTON);
             WinUserTest::InjectMouse(ok, WM_LBUTTONUP, 5, 5);
         },
         1},
    };
    for (const auto& c : cases) {
        Once(c.end);
        EXPECT_EQ(dialog->DoModal(kControlsDialog, nullptr), c.result) << c.what;
        EXPECT_FALSE(dialog->IsWindow()) << c.what;
        EXPECT_EQ(dialog->GetResult(), c.result) << c.what;
    }
    EXPECT_EQ(dialog->oks, 3);
    EXPECT_EQ(dialog->cancels, 1);
    EXPECT_TRUE(dialog->IsModal());
}

TEST_F(DialogTest, ADialogThatCannotBeMadeAnswersMinusOneAndShowsNothing) {
    const DWORD windows = WinUserTest::LiveWindows();
    TRefPtr<CountingDialog> noModule = TRefPtr<CountingDialog>::Adopt(new CountingDialog);
    EXPECT_EQ(noModule->DoModal(kControlsDialog, nullptr), -1);
    EXPECT_FALSE(noModule->CreateModeless(kControlsDialog, nullptr));
    TRefPtr<CountingDialog> dialog = TRefPtr<CountingDialog>::Adopt(Make());
    for (UINT id : {0u, 9999u, 0x10000u}) {
        EXPECT_EQ(dialog->DoModal(id, nullptr), -1) << id;
        EXPECT_FALSE(dialog->CreateModeless(id, nullptr)) << id;
    }
    EXPECT_EQ(WinUserTest::LiveWindows(), windows);
    // One object, one window: a dialog that is open runs no second time.
    ASSERT_TRUE(dialog->CreateModeless(kControlsDialog, nullptr));
    HWND open = dialog->GetHandle();
    EXPECT_EQ(dialog->DoModal(kControlsDialog, nullptr), -1);
    EXPECT_FALSE(dialog->CreateModeless(kControlsDialog, nullptr));
    EXPECT_EQ(dialog->GetHandle(), open);
    dialog->Close();
    EXPECT_EQ(WinUserTest::LiveWindows(), windows);
}

TEST_F(DialogTest, ASecondCloseOfAClosedDialogFailsQuietly) {
    // Modeless: WM_CLOSE is the command IDCANCEL; what follows finds no window.
    TRefPtr<CountingDialog> dialog = Open();
    HWND window = dialog->GetHandle();
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(dialog->cancels, 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(dialog->Destroy());
    dialog->Close();
    EXPECT_EQ(dialog->cancels, 1);

    // A handler of WM_CLOSE that closes the dialog itself: the default processing then reaches nothing.
    ASSERT_TRUE(dialog->CreateModeless(kControlsDialog, nullptr));
    window = dialog->GetHandle();
    ASSERT_TRUE(dialog->AddMessageHandler(WM_CLOSE, TMessageHandler{dialog.Get(), [](TMessageInfo*, void* d) {
                                                                        static_cast<TDialog*>(d)->Close();
                                                                        return LONG{0};
                                                                    }}));
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(dialog->cancels, 1);

    // Modal: the first end's result stands.
    bool second = true;
    Once([&](HWND) {
        dialog->OnOK();
        second = dialog->Destroy();
        dialog->OnCancel();
    });
    EXPECT_EQ(dialog->DoModal(kControlsDialog, nullptr), 1);
    EXPECT_FALSE(second);
    EXPECT_FALSE(dialog->Destroy());
}

TEST_F(DialogTest, AWrapperThatClosesItsDialogInItsOwnHandlerOutlivesTheMessage) {
    for (bool modal : {false, true}) {
        TRefPtr<CountingDialog> dialog = TRefPtr<CountingDialog>::Adopt(Make());
        TRefPtr<TControl> kept;
        const auto closeOnRelease = [](TMessageInfo*, void* context) {
            static_cast<CountingDialog*>(context)->OnOK();
            return LONG{0};
        };
        const auto clickCheckBox = [&](HWND window) {
            HWND box = GetDlgItem(window, 1001);
            kept = TRefPtr<TControl>(TControl::FromHandle(box));
            ASSERT_TRUE(kept);
            ASSERT_TRUE(kept->AddMessageHandler(WM_LBUTTONUP, TMessageHandler{dialog.Get(), closeOnRelease}));
            WinUserTest::InjectMouse(box, WM_LBUTTONDOWN, 5, 5, MK_LBUTTON);
            WinUserTest::InjectMouse(box, WM_LBUTTONUP, 5, 5);
        };
        if (modal) {
            Once(clickCheckBox);
            EXPECT_EQ(dialog->DoModal(kControlsDialog, nullptr), 1);
        } else {
            ASSERT_TRUE(dialog->CreateModeless(kControlsDialog, nullptr));
            ShowWindow(dialog->GetHandle(), SW_SHOW);
            clickCheckBox(dialog->GetHandle());
            EXPECT_TRUE(WinUserTest::PumpUntil([&] { return !dialog->IsWindow(); }, dialogtest::kDeadline));
        }
        ASSERT_TRUE(kept);
        EXPECT_EQ(kept->GetRefCount(), 1) << "the dialog released its wrapper";
        EXPECT_EQ(kept->GetHandle(), nullptr) << "and detached it";
        EXPECT_EQ(dialog->oks, 1);
    }
}

TEST_F(DialogTest, ADialogDestroyedFromOutsideOrReleasedWhileOpenLeavesNothingBehind) {
    const DWORD windows = WinUserTest::LiveWindows();
    TRefPtr<CountingDialog> dialog = Open();
    TRefPtr<TControl> kept(dialog->GetControl(1005));
    ASSERT_TRUE(kept);
    DestroyWindow(dialog->GetHandle());
    EXPECT_EQ(kept->GetRefCount(), 1);
    EXPECT_FALSE(dialog->IsWindow());
    ASSERT_TRUE(dialog->CreateModeless(kControlsDialog, nullptr)) << "the object runs again";
    kept = TRefPtr<TControl>(dialog->GetControl(1005));
    dialog = TRefPtr<CountingDialog>();
    EXPECT_EQ(kept->GetRefCount(), 1);
    EXPECT_EQ(WinUserTest::LiveWindows(), windows);
}

TEST_F(DialogTest, CommandsScrollsAndDrawsAreOfferedToTheSendingControlFirst) {
    TRefPtr<CountingDialog> dialog = Open();
    HWND window = dialog->GetHandle();
    std::vector<DWORD> dialogSeen;
    std::vector<DWORD> wrapperSeen;
    ASSERT_TRUE(dialog->AddCommandHandler(1001, TMessageHandler{&dialogSeen, &DialogTest::Count}));
    HWND box = dialog->GetDlgItem(1001);
    TControl* wrapper = dialog->GetControl(1001);
    ASSERT_TRUE(wrapper->AddCommandHandler(BN_CLICKED, TMessageHandler{&wrapperSeen, &DialogTest::Count}));
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(1001, BN_CLICKED), reinterpret_cast<LPARAM>(box));
    EXPECT_EQ(wrapperSeen, std::vector<DWORD>{BN_CLICKED});
    EXPECT_TRUE(dialogSeen.empty()) << "the wrapper answered it";
    // Without the control in lParam the dialog's own map has it.
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(1001, BN_CLICKED), 0);
    EXPECT_EQ(dialogSeen, std::vector<DWORD>{1001});

    // A control's scroll message goes to the notification map by (code, control id); the dialog has no
    // scroll bars of its own.
    std::vector<DWORD> scrolls;
    ASSERT_TRUE(
        dialog->AddNotifyHandler(TB_THUMBPOSITION, 1009, TMessageHandler{&scrolls, &DialogTest::Count}));
    SendMessageW(window, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 0),
                 reinterpret_cast<LPARAM>(dialog->GetDlgItem(1009)));
    SendMessageW(window, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 0), 0);
    EXPECT_EQ(scrolls, std::vector<DWORD>{TB_THUMBPOSITION});

    // The owner-drawn button draws itself through its wrapper; the dialog's map does not see it.
    auto* drawn = dynamic_cast<TOwnerDrawCtrl*>(dialog->GetControl(1003));
    ASSERT_NE(drawn, nullptr);
    int draws = 0;
    drawn->SetDrawCallback(
        [](TOwnerDrawCtrl*, void* count) {
            ++*static_cast<int*>(count);
            return true;
        },
        &draws);
    std::vector<DWORD> drawMessages;
    ASSERT_TRUE(dialog->AddMessageHandler(WM_DRAWITEM, TMessageHandler{&drawMessages, &DialogTest::Count}));
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.CtlID = 1003;
    item.hwndItem = drawn->GetHandle();
    item.hDC = GetDC(item.hwndItem);
    SendMessageW(window, WM_DRAWITEM, 1003, reinterpret_cast<LPARAM>(&item));
    ReleaseDC(item.hwndItem, item.hDC);
    EXPECT_EQ(draws, 1);
    EXPECT_TRUE(drawMessages.empty());
    dialog->Close();
}

TEST_F(DialogTest, MessageBoxesCarryTheModulesCaptionAndKindTwoIsTrueOnlyForYes) {
    const struct {
        LONG kind;
        int answer;
        UINT type;
        bool result;
    } cases[] = {
        {TDialog::kQuestionMessage, IDYES, MB_TOPMOST | MB_YESNO | MB_ICONQUESTION, true},
        {TDialog::kQuestionMessage, IDNO, MB_TOPMOST | MB_YESNO | MB_ICONQUESTION, false},
        {TDialog::kErrorMessage, IDOK, MB_TOPMOST | MB_ICONERROR, true},
        {TDialog::kInformationMessage, IDOK, MB_TOPMOST | MB_ICONINFORMATION, true},
        {TDialog::kInformationMessage, IDCANCEL, MB_TOPMOST | MB_ICONINFORMATION, false},
        {7, IDOK, MB_TOPMOST | MB_OK, true},
    };
    for (const auto& c : cases)
        WinDialogTest::QueueMessageBoxAnswer(c.answer);
    for (const auto& c : cases)
        EXPECT_EQ(TDialog::ShowMessageBox(L"Text", c.kind, nullptr), c.result) << c.kind << " " << c.answer;
    const auto calls = WinDialogTest::MessageBoxCalls();
    ASSERT_EQ(calls.size(), std::size(cases));
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].type, cases[i].type) << i;
        EXPECT_EQ(calls[i].caption, L"Framework tests");
        EXPECT_EQ(calls[i].text, L"Text");
    }
}

} // namespace
