// The mail plug-in's modal dialog over the host's selection. So far it opens empty, from its template in
// the language library; the host's progress reaches it through OnHostProgress.
#pragma once

#include "plugin_framework/TGenPluginDlg.h"

class CMailDlg : public TGenPluginDlg {
public:
    // The host's progress words, forwarded by the plug-in: the position, then the range.
    virtual void OnHostProgress(DWORD position, DWORD range);
};
