// The wrapper of one child control: it subclasses the control's window, keeps the control's font and
// colours, answers the colour messages its parent passes on (OnCtlColor), and has its own handler maps for
// the messages, commands and notifications that reach the control (a handler answering exactly 1 has
// handled the message; any other answer lets the control's own procedure run).
//
// Wrappers are reference counted: deleting a wrapper is releasing its reference, and a wrapper whose own
// message is being handled stays alive (and its control keeps working) until that message is done, even
// when its owner releases it meanwhile. Without a window every operation answers false, 0 or -1 and sends
// nothing.
#pragma once

#include "TFontInfo.h"
#include "TWindow.h"

#include "platform/win/WinGdiObjects.h"

class TControl : public TBaseObject {
public:
    using TPoint = TWindow::TPoint;
    using TSize = TWindow::TSize;
    using TRect = TWindow::TRect;

    TControl() = default;
    // Destroys the wrapper's hold on its window (as Destroy) and deletes its font and brush.
    ~TControl() override;

    // The base makes nothing and answers true.
    virtual bool Create(HWND parent, DWORD style, const TRect& rect);
    // Without a window: false. An attached window is given back, an owned one destroyed (true when the
    // platform destroyed it). The font and the brush go either way.
    virtual bool Destroy();
    // Binds the control: the wrapper stored in its user data before is detached and released, this one
    // takes its place and the window's procedure is replaced by the control procedure. False for a null or
    // dead window, or when this wrapper has a window already.
    virtual bool Attach(HWND window, bool owned);
    // The window no longer leads to the wrapper (user data cleared, procedure put back); the handlers go.
    virtual bool Detach();
    virtual bool SetText(const TString& text);
    virtual bool GetText(TString& text);
    // Null forgets the font. Otherwise the description is kept and, with a window, a font of it is made
    // for the control's resolution and given to the control; without a window no font is made (false).
    virtual bool SetFont(const TFontInfo* font);
    // Null forgets the colour; the colour is kept with its flag byte cleared either way, and the control
    // repaints when it has a window (false without one).
    virtual bool SetTextColor(const DWORD* colour);
    virtual bool SetExtraValue(LONG value);
    // As SetTextColor; a solid brush of the colour is made for it.
    virtual bool SetBkColor(const DWORD* colour);
    // The brush that answers a colour message about the control, or 0 to let the platform colour it.
    virtual LRESULT OnCtlColor(TMessageInfo* info);
    virtual bool SetFocus();

    // Makes a child window of the class (no title, no id) and attaches it without owning it.
    bool CreateControl(const TString& className, HWND parent, DWORD style, const TRect& rect);
    // True when the control was visible before.
    bool Show(bool show);
    bool IsVisible() const;
    bool IsEnabled() const;
    // True when the control was disabled before.
    bool Enable(bool enable);
    TWindow* GetParentWindow() const;
    bool GetClientRect(TRect& rect) const;
    bool GetRectInParent(TRect& rect) const;
    bool Invalidate(const TRect* rect, bool erase) const;
    bool Update() const;
    HDC GetDC() const;
    bool ReleaseDC(HDC dc) const;
    bool Move(const TPoint& point);
    bool SetSize(const TSize& size, bool repaint);
    bool MoveBy(const TPoint& offset);

    // The first registration of a key wins; false for a taken key or while there is no window.
    bool AddMessageHandler(DWORD message, const TMessageHandler& handler);
    bool AddCommandHandler(DWORD code, const TMessageHandler& handler);
    bool AddNotifyHandler(DWORD code, const TMessageHandler& handler);

    // The wrapper of a control window of this module, or null (also for a window that a framework window
    // or another module's wrapper holds).
    static TControl* FromHandle(HWND window);
    HWND GetHandle() const { return m_hWnd; }
    bool IsAttached() const { return m_attached; }
    bool HasFont() const { return m_fontSet; }
    const TFontInfo& GetFontInfo() const { return m_font; }
    HFONT GetFontHandle() const { return m_fontHandle; }
    bool HasTextColor() const { return m_textColourSet; }
    DWORD GetTextColor() const { return m_textColour; }
    bool HasBkColor() const { return m_bkColourSet; }
    DWORD GetBkColor() const { return m_bkColour; }
    HBRUSH GetBkBrush() const { return m_bkBrush; }
    LONG GetExtraValue() const { return m_extraValue; }

    // The procedure of every wrapped control.
    static LRESULT ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    // The window, while it exists.
    HWND Bound() const;

private:
    using HandlerMap = std::map<DWORD, std::unique_ptr<TMessageHandler>>;

    LRESULT Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static bool AddHandler(HandlerMap& map, bool bound, DWORD key, const TMessageHandler& handler);
    void Unbind();
    void Reset();
    void DeleteGdiObjects();

    bool m_attached = false;
    HWND m_hWnd = nullptr;
    bool m_fontSet = false;
    TFontInfo m_font;
    bool m_textColourSet = false;
    DWORD m_textColour = 0;
    bool m_bkColourSet = false;
    DWORD m_bkColour = 0;
    HBRUSH m_bkBrush = nullptr;
    LONG m_extraValue = -1; // kept for the owner; no wrapper reads it
    HFONT m_fontHandle = nullptr;
    HandlerMap m_messages;
    HandlerMap m_commands;
    HandlerMap m_notifications;
    WNDPROC m_savedProc = nullptr;
};
