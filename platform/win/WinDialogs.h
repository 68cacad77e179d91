// Dialog boxes from the templates of a module's resources (type RT_DIALOG). This layer does not read
// templates yet, so every dialog call answers as the original platform does for a missing template.
#pragma once

#include "WinUser.h"

using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

// -1 with ERROR_RESOURCE_NAME_NOT_FOUND.
INT_PTR DialogBoxParamW(HINSTANCE instance, const wchar_t* templateName, HWND parent, DLGPROC procedure,
                        LPARAM parameter);
// Null with ERROR_RESOURCE_NAME_NOT_FOUND.
HWND CreateDialogParamW(HINSTANCE instance, const wchar_t* templateName, HWND parent, DLGPROC procedure,
                        LPARAM parameter);
