#include "TSubactPropDlg.h"

#include "TKvwDesignModule.h"

#include "platform/win/WinControls.h"

namespace {

constexpr UINT kSizeOnly = SWP_NOMOVE | SWP_NOZORDER;

} // namespace

TSubactPropDlg::TSubactPropDlg(HWND parent)
    : CKvwDialogResource(kTemplate, parent), m_brush(CreateSolidBrush(kBackground)) {}

TSubactPropDlg::~TSubactPropDlg() {
    DeleteObject(m_brush);
}

LONG TSubactPropDlg::OnInit() {
    const LONG answer = TDialog::OnInit();
    AddNotifyHandler(CBN_SELENDOK, kTemplateChoice, TMessageHandler{this, &TSubactPropDlg::OnTemplateChosen});
    return answer;
}

bool TSubactPropDlg::Initialise(TKvwDesignModule& module) {
    m_module = &module;
    HWND choice = GetDlgItem(kTemplateChoice);
    const TTemplateList& templates = module.GetTemplateList();
    if (!choice || templates.GetCount() == 0)
        return false;
    for (int index = 0; index < templates.GetCount(); ++index) {
        const TString description = templates.GetDescription(index);
        SendMessageW(choice, CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(static_cast<const wchar_t*>(description)));
    }
    SetChoice(0);
    return true;
}

int TSubactPropDlg::GetChoice() const {
    HWND choice = GetDlgItem(kTemplateChoice);
    return choice ? static_cast<int>(SendMessageW(choice, CB_GETCURSEL, 0, 0)) : -1;
}

void TSubactPropDlg::SetChoice(int index) {
    if (HWND choice = GetDlgItem(kTemplateChoice))
        SendMessageW(choice, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

bool TSubactPropDlg::Resize(LONG width, LONG height) {
    return IsWindow() && SetWindowPos(GetHandle(), nullptr, 0, 0, width, height, kSizeOnly);
}

LRESULT TSubactPropDlg::OnControlColor(HWND control, TMessageInfo& info) {
    // The panel's background, and the static texts that lie on it.
    if (info.key != WM_CTLCOLORSTATIC && info.key != WM_CTLCOLORDLG)
        return CKvwDialogResource::OnControlColor(control, info);
    SetBkMode(reinterpret_cast<HDC>(info.wParam), TRANSPARENT);
    return reinterpret_cast<LRESULT>(m_brush);
}

LONG TSubactPropDlg::OnTemplateChosen(TMessageInfo*, void* context) {
    auto* dialog = static_cast<TSubactPropDlg*>(context);
    if (dialog->m_module)
        dialog->m_module->ChooseTemplate(dialog->GetChoice());
    return 1;
}

TDesignPropertiesPanel::~TDesignPropertiesPanel() {
    if (m_dialog)
        m_dialog->Destroy();
}

bool TDesignPropertiesPanel::Create(HWND parent) {
    auto dialog = TRefPtr<TSubactPropDlg>::Adopt(new TSubactPropDlg(parent));
    if (!dialog->Create(TSubactPropDlg::kTemplate, parent))
        return false;
    m_dialog = std::move(dialog);
    return true;
}

bool TDesignPropertiesPanel::GetWindowRect(TWindow::TRect& rect) const {
    return m_dialog && m_dialog->GetWindowRect(rect);
}

void TDesignPropertiesPanel::SelectTemplate(int index) {
    if (m_dialog)
        m_dialog->SetChoice(index);
}
