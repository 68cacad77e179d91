// The progress bar, the trackbar and the up-down arrows.
#include "WinControlsInternal.h"

#include "WinInput.h"

#include <algorithm>

namespace WinControls {
namespace {

// The value inside the range, whichever way round its ends are given.
int Clamp(long long value, int first, int second) {
    return static_cast<int>(std::clamp<long long>(value, std::min(first, second), std::max(first, second)));
}

LPARAM PackedRange(int low, int high) {
    return MAKELPARAM(static_cast<WORD>(low & 0xFFFF), static_cast<WORD>(high & 0xFFFF));
}

struct ProgressData : ControlData {
    int low = 0;
    int high = 100;
    int position = 0;
    int step = 10;
};

// Past either end the position starts over from the other, as a bar that keeps stepping does.
int Stepped(const ProgressData& data) {
    const long long span = static_cast<long long>(data.high) - data.low;
    const long long next = static_cast<long long>(data.position) + data.step;
    if (span <= 0)
        return data.low;
    if (next > data.high)
        return static_cast<int>(data.low + (next - data.low) % span);
    if (next < data.low)
        return static_cast<int>(data.high - (data.low - next) % span);
    return static_cast<int>(next);
}

void PaintProgress(HWND window, const ProgressData& data) {
    PaintScope paint(window, data);
    if (!paint.dc())
        return;
    RECT client = paint.client();
    FillRect(paint.dc(), &client, GetSysColorBrush(COLOR_BTNFACE));
    FrameRect(paint.dc(), &client, GetSysColorBrush(COLOR_BTNSHADOW));
    RECT bar = client;
    InflateRect(&bar, -1, -1);
    const long long span = static_cast<long long>(data.high) - data.low;
    const long long done = static_cast<long long>(data.position) - data.low;
    const long long width = bar.right - bar.left;
    bar.right = bar.left + static_cast<LONG>(span > 0 ? width * done / span : 0);
    FillRect(paint.dc(), &bar, GetSysColorBrush(COLOR_HIGHLIGHT));
}

struct TrackbarData : ControlData {
    int low = 0;
    int high = 100;
    int position = 0;
};

constexpr LONG kChannelMargin = 8;
constexpr LONG kThumbHalf = 5;

bool Vertical(HWND window) {
    return (StyleOf(window) & TBS_VERT) != 0;
}

int PositionAt(HWND window, const TrackbarData& data, LPARAM point) {
    RECT client{};
    GetClientRect(window, &client);
    const LONG length = (Vertical(window) ? client.bottom : client.right) - 2 * kChannelMargin;
    const LONG at = (Vertical(window) ? GET_Y_LPARAM(point) : GET_X_LPARAM(point)) - kChannelMargin;
    if (length <= 0)
        return data.low;
    const long long span = static_cast<long long>(data.high) - data.low;
    return Clamp(data.low + (static_cast<long long>(at) * span + length / 2) / length, data.low, data.high);
}

void NotifyScroll(HWND window, UINT message, WORD code, int position) {
    if (HWND parent = GetParent(window))
        SendMessageW(parent, message, MAKEWPARAM(code, static_cast<WORD>(position & 0xFFFF)),
                     reinterpret_cast<LPARAM>(window));
}

void PaintTrackbar(HWND window, const TrackbarData& data) {
    PaintScope paint(window, data);
    if (!paint.dc())
        return;
    RECT client = paint.client();
    FillRect(paint.dc(), &client, GetSysColorBrush(COLOR_BTNFACE));
    const bool vertical = Vertical(window);
    const LONG length = (vertical ? client.bottom : client.right) - 2 * kChannelMargin;
    const LONG across = (vertical ? client.right : client.bottom) / 2;
    const long long span = static_cast<long long>(data.high) - data.low;
    const LONG at =
        kChannelMargin +
        static_cast<LONG>(span > 0 && length > 0 ? (data.position - data.low) * length / span : 0);
    RECT channel = vertical ? RECT{across - 2, kChannelMargin, across + 2, client.bottom - kChannelMargin}
                            : RECT{kChannelMargin, across - 2, client.right - kChannelMargin, across + 2};
    DrawFrameControl(paint.dc(), &channel, DFC_BUTTON, DFCS_BUTTONCHECK | DFCS_INACTIVE);
    RECT thumb = vertical ? RECT{2, at - kThumbHalf, client.right - 2, at + kThumbHalf}
                          : RECT{at - kThumbHalf, 2, at + kThumbHalf, client.bottom - 2};
    DrawFrameControl(paint.dc(), &thumb, DFC_BUTTON, DFCS_BUTTONPUSH);
}

struct UpDownData : ControlData {
    int low = 100;
    int high = 0;
    int position = 0;
};

void PaintUpDown(HWND window, const UpDownData& data) {
    PaintScope paint(window, data);
    if (!paint.dc())
        return;
    const RECT client = paint.client();
    const bool horizontal = (StyleOf(window) & UDS_HORZ) != 0;
    RECT first = client, second = client;
    if (horizontal)
        first.right = second.left = client.right / 2;
    else
        first.bottom = second.top = client.bottom / 2;
    DrawFrameControl(paint.dc(), &first, DFC_BUTTON, DFCS_BUTTONPUSH);
    DrawFrameControl(paint.dc(), &second, DFC_BUTTON, DFCS_BUTTONPUSH);
}

// The up (or right) arrow when the click lies on the upper (or right) half.
void Spin(HWND window, UpDownData& data, LPARAM point) {
    RECT client{};
    GetClientRect(window, &client);
    const bool horizontal = (StyleOf(window) & UDS_HORZ) != 0;
    const bool up =
        horizontal ? GET_X_LPARAM(point) >= client.right / 2 : GET_Y_LPARAM(point) < client.bottom / 2;
    const int towardsMaximum = data.high >= data.low ? 1 : -1;
    NMUPDOWN change{};
    change.hdr.hwndFrom = window;
    change.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(window));
    change.hdr.code = UDN_DELTAPOS;
    change.iPos = data.position;
    change.iDelta = up ? towardsMaximum : -towardsMaximum;
    HWND parent = GetParent(window);
    if (parent && SendMessageW(parent, WM_NOTIFY, change.hdr.idFrom, reinterpret_cast<LPARAM>(&change)) != 0)
        return;
    std::shared_ptr<UpDownData> still = DataOf<UpDownData>(window);
    if (!still)
        return;
    still->position = Clamp(static_cast<long long>(still->position) + change.iDelta, still->low, still->high);
    NotifyScroll(window, horizontal ? WM_HSCROLL : WM_VSCROLL, SB_THUMBPOSITION, still->position);
}

} // namespace

