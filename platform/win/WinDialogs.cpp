// The dialog manager: dialogs from templates, their window procedure and default processing, the modal
// loop with its keys and test steps, child enumeration and the thread's main window.
#include "WinDialogs.h"

#include "WinControls.h"
#include "WinDebug.h"
#include "WinDialogTemplate.h"
#include "WinGdiDraw.h"
#include "WinGdiObjects.h"
#include "WinKeyboard.h"
#include "WinResources.h"
#include "WinSeams.h"
#include "WinUserInternal.h"
#include "utf16.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cwchar>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace {

constexpr wchar_t kDialogClass[] = L"#32770";
constexpr int kPointsPerInch = 72;
// A loop that has steps to run, or a deadline, looks at them at least this often.
constexpr DWORD kStepSlice = 10;
// Messages one turn of the modal loop dispatches before it looks at its end, its steps and its deadline.
constexpr int kMessagesPerTurn = 1000;

struct DialogRecord {
    std::mutex lock; // result and ended
    DLGPROC procedure = nullptr;
    bool ended = false;
    INT_PTR result = 0;
    HFONT font = nullptr;
};

struct DialogState {
    std::mutex lock;
    std::map<std::uint32_t, std::shared_ptr<DialogRecord>> dialogs; // by window handle value
    std::atomic<DWORD> deadline{INFINITE};
    std::atomic<DWORD> pastDeadline{0};
};

DialogState& State() {
    static DialogState* state = new DialogState;
    return *state;
}

std::shared_ptr<DialogRecord> Find(HWND dialog) {
    std::lock_guard<std::mutex> guard(State().lock);
    auto it = State().dialogs.find(WinUser::ToId(dialog));
    return it == State().dialogs.end() ? nullptr : it->second;
}

void Forget(HWND dialog) {
    std::shared_ptr<DialogRecord> gone;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        auto it = State().dialogs.find(WinUser::ToId(dialog));
        if (it == State().dialogs.end())
            return;
        gone = std::move(it->second);
        State().dialogs.erase(it);
    }
    std::lock_guard<std::mutex> guard(gone->lock);
    // A modal dialog destroyed before it was ended ends its loop as cancelled.
    gone->ended = true;
    if (gone->font)
        DeleteObject(gone->font);
    gone->font = nullptr;
}

bool IsEnded(DialogRecord& record, INT_PTR* result = nullptr) {
    std::lock_guard<std::mutex> guard(record.lock);
    if (result)
        *result = record.result;
    return record.ended;
}

// A dialog's background takes the brush that the dialog answers to WM_CTLCOLORDLG (the default processing
// answers the button face), asked of the window itself so that a window procedure put in front of the
// dialog's sees the question too.
LRESULT EraseBackground(HWND window, HDC dc) {
    const auto brush = reinterpret_cast<HBRUSH>(
        SendMessageW(window, WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(window)));
    RECT client{};
    if (!dc || !brush || !GetClientRect(window, &client))
        return 0;
    return FillRect(dc, &client, brush) ? 1 : 0;
}

LRESULT DialogWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Held while the procedure runs: it may destroy its dialog.
    std::shared_ptr<DialogRecord> record = Find(window);
    const INT_PTR answer =
        record && record->procedure ? record->procedure(window, message, wParam, lParam) : 0;
    switch (message) {
    case WM_INITDIALOG:
        return answer;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
        if (answer)
            return answer;
        break;
    case WM_ERASEBKGND:
        if (answer)
            return 0;
        return EraseBackground(window, reinterpret_cast<HDC>(wParam));
    case WM_NCDESTROY:
        Forget(window);
        return DefWindowProcW(window, message, wParam, lParam);
    default:
        if (answer)
            return 0;
        break;
    }
    if (message == WM_CLOSE) {
        // The window may be gone already (the procedure closed it itself): then this goes nowhere.
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, IDCANCEL)));
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void EnsureDialogClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &DialogWindowProc;
        windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.lpszClassName = kDialogClass;
        WinUser::RegisterSystemClass(windowClass);
    });
}

