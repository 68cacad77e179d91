#include "TImgBtnCtrl.h"

#include "platform/win/WinControls.h"
#include "platform/win/WinGdiDraw.h"
#include "platform/win/WinInput.h"

namespace {

constexpr int kOsWithVisualStyles = 10;
constexpr LONG kFocusInset = 3;
constexpr LONG kClassicImageInset = 2;

bool InsideClient(HWND window, LPARAM position) {
    RECT client{};
    ::GetClientRect(window, &client);
    return ::PtInRect(&client, POINT{GET_X_LPARAM(position), GET_Y_LPARAM(position)}) == TRUE;
}

// Draws the image (lData) at full opacity into the composing context of DrawState.
BOOL DrawImageState(HDC dc, LPARAM data, WPARAM, int width, int height) {
    const auto* image = reinterpret_cast<const TiProImage*>(data);
    TiProCanvas* canvas = TiProCanvas::CreateFromHDC(dc);
    if (!canvas)
        return FALSE;
    canvas->DrawImage(*image, TiProCanvas::TRect(0, 0, width, height), 255);
    canvas->Release();
    delete canvas;
    return TRUE;
}

} // namespace

TImgBtnCtrl::TImgBtnCtrl() {
    if (GetOSVersion() == kOsWithVisualStyles)
        m_themeLibrary = std::make_unique<TWinUxThemeLib>();
}

TImgBtnCtrl::~TImgBtnCtrl() {
    // The window stays with its parent, whoever owned it.
    Detach();
}

bool TImgBtnCtrl::Attach(HWND window, bool owned) {
    if (!TOwnerDrawCtrl::Attach(window, owned))
        return false;
    if (m_themeLibrary && m_themeLibrary->IsLoaded())
        m_themeData = m_themeLibrary->OpenThemeData(window, L"Button");
    AddMessageHandler(WM_MOUSEMOVE, TMessageHandler{this, &TImgBtnCtrl::OnMouseMove});
    AddMessageHandler(WM_LBUTTONUP, TMessageHandler{this, &TImgBtnCtrl::OnLButtonUp});
    AddMessageHandler(WM_MOUSELEAVE, TMessageHandler{this, &TImgBtnCtrl::OnMouseLeave});
    SetDrawCallback(&TImgBtnCtrl::DrawCallback, this);
    return true;
}

void TImgBtnCtrl::CloseTheme() {
    if (m_themeData && m_themeLibrary)
        m_themeLibrary->CloseThemeData(m_themeData);
    m_themeData = 0;
}

bool TImgBtnCtrl::Detach() {
    CloseTheme();
    m_hover = false;
    return TOwnerDrawCtrl::Detach();
}

bool TImgBtnCtrl::Destroy() {
    const bool bound = Bound() != nullptr;
    Detach();
    // As every wrapper, it lets go of its font and brush; the window stays with its parent.
    TControl::Destroy();
    return bound;
}

LRESULT TImgBtnCtrl::OnCtlColor(TMessageInfo* info) {
    if (TOwnerDrawCtrl::OnCtlColor(info) == 1)
        return 1;
    if (info && info->key == kMouseGoneKey) {
        m_hover = false;
        Invalidate(nullptr, true);
    }
    return 0;
}

void TImgBtnCtrl::Replace(TiProImage*& slot, TiProImage* image) {
    slot = image;
    Invalidate(nullptr, true);
}

void TImgBtnCtrl::SetNormalImage(TiProImage* image) {
    Replace(m_normal, image);
}

void TImgBtnCtrl::SetHotImage(TiProImage* image) {
    Replace(m_hot, image);
}

void TImgBtnCtrl::SetPressedImage(TiProImage* image) {
    Replace(m_pressed, image);
}

void TImgBtnCtrl::SetDisabledImage(TiProImage* image) {
    Replace(m_disabled, image);
}

TiProImage* TImgBtnCtrl::GetHotImage() const {
    return m_hot ? m_hot : m_normal;
}

TiProImage* TImgBtnCtrl::GetPressedImage() const {
    return m_pressed ? m_pressed : m_normal;
}

TiProImage* TImgBtnCtrl::GetDisabledImage() const {
    return m_disabled ? m_disabled : m_normal;
}

