// The dialog manager over the templates in this program's resources: modal and modeless dialogs, their
// default processing and keys, the modal loop with its steps and deadline, child enumeration, message
// boxes, bitmap resources and the thread's main window.
#include "ControlFixture.h"

#include "platform/win/WinBitmaps.h"
#include "platform/win/WinControls.h"
#include "platform/win/WinDialogs.h"
#include "platform/win/WinGdi.h"
#include "platform/win/WinGdiDraw.h"
#include "platform/win/WinKeyboard.h"
#include "platform/win/WinModule.h"
#include "platform/win/WinResources.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using usertest::NewInstance;
using usertest::Recorder;

constexpr WORD kBasic = 100;
constexpr WORD kVisible = 101;
constexpr WORD kChild = 104;
constexpr WORD kUnknownClass = 102;
constexpr WORD kNested = 103;
constexpr DWORD kDeadline = 10000;

// What a dialog's procedure saw, and how it answers: by default TRUE to WM_INITDIALOG, and the commands
// IDOK and IDCANCEL end the dialog with their id.
struct DialogRecorder {
    std::vector<UINT> messages;
    std::vector<WORD> commands;
    bool visibleAtInit = true;
    HWND initFocus = nullptr;
    int initFocusId = 0;
    LPARAM initParameter = 0;
    std::wstring editTextAtInit;
    bool endOnCommand = true;
    std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)> handler;
};

INT_PTR RecordingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG)
        SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
    auto* recorder = reinterpret_cast<DialogRecorder*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
    if (!recorder)
        return FALSE;
    recorder->messages.push_back(message);
    if (message == WM_INITDIALOG) {
        recorder->visibleAtInit = IsWindowVisible(dialog) == TRUE;
        recorder->initFocus = reinterpret_cast<HWND>(wParam);
        recorder->initFocusId = GetDlgCtrlID(recorder->initFocus);
        recorder->initParameter = lParam;
        wchar_t text[64] = {};
        GetWindowTextW(GetDlgItem(dialog, 1001), text, 64);
        recorder->editTextAtInit = text;
    }
    if (recorder->handler)
        return recorder->handler(dialog, message, wParam, lParam);
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message == WM_COMMAND) {
        recorder->commands.push_back(LOWORD(wParam));
        if (recorder->endOnCommand && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL))
            EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

int Count(const std::vector<UINT>& messages, UINT message) {
    return static_cast<int>(std::count(messages.begin(), messages.end(), message));
}

std::wstring TextOf(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_instance = NewInstance();
        ASSERT_NE(usertest::RegisterRecordingClass(m_instance), 0);
        m_owner = CreateWindowExW(0, L"TestWnd", L"owner", WS_VISIBLE, 100, 100, 400, 300, nullptr, nullptr,
                                  m_instance, &m_ownerRecorder);
        ASSERT_NE(m_owner, nullptr);
        m_windowsBefore = WinUserTest::LiveWindows();
        WinDialogTest::SetModalLoopDeadline(kDeadline);
        WinDialogTest::ResetMessageBoxes();
    }
    void TearDown() override {
        EXPECT_EQ(WinDialogTest::PendingModalSteps(), 0u) << "a step was never run";
        WinDialogTest::ClearModalSteps();
        WinDialogTest::SetModalLoopDeadline(INFINITE);
        WinDialogTest::ResetMessageBoxes();
        DestroyWindow(m_owner);
        WinUserTest::PumpPending();
        UnregisterClassW(L"TestWnd", m_instance);
    }

    INT_PTR Modal(WORD id, DialogRecorder& recorder, HWND owner) {
        return DialogBoxParamW(nullptr, MAKEINTRESOURCEW(id), owner, &RecordingDialogProc,
                               reinterpret_cast<LPARAM>(&recorder));
    }
    // A step that ends once the condition holds.
    static void Until(std::function<bool(HWND)> condition) {
        WinDialogTest::RunInModalLoop(std::move(condition));
    }
    // A step that does something once.
    static void Once(std::function<void(HWND)> action) {
        WinDialogTest::RunInModalLoop([action](HWND dialog) {
            action(dialog);
            return true;
        });
    }

    HINSTANCE m_instance = nullptr;
    Recorder m_ownerRecorder;
    HWND m_owner = nullptr;
    DWORD m_windowsBefore = 0;
};

