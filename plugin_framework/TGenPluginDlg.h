// The base of every plug-in's main dialog: it keeps its own copy of the host selection it works on.
#pragma once

#include "TDialog.h"

#include "platform/kvtrtl/KvwHostTypes.h"

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

private:
    std::unique_ptr<TNuidList> m_selection;
};