LONG TImgBtnCtrl::OnMouseMove(TMessageInfo* info, void* context) {
    auto* button = static_cast<TImgBtnCtrl*>(context);
    HWND window = button->GetHandle();
    const bool inside = InsideClient(window, info->lParam);
    if (inside == button->m_hover)
        return 1;
    button->m_hover = inside;
    const bool capturing = ::GetCapture() == window;
    if (button->m_themeData) {
        if (inside && !capturing) {
            TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), TME_LEAVE, window, 0};
            ::TrackMouseEvent(&track);
        }
        button->Invalidate(nullptr, true);
    } else if (capturing) {
        ::SendMessageW(window, BM_SETSTATE, inside ? TRUE : FALSE, 0);
    }
    // The button's own procedure does not see mouse moves.
    return 1;
}

LONG TImgBtnCtrl::OnLButtonUp(TMessageInfo* info, void* context) {
    auto* button = static_cast<TImgBtnCtrl*>(context);
    if (InsideClient(button->GetHandle(), info->lParam))
        return 0; // the button completes the click
    ::ReleaseCapture();
    return 1;
}

LONG TImgBtnCtrl::OnMouseLeave(TMessageInfo*, void* context) {
    auto* button = static_cast<TImgBtnCtrl*>(context);
    if (button->m_hover) {
        button->m_hover = false;
        button->Invalidate(nullptr, true);
    }
    return 0;
}

bool TImgBtnCtrl::DrawCallback(TOwnerDrawCtrl* control, void* context) {
    auto* button = static_cast<TImgBtnCtrl*>(context);
    const DRAWITEMSTRUCT* item = control->GetDrawItem();
    if (!item)
        return false;
    button->Draw(*item);
    return true;
}

void TImgBtnCtrl::Draw(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    const bool focused = (item.itemState & ODS_FOCUS) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    const bool focusCues = (item.itemState & ODS_NOFOCUSRECT) == 0;
    ::SetBkMode(dc, TRANSPARENT);

    int state = PBS_NORMAL;
    if (m_themeData) {
        state = disabled ? PBS_DISABLED : selected ? PBS_PRESSED : PBS_NORMAL;
        if (state == PBS_NORMAL && m_hover)
            state = PBS_HOT;
        else if (state == PBS_NORMAL && focused)
            state = PBS_DEFAULTED;
        else if (state == PBS_PRESSED && !m_hover)
            state = PBS_HOT;
        m_themeLibrary->DrawThemeBackground(m_themeData, dc, BP_PUSHBUTTON, state, &item.rcItem, nullptr);
    } else {
        RECT face = item.rcItem;
        if (focused) {
            ::FrameRect(dc, &face, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
            ::InflateRect(&face, -1, -1);
        }
        ::FillRect(dc, &face, ::GetSysColorBrush(COLOR_BTNFACE));
        if (selected)
            ::FrameRect(dc, &face, ::GetSysColorBrush(COLOR_BTNSHADOW));
        else
            ::DrawFrameControl(dc, &face, DFC_BUTTON, DFCS_BUTTONPUSH | (m_hover ? DFCS_HOT : 0));
    }

    TiProImage* image = disabled ? GetDisabledImage() : m_normal;
    if (image || HasBkColor()) {
        RECT target = item.rcItem;
        ::InflateRect(&target, -kClassicImageInset, -kClassicImageInset);
        if (m_themeData) {
            RECT content{};
            if (m_themeLibrary->GetThemeBackgroundContentRect(m_themeData, dc, BP_PUSHBUTTON, state,
                                                              &item.rcItem, &content) == S_OK)
                target = content;
        }
        if (HasBkColor() && !disabled)
            ::FillRect(dc, &target, GetBkBrush());
        if (image) {
            graphtypes::TSize_T<LONG> size;
            image->GetSize(size);
            LONG x = target.left + (target.right - target.left - size.cx) / 2;
            LONG y = target.top + (target.bottom - target.top - size.cy) / 2;
            if (!m_themeData && selected) {
                ++x;
                ++y;
            }
            ::DrawStateW(dc, nullptr, DrawImageState, reinterpret_cast<LPARAM>(image), 0, x, y, size.cx,
                         size.cy, DST_COMPLEX | (disabled ? DSS_DISABLED : DSS_NORMAL));
        }
    }
    if (focused && focusCues) {
        RECT focus = item.rcItem;
        ::InflateRect(&focus, -kFocusInset, -kFocusInset);
        ::DrawFocusRect(dc, &focus);
    }
}
