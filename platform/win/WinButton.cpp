// The button class: push buttons, check boxes, radio buttons, group boxes and owner-drawn buttons.
#include "WinControlsInternal.h"

#include "WinInput.h"

#include <algorithm>
#include <cwchar>

namespace WinControls {
namespace {

constexpr LONG kBoxSide = 13;

struct ButtonData : ControlData {
    WPARAM check = BST_UNCHECKED;
    bool pushed = false;
};

DWORD TypeOf(HWND window) {
    return StyleOf(window) & BS_TYPEMASK;
}

bool HasCheck(DWORD type) {
    switch (type) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_RADIOBUTTON:
    case BS_3STATE:
    case BS_AUTO3STATE:
    case BS_AUTORADIOBUTTON:
        return true;
    default:
        return false;
    }
}

bool ThreeState(DWORD type) {
    return type == BS_3STATE || type == BS_AUTO3STATE;
}

// The check state a BM_SETCHECK leaves: a two-state button is checked by any state but unchecked.
WPARAM CheckFor(DWORD type, WPARAM requested) {
    if (ThreeState(type))
        return std::min<WPARAM>(requested, BST_INDETERMINATE);
    return requested == BST_UNCHECKED ? BST_UNCHECKED : BST_CHECKED;
}

// The other automatic radio buttons of the group: from the nearest sibling at or before this one that
// starts a group (WS_GROUP) up to the next one that starts another.
void UncheckGroup(HWND window) {
    const std::vector<HWND> siblings = Siblings(window);
    auto self = std::find(siblings.begin(), siblings.end(), window);
    if (self == siblings.end())
        return;
    auto first = self;
    while (first != siblings.begin() && !(StyleOf(*first) & WS_GROUP))
        --first;
    for (auto it = first; it != siblings.end(); ++it) {
        if (it != first && (StyleOf(*it) & WS_GROUP))
            break;
        if (*it == window || (StyleOf(*it) & BS_TYPEMASK) != BS_AUTORADIOBUTTON)
            continue;
        wchar_t name[16];
        if (GetClassNameW(*it, name, 16) && wcscasecmp(name, L"Button") == 0)
            SendMessageW(*it, BM_SETCHECK, BST_UNCHECKED, 0);
    }
}

void Click(HWND window, ButtonData& data) {
    switch (TypeOf(window)) {
    case BS_AUTOCHECKBOX:
        data.check = data.check == BST_UNCHECKED ? BST_CHECKED : BST_UNCHECKED;
        break;
    case BS_AUTO3STATE:
        data.check = (data.check + 1) % 3;
        break;
    case BS_AUTORADIOBUTTON:
        data.check = BST_CHECKED;
        UncheckGroup(window);
        break;
    default:
        break;
    }
    Repaint(window);
    NotifyParent(window, BN_CLICKED);
}

void PaintOwnerDrawn(HWND window, const ButtonData& data, HDC dc, RECT client) {
    HWND parent = GetParent(window);
    if (!parent)
        return;
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.CtlID = static_cast<UINT>(GetDlgCtrlID(window));
    item.itemAction = ODA_DRAWENTIRE;
    item.itemState = (data.pushed ? ODS_SELECTED : 0) | (IsWindowEnabled(window) ? 0 : ODS_DISABLED) |
                     (GetFocus() == window ? ODS_FOCUS : 0);
    item.hwndItem = window;
    item.hDC = dc;
    item.rcItem = client;
    SendMessageW(parent, WM_DRAWITEM, item.CtlID, reinterpret_cast<LPARAM>(&item));
}

void PaintPush(HWND window, const ButtonData& data, HDC dc, RECT client) {
    RECT face = client;
    if (TypeOf(window) == BS_DEFPUSHBUTTON) {
        FrameRect(dc, &face, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        InflateRect(&face, -1, -1);
    }
    DrawFrameControl(dc, &face, DFC_BUTTON, DFCS_BUTTONPUSH | (data.pushed ? DFCS_PUSHED : 0));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    RECT text = face;
    if (data.pushed)
        OffsetRect(&text, 1, 1);
    DrawWindowText(window, dc, text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    if (GetFocus() == window) {
        RECT focus = face;
        InflateRect(&focus, -3, -3);
        DrawFocusRect(dc, &focus);
    }
}

void PaintCheck(HWND window, const ButtonData& data, HDC dc, RECT client) {
    FillRect(dc, &client, AskParentColour(window, WM_CTLCOLORSTATIC, dc));
    const DWORD type = TypeOf(window);
    const bool radio = type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
    RECT box{0, (client.bottom - kBoxSide) / 2, kBoxSide, 0};
    box.bottom = box.top + kBoxSide;
    UINT state = radio ? DFCS_BUTTONRADIO : DFCS_BUTTONCHECK;
    if (data.check != BST_UNCHECKED)
        state |= DFCS_CHECKED;
    if (data.check == BST_INDETERMINATE || !IsWindowEnabled(window))
        state |= DFCS_INACTIVE;
    if (data.pushed)
        state |= DFCS_PUSHED;
    DrawFrameControl(dc, &box, DFC_BUTTON, state);
    RECT text{kBoxSide + 4, client.top, client.right, client.bottom};
    DrawWindowText(window, dc, text, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    if (GetFocus() == window)
        DrawFocusRect(dc, &text);
}

void PaintGroup(HWND window, HDC dc, RECT client) {
    RECT frame = client;
    frame.top += 7;
    FrameRect(dc, &frame, GetSysColorBrush(COLOR_BTNSHADOW));
    RECT text{client.left + 8, client.top, client.right - 8, client.top + 15};
    DrawWindowText(window, dc, text, DT_LEFT | DT_SINGLELINE);
}

void Paint(HWND window, const ButtonData& data) {
    PaintScope paint(window, data);
    if (!paint.dc())
        return;
    const DWORD type = TypeOf(window);
    if (type == BS_OWNERDRAW)
        PaintOwnerDrawn(window, data, paint.dc(), paint.client());
    else if (type == BS_GROUPBOX)
        PaintGroup(window, paint.dc(), paint.client());
    else if (HasCheck(type))
        PaintCheck(window, data, paint.dc(), paint.client());
    else
        PaintPush(window, data, paint.dc(), paint.client());
}

} // namespace

LRESULT ButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return RunControl<ButtonData>(window, message, wParam, lParam, [&](ButtonData& data) -> LRESULT {
        const DWORD type = TypeOf(window);
        switch (message) {
        case BM_GETCHECK:
            return HasCheck(type) ? static_cast<LRESULT>(data.check) : 0;
        case BM_SETCHECK:
            if (HasCheck(type) && data.check != CheckFor(type, wParam)) {
                data.check = CheckFor(type, wParam);
                Repaint(window);
            }
            return 0;
        case BM_GETSTATE:
            return static_cast<LRESULT>(data.check) | (data.pushed ? BST_PUSHED : 0) |
                   (GetFocus() == window ? BST_FOCUS : 0);
        case BM_SETSTATE:
            if (data.pushed != (wParam != 0)) {
                data.pushed = wParam != 0;
                Repaint(window);
            }
            return 0;
        case BM_SETSTYLE:
            SetWindowLongPtrW(window, GWL_STYLE,
                              static_cast<LONG_PTR>((StyleOf(window) & ~0xFFFFu) | (wParam & 0xFFFF)));
            if (LOWORD(static_cast<std::uintptr_t>(lParam)))
                Repaint(window);
            return 0;
        case BM_CLICK:
            Click(window, data);
            return 0;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            SetFocus(window);
            SetCapture(window);
            data.pushed = true;
            Repaint(window);
            return 0;
        case WM_MOUSEMOVE:
            if (GetCapture() == window && data.pushed != Inside(window, lParam)) {
                data.pushed = !data.pushed;
                Repaint(window);
            }
            return 0;
        case WM_LBUTTONUP:
            if (GetCapture() == window) {
                const bool inside = Inside(window, lParam);
                ReleaseCapture();
                if (inside && IsWindow(window))
                    Click(window, data);
            }
            return 0;
        case WM_CAPTURECHANGED:
            if (data.pushed) {
                data.pushed = false;
                Repaint(window);
            }
            return 0;
        case WM_PAINT:
            Paint(window, data);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
        }
    });
}

} // namespace WinControls
