// The wrapper of an owner-drawn image button: it follows the mouse (hover, capture, leave notices) and
// draws itself with the platform's visual styles where they are loaded, else in the classic look, with
// the normal image, or the disabled one while the button is disabled. The hot and pressed images are kept
// and handed out for the owner, and never drawn. Images belong to the caller. The button's window is never
// destroyed by its wrapper: Destroy gives it back.
#pragma once

#include "TOwnerDrawCtrl.h"
#include "TWinUxThemeLib.h"
#include "TiProObjects.h"

#include <memory>

class TImgBtnCtrl : public TOwnerDrawCtrl {
public:
    // The key of a record that, handed to OnCtlColor, tells the button that the mouse is gone.
    static constexpr DWORD kMouseGoneKey = 45124;

    // With the platform's version code 10 the visual-styles library is bound (and may be missing).
    TImgBtnCtrl();
    ~TImgBtnCtrl() override;

    bool Attach(HWND window, bool owned) override;
    bool Detach() override;
    bool Destroy() override;
    LRESULT OnCtlColor(TMessageInfo* info) override;

    void SetNormalImage(TiProImage* image);
    void SetHotImage(TiProImage* image);
    void SetPressedImage(TiProImage* image);
    void SetDisabledImage(TiProImage* image);
    TiProImage* GetNormalImage() const { return m_normal; }
    // These fall back to the normal image.
    TiProImage* GetHotImage() const;
    TiProImage* GetPressedImage() const;
    TiProImage* GetDisabledImage() const;

    bool IsHovering() const { return m_hover; }
    // The open theme of the button's window, 0 when it draws classically.
    HTHEME GetTheme() const { return m_themeData; }
    const TWinUxThemeLib* GetThemeLibrary() const { return m_themeLibrary.get(); }

private:
    void Replace(TiProImage*& slot, TiProImage* image);
    void CloseTheme();
    void Draw(const DRAWITEMSTRUCT& item);
    static bool DrawCallback(TOwnerDrawCtrl* control, void* context);
    static LONG OnMouseMove(TMessageInfo* info, void* context);
    static LONG OnLButtonUp(TMessageInfo* info, void* context);
    static LONG OnMouseLeave(TMessageInfo* info, void* context);

    TiProImage* m_normal = nullptr;
    TiProImage* m_hot = nullptr;
    TiProImage* m_pressed = nullptr;
    TiProImage* m_disabled = nullptr;
    bool m_hover = false;
    HTHEME m_themeData = 0;
    std::unique_ptr<TWinUxThemeLib> m_themeLibrary;
};