// The template of the module's dialog, or false with the error to report.
bool LoadTemplate(HINSTANCE instance, const wchar_t* name, WinDialogTemplate::Template& dialog,
                  DWORD& error) {
    HRSRC resource = IS_INTRESOURCE(name) && name ? FindResourceW(instance, name, RT_DIALOG) : nullptr;
    if (!resource) {
        error = ERROR_RESOURCE_NAME_NOT_FOUND;
        return false;
    }
    const auto* bytes = static_cast<const char*>(LockResource(LoadResource(instance, resource)));
    const DWORD size = SizeofResource(instance, resource);
    std::string why;
    if (!bytes || !WinDialogTemplate::Parse(std::string_view(bytes, size), dialog, why)) {
        OutputDebugStringA(("dialog template: " + (bytes ? why : std::string("no data")) + "\n").c_str());
        error = ERROR_RESOURCE_DATA_NOT_FOUND;
        return false;
    }
    const auto id = static_cast<WORD>(reinterpret_cast<std::uintptr_t>(name));
    if (dialog.id != id) {
        OutputDebugStringA(("dialog template: resource " + std::to_string(id) + " holds dialog " +
                            std::to_string(dialog.id) + "\n")
                               .c_str());
        error = ERROR_RESOURCE_DATA_NOT_FOUND;
        return false;
    }
    return true;
}

HFONT MakeFont(const WinDialogTemplate::Template& dialog) {
    if (dialog.fontPoints <= 0)
        return nullptr;
    LOGFONTW font{};
    font.lfHeight = -MulDiv(dialog.fontPoints, static_cast<int>(WinSeams::ScreenDpi()), kPointsPerInch);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    const std::wstring face = Utf::Utf8ToWide(dialog.fontFace);
    std::wcsncpy(font.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    return CreateFontIndirectW(&font);
}

// Where the dialog goes: centred over its owner, at the screen's origin without one.
POINT PlaceOf(HWND owner, const WinDialogTemplate::Template& dialog) {
    RECT area{};
    if (!owner || !GetWindowRect(owner, &area))
        return POINT{0, 0};
    return POINT{area.left + (area.right - area.left - dialog.width) / 2,
                 area.top + (area.bottom - area.top - dialog.height) / 2};
}

// The first control that takes the focus: visible, enabled and with WS_TABSTOP.
HWND FirstTabStop(HWND dialog) {
    std::vector<HWND> children;
    {
        std::lock_guard<std::mutex> guard(WinUser::UserLock());
        if (std::shared_ptr<WinUser::WindowRecord> record = WinUser::FindWindowLocked(dialog))
            children = record->children;
    }
    for (HWND child : children) {
        const auto style = static_cast<DWORD>(GetWindowLongPtrW(child, GWL_STYLE));
        if ((style & WS_TABSTOP) && (style & WS_VISIBLE) && !(style & WS_DISABLED))
            return child;
    }
    return nullptr;
}

// Makes the dialog and its controls and runs WM_INITDIALOG; null with the error set on failure.
HWND MakeDialog(HINSTANCE instance, const wchar_t* name, HWND owner, DLGPROC procedure, LPARAM parameter,
                bool& visible) {
    WinDialogTemplate::Template dialog;
    DWORD error = ERROR_SUCCESS;
    if (!LoadTemplate(instance, name, dialog, error)) {
        SetLastError(error);
        return nullptr;
    }
    if (owner && !IsWindow(owner)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    EnsureDialogClass();
    visible = (dialog.style & WS_VISIBLE) != 0;
    // A child template with an owner becomes a child of it at its corner (a panel inside a host window);
    // any other dialog is a pop-up placed over its owner.
    const bool child = (dialog.style & WS_CHILD) != 0 && owner;
    const DWORD style = child ? dialog.style & ~WS_VISIBLE : (dialog.style & ~(WS_CHILD | WS_VISIBLE)) | WS_POPUP;
    const POINT place = child ? POINT{0, 0} : PlaceOf(owner, dialog);
    const std::wstring caption = Utf::Utf8ToWide(dialog.caption);
    HWND window = CreateWindowExW(0, kDialogClass, caption.c_str(), style, place.x, place.y, dialog.width,
                                  dialog.height, child ? owner : nullptr, nullptr, instance, nullptr);
    if (!window)
        return nullptr;
    auto record = std::make_shared<DialogRecord>();
    record->font = MakeFont(dialog);
    {
        std::lock_guard<std::mutex> guard(State().lock);
        State().dialogs[WinUser::ToId(window)] = record;
    }
    for (const WinDialogTemplate::Control& control : dialog.controls) {
        const std::wstring className = Utf::Utf8ToWide(control.className);
        const std::wstring text = Utf::Utf8ToWide(control.text);
        HWND child = CreateWindowExW(0, className.c_str(), text.c_str(), control.style | WS_CHILD, control.x,
                                     control.y, control.width, control.height, window,
                                     reinterpret_cast<HMENU>(static_cast<std::uintptr_t>(control.id)),
                                     instance, nullptr);
        if (!child) {
            error = GetLastError();
            DestroyWindow(window);
            SetLastError(error);
            return nullptr;
        }
        if (record->font)
            SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(record->font), FALSE);
    }
    // From here on the dialog's messages reach its procedure.
    record->procedure = procedure;
    HWND first = FirstTabStop(window);
    const LRESULT focus = SendMessageW(window, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), parameter);
    if (!IsWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (focus && first && IsWindow(first))
        SetFocus(first);
    return window;
}

thread_local std::deque<std::function<bool(HWND)>> t_steps;

// Runs the first step once; true while steps are left.
bool RunStep(HWND dialog) {
    if (t_steps.empty())
        return false;
    std::function<bool(HWND)> step = std::move(t_steps.front());
    t_steps.pop_front();
    if (!step(dialog))
        t_steps.push_front(std::move(step));
    return !t_steps.empty();
}

void EndByLoop(HWND dialog, DialogRecord& record, INT_PTR result) {
    if (EndDialog(dialog, result))
        return;
    std::lock_guard<std::mutex> guard(record.lock);
    record.ended = true;
}

void RunModalLoop(HWND dialog, DialogRecord& record) {
    const DWORD limit = State().deadline.load();
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        MSG message;
        for (int count = 0;
             count < kMessagesPerTurn && !IsEnded(record) && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);
             ++count) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                EndByLoop(dialog, record, 0);
                return;
            }
            if (!IsDialogMessageW(dialog, &message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
        if (IsEnded(record) || !IsWindow(dialog))
            return;
        const bool stepping = RunStep(dialog);
        if (IsEnded(record) || !IsWindow(dialog))
            return;
        DWORD wait = stepping ? kStepSlice : INFINITE;
        if (limit != INFINITE) {
            const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start)
                                   .count();
            if (spent >= limit) {
                ++State().pastDeadline;
                OutputDebugStringA("DialogBoxParam: the modal loop passed its deadline\n");
                EndByLoop(dialog, record, -1);
                return;
            }
            wait = std::min<DWORD>(wait, static_cast<DWORD>(limit - spent));
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT);
    }
}

