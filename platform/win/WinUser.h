// The user services of the Windows layer: window classes registered per module, windows that belong to the
// thread that made them, one message queue per thread, posted and sent messages, the message loop, timers
// on the clock of WinSeams, invalidation and painting. There is no screen: windows are records with a
// position, a size, a text and a state, and painting hands out device contexts that draw into the window's
// pixel surface (WinGdi.h).
//
// Window handles are 32-bit ids with a generation carried in a pointer type, so a destroyed window's handle
// fails everywhere instead of reaching a later window. A window is used on its own thread: calls that send
// messages (creating, destroying, moving, showing, focusing, setting texts, sending) fail with
// ERROR_ACCESS_DENIED on any other thread, and other threads reach a window by posting to it.
#pragma once

#include "WinKernel.h"
#include "wintypes.h"

#include <cstdint>
#include <functional>

struct HWND__;
using HWND = HWND__*;
struct HDC__;
using HDC = HDC__*;
struct HBRUSH__;
using HBRUSH = HBRUSH__*;
struct HCURSOR__;
using HCURSOR = HCURSOR__*;
struct HICON__;
using HICON = HICON__*;
struct HMENU__;
using HMENU = HMENU__*;

using ATOM = WORD;
using UINT_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using INT_PTR = std::intptr_t;

struct POINT {
    LONG x;
    LONG y;
};
struct SIZE {
    LONG cx;
    LONG cy;
};
struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

struct WNDCLASSW {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    const wchar_t* lpszMenuName;
    const wchar_t* lpszClassName;
};

// What WM_NCCREATE and WM_CREATE carry in lParam.
struct CREATESTRUCTW {
    void* lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    const wchar_t* lpszName;
    const wchar_t* lpszClass;
    DWORD dwExStyle;
};

struct PAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
    BOOL fRestore;
    BOOL fIncUpdate;
    BYTE rgbReserved[32];
};

// The header of every WM_NOTIFY record.
struct NMHDR {
    HWND hwndFrom;
    UINT_PTR idFrom;
    UINT code;
};

// What WM_DRAWITEM carries in lParam.
struct DRAWITEMSTRUCT {
    UINT CtlType;
    UINT CtlID;
    UINT itemID;
    UINT itemAction;
    UINT itemState;
    HWND hwndItem;
    HDC hDC;
    RECT rcItem;
    std::uintptr_t itemData;
};

constexpr WORD LOWORD(std::uintptr_t value) {
    return static_cast<WORD>(value & 0xFFFF);
}
constexpr WORD HIWORD(std::uintptr_t value) {
    return static_cast<WORD>((value >> 16) & 0xFFFF);
}
constexpr LPARAM MAKELPARAM(WORD low, WORD high) {
    return static_cast<LPARAM>(static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16));
}
constexpr WPARAM MAKEWPARAM(WORD low, WORD high) {
    return static_cast<WPARAM>(static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16));
}
// A class atom or a resource id in the place of a name.
inline const wchar_t* MAKEINTATOM(ATOM atom) {
    return reinterpret_cast<const wchar_t*>(static_cast<std::uintptr_t>(atom));
}
inline bool IS_INTRESOURCE(const void* name) {
    return reinterpret_cast<std::uintptr_t>(name) < 0x10000;
}

// Messages.
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_ACTIVATE = 0x0006;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_ENABLE = 0x000A;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_DRAWITEM = 0x002B;
constexpr UINT WM_NOTIFY = 0x004E;
constexpr UINT WM_NCCREATE = 0x0081;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_HSCROLL = 0x0114;
constexpr UINT WM_VSCROLL = 0x0115;
constexpr UINT WM_CTLCOLOREDIT = 0x0133;
constexpr UINT WM_CTLCOLORDLG = 0x0136;
constexpr UINT WM_CTLCOLORSTATIC = 0x0138;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
constexpr UINT WM_MBUTTONDOWN = 0x0207;
constexpr UINT WM_MBUTTONUP = 0x0208;
constexpr UINT WM_MBUTTONDBLCLK = 0x0209;
constexpr UINT WM_MOUSEWHEEL = 0x020A;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

constexpr WPARAM SIZE_RESTORED = 0;

