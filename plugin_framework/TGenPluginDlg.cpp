#include "TGenPluginDlg.h"

bool TGenPluginDlg::SetSelection(const TNuidList* list) {
    if (!list || list->empty())
        return false;
    m_selection = std::make_unique<TNuidList>(*list);
    return true;
}