bool IsWithin(HWND dialog, HWND window) {
    for (int depth = 0; window && depth < 10000; ++depth) {
        if (window == dialog)
            return true;
        window = GetParent(window);
    }
    return false;
}

struct MessageBoxState {
    std::mutex lock;
    std::deque<int> answers;
    std::vector<WinDialogTest::MessageBoxCall> calls;
};

MessageBoxState& Boxes() {
    static MessageBoxState* state = new MessageBoxState;
    return *state;
}

int DismissAnswer(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OK:
        return IDOK;
    case MB_YESNO:
        return IDNO;
    default:
        return IDCANCEL;
    }
}

} // namespace

INT_PTR DialogBoxParamW(HINSTANCE instance, const wchar_t* templateName, HWND parent, DLGPROC procedure,
                        LPARAM parameter) {
    bool visible = false;
    HWND dialog = MakeDialog(instance, templateName, parent, procedure, parameter, visible);
    if (!dialog)
        return -1;
    std::shared_ptr<DialogRecord> record = Find(dialog);
    const bool disabledOwner = parent && EnableWindow(parent, FALSE) == FALSE;
    if (!IsEnded(*record)) {
        ShowWindow(dialog, SW_SHOW);
        SetActiveWindow(dialog);
        RunModalLoop(dialog, *record);
    }
    if (disabledOwner && IsWindow(parent)) {
        EnableWindow(parent, TRUE);
        SetActiveWindow(parent);
    }
    INT_PTR result = 0;
    IsEnded(*record, &result);
    if (IsWindow(dialog))
        DestroyWindow(dialog);
    return result;
}