TEST_F(DialogTest, AModalDialogIsMadeInitialisedShownAndEndedWithItsValue) {
    DialogRecorder recorder;
    recorder.endOnCommand = false;
    HWND seen = nullptr;
    bool ownerEnabled = true;
    bool visible = false;
    HWND focus = nullptr;
    Once([&](HWND dialog) {
        seen = dialog;
        ownerEnabled = IsWindowEnabled(m_owner) == TRUE;
        visible = IsWindowVisible(dialog) == TRUE;
        focus = GetFocus();
        EndDialog(dialog, 42);
    });
    EXPECT_EQ(Modal(kBasic, recorder, m_owner), 42);

    ASSERT_NE(seen, nullptr);
    EXPECT_FALSE(recorder.visibleAtInit) << "WM_INITDIALOG comes before the dialog shows";
    EXPECT_TRUE(visible);
    EXPECT_FALSE(ownerEnabled) << "the owner is disabled while the dialog runs";
    EXPECT_TRUE(IsWindowEnabled(m_owner));
    EXPECT_FALSE(IsWindow(seen)) << "the loop destroys its dialog";
    EXPECT_EQ(WinUserTest::LiveWindows(), m_windowsBefore);
    EXPECT_EQ(recorder.initParameter, reinterpret_cast<LPARAM>(&recorder));
    EXPECT_EQ(recorder.editTextAtInit, L"start text") << "the controls exist at WM_INITDIALOG";
    ASSERT_NE(recorder.initFocus, nullptr);
    EXPECT_EQ(recorder.initFocusId, 1001) << "the first control that takes the focus";
    EXPECT_EQ(focus, recorder.initFocus) << "an answer of TRUE gives it the focus";
    EXPECT_EQ(Count(recorder.messages, WM_INITDIALOG), 1);
    EXPECT_EQ(recorder.messages.back(), WM_NCDESTROY);
}

TEST_F(DialogTest, TheTemplateMakesTheControlsWithTheirClassesTextsStylesAndFont) {
    DialogRecorder recorder;
    std::vector<std::wstring> classes;
    std::vector<int> ids;
    std::wstring caption;
    RECT client{}, ok{};
    LOGFONTW font{};
    HWND edit = nullptr;
    Once([&](HWND dialog) {
        caption = TextOf(dialog);
        GetClientRect(dialog, &client);
        EnumChildWindows(
            dialog,
            [](HWND child, LPARAM list) {
                wchar_t name[32];
                GetClassNameW(child, name, 32);
                reinterpret_cast<std::vector<std::wstring>*>(list)->push_back(name);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&classes));
        for (int id : {1000, 1001, 1002, 1003, 1, 2})
            ids.push_back(GetDlgItem(dialog, id) ? id : -id);
        HWND button = GetDlgItem(dialog, IDOK);
        GetWindowRect(button, &ok);
        POINT origin{0, 0};
        ClientToScreen(dialog, &origin);
        OffsetRect(&ok, -origin.x, -origin.y);
        edit = GetDlgItem(dialog, 1001);
        GetObjectW(reinterpret_cast<HGDIOBJ>(SendMessageW(edit, WM_GETFONT, 0, 0)), sizeof font, &font);
        EXPECT_EQ(GetWindowLongPtrW(GetDlgItem(dialog, 1002), GWL_STYLE) & BS_TYPEMASK, BS_AUTOCHECKBOX);
        EXPECT_TRUE(GetWindowLongPtrW(edit, GWL_STYLE) & WS_CHILD);
        EXPECT_EQ(TextOf(GetDlgItem(dialog, 2)), L"Cancel");
        EndDialog(dialog, 0);
    });
    Modal(kBasic, recorder, m_owner);
    EXPECT_EQ(caption, L"Basic dialog");
    EXPECT_EQ(client.right, 300);
    EXPECT_EQ(client.bottom, 200);
    EXPECT_EQ(classes,
              (std::vector<std::wstring>{L"Static", L"Edit", L"Button", L"ListBox", L"Button", L"Button"}));
    EXPECT_EQ(ids, (std::vector<int>{1000, 1001, 1002, 1003, 1, 2}));
    EXPECT_EQ(ok.left, 120);
    EXPECT_EQ(ok.top, 160);
    EXPECT_EQ(ok.right, 200);
    EXPECT_EQ(ok.bottom, 184);
    // 9 points at 96 dots per inch: 12 pixels.
    EXPECT_EQ(font.lfHeight, -12);
    EXPECT_EQ(std::wstring(font.lfFaceName), L"Sans");
}

