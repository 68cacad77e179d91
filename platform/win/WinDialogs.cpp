#include "WinDialogs.h"

#include "WinResources.h"

INT_PTR DialogBoxParamW(HINSTANCE, const wchar_t*, HWND, DLGPROC, LPARAM) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return -1;
}

HWND CreateDialogParamW(HINSTANCE, const wchar_t*, HWND, DLGPROC, LPARAM) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}
