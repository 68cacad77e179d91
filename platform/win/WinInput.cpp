// Capture, leave notices and injected mouse input.
#include "WinInput.h"

#include "WinUserInternal.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

namespace {

struct InputState {
    std::mutex lock;               // taken after the user services' lock, never before it
    std::map<DWORD, HWND> capture; // by thread
    HWND pointerWindow = nullptr;
    std::vector<HWND> leaveRequests;
};

InputState& State() {
    static InputState* state = new InputState;
    return *state;
}

bool IsOwnWindow(HWND window) {
    return window && IsWindow(window) && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

HWND CaptureOf(DWORD thread) {
    HWND window;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        auto it = State().capture.find(thread);
        window = it == State().capture.end() ? nullptr : it->second;
    }
    return window && IsWindow(window) ? window : nullptr;
}

// Posts the leave notices that are due: the pointer is elsewhere and the window does not hold the capture.
void PostDueLeaves() {
    std::vector<HWND> requests;
    HWND over;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        requests = State().leaveRequests;
        over = State().pointerWindow;
    }
    std::vector<HWND> due;
    for (HWND window : requests) {
        if (!IsWindow(window)) {
            due.push_back(window);
            continue;
        }
        if (window != over && CaptureOf(GetWindowThreadProcessId(window, nullptr)) != window)
            due.push_back(window);
    }
    {
        std::lock_guard<std::mutex> guard(State().lock);
        auto& list = State().leaveRequests;
        for (HWND window : due)
            list.erase(std::remove(list.begin(), list.end(), window), list.end());
    }
    for (HWND window : due) {
        if (IsWindow(window))
            PostMessageW(window, WM_MOUSELEAVE, 0, 0);
    }
}

// With the user services' lock held: the deepest visible, enabled window under the point (in the client
// coordinates of record), record itself when no child of it is there.
HWND HitLocked(const WinUser::WindowRecord& record, POINT point) {
    for (auto it = record.children.rbegin(); it != record.children.rend(); ++it) {
        std::shared_ptr<WinUser::WindowRecord> child = WinUser::FindWindowLocked(*it);
        if (!child || !(child->style & WS_VISIBLE) || (child->style & WS_DISABLED))
            continue;
        const RECT& r = child->rect;
        if (point.x >= r.left && point.x < r.right && point.y >= r.top && point.y < r.bottom)
            return HitLocked(*child, POINT{point.x - r.left, point.y - r.top});
    }
    return record.handle;
}

HWND HitTest(HWND window, POINT point) {
    std::lock_guard<std::mutex> guard(WinUser::UserLock());
    std::shared_ptr<WinUser::WindowRecord> record = WinUser::FindWindowLocked(window);
    if (!record)
        return nullptr;
    const LONG width = record->rect.right - record->rect.left;
    const LONG height = record->rect.bottom - record->rect.top;
    if (point.x < 0 || point.y < 0 || point.x >= width || point.y >= height)
        return nullptr;
    return HitLocked(*record, point);
}

} // namespace

HWND SetCapture(HWND window) {
    if (!IsOwnWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    const HWND previous = CaptureOf(GetCurrentThreadId());
    {
        std::lock_guard<std::mutex> guard(State().lock);
        State().capture[GetCurrentThreadId()] = window;
    }
    if (previous && previous != window)
        SendMessageW(previous, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(window));
    return previous;
}

BOOL ReleaseCapture() {
    const HWND previous = CaptureOf(GetCurrentThreadId());
    {
        std::lock_guard<std::mutex> guard(State().lock);
        State().capture.erase(GetCurrentThreadId());
    }
    if (previous)
        SendMessageW(previous, WM_CAPTURECHANGED, 0, 0);
    PostDueLeaves();
    return TRUE;
}

HWND GetCapture() {
    return CaptureOf(GetCurrentThreadId());
}

BOOL TrackMouseEvent(TRACKMOUSEEVENT* track) {
    if (!track || track->cbSize != sizeof(TRACKMOUSEEVENT) || !(track->dwFlags & TME_LEAVE) ||
        !IsOwnWindow(track->hwndTrack)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const HWND window = track->hwndTrack;
    bool over;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        auto& list = State().leaveRequests;
        list.erase(std::remove(list.begin(), list.end(), window), list.end());
        if (track->dwFlags & TME_CANCEL)
            return TRUE;
        over = State().pointerWindow == window;
        if (over)
            list.push_back(window);
    }
    if (!over)
        PostMessageW(window, WM_MOUSELEAVE, 0, 0);
    return TRUE;
}

bool WinUserTest::InjectMouse(HWND window, UINT message, LONG x, LONG y, WPARAM keys) {
    if (!IsOwnWindow(window))
        return false;
    const HWND hit = HitTest(window, POINT{x, y});
    const HWND capture = GetCapture();
    const HWND target = capture ? capture : hit;
    if (!target)
        return false;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        State().pointerWindow = hit;
    }
    PostDueLeaves();
    POINT point{x, y};
    ClientToScreen(window, &point);
    ScreenToClient(target, &point);
    const LPARAM position =
        MAKELPARAM(static_cast<WORD>(point.x & 0xFFFF), static_cast<WORD>(point.y & 0xFFFF));
    return PostMessageW(target, message, keys, position) == TRUE;
}

bool WinUserTest::InjectWheel(HWND window, LONG screenX, LONG screenY, SHORT delta, WPARAM keys) {
    if (!IsOwnWindow(window))
        return false;
    const WPARAM wParam = MAKEWPARAM(static_cast<WORD>(keys & 0xFFFF), static_cast<WORD>(delta));
    const LPARAM position =
        MAKELPARAM(static_cast<WORD>(screenX & 0xFFFF), static_cast<WORD>(screenY & 0xFFFF));
    return PostMessageW(window, WM_MOUSEWHEEL, wParam, position) == TRUE;
}

HWND WinUserTest::PointerWindow() {
    HWND window;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        window = State().pointerWindow;
    }
    return window && IsWindow(window) ? window : nullptr;
}