TEST_F(DialogTest, EnterGivesIdOkAndEscapeIdCancelUnlessTheirButtonIsDisabled) {
    const struct {
        WPARAM key;
        bool disableOk;
        INT_PTR result;
        std::vector<WORD> commands;
    } cases[] = {
        {VK_RETURN, false, IDOK, {IDOK}},
        {VK_ESCAPE, false, IDCANCEL, {IDCANCEL}},
        // Enter does nothing while OK is disabled; the Escape that follows ends the dialog.
        {VK_RETURN, true, IDCANCEL, {IDCANCEL}},
    };
    for (const auto& c : cases) {
        DialogRecorder recorder;
        Once([&](HWND dialog) {
            if (c.disableOk)
                EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
            EXPECT_TRUE(WinUserTest::InjectKey(nullptr, c.key));
            if (c.disableOk) {
                EXPECT_TRUE(WinUserTest::InjectKey(nullptr, VK_ESCAPE));
            }
        });
        EXPECT_EQ(Modal(kBasic, recorder, m_owner), c.result) << "key " << c.key;
        EXPECT_EQ(recorder.commands, c.commands) << "key " << c.key;
    }
}

TEST_F(DialogTest, TemplatesThatCannotBeMadeGiveMinusOneAndShowNothing) {
    kvtest::TempFolder folder;
    folder.Write("unreadable.dlg", "dialog 300\nsize 10\n");
    folder.Write("elsewhere.dlg", "dialog 999\nsize 10 10\n");
    const std::string manifest =
        folder.Write("Lang.kvrc", "data 5 300 unreadable.dlg\ndata 5 301 elsewhere.dlg\n");
    HMODULE file = LoadLibraryExA(manifest.c_str(), 0, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(file, nullptr);

    const struct {
        HINSTANCE module;
        WORD id;
        DWORD error;
    } cases[] = {
        {nullptr, 999, ERROR_RESOURCE_NAME_NOT_FOUND},
        {file, kBasic, ERROR_RESOURCE_NAME_NOT_FOUND},
        {file, 300, ERROR_RESOURCE_DATA_NOT_FOUND},
        {file, 301, ERROR_RESOURCE_DATA_NOT_FOUND},
        {nullptr, kUnknownClass, ERROR_CANNOT_FIND_WND_CLASS},
    };
    for (const auto& c : cases) {
        DialogRecorder recorder;
        SetLastError(0);
        EXPECT_EQ(DialogBoxParamW(c.module, MAKEINTRESOURCEW(c.id), m_owner, &RecordingDialogProc,
                                  reinterpret_cast<LPARAM>(&recorder)),
                  -1)
            << "dialog " << c.id;
        EXPECT_EQ(GetLastError(), c.error) << "dialog " << c.id;
        SetLastError(0);
        EXPECT_EQ(CreateDialogParamW(c.module, MAKEINTRESOURCEW(c.id), m_owner, &RecordingDialogProc,
                                     reinterpret_cast<LPARAM>(&recorder)),
                  nullptr);
        EXPECT_EQ(GetLastError(), c.error) << "dialog " << c.id;
        EXPECT_TRUE(recorder.messages.empty()) << "the procedure never hears of a dialog that is not made";
        EXPECT_EQ(WinUserTest::LiveWindows(), m_windowsBefore) << "dialog " << c.id;
        EXPECT_TRUE(IsWindowEnabled(m_owner));
    }
    DialogRecorder recorder;
    EXPECT_EQ(DialogBoxParamW(nullptr, L"named", m_owner, &RecordingDialogProc, 0), -1)
        << "resources have no names";
    FreeLibrary(file);
}

TEST_F(DialogTest, TheModalLoopServesEveryWindowOfTheThreadAndPostsFromOtherThreads) {
    Recorder otherRecorder;
    HWND other = usertest::MakeWindow(m_instance, otherRecorder);
    ASSERT_NE(other, nullptr);
    std::atomic<bool> posted{false};
    std::thread poster;
    DialogRecorder recorder;
    Once([&](HWND) {
        SetTimer(other, 5, 10, nullptr);
        poster = std::thread([&] { posted = PostMessageW(other, WM_APP + 7, 11, 22) == TRUE; });
    });
    // The loop (not this step) dispatches: the step only looks.
    Until([&](HWND) { return otherRecorder.Count(WM_APP + 7) == 1 && otherRecorder.Count(WM_TIMER) >= 1; });
    Once([](HWND dialog) { EndDialog(dialog, 3); });
    EXPECT_EQ(Modal(kBasic, recorder, m_owner), 3);
    poster.join();
    EXPECT_TRUE(posted);
    ASSERT_EQ(otherRecorder.Count(WM_APP + 7), 1);
    EXPECT_EQ(otherRecorder.Of(WM_APP + 7)[0].wParam, 11u);
    KillTimer(other, 5);
    DestroyWindow(other);
}

TEST_F(DialogTest, ADialogOpenedFromAStepRunsTheStepsAfterIt) {
    DialogRecorder outer;
    DialogRecorder inner;
    HWND outerDialog = nullptr;
    HWND innerDialog = nullptr;
    bool outerEnabledMeanwhile = true;
    INT_PTR innerResult = 0;
    Once([&](HWND dialog) {
        outerDialog = dialog;
        innerResult = Modal(kNested, inner, dialog);
    });
    Once([&](HWND dialog) {
        innerDialog = dialog;
        outerEnabledMeanwhile = IsWindowEnabled(outerDialog) == TRUE;
        EndDialog(dialog, 9);
    });
    Once([&](HWND dialog) {
        EXPECT_EQ(dialog, outerDialog);
        EXPECT_TRUE(IsWindowEnabled(dialog)) << "enabled again when the dialog over it ended";
        EndDialog(dialog, 8);
    });
    EXPECT_EQ(Modal(kBasic, outer, m_owner), 8);
    EXPECT_EQ(innerResult, 9);
    ASSERT_NE(innerDialog, nullptr);
    EXPECT_NE(innerDialog, outerDialog);
    EXPECT_FALSE(outerEnabledMeanwhile) << "the dialog under the nested one is its disabled owner";
    EXPECT_FALSE(IsWindow(innerDialog));
}

TEST_F(DialogTest, EndingTwiceKeepsTheFirstResultAndQuitEndsTheLoop) {
    DialogRecorder recorder;
    BOOL second = TRUE;
    Once([&](HWND dialog) {
        EXPECT_TRUE(EndDialog(dialog, 5));
        second = EndDialog(dialog, 6);
    });
    EXPECT_EQ(Modal(kBasic, recorder, m_owner), 5);
    EXPECT_FALSE(second);
    EXPECT_FALSE(EndDialog(m_owner, 1)) << "not a dialog";

    Once([](HWND) { PostQuitMessage(4); });
    EXPECT_EQ(Modal(kBasic, recorder, m_owner), 0);
    MSG message{};
    ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) << "the quit is left for the thread's loop";
    EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(message.wParam, 4u);
}

