#include "TGenPluginDlg.h"

#include "TAsyncRenderer.h"
#include "TDBufPageIterator.h"
#include "TOwnerDrawCtrl.h"

#include <algorithm>
#include <new>

bool TGenPluginDlg::SetSelection(const TNuidList* list) {
    if (!list || list->empty())
        return false;
    m_selection = std::make_unique<TNuidList>(*list);
    return true;
}

void TGenPluginDlg::ShowProgressDialog(TRefPtr<TPluginProgressDlg>& progress, TAutoHandle& notify,
                                       UINT templateId, bool show,
                                       const std::function<void(TPluginProgressDlg&)>& prepare) {
    if (show && !progress) {
        progress = TRefPtr<TPluginProgressDlg>::Adopt(new (std::nothrow) TPluginProgressDlg);
        if (!progress)
            return;
        progress->SetResource(GetResource());
        progress->SetNotifyTarget(&notify);
        if (!progress->CreateModeless(templateId, GetHandle())) {
            progress = TRefPtr<TPluginProgressDlg>();
            return;
        }
        if (prepare)
            prepare(*progress);
    }
    if (!progress)
        return;
    progress->Show(show);
    TWindow::Enable(!show);
}

TString TGenPluginDlg::LoadText(UINT id) const {
    TString text;
    const_cast<TGenPluginDlg*>(this)->GetResource().LoadString(id, text);
    return text;
}

void TGenPluginDlg::UpdatePageButtons() {
    const TDBufPageIterator* pages = GetPreviewPages();
    if (!pages)
        return;
    const LONG count = pages->GetPageCount();
    const LONG page = pages->GetCurrentPage();
    if (TControl* previous = GetControl(kPreviousPage))
        previous->Enable(count > 1 && page > 1);
    if (TControl* next = GetControl(kNextPage))
        next->Enable(count > 1 && page < count);
    UpdatePageLabel();
}

void TGenPluginDlg::UpdatePageLabel() {
    const TDBufPageIterator* pages = GetPreviewPages();
    TControl* label = GetControl(kPageLabel);
    if (!pages || !label)
        return;
    TString text;
    text.Format(LoadText(kPageText), static_cast<int>(std::max<LONG>(pages->GetCurrentPage(), 0)),
                static_cast<int>(pages->GetPageCount()));
    label->SetText(text);
}

LONG TGenPluginDlg::OnPreviousPage() {
    if (TDBufPageIterator* pages = GetPreviewPages()) {
        pages->PrevPage(true);
        UpdatePageButtons();
    }
    return 1;
}

LONG TGenPluginDlg::OnNextPage() {
    if (TDBufPageIterator* pages = GetPreviewPages()) {
        if (pages->GetPageCount() > pages->GetCurrentPage())
            pages->NextPage(true);
        UpdatePageButtons();
    }
    return 1;
}

LONG TGenPluginDlg::OnRenderProgress(TMessageInfo& info) {
    const std::optional<DWORD> value = TakeRenderProgress(info.lParam);
    if (value && m_progress)
        m_progress->SetStepPos(static_cast<LONG>(*value));
    return 1;
}

void TGenPluginDlg::CompleteProgressStep() {
    if (!m_progress)
        return;
    m_progress->SetStepPos(0);
    m_progress->AdvanceTotal(1);
}

void TGenPluginDlg::OnPreviewPageChanged(void* user) {
    static_cast<TGenPluginDlg*>(user)->PreviewPageChanged();
}

void TGenPluginDlg::PreviewPageChanged() {
    if (!IsIdle() || !IsWindow())
        return;
    if (TControl* area = GetControl(kPreviewArea))
        area->Invalidate(nullptr, false);
    UpdatePageButtons();
}

bool TGenPluginDlg::DrawPreviewPage(TOwnerDrawCtrl* control, void* context) {
    auto* dialog = static_cast<TGenPluginDlg*>(context);
    TDBufPageIterator* pages = dialog->GetPreviewPages();
    const DRAWITEMSTRUCT* item = control->GetDrawItem();
    if (!item || !pages)
        return false;
    const TRect view(item->rcItem.left, item->rcItem.top, item->rcItem.right, item->rcItem.bottom);
    pages->Redraw(item->hDC, 0, view, view, true, true);
    dialog->UpdatePageLabel();
    return true;
}
