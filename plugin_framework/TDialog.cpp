#include "TDialog.h"

#include "TArrowsCtrl.h"
#include "TBtnCtrl.h"
#include "TCheckBoxCtrl.h"
#include "TComboBoxCtrl.h"
#include "TEditCtrl.h"
#include "TModuleValues.h"
#include "TOwnerDrawCtrl.h"
#include "TProgCtrl.h"
#include "TSliderCtrl.h"
#include "TStaticCtrl.h"

#include "platform/win/WinControls.h"
#include "platform/win/WinDialogs.h"

#include <cwchar>
#include <vector>

namespace {

// Class names are read into a buffer of this many characters.
constexpr int kClassNameChars = 50;

BOOL CollectChild(HWND child, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
}

std::vector<HWND> ChildrenOf(HWND window) {
    std::vector<HWND> children;
    if (window)
        EnumChildWindows(window, &CollectChild, reinterpret_cast<LPARAM>(&children));
    return children;
}

bool HasAllBits(DWORD style, DWORD bits) {
    return (style & bits) == bits;
}

TControl* MakeWrapper(LONG kind) {
    switch (kind) {
    case TDialog::kStatic:
        return new TStaticCtrl;
    case TDialog::kEdit:
        return new TEditCtrl;
    case TDialog::kButton:
        return new TBtnCtrl;
    case TDialog::kRadioButton:
    case TDialog::kCheckBox:
        return new TCheckBoxCtrl;
    case TDialog::kProgress:
        return new TProgCtrl;
    case TDialog::kTrackbar:
        return new TSliderCtrl;
    case TDialog::kComboBox:
        return new TComboBoxCtrl;
    case TDialog::kOwnerDraw:
        return new TOwnerDrawCtrl;
    case TDialog::kUpDown:
        return new TArrowsCtrl;
    default:
        return nullptr;
    }
}

} // namespace

LONG TDialog::ControlKind(HWND control) {
    wchar_t name[kClassNameChars] = {};
    if (!control || GetClassNameW(control, name, kClassNameChars) == 0)
        return kUnreadable;
    const auto is = [&](const wchar_t* className) { return wcscasecmp(name, className) == 0; };
    if (is(L"static"))
        return kStatic;
    if (is(L"edit"))
        return kEdit;
    if (is(L"button")) {
        // The bit tests run in this order, since the owner-drawn style has the bits of the others.
        const auto style = static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE));
        if (HasAllBits(style, BS_OWNERDRAW))
            return kOwnerDraw;
        if (HasAllBits(style, BS_AUTOCHECKBOX))
            return kCheckBox;
        if (HasAllBits(style, BS_AUTORADIOBUTTON))
            return kRadioButton;
        return kButton;
    }
    if (is(L"msctls_progress32"))
        return kProgress;
    if (is(L"msctls_trackbar32"))
        return kTrackbar;
    if (is(L"listbox"))
        return kListBox;
    if (is(L"combobox"))
        return kComboBox;
    if (is(L"msctls_updown32"))
        return kUpDown;
    return kOther;
}

TDialog::~TDialog() {
    HWND window = GetHandle();
    if (window && ::IsWindow(window) && FromHandle(window) == this) {
        // Nothing of the window may reach this object any more: its derived parts are gone.
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        ReleaseWrappers();
        if (m_modal)
            ::EndDialog(window, m_result);
        else
            ::DestroyWindow(window);
    }
    Reset();
}

bool TDialog::Destroy() {
    HWND window = GetHandle();
    if (!window || !::IsWindow(window))
        return false;
    ReleaseWrappers();
    if (m_modal)
        return ::EndDialog(window, m_result) == TRUE;
    return TWindow::Destroy();
}

LONG TDialog::OnCreate() {
    return OnInit();
}

LONG TDialog::OnInit() {
    m_closing = false;
    AddCommandHandler(IDOK, TMessageHandler{this, &TDialog::OnOKCommand});
    AddCommandHandler(IDCLOSE, TMessageHandler{this, &TDialog::OnCloseCommand});
    AddCommandHandler(IDCANCEL, TMessageHandler{this, &TDialog::OnCancelCommand});
    for (HWND child : ChildrenOf(GetHandle()))
        WrapperOf(child);
    return 1;
}

bool TDialog::Prepare(HWND parent) {
    if (IsWindow())
        return false;
    // A window that the platform destroyed behind this object's back leaves only a stale handle.
    Reset();
    TResource& resource = GetResource();
    if (parent)
        resource.SetParent(parent);
    resource.SetDialogProc(&TDialog::DialogProc);
    resource.SetDialogParam(reinterpret_cast<LPARAM>(this));
    return true;
}

LONG TDialog::DoModal(UINT templateId, HWND parent) {
    if (!Prepare(parent))
        return -1;
    m_modal = true;
    // The dialog lives while its loop runs, whatever its owner releases meanwhile.
    TRefPtr<TDialog> hold(this);
    INT_PTR result = -1;
    if (!GetResource().DoModal(templateId, &result))
        return -1;
    return static_cast<LONG>(result);
}

bool TDialog::CreateModeless(UINT templateId, HWND parent) {
    if (!Prepare(parent))
        return false;
    m_modal = false;
    HWND window = nullptr;
    return GetResource().CreateModeless(templateId, &window) && window;
}

void TDialog::OnOK() {
    m_result = 1;
    Close();
}

