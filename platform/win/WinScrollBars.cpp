// The standard scroll bars of a window, kept in its record.
#include "WinScrollBars.h"

#include "WinUserInternal.h"

#include <algorithm>

namespace {

constexpr int kScrollBarSize = 17;

WinUser::ScrollBarState* BarOf(WinUser::WindowRecord& record, int bar) {
    if (bar == SB_HORZ)
        return &record.horizontalBar;
    if (bar == SB_VERT)
        return &record.verticalBar;
    return nullptr;
}

// Wide arithmetic: a range of INT_MIN..INT_MAX must not overflow.
int ClampPosition(const WinUser::ScrollBarState& state, long long position) {
    const long long last = static_cast<long long>(state.maximum) - std::max<long long>(state.page, 1) + 1;
    const long long upper = std::max<long long>(state.minimum, last);
    return static_cast<int>(std::clamp<long long>(position, state.minimum, upper));
}

} // namespace

int SetScrollInfo(HWND window, int bar, const SCROLLINFO* info, BOOL) {
    if (!info || info->cbSize != sizeof(SCROLLINFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> guard(WinUser::UserLock());
    std::shared_ptr<WinUser::WindowRecord> record = WinUser::FindWindowLocked(window);
    WinUser::ScrollBarState* state = record ? BarOf(*record, bar) : nullptr;
    if (!state) {
        SetLastError(record ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (info->fMask & SIF_RANGE) {
        state->minimum = info->nMin;
        state->maximum = std::max(info->nMin, info->nMax);
    }
    if (info->fMask & SIF_PAGE)
        state->page = info->nPage;
    const long long count = static_cast<long long>(state->maximum) - state->minimum + 1;
    state->page = static_cast<UINT>(std::min<long long>(state->page, count));
    state->position = ClampPosition(*state, (info->fMask & SIF_POS) ? info->nPos : state->position);
    state->trackPosition = state->position;
    state->shown =
        state->maximum > state->minimum &&
        static_cast<long long>(state->page) <= static_cast<long long>(state->maximum) - state->minimum;
    return state->position;
}

BOOL GetScrollInfo(HWND window, int bar, SCROLLINFO* info) {
    if (!info || info->cbSize != sizeof(SCROLLINFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(WinUser::UserLock());
    std::shared_ptr<WinUser::WindowRecord> record = WinUser::FindWindowLocked(window);
    const WinUser::ScrollBarState* state = record ? BarOf(*record, bar) : nullptr;
    if (!state) {
        SetLastError(record ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (info->fMask & SIF_RANGE) {
        info->nMin = state->minimum;
        info->nMax = state->maximum;
    }
    if (info->fMask & SIF_PAGE)
        info->nPage = state->page;
    if (info->fMask & SIF_POS)
        info->nPos = state->position;
    if (info->fMask & SIF_TRACKPOS)
        info->nTrackPos = state->trackPosition;
    return TRUE;
}

int GetSystemMetrics(int index) {
    return index == SM_CXVSCROLL || index == SM_CYHSCROLL ? kScrollBarSize : 0;
}

bool WinUserTest::SetScrollTrackPosition(HWND window, int bar, int position) {
    std::lock_guard<std::mutex> guard(WinUser::UserLock());
    std::shared_ptr<WinUser::WindowRecord> record = WinUser::FindWindowLocked(window);
    WinUser::ScrollBarState* state = record ? BarOf(*record, bar) : nullptr;
    if (!state)
        return false;
    state->trackPosition = ClampPosition(*state, position);
    return true;
}
