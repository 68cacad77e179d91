// Window positions: where a window stands in its parent, its client area, and points between a window
// and the screen.
#include "WinKernel.h"
#include "WinScrollBars.h"
#include "WinUserInternal.h"

#include <algorithm>

// A shown bar takes its width (height) from the client area, which never gets smaller than empty.
RECT WinUser::ClientOf(const WindowRecord& window) {
    LONG width = window.rect.right - window.rect.left;
    LONG height = window.rect.bottom - window.rect.top;
    if (window.verticalBar.shown)
        width = std::max<LONG>(0, width - GetSystemMetrics(SM_CXVSCROLL));
    if (window.horizontalBar.shown)
        height = std::max<LONG>(0, height - GetSystemMetrics(SM_CYHSCROLL));
    return RECT{0, 0, width, height};
}

using namespace WinUser;

BOOL SetWindowPos(HWND window, HWND, int x, int y, int width, int height, UINT flags) {
    bool moved = false;
    bool sized = false;
    RECT now{};
    {
        std::lock_guard<std::mutex> guard(UserLock());
        std::shared_ptr<WindowRecord> record = FindOwnLocked(window);
        if (!record)
            return FALSE;
        RECT r = record->rect;
        if (!(flags & SWP_NOMOVE) && (x != r.left || y != r.top)) {
            r.right += x - r.left;
            r.bottom += y - r.top;
            r.left = x;
            r.top = y;
            moved = true;
        }
        if (!(flags & SWP_NOSIZE)) {
            width = std::max(width, 0);
            height = std::max(height, 0);
            if (width != r.right - r.left || height != r.bottom - r.top) {
                r.right = r.left + width;
                r.bottom = r.top + height;
                sized = true;
            }
        }
        record->rect = r;
        now = r;
        if (sized) {
            // The invalid area stays inside the new client area.
            if (record->invalid) {
                record->invalidRect.right = std::min(record->invalidRect.right, r.right - r.left);
                record->invalidRect.bottom = std::min(record->invalidRect.bottom, r.bottom - r.top);
                if (IsEmptyRect(record->invalidRect))
                    ValidateLocked(*record);
            }
            if (!(flags & SWP_NOREDRAW))
                InvalidateLocked(*record, nullptr, true);
        }
    }
    if (flags & SWP_SHOWWINDOW)
        ShowWindow(window, SW_SHOWNA);
    if (flags & SWP_HIDEWINDOW)
        ShowWindow(window, SW_HIDE);
    if (moved)
        SendMessageW(window, WM_MOVE, 0,
                     MAKELPARAM(static_cast<WORD>(now.left & 0xFFFF), static_cast<WORD>(now.top & 0xFFFF)));
    if (sized)
        SendMessageW(
            window, WM_SIZE, SIZE_RESTORED,
            MAKELPARAM(static_cast<WORD>(now.right - now.left), static_cast<WORD>(now.bottom - now.top)));
    return TRUE;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
    return SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL GetClientRect(HWND window, RECT* rect) {
    std::lock_guard<std::mutex> guard(UserLock());
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record || !rect) {
        SetLastError(record ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *rect = ClientOf(*record);
    return TRUE;
}

namespace {

// The screen position of the window's client origin.
bool ScreenOriginLocked(HWND window, POINT& origin) {
    origin = POINT{0, 0};
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record)
        return false;
    for (int depth = 0; record && depth < 10000; ++depth) {
        origin.x += record->rect.left;
        origin.y += record->rect.top;
        record = FindWindowLocked(record->parent);
    }
    return true;
}

} // namespace

BOOL GetWindowRect(HWND window, RECT* rect) {
    std::lock_guard<std::mutex> guard(UserLock());
    POINT origin;
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record || !rect || !ScreenOriginLocked(window, origin)) {
        SetLastError(record ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *rect = RECT{origin.x, origin.y, origin.x + (record->rect.right - record->rect.left),
                 origin.y + (record->rect.bottom - record->rect.top)};
    return TRUE;
}

BOOL ClientToScreen(HWND window, POINT* point) {
    std::lock_guard<std::mutex> guard(UserLock());
    POINT origin;
    if (!point || !ScreenOriginLocked(window, origin))
        return FALSE;
    point->x += origin.x;
    point->y += origin.y;
    return TRUE;
}

BOOL ScreenToClient(HWND window, POINT* point) {
    std::lock_guard<std::mutex> guard(UserLock());
    POINT origin;
    if (!point || !ScreenOriginLocked(window, origin))
        return FALSE;
    point->x -= origin.x;
    point->y -= origin.y;
    return TRUE;
}