TEST_F(DialogTest, ALoopPastItsDeadlineEndsItsDialogWithMinusOne) {
    WinDialogTest::SetModalLoopDeadline(20);
    const DWORD before = WinDialogTest::ModalLoopsPastDeadline();
    DialogRecorder recorder;
    EXPECT_EQ(Modal(kBasic, recorder, m_owner), -1);
    EXPECT_EQ(WinDialogTest::ModalLoopsPastDeadline(), before + 1);
    EXPECT_TRUE(IsWindowEnabled(m_owner));
    EXPECT_EQ(WinUserTest::LiveWindows(), m_windowsBefore);
}

TEST_F(DialogTest, ModelessDialogsShowAsTheirTemplateSaysAndCloseThroughIdCancel) {
    DialogRecorder hidden;
    HWND basic = CreateDialogParamW(nullptr, MAKEINTRESOURCEW(kBasic), m_owner, &RecordingDialogProc,
                                    reinterpret_cast<LPARAM>(&hidden));
    ASSERT_NE(basic, nullptr);
    EXPECT_FALSE(IsWindowVisible(basic));
    EXPECT_TRUE(IsWindowEnabled(m_owner)) << "a modeless dialog leaves its owner alone";

    DialogRecorder shown;
    shown.endOnCommand = false;
    shown.handler = [&](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
            shown.commands.push_back(IDCANCEL);
            DestroyWindow(dialog);
            return TRUE;
        }
        return message == WM_INITDIALOG;
    };
    HWND visible = CreateDialogParamW(nullptr, MAKEINTRESOURCEW(kVisible), m_owner, &RecordingDialogProc,
                                      reinterpret_cast<LPARAM>(&shown));
    ASSERT_NE(visible, nullptr);
    EXPECT_TRUE(IsWindowVisible(visible));
    EXPECT_EQ(TextOf(GetDlgItem(visible, IDCANCEL)), L"Close\tnow");
    // The default processing of WM_CLOSE is the command IDCANCEL.
    SendMessageW(visible, WM_CLOSE, 0, 0);
    EXPECT_EQ(shown.commands, std::vector<WORD>{IDCANCEL});
    EXPECT_FALSE(IsWindow(visible));

    // EndDialog only hides a modeless dialog.
    EXPECT_TRUE(EndDialog(basic, 1));
    EXPECT_TRUE(IsWindow(basic));
    DestroyWindow(basic);
    EXPECT_EQ(WinUserTest::LiveWindows(), m_windowsBefore);
}

