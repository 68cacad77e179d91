#include "CKvwMenuResource.h"

#include "plugin_framework/TResource.h"

#include "platform/win/WinDialogs.h"
#include "platform/win/WinResources.h"

CKvwMenuResource::~CKvwMenuResource() {
    Destroy();
}

bool CKvwMenuResource::Load(UINT menuId, HINSTANCE library) {
    Destroy();
    if (!library)
        library = TResource::Instance()->GetModule();
    if (!library)
        return false;
    m_menu = LoadMenuW(library, MAKEINTRESOURCEW(static_cast<WORD>(menuId)));
    return m_menu != nullptr;
}

void CKvwMenuResource::Destroy() {
    if (m_menu)
        DestroyMenu(m_menu);
    m_menu = nullptr;
}

bool ShowDesignMessage(const wchar_t* text, int kind, HWND owner) {
    // The box stays above the host's windows, whichever kind it is.
    UINT style = MB_TOPMOST;
    if (kind == 0)
        style |= MB_ICONERROR;
    else if (kind == 1)
        style |= MB_ICONINFORMATION;
    else if (kind == 2)
        style |= MB_ICONQUESTION | MB_YESNO;
    const int answer = MessageBoxW(owner, text ? text : L"", L"DesignModule", style);
    return answer == IDOK || answer == IDYES;
}
