// The wrapper of an owner-drawn push button: the control's draw requests (WM_DRAWITEM, passed on by the
// parent) are answered by a callback; the background is never erased.
#pragma once

#include "TBtnCtrl.h"

#include "platform/win/WinUser.h"

class TOwnerDrawCtrl : public TBtnCtrl {
public:
    using DrawCallback = bool (*)(TOwnerDrawCtrl* control, void* context);

    // A button with BS_OWNERDRAW added to the style.
    bool Create(HWND parent, DWORD style, const TRect& rect) override;
    bool Attach(HWND window, bool owned) override;
    // False without a callback. A background colour fills the item first; then the callback draws.
    virtual bool DrawItem();

    void SetDrawCallback(DrawCallback callback, void* context);
    // The request being drawn: set only while the callback runs.
    const DRAWITEMSTRUCT* GetDrawItem() const { return m_item; }

private:
    static LONG OnDrawItem(TMessageInfo* info, void* context);
    static LONG OnEraseBackground(TMessageInfo* info, void* context);

    const DRAWITEMSTRUCT* m_item = nullptr;
    DrawCallback m_callback = nullptr;
    void* m_context = nullptr;
};
