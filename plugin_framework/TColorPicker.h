// The colour chooser: the platform's colour dialog over a colour record of the caller.
#pragma once

#include "platform/win/WinGdiObjects.h"

// The caller's record: the current colour (packed), the 16 custom colours the dialog offers and keeps,
// and the dialog's owner window.
struct TColorData {
    DWORD colour;
    COLORREF custom[16];
    HWND owner;
};

class TColorPicker {
public:
    void SetColorData(TColorData* data) { m_data = data; }
    // The colour first receives the current one; when the user confirms the dialog (shown with the current
    // colour), it receives the chosen one with the flag byte 0xFF and the answer is true. False on cancel,
    // and without a record (the colour then stays as it was).
    bool Choose(DWORD& colour) const;

private:
    TColorData* m_data = nullptr;
};