TEST_F(DialogTest, TheBackgroundIsErasedWithTheBrushTheDialogAnswersToCtlColorDlg) {
    const COLORREF colour = RGB(30, 160, 90);
    HBRUSH brush = CreateSolidBrush(colour);
    const std::pair<HBRUSH, COLORREF> cases[] = {{brush, colour}, {nullptr, GetSysColor(COLOR_BTNFACE)}};
    for (const auto& c : cases) {
        DialogRecorder recorder;
        recorder.handler = [&](HWND, UINT message, WPARAM, LPARAM) -> INT_PTR {
            return message == WM_CTLCOLORDLG ? reinterpret_cast<INT_PTR>(c.first) : message == WM_INITDIALOG;
        };
        HWND dialog = CreateDialogParamW(nullptr, MAKEINTRESOURCEW(kVisible), m_owner, &RecordingDialogProc,
                                         reinterpret_cast<LPARAM>(&recorder));
        ASSERT_TRUE(dialog && UpdateWindow(dialog));
        EXPECT_EQ(Count(recorder.messages, WM_CTLCOLORDLG), 1) << "asked as the background is erased";
        LONG width = 0, height = 0;
        std::vector<std::uint32_t> pixels;
        ASSERT_TRUE(WinGdiTest::ReadWindowPixels(dialog, &width, &height, &pixels));
        EXPECT_TRUE(pixels.front() == usertest::PixelOf(c.second) && pixels.back() == pixels.front());
        DestroyWindow(dialog);
    }
    DeleteObject(brush);
}

TEST_F(DialogTest, AChildTemplateBecomesAChildOfItsOwnerAtItsCorner) {
    DialogRecorder recorder;
    HWND panel = CreateDialogParamW(nullptr, MAKEINTRESOURCEW(kChild), m_owner, &RecordingDialogProc,
                                    reinterpret_cast<LPARAM>(&recorder));
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(GetParent(panel), m_owner);
    EXPECT_TRUE(IsWindowVisible(panel));
    RECT panelRect{};
    GetWindowRect(panel, &panelRect);
    EXPECT_EQ(panelRect.right - panelRect.left, 120);
    POINT corner{0, 0};
    ClientToScreen(m_owner, &corner);
    EXPECT_EQ(panelRect.left, corner.x);
    EXPECT_EQ(panelRect.top, corner.y);
    DestroyWindow(panel);
    // Without an owner the same template makes a pop-up.
    HWND alone = CreateDialogParamW(nullptr, MAKEINTRESOURCEW(kChild), nullptr, &RecordingDialogProc,
                                    reinterpret_cast<LPARAM>(&recorder));
    ASSERT_NE(alone, nullptr);
    EXPECT_EQ(GetParent(alone), nullptr);
    DestroyWindow(alone);
    EXPECT_EQ(WinUserTest::LiveWindows(), m_windowsBefore);
}