HWND CreateDialogParamW(HINSTANCE instance, const wchar_t* templateName, HWND parent, DLGPROC procedure,
                        LPARAM parameter) {
    bool visible = false;
    HWND dialog = MakeDialog(instance, templateName, parent, procedure, parameter, visible);
    if (dialog && visible)
        ShowWindow(dialog, SW_SHOW);
    return dialog;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    std::shared_ptr<DialogRecord> record = Find(dialog);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> guard(record->lock);
        if (record->ended) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        record->ended = true;
        record->result = result;
    }
    if (GetWindowThreadProcessId(dialog, nullptr) == GetCurrentThreadId())
        ShowWindow(dialog, SW_HIDE);
    else
        PostMessageW(dialog, WM_NULL, 0, 0); // wakes the dialog's loop
    return TRUE;
}

BOOL IsDialogMessageW(HWND dialog, MSG* message) {
    if (!message || !dialog || !IsWindow(dialog) || !IsWithin(dialog, message->hwnd))
        return FALSE;
    if (message->message == WM_KEYDOWN && (message->wParam == VK_RETURN || message->wParam == VK_ESCAPE)) {
        const int id = message->wParam == VK_RETURN ? IDOK : IDCANCEL;
        HWND control = GetDlgItem(dialog, id);
        if (!control || IsWindowEnabled(control))
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED),
                         reinterpret_cast<LPARAM>(control));
        return TRUE;
    }
    TranslateMessage(message);
    DispatchMessageW(message);
    return TRUE;
}

BOOL EnumChildWindows(HWND parent, WNDENUMPROC procedure, LPARAM parameter) {
    if (!procedure)
        return FALSE;
    std::vector<HWND> descendants;
    {
        std::lock_guard<std::mutex> guard(WinUser::UserLock());
        std::shared_ptr<WinUser::WindowRecord> record = WinUser::FindWindowLocked(parent);
        if (!record) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        // Depth first, each child before its own children; the stack holds what is still to be listed.
        std::vector<HWND> pending(record->children.rbegin(), record->children.rend());
        while (!pending.empty()) {
            HWND next = pending.back();
            pending.pop_back();
            std::shared_ptr<WinUser::WindowRecord> child = WinUser::FindWindowLocked(next);
            if (!child)
                continue;
            descendants.push_back(next);
            pending.insert(pending.end(), child->children.rbegin(), child->children.rend());
        }
    }
    for (HWND child : descendants) {
        if (IsWindow(child) && !procedure(child, parameter))
            break;
    }
    return TRUE;
}

int MessageBoxW(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    std::lock_guard<std::mutex> guard(Boxes().lock);
    int answer = DismissAnswer(type);
    if (!Boxes().answers.empty()) {
        answer = Boxes().answers.front();
        Boxes().answers.pop_front();
    }
    Boxes().calls.push_back(
        WinDialogTest::MessageBoxCall{owner, text ? text : L"", caption ? caption : L"Error", type, answer});
    return answer;
}

void WinDialogTest::QueueMessageBoxAnswer(int answer) {
    std::lock_guard<std::mutex> guard(Boxes().lock);
    Boxes().answers.push_back(answer);
}

std::vector<WinDialogTest::MessageBoxCall> WinDialogTest::MessageBoxCalls() {
    std::lock_guard<std::mutex> guard(Boxes().lock);
    return Boxes().calls;
}

void WinDialogTest::ResetMessageBoxes() {
    std::lock_guard<std::mutex> guard(Boxes().lock);
    Boxes().answers.clear();
    Boxes().calls.clear();
}

void WinDialogTest::RunInModalLoop(std::function<bool(HWND dialog)> step) {
    if (step)
        t_steps.push_back(std::move(step));
}

std::size_t WinDialogTest::PendingModalSteps() {
    return t_steps.size();
}

void WinDialogTest::ClearModalSteps() {
    t_steps.clear();
}

void WinDialogTest::SetModalLoopDeadline(DWORD milliseconds) {
    State().deadline.store(milliseconds);
}

DWORD WinDialogTest::ModalLoopsPastDeadline() {
    return State().pastDeadline.load();
}