LRESULT ProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return RunControl<ProgressData>(window, message, wParam, lParam, [&](ProgressData& d) -> LRESULT {
        LRESULT result = 0;
        const int previous = d.position;
        switch (message) {
        case PBM_SETRANGE:
        case PBM_SETRANGE32:
            result = PackedRange(d.low, d.high);
            if (message == PBM_SETRANGE) {
                d.low = LOWORD(static_cast<std::uintptr_t>(lParam));
                d.high = HIWORD(static_cast<std::uintptr_t>(lParam));
            } else {
                d.low = static_cast<int>(static_cast<std::intptr_t>(wParam));
                d.high = static_cast<int>(lParam);
            }
            d.position = Clamp(d.position, d.low, d.high);
            Repaint(window);
            return result;
        case PBM_SETPOS:
            d.position = Clamp(static_cast<int>(static_cast<std::intptr_t>(wParam)), d.low, d.high);
            break;
        case PBM_DELTAPOS:
            d.position = Clamp(static_cast<long long>(d.position) +
                                   static_cast<int>(static_cast<std::intptr_t>(wParam)),
                               d.low, d.high);
            break;
        case PBM_SETSTEP:
            result = d.step;
            d.step = static_cast<int>(static_cast<std::intptr_t>(wParam));
            return result;
        case PBM_STEPIT:
            d.position = Stepped(d);
            break;
        case PBM_GETRANGE:
            if (auto* range = reinterpret_cast<PBRANGE*>(lParam))
                *range = PBRANGE{d.low, d.high};
            return wParam ? d.low : d.high;
        case PBM_GETPOS:
            return d.position;
        case WM_PAINT:
            PaintProgress(window, d);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
        }
        if (d.position != previous)
            Repaint(window);
        return previous;
    });
}