TEST_F(DialogTest, ChildrenAreEnumeratedDepthFirstUntilTheCallbackStops) {
    HWND a = CreateWindowExW(0, L"Static", L"a", WS_CHILD, 0, 0, 1, 1, m_owner, nullptr, m_instance, nullptr);
    HWND a1 = CreateWindowExW(0, L"Static", L"a1", WS_CHILD, 0, 0, 1, 1, a, nullptr, m_instance, nullptr);
    HWND b = CreateWindowExW(0, L"Static", L"b", WS_CHILD, 0, 0, 1, 1, m_owner, nullptr, m_instance, nullptr);
    HWND a2 = CreateWindowExW(0, L"Static", L"a2", WS_CHILD, 0, 0, 1, 1, a, nullptr, m_instance, nullptr);
    struct Walk {
        std::vector<HWND> seen;
        std::size_t stopAfter;
    };
    const auto visit = [](HWND child, LPARAM state) -> BOOL {
        auto* walk = reinterpret_cast<Walk*>(state);
        walk->seen.push_back(child);
        return walk->seen.size() < walk->stopAfter;
    };
    Walk all{{}, 100};
    EXPECT_TRUE(EnumChildWindows(m_owner, visit, reinterpret_cast<LPARAM>(&all)));
    EXPECT_EQ(all.seen, (std::vector<HWND>{a, a1, a2, b}));
    Walk two{{}, 2};
    EnumChildWindows(m_owner, visit, reinterpret_cast<LPARAM>(&two));
    EXPECT_EQ(two.seen, (std::vector<HWND>{a, a1}));
    Walk none{{}, 100};
    EXPECT_TRUE(EnumChildWindows(b, visit, reinterpret_cast<LPARAM>(&none)));
    EXPECT_TRUE(none.seen.empty());
    DestroyWindow(a);
    DestroyWindow(b);
    EXPECT_FALSE(EnumChildWindows(a, visit, reinterpret_cast<LPARAM>(&none))) << "a window that is gone";
}

TEST(MessageBox, AnswersFromTheQueueOrAsDismissedAndRecordsEveryBox) {
    WinDialogTest::ResetMessageBoxes();
    WinDialogTest::QueueMessageBoxAnswer(IDYES);
    const struct {
        UINT type;
        int answer;
    } cases[] = {
        {MB_YESNO | MB_ICONQUESTION, IDYES}, // the queued answer
        {MB_OK | MB_ICONERROR, IDOK},
        {MB_OKCANCEL, IDCANCEL},
        {MB_YESNO, IDNO},
        {MB_YESNOCANCEL | MB_TOPMOST, IDCANCEL},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MessageBoxW(nullptr, L"text", L"caption", c.type), c.answer) << "type " << c.type;
    EXPECT_EQ(MessageBoxW(nullptr, nullptr, nullptr, MB_OK), IDOK);
    const auto calls = WinDialogTest::MessageBoxCalls();
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[0].text, L"text");
    EXPECT_EQ(calls[0].caption, L"caption");
    EXPECT_EQ(calls[0].type, MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(calls[0].answer, IDYES);
    EXPECT_EQ(calls[5].caption, L"Error") << "the platform's caption when none is given";
    WinDialogTest::ResetMessageBoxes();
    EXPECT_TRUE(WinDialogTest::MessageBoxCalls().empty());
}

