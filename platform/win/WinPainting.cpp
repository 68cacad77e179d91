// Painting: a window's invalid area, the paint list of its thread, and the device contexts of
// BeginPaint and GetDC.
#include "WinGdi.h"
#include "WinGdiDraw.h"
#include "WinKernel.h"
#include "WinUserInternal.h"

#include <algorithm>

namespace WinUser {

bool IsEmptyRect(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

void InvalidateLocked(WindowRecord& record, const RECT* rect, bool erase) {
    RECT area = ClientOf(record);
    if (rect) {
        area.left = std::max(area.left, rect->left);
        area.top = std::max(area.top, rect->top);
        area.right = std::min(area.right, rect->right);
        area.bottom = std::min(area.bottom, rect->bottom);
    }
    if (IsEmptyRect(area))
        return;
    if (record.invalid) {
        record.invalidRect.left = std::min(record.invalidRect.left, area.left);
        record.invalidRect.top = std::min(record.invalidRect.top, area.top);
        record.invalidRect.right = std::max(record.invalidRect.right, area.right);
        record.invalidRect.bottom = std::max(record.invalidRect.bottom, area.bottom);
    } else {
        record.invalidRect = area;
        record.invalid = true;
    }
    record.erase = record.erase || erase;
    UpdatePaintLocked(record);
}

void ValidateLocked(WindowRecord& record) {
    record.invalid = false;
    record.erase = false;
    record.invalidRect = RECT{};
    UpdatePaintLocked(record);
}

// After a change of visibility: every window of the subtree joins or leaves its thread's paint list.
void UpdateSubtreePaintsLocked(HWND window) {
    std::vector<HWND> subtree;
    CollectSubtreeLocked(window, subtree);
    for (HWND h : subtree) {
        if (std::shared_ptr<WindowRecord> record = FindWindowLocked(h))
            UpdatePaintLocked(*record);
    }
}

} // namespace WinUser

using namespace WinUser;

BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
    std::lock_guard<std::mutex> guard(UserLock());
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    InvalidateLocked(*record, rect, erase != FALSE);
    return TRUE;
}

BOOL ValidateRect(HWND window, const RECT* rect) {
    std::lock_guard<std::mutex> guard(UserLock());
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    // The area is one rectangle: it goes only when the validated one covers it.
    const RECT& area = record->invalidRect;
    if (!rect || (rect->left <= area.left && rect->top <= area.top && rect->right >= area.right &&
                  rect->bottom >= area.bottom))
        ValidateLocked(*record);
    return TRUE;
}

BOOL GetUpdateRect(HWND window, RECT* rect, BOOL) {
    std::lock_guard<std::mutex> guard(UserLock());
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record)
        return FALSE;
    if (rect)
        *rect = record->invalid ? record->invalidRect : RECT{};
    return record->invalid ? TRUE : FALSE;
}

BOOL UpdateWindow(HWND window) {
    bool paint;
    {
        std::lock_guard<std::mutex> guard(UserLock());
        std::shared_ptr<WindowRecord> record = FindOwnLocked(window);
        if (!record)
            return FALSE;
        paint = record->invalid && IsVisibleLocked(*record);
    }
    if (paint)
        SendMessageW(window, WM_PAINT, 0, 0);
    return TRUE;
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
    if (!paint)
        return nullptr;
    *paint = PAINTSTRUCT{};
    {
        std::lock_guard<std::mutex> guard(UserLock());
        std::shared_ptr<WindowRecord> record = FindOwnLocked(window);
        if (!record)
            return nullptr;
        paint->rcPaint = record->invalid ? record->invalidRect : RECT{};
        paint->fErase = record->erase ? TRUE : FALSE;
        ValidateLocked(*record);
    }
    paint->hdc = WinGdi::CreateWindowDC(window);
    // The background is the window's own affair: a window that erases it answers non-zero.
    if (paint->hdc && paint->fErase &&
        SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(paint->hdc), 0) != 0)
        paint->fErase = FALSE;
    return paint->hdc;
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
    if (paint && paint->hdc)
        WinGdi::ReleaseWindowDC(window, paint->hdc);
    return TRUE;
}

HDC GetDC(HWND window) {
    return WinGdi::CreateWindowDC(window);
}

int ReleaseDC(HWND window, HDC dc) {
    return WinGdi::ReleaseWindowDC(window, dc) ? 1 : 0;
}