LRESULT TrackbarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return RunControl<TrackbarData>(window, message, wParam, lParam, [&](TrackbarData& d) -> LRESULT {
        const UINT scroll = Vertical(window) ? WM_VSCROLL : WM_HSCROLL;
        switch (message) {
        case TBM_GETPOS:
            return d.position;
        case TBM_GETRANGEMIN:
            return d.low;
        case TBM_GETRANGEMAX:
            return d.high;
        case TBM_SETPOS:
        case TBM_SETRANGE:
        case TBM_SETRANGEMIN:
        case TBM_SETRANGEMAX:
            if (message == TBM_SETPOS) {
                d.position = static_cast<int>(lParam);
            } else if (message == TBM_SETRANGE) {
                d.low = static_cast<SHORT>(LOWORD(static_cast<std::uintptr_t>(lParam)));
                d.high = static_cast<SHORT>(HIWORD(static_cast<std::uintptr_t>(lParam)));
            } else if (message == TBM_SETRANGEMIN) {
                d.low = static_cast<int>(lParam);
            } else {
                d.high = static_cast<int>(lParam);
            }
            d.position = Clamp(d.position, d.low, d.high);
            if (wParam)
                Repaint(window);
            return 0;
        case WM_LBUTTONDOWN:
            SetFocus(window);
            SetCapture(window);
            [[fallthrough]];
        case WM_MOUSEMOVE:
            if (GetCapture() != window)
                return 0;
            d.position = PositionAt(window, d, lParam);
            Repaint(window);
            NotifyScroll(window, scroll, TB_THUMBTRACK, d.position);
            return 0;
        case WM_LBUTTONUP:
            if (GetCapture() != window)
                return 0;
            ReleaseCapture();
            NotifyScroll(window, scroll, TB_THUMBPOSITION, d.position);
            NotifyScroll(window, scroll, TB_ENDTRACK, d.position);
            return 0;
        case WM_PAINT:
            PaintTrackbar(window, d);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
        }
    });
}

LRESULT UpDownProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return RunControl<UpDownData>(window, message, wParam, lParam, [&](UpDownData& d) -> LRESULT {
        LRESULT result = 0;
        switch (message) {
        case UDM_SETRANGE:
            d.high = static_cast<SHORT>(LOWORD(static_cast<std::uintptr_t>(lParam)));
            d.low = static_cast<SHORT>(HIWORD(static_cast<std::uintptr_t>(lParam)));
            d.position = Clamp(d.position, d.low, d.high);
            return 0;
        case UDM_GETRANGE:
            return PackedRange(d.high, d.low);
        case UDM_SETRANGE32:
            d.low = static_cast<int>(static_cast<std::intptr_t>(wParam));
            d.high = static_cast<int>(lParam);
            d.position = Clamp(d.position, d.low, d.high);
            return 0;
        case UDM_GETRANGE32:
            if (auto* low = reinterpret_cast<int*>(wParam))
                *low = d.low;
            if (auto* high = reinterpret_cast<int*>(lParam))
                *high = d.high;
            return 0;
        case UDM_SETPOS:
        case UDM_SETPOS32:
            result = d.position;
            d.position =
                Clamp(message == UDM_SETPOS ? static_cast<SHORT>(LOWORD(static_cast<std::uintptr_t>(lParam)))
                                            : static_cast<int>(lParam),
                      d.low, d.high);
            return result;
        case UDM_GETPOS:
            return MAKELPARAM(static_cast<WORD>(d.position & 0xFFFF), 0);
        case UDM_GETPOS32:
            if (auto* failed = reinterpret_cast<BOOL*>(lParam))
                *failed = FALSE;
            return d.position;
        case WM_LBUTTONDOWN:
            Spin(window, d, lParam);
            return 0;
        case WM_LBUTTONUP:
            NotifyScroll(window, (StyleOf(window) & UDS_HORZ) ? WM_HSCROLL : WM_VSCROLL, SB_ENDSCROLL,
                         d.position);
            return 0;
        case WM_PAINT:
            PaintUpDown(window, d);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
        }
    });
}

} // namespace WinControls
