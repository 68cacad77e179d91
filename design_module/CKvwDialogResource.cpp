#include "CKvwDialogResource.h"

CKvwDialogResource::CKvwDialogResource(UINT templateId, HWND parent) : m_templateId(templateId), m_parent(parent) {
    SetResource(*TResource::Instance());
}

int CKvwDialogResource::Create(UINT templateId, HWND parent) {
    m_templateId = templateId;
    m_parent = parent;
    return CreateModeless(templateId, parent) ? 1 : 0;
}

LONG CKvwDialogResource::DoModal() {
    return TDialog::DoModal(m_templateId, m_parent);
}