TEST(BitmapResource, APngResourceBecomesABitmapOfItsPremultipliedPixels) {
    const DWORD before = WinGdiTest::LiveObjects();
    HBITMAP bitmap = LoadBitmapA(nullptr, MAKEINTRESOURCEA(200));
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(WinGdiTest::LiveObjects(), before + 1);
    BITMAP info{};
    ASSERT_EQ(GetObjectW(bitmap, sizeof info, &info), static_cast<int>(sizeof info));
    EXPECT_EQ(info.bmWidth, 4);
    EXPECT_EQ(info.bmHeight, 2);
    EXPECT_EQ(info.bmBitsPixel, 32);
    LONG width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
    ASSERT_TRUE(WinGdiTest::ReadBitmapPixels(bitmap, &width, &height, &pixels));
    // Top row opaque red, bottom row opaque blue, its last pixel green at alpha 128 (premultiplied:
    // 255 * 128 / 255 = 128).
    const std::vector<std::uint32_t> expected = {0xFFFF0000, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000,
                                                 0xFF0000FF, 0xFF0000FF, 0xFF0000FF, 0x80008000};
    EXPECT_EQ(pixels, expected);

    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_FALSE(DeleteObject(bitmap));
    EXPECT_FALSE(WinGdiTest::ReadBitmapPixels(bitmap, nullptr, nullptr, nullptr));
    EXPECT_EQ(WinGdiTest::LiveObjects(), before);
}

TEST(BitmapResource, MissingAndUnreadableResourcesGiveNoBitmap) {
    const struct {
        HINSTANCE module;
        const char* name;
        DWORD error;
    } cases[] = {
        {nullptr, MAKEINTRESOURCEA(999), ERROR_RESOURCE_NAME_NOT_FOUND},
        {nullptr, MAKEINTRESOURCEA(0), ERROR_RESOURCE_NAME_NOT_FOUND},
        {nullptr, "named", ERROR_RESOURCE_NAME_NOT_FOUND},
        {nullptr, MAKEINTRESOURCEA(201), ERROR_RESOURCE_DATA_NOT_FOUND},
        // A dialog template is not a bitmap, though the id exists.
        {nullptr, MAKEINTRESOURCEA(kBasic), ERROR_RESOURCE_NAME_NOT_FOUND},
    };
    const DWORD before = WinGdiTest::LiveObjects();
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_EQ(LoadBitmapA(c.module, c.name), nullptr);
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(WinGdiTest::LiveObjects(), before);
    std::shared_ptr<WinSurface> pixels;
    const unsigned char truncated[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};
    EXPECT_FALSE(WinBitmaps::DecodePng(truncated, sizeof truncated, pixels));
    EXPECT_FALSE(WinBitmaps::DecodePng(nullptr, 0, pixels));
    EXPECT_EQ(pixels, nullptr);
}

TEST(ThreadMainWindow, IsTheThreadsOwnAndGoesWithItsWindow) {
    const HINSTANCE instance = NewInstance();
    ASSERT_NE(usertest::RegisterRecordingClass(instance), 0);
    Recorder recorder;
    HWND main = usertest::MakeWindow(instance, recorder);
    EXPECT_EQ(GetThreadMainWindow(), nullptr);
    SetThreadMainWindow(main);
    EXPECT_EQ(GetThreadMainWindow(), main);
    HWND elsewhere = main;
    std::thread([&] { elsewhere = GetThreadMainWindow(); }).join();
    EXPECT_EQ(elsewhere, nullptr) << "another thread has its own";
    DestroyWindow(main);
    EXPECT_EQ(GetThreadMainWindow(), nullptr);
    SetThreadMainWindow(nullptr);
    UnregisterClassW(L"TestWnd", instance);
}

TEST(InjectedKeys, GoToTheFocusOrTheActiveWindowAsDownAndUp) {
    const HINSTANCE instance = NewInstance();
    ASSERT_NE(usertest::RegisterRecordingClass(instance), 0);
    Recorder recorder;
    HWND window = usertest::MakeWindow(instance, recorder, WS_VISIBLE);
    SetFocus(nullptr);
    SetActiveWindow(window);
    EXPECT_TRUE(WinUserTest::InjectKey(nullptr, VK_SPACE));
    WinUserTest::PumpPending();
    ASSERT_EQ(recorder.Count(WM_KEYDOWN), 1);
    EXPECT_EQ(recorder.Of(WM_KEYDOWN)[0].wParam, VK_SPACE);
    EXPECT_EQ(recorder.Count(WM_KEYUP), 1);
    bool other = true;
    std::thread([&] { other = WinUserTest::InjectKey(window, VK_RETURN); }).join();
    EXPECT_FALSE(other) << "another thread's window";
    DestroyWindow(window);
    EXPECT_FALSE(WinUserTest::InjectKey(window, VK_RETURN));
    UnregisterClassW(L"TestWnd", instance);
}

} // namespace