// Scroll codes (low word of wParam of WM_HSCROLL and WM_VSCROLL).
constexpr WORD SB_LINEUP = 0;
constexpr WORD SB_LINELEFT = 0;
constexpr WORD SB_LINEDOWN = 1;
constexpr WORD SB_LINERIGHT = 1;
constexpr WORD SB_PAGEUP = 2;
constexpr WORD SB_PAGELEFT = 2;
constexpr WORD SB_PAGEDOWN = 3;
constexpr WORD SB_PAGERIGHT = 3;
constexpr WORD SB_THUMBPOSITION = 4;
constexpr WORD SB_THUMBTRACK = 5;
constexpr WORD SB_TOP = 6;
constexpr WORD SB_LEFT = 6;
constexpr WORD SB_BOTTOM = 7;
constexpr WORD SB_RIGHT = 7;
constexpr WORD SB_ENDSCROLL = 8;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDCLOSE = 8;

// Class styles.
constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;
constexpr UINT CS_DBLCLKS = 0x0008;

// Window styles.
constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD WS_HSCROLL = 0x00100000;
constexpr DWORD WS_TABSTOP = 0x00010000;

// Window words.
constexpr int GWLP_WNDPROC = -4;
constexpr int GWLP_HINSTANCE = -6;
constexpr int GWLP_HWNDPARENT = -8;
constexpr int GWLP_ID = -12;
constexpr int GWL_STYLE = -16;
constexpr int GWL_EXSTYLE = -20;
constexpr int GWLP_USERDATA = -21;
constexpr int GWL_USERDATA = GWLP_USERDATA;

// ShowWindow commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_SHOWNA = 8;

// SetWindowPos flags (the order behind other windows is not kept, so the z-order arguments have no effect).
constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOREDRAW = 0x0008;
constexpr UINT SWP_NOACTIVATE = 0x0010;
constexpr UINT SWP_SHOWWINDOW = 0x0040;
constexpr UINT SWP_HIDEWINDOW = 0x0080;

// PeekMessage.
constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;

// MsgWaitForMultipleObjects (every kind of input counts alike).
constexpr DWORD QS_ALLINPUT = 0x04FF;

// Timers run at least this often apart.
constexpr UINT USER_TIMER_MINIMUM = 0x0000000A;

constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr DWORD ERROR_CLASS_DOES_NOT_EXIST = 1411;
constexpr DWORD ERROR_CLASS_HAS_WINDOWS = 1412;
constexpr DWORD ERROR_CONTROL_ID_NOT_FOUND = 1421;
constexpr DWORD ERROR_INVALID_THREAD_ID = 1444;
constexpr DWORD ERROR_NOT_ENOUGH_QUOTA = 1816;

// Window classes. A class belongs to the module instance that registered it, and one name may be registered
// by several modules, each with its own procedure; a window is made from the class of the instance given to
// CreateWindowExW. Class atoms are shared by equal names (ignoring ASCII case), as in a global atom table.
// The classes of a module go when its library is freed for the last time.
ATOM RegisterClassW(const WNDCLASSW* windowClass);
BOOL UnregisterClassW(const wchar_t* className, HINSTANCE instance);
BOOL GetClassInfoW(HINSTANCE instance, const wchar_t* className, WNDCLASSW* windowClass);
HCURSOR LoadCursorW(HINSTANCE instance, const wchar_t* cursorName);
inline const wchar_t* const IDC_ARROW = reinterpret_cast<const wchar_t*>(static_cast<std::uintptr_t>(32512));

// Windows. The class name may be a MAKEINTATOM atom. WM_NCCREATE and WM_CREATE are sent before this returns
// (a WM_CREATE answer of -1, or a WM_NCCREATE answer of 0, destroys the window again and fails the call).
HWND CreateWindowExW(DWORD exStyle, const wchar_t* className, const wchar_t* windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     void* parameter);
// Sends WM_DESTROY to the window and then to its children, then WM_NCDESTROY to the children and the window;
// from then on the handles are invalid. Fails quietly for a handle that is already gone.
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
DWORD GetWindowThreadProcessId(HWND window, DWORD* processId);

