// The colour dialog. There is no screen to show it on: each call takes the next answer from a script that
// tests queue (confirm with a colour, or cancel) and records what it was given; without an answer in the
// script the dialog is cancelled. The script and the records are process-wide, in this library, because
// the modules that call the dialog carry private copies of the framework that tests cannot reach.
#pragma once

#include "WinGdiObjects.h"

#include <vector>

constexpr DWORD CC_RGBINIT = 0x00000001;
constexpr DWORD CC_FULLOPEN = 0x00000002;
constexpr DWORD CC_PREVENTFULLOPEN = 0x00000004;
constexpr DWORD CC_ANYCOLOR = 0x00000100;

struct CHOOSECOLORW {
    DWORD lStructSize;
    HWND hwndOwner;
    HWND hInstance;
    COLORREF rgbResult;
    COLORREF* lpCustColors; // 16 colours
    DWORD Flags;
    LPARAM lCustData;
    void* lpfnHook;
    const wchar_t* lpTemplateName;
};

constexpr DWORD CDERR_STRUCTSIZE = 0x0001;

// TRUE when the user confirmed: rgbResult is then the colour chosen. FALSE on cancel, or for a missing or
// wrongly sized record or a missing custom colour array (CommDlgExtendedError says which).
BOOL ChooseColorW(CHOOSECOLORW* choice);
// 0 after a confirmed or cancelled dialog, else why the last one failed.
DWORD CommDlgExtendedError();

namespace WinUserTest {

struct ColorDialogCall {
    HWND owner;
    COLORREF initial; // rgbResult as given, which the dialog shows only with CC_RGBINIT
    DWORD flags;
    std::vector<COLORREF> custom;
};

// The next dialog answers with the colour when confirm is true, else it is cancelled.
void QueueColorDialogAnswer(bool confirm, COLORREF colour = 0);
std::vector<ColorDialogCall> ColorDialogCalls();
// Forgets queued answers and recorded calls.
void ResetColorDialog();

} // namespace WinUserTest
