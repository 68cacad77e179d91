// A dialog of the design module's language library, made from its template modelessly or run modally.
#pragma once

#include "plugin_framework/TDialog.h"

class CKvwDialogResource : public TDialog {
public:
    // The templates come from the resource accessor's module: the language library.
    CKvwDialogResource(UINT templateId, HWND parent);

    // 1 when the modeless dialog of the template was made under the parent, 0 without a template.
    int Create(UINT templateId, HWND parent);
    // The dialog's result, or -1 without a template.
    LONG DoModal();
    void DisableDialog() { Enable(false); }
    void EnableDialog() { Enable(true); }

    UINT GetTemplateId() const { return m_templateId; }

protected:
    UINT m_templateId;
    HWND m_parent;
};
