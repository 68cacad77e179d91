// The base of every plug-in's main dialog: it keeps its own copy of the host selection it works on, and
// shows the progress window of a long task over itself.
#pragma once

#include "TAutoHandle.h"
#include "TBaseObject.h"
#include "TDialog.h"
#include "TPluginProgressDlg.h"

#include "platform/kvtrtl/KvwHostTypes.h"

#include <functional>
#include <memory>

// A list of item ids.
using TNuidList = KvwItemIdList;

class TGenPluginDlg : public TDialog {
public:
    // False for a null or empty list, which leaves the selection as it was; otherwise the dialog keeps a
    // copy of every id in order (in place of an earlier one).
    virtual bool SetSelection(const TNuidList* list);

    // Null until a selection is set.
    const TNuidList* GetSelection() const { return m_selection.get(); }

protected:
    // Shows or hides the dialog's progress window, this dialog disabled while it shows. The first show
    // makes it modeless over this dialog from the template, with this dialog's resource and `notify` for
    // its cancel, and runs `prepare` on it before it shows; when it cannot be made `progress` stays null and
    // nothing changes.
    void ShowProgressDialog(TRefPtr<TPluginProgressDlg>& progress, TAutoHandle& notify, UINT templateId,
                            bool show, const std::function<void(TPluginProgressDlg&)>& prepare = {});

private:
    std::unique_ptr<TNuidList> m_selection;
};
