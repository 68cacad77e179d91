// The base of every plug-in's main dialog: it keeps its own copy of the host selection it works on, shows
// the progress window of a long task over itself, and pages its preview with the page buttons and label.
#pragma once

#include "TAutoHandle.h"
#include "TBaseObject.h"
#include "TDialog.h"
#include "TPluginProgressDlg.h"

#include "platform/kvtrtl/KvwHostTypes.h"

#include <functional>
#include <memory>

class TDBufPageIterator;
class TOwnerDrawCtrl;

// A list of item ids.
using TNuidList = KvwItemIdList;

class TGenPluginDlg : public TDialog {
public:
    // The preview, the page buttons and label under it, with the same ids in every plug-in dialog's
    // template, and the language library's format of the label (the page shown, then the page count).
    static constexpr int kPreviewArea = 1000;
    static constexpr int kPreviousPage = 1001;
    static constexpr int kNextPage = 1002;
    static constexpr int kPageLabel = 1003;
    static constexpr UINT kPageText = 1015;

    // False for a null or empty list, which leaves the selection as it was; otherwise the dialog keeps a
    // copy of every id in order (in place of an earlier one).
    virtual bool SetSelection(const TNuidList* list);
    // No task of the dialog (a send, a print job) is running.
    virtual bool IsIdle() const { return true; }

    // Null until a selection is set.
    const TNuidList* GetSelection() const { return m_selection.get(); }

protected:
    // Shows or hides the dialog's progress window, this dialog disabled while it shows. The first show
    // makes it modeless over this dialog from the template, with this dialog's resource and `notify` for
    // its cancel, and runs `prepare` on it before it shows; when it cannot be made `progress` stays null and
    // nothing changes.
    void ShowProgressDialog(TRefPtr<TPluginProgressDlg>& progress, TAutoHandle& notify, UINT templateId,
                            bool show, const std::function<void(TPluginProgressDlg&)>& prepare = {});
    // The text of the dialog's resource module; empty when it has none.
    TString LoadText(UINT id) const;

    // The pages the preview shows; null while there are none.
    virtual TDBufPageIterator* GetPreviewPages() const { return nullptr; }
    // Previous enabled past the first page, next before the last, then the label.
    void UpdatePageButtons();
    // The page shown (0 before the first) and the page count.
    void UpdatePageLabel();
    // The page buttons' commands: one page back or on, never past either end, and the buttons follow.
    LONG OnPreviousPage();
    LONG OnNextPage();
    // The page iterator's callback when its page changed (user: the dialog): while the dialog is idle and
    // open, the preview is drawn again and the buttons follow.
    static void OnPreviewPageChanged(void* user);
    void PreviewPageChanged();
    // The preview area's draw callback (context: the dialog): the page shown, then its label.
    static bool DrawPreviewPage(TOwnerDrawCtrl* control, void* context);

    // kRenderProgressMessage: the progress window's step bar shows the value (taken either way).
    LONG OnRenderProgress(TMessageInfo& info);
    // One step of a task done: the step bar starts again and the total bar moves one on.
    void CompleteProgressStep();

    // The progress window, once shown.
    TRefPtr<TPluginProgressDlg> m_progress;

private:
    std::unique_ptr<TNuidList> m_selection;
};
