// The dialog manager: dialogs made from the templates of a module's resources (type RT_DIALOG, written in
// the text form of WinDialogTemplate.h), run modally in a message loop of their own or modelessly in the
// thread's loop; message boxes; the thread's main window.
//
// A dialog is a pop-up window of the class "#32770" whose messages go first to the dialog procedure given
// when it was made; what the procedure answers FALSE for gets the default processing (WM_CLOSE becomes the
// command IDCANCEL, the rest is DefWindowProcW's). The procedure's answer to WM_CTLCOLOREDIT and
// WM_CTLCOLORSTATIC is the brush to colour the control with (0: the default colours); the background is
// erased with its answer to WM_CTLCOLORDLG (0: the button face), which the dialog is sent, with the
// context, each time it is erased. Controls get the template's font, the dialog its caption; WM_INITDIALOG
// (wParam: the first control that takes the focus, lParam: the parameter) comes after every control is
// made and before the dialog is shown, and an answer of TRUE gives that control the focus.
#pragma once

#include "WinDesktop.h"
#include "WinUser.h"

#include <functional>
#include <string>
#include <vector>

using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);
using WNDENUMPROC = BOOL (*)(HWND, LPARAM);

// Styles of a dialog's own window.
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD DS_SETFONT = 0x00000040;
constexpr DWORD DS_MODALFRAME = 0x00000080;
constexpr DWORD DS_CENTER = 0x00000800;

// Makes the dialog owned by parent, disables the owner, shows the dialog and runs a message loop that
// dispatches every message of the thread (whatever window it is for) until EndDialog; then the owner is
// enabled again, the dialog destroyed, and EndDialog's value returned. In the loop Enter sends the dialog
// the command IDOK and Escape IDCANCEL (see IsDialogMessageW). -1, with nothing made or shown, for a
// template that the module does not have (ERROR_RESOURCE_NAME_NOT_FOUND), one that cannot be read or is
// filed under another id (ERROR_RESOURCE_DATA_NOT_FOUND), or a control class that does not exist
// (ERROR_CANNOT_FIND_WND_CLASS). A WM_QUIT that arrives ends the loop (as with EndDialog(0)) and is posted
// again for the thread's own loop.
INT_PTR DialogBoxParamW(HINSTANCE instance, const wchar_t* templateName, HWND parent, DLGPROC procedure,
                        LPARAM parameter);
// Makes the dialog as above and leaves it to the thread's loop; it is shown when its template's style
// has WS_VISIBLE. Null, with nothing made, for the failures of DialogBoxParamW.
HWND CreateDialogParamW(HINSTANCE instance, const wchar_t* templateName, HWND parent, DLGPROC procedure,
                        LPARAM parameter);
// Ends a modal dialog's loop with the result; the dialog is hidden at once and destroyed by its loop (a
// modal dialog destroyed otherwise ends its loop with 0). A modeless dialog is only hidden. FALSE for a
// window that is not a dialog, or a dialog that was ended already, whose first result then stands.
BOOL EndDialog(HWND dialog, INT_PTR result);
// Handles the message when it is for the dialog or one of its windows: Enter (WM_KEYDOWN, VK_RETURN)
// sends the dialog WM_COMMAND with IDOK and BN_CLICKED (lParam: the control IDOK, when there is one),
// Escape the same with IDCANCEL, unless that control exists and is disabled; any other message is
// dispatched. TRUE when the message was the dialog's, which then needs nothing more.
BOOL IsDialogMessageW(HWND dialog, MSG* message);
// Calls the procedure for every descendant of the window, each child (in the order they were made)
// followed by its own descendants, until it answers FALSE. The windows are listed first: windows made
// meanwhile are not called, windows destroyed meanwhile are skipped.
BOOL EnumChildWindows(HWND parent, WNDENUMPROC procedure, LPARAM parameter);

// Message boxes. There is no screen to show them on: each box takes the next answer that tests queued
// (WinDialogTest below) and is recorded; without a queued answer the box is dismissed as its Escape key
// would: IDCANCEL when it has a Cancel button, IDNO for Yes and No, IDOK for OK alone.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_YESNOCANCEL = 0x00000003;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_TYPEMASK = 0x0000000F;
constexpr UINT MB_ICONERROR = 0x00000010;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONWARNING = 0x00000030;
constexpr UINT MB_ICONINFORMATION = 0x00000040;
constexpr UINT MB_TOPMOST = 0x00040000;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
int MessageBoxW(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);

// The modules' dialogs are owned by the calling thread's main window (WinDesktop.h).

namespace WinDialogTest {

struct MessageBoxCall {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT type;
    int answer;
};

// Message boxes: the next one answers with the value; the boxes shown, in order; Reset forgets both.
void QueueMessageBoxAnswer(int answer);
std::vector<MessageBoxCall> MessageBoxCalls();
void ResetMessageBoxes();

// A step that the next modal loop of the calling thread runs with its dialog, once the dialog is shown:
// the loop calls the first step of the queue each time round until it answers true (it is called at
// least every few milliseconds meanwhile), then goes on to the next. A step that opens a dialog of its own
// leaves the steps after it to that dialog's loop.
void RunInModalLoop(std::function<bool(HWND dialog)> step);
// Steps still queued on the calling thread; ClearModalSteps forgets them.
std::size_t PendingModalSteps();
void ClearModalSteps();
// A modal loop of any thread that runs longer than this ends its dialog with -1 and is counted (INFINITE,
// the default: no limit). Tests set it, so that a dialog that never ends fails the test instead of hanging.
void SetModalLoopDeadline(DWORD milliseconds);
DWORD ModalLoopsPastDeadline();

} // namespace WinDialogTest