LONG_PTR GetWindowLongPtrW(HWND window, int index);
// The previous value, 0 on failure (with the last error set).
LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value);
int GetClassNameW(HWND window, wchar_t* buffer, int bufferMax);
HWND GetParent(HWND window);
// The child of the parent whose id (GWLP_ID: CreateWindowExW's menu argument of a WS_CHILD window) is id;
// null with ERROR_CONTROL_ID_NOT_FOUND when none has it.
HWND GetDlgItem(HWND parent, int id);
// The window's id, 0 for a window that is not there.
int GetDlgCtrlID(HWND window);

LRESULT CallWindowProcW(WNDPROC procedure, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// WM_NCCREATE keeps the window name and answers TRUE; WM_CLOSE destroys the window; WM_PAINT validates;
// WM_SETTEXT, WM_GETTEXT and WM_GETTEXTLENGTH work on the window text; everything else answers 0.
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Messages. Sending calls the window procedure at once and is only possible on the window's thread.
// Posting appends to the queue of the window's thread from any thread, in order; a null window posts a
// message for the calling thread itself. A queue holds at most 10000 posted messages.
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
// The narrow forms behave as the wide ones: window texts are wide whichever form carries them.
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The loop. Retrieval order: posted messages (in posting order), then WM_QUIT, then WM_PAINT for a window
// with an invalid area, then WM_TIMER for a timer that is due (one at a time per timer, however long it was
// due). A window filter and a message range (both 0: everything) restrict what is retrieved. GetMessageW
// answers 0 for WM_QUIT, -1 for a bad filter, else 1. A message whose window is gone by the time it is
// dispatched is dropped.
BOOL GetMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax);
BOOL PeekMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageW(const MSG* message);
// Waits for the objects (as WaitForMultipleObjects does) or for input in the calling thread's queue, which
// answers WAIT_OBJECT_0 + count. Input that is already there counts, whether it is new or not.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds,
                                DWORD wakeMask);

// Timers, timed by WinSeams::ClockMilliseconds(). A window's timer is replaced when set again with the same
// id; a timer without a window gets a new id. WM_TIMER carries the id in wParam and the procedure in lParam;
// dispatching it calls the procedure instead of the window's when there is one.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC procedure);
BOOL KillTimer(HWND window, UINT_PTR id);

// State and geometry. Positions are relative to the parent's client area (to the screen without a parent);
// a window has no frame, so its client area is its whole size.
BOOL ShowWindow(HWND window, int command);
BOOL IsWindowVisible(HWND window);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);
HWND SetFocus(HWND window);
HWND GetFocus();
HWND SetActiveWindow(HWND window);
HWND GetActiveWindow();
BOOL SetWindowTextW(HWND window, const wchar_t* text);
int GetWindowTextW(HWND window, wchar_t* buffer, int bufferMax);
int GetWindowTextLengthW(HWND window);
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
BOOL GetClientRect(HWND window, RECT* rect);
BOOL GetWindowRect(HWND window, RECT* rect);
BOOL ClientToScreen(HWND window, POINT* point);
BOOL ScreenToClient(HWND window, POINT* point);

// Painting. An invalid area (kept as one bounding rectangle of the client area) makes the window's thread
// retrieve WM_PAINT while the window is visible; BeginPaint hands out the area and validates it.
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL ValidateRect(HWND window, const RECT* rect);
BOOL GetUpdateRect(HWND window, RECT* rect, BOOL erase);
BOOL UpdateWindow(HWND window);
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);

// Observations and loops for tests. Tests must wait for a state, not sleep until it has probably come.
namespace WinUserTest {

// Dispatches what the calling thread's queue holds now (posted messages, paints, due timers), including what
// those messages post; a window that does not validate its area is painted once per call. The result is the
// number of messages dispatched.
int PumpPending();
// Pumps until the condition holds, waiting for new input meanwhile; false when the deadline came first.
bool PumpUntil(const std::function<bool()>& condition, DWORD milliseconds);
// Called (outside every lock) with each message that is dropped because its window is gone, or because its
// thread ended with the message still queued. An empty observer removes it.
void SetDropObserver(std::function<void(const MSG&)> observer);
// Called (outside every lock) on the posting thread by each post that has found the queue of its window or
// thread, just before it queues the message; a test ends the receiving thread there. An empty hook removes
// it.
void SetBeforePostHook(std::function<void()> hook);
// Windows that exist, over all threads.
DWORD LiveWindows();
// Posted messages waiting in the calling thread's queue.
DWORD QueuedMessages();

} // namespace WinUserTest