void TDialog::OnCancel() {
    m_result = 0;
    Close();
}

HWND TDialog::GetDlgItem(int id) const {
    HWND window = GetHandle();
    return window ? ::GetDlgItem(window, id) : nullptr;
}

TControl* TDialog::GetControl(int id) {
    return WrapperOf(GetDlgItem(id));
}

TControl* TDialog::WrapperOf(HWND child) {
    if (!child)
        return nullptr;
    if (TControl* wrapper = TControl::FromHandle(child))
        return wrapper;
    if (m_closing)
        return nullptr;
    TControl* made = MakeWrapper(ControlKind(child));
    if (made && !made->Attach(child, false)) {
        made->Release();
        made = nullptr;
    }
    return made;
}

void TDialog::ReleaseWrappers() {
    m_closing = true;
    for (HWND child : ChildrenOf(GetHandle())) {
        // Detaching clears the control's user data, so that nothing leads to the released wrapper.
        if (TControl* wrapper = TControl::FromHandle(child)) {
            wrapper->Detach();
            wrapper->Release();
        }
    }
}

LONG TDialog::SetResource(const TResource& resource) {
    GetResource() = resource;
    return 0;
}

bool TDialog::ShowMessageBox(const TString& text, LONG kind, HWND owner) {
    UINT type = MB_TOPMOST;
    switch (kind) {
    case kErrorMessage:
        type |= MB_ICONERROR;
        break;
    case kInformationMessage:
        type |= MB_ICONINFORMATION;
        break;
    case kQuestionMessage:
        type |= MB_YESNO | MB_ICONQUESTION;
        break;
    default:
        type |= MB_OK;
        break;
    }
    const int answer = ::MessageBoxW(owner, text, g_moduleValues.messageBoxCaption, type);
    return answer == IDOK || answer == IDYES;
}

INT_PTR TDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<TDialog*>(lParam);
        if (dialog && dialog->TryAddRef()) {
            const TRefPtr<TDialog> hold = TRefPtr<TDialog>::Adopt(dialog);
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(static_cast<TWindow*>(dialog)));
            dialog->SetHandle(window);
            dialog->OnCreate();
        }
        return TRUE;
    }
    auto* dialog = static_cast<TDialog*>(FromHandle(window));
    // An object whose last reference is gone is being destroyed: it takes no more messages.
    if (!dialog || dialog->GetRefCount() <= 0)
        return FALSE;
    return dialog->Dispatch(window, message, wParam, lParam);
}

INT_PTR TDialog::Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Held for the whole message: a handler may close the dialog and its owner drop the last reference.
    TRefPtr<TDialog> hold(this);
    TMessageInfo info{};
    TMessageHandler handler{};
    bool found = false;

    switch (message) {
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (!header || !header->hwndFrom)
            break;
        if (header->hwndFrom != window && ::SendMessageW(header->hwndFrom, WM_NOTIFY, wParam, lParam))
            return FALSE;
        info.key = header->code;
        found = FindNotifyHandler(header->code, static_cast<DWORD>(header->idFrom), handler);
        break;
    }
    case WM_COMMAND:
    case WM_HSCROLL:
    case WM_VSCROLL: {
        HWND control = reinterpret_cast<HWND>(lParam);
        if (control && control != window && ::SendMessageW(control, message, wParam, lParam))
            return FALSE;
        const WORD low = LOWORD(wParam);
        if (message == WM_COMMAND) {
            info.key = low;
            found = FindCommandHandler(low, handler);
            if (!found) {
                info.key = HIWORD(wParam);
                found = FindNotifyHandler(HIWORD(wParam), low, handler);
            }
        } else if (control) {
            // A dialog has no scroll bars of its own: only a control's scroll messages are handled.
            info.key = low;
            found = FindNotifyHandler(low, static_cast<DWORD>(GetDlgCtrlID(control)), handler);
        }
        break;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORDLG: // the dialog's own background: lParam is the dialog itself
        info.key = message;
        info.wParam = wParam;
        info.lParam = lParam;
        return OnControlColor(reinterpret_cast<HWND>(lParam), info);
    default:
        if (message == WM_DRAWITEM) {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item && item->hwndItem && item->hwndItem != window &&
                ::SendMessageW(item->hwndItem, WM_DRAWITEM, wParam, lParam))
                return FALSE;
        }
        info.key = message;
        info.extra = lParam;
        found = FindMessageHandler(message, handler);
        break;
    }

    if (found && handler.callback) {
        info.wParam = wParam;
        info.lParam = lParam;
        handler.callback(&info, handler.context);
    }
    // A dialog destroyed by the platform (its owner went, or it was destroyed directly) still releases
    // its wrappers while the controls exist, and then forgets the window.
    if (message == WM_DESTROY && GetHandle() == window)
        ReleaseWrappers();
    if (message == WM_NCDESTROY && GetHandle() == window) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        Reset();
    }
    return FALSE;
}

LONG TDialog::OnOKCommand(TMessageInfo*, void* context) {
    static_cast<TDialog*>(context)->OnOK();
    return 0;
}

LONG TDialog::OnCancelCommand(TMessageInfo*, void* context) {
    static_cast<TDialog*>(context)->OnCancel();
    return 0;
}

LONG TDialog::OnCloseCommand(TMessageInfo*, void* context) {
    static_cast<TDialog*>(context)->Close();
    return 0;
}
