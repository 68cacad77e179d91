#include "TGenPluginDlg.h"

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
