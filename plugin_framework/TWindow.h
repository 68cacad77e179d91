// The framework's window: binds one platform window to its object, turns the common messages into virtual
// operations, and hands every other message, command and notification to the handler records that the
// owner registers. Messages that a child control sends to its parent are first offered back to the control
// and only then to the parent's handlers.
//
// A handler (or an operation) that answers exactly 1 has handled the message and the default processing is
// skipped; any other answer lets the default processing run, and its answer is returned. A window may be
// destroyed, and its object released, inside one of its own handlers: the object stays alive until the
// dispatch that called the handler has finished.
#pragma once

#include "GraphTypes.h"
#include "TBaseObject.h"
#include "TResource.h"
#include "TString.h"

#include "platform/win/WinUser.h"

#include <map>
#include <memory>
#include <type_traits>

// What a handler is told of the message it handles. Zeroed before each dispatch.
struct TMessageInfo {
    HWND hwnd;
    DWORD key;    // the message id, command id or notification code the handler was found under
    LPARAM extra; // lParam for handlers of the message map, else 0
    WPARAM wParam;
    LPARAM lParam;
};

// A handler record: the callback and the context value it is called with.
struct TMessageHandler {
    void* context;
    LONG (*callback)(TMessageInfo* info, void* context);
};

// A handler record that calls a member function of the window's object, `LONG (TMessageInfo&)` or
// `LONG ()`, while the object still has its window; once the window is gone the message counts as handled
// and the member is not called. The object must outlive its handler records, as the window's own do.
template <auto Member, class Window>
TMessageHandler MemberHandler(Window* window) {
    return TMessageHandler{window, [](TMessageInfo* info, void* context) -> LONG {
                               auto* self = static_cast<Window*>(context);
                               if (!self || !self->IsWindow())
                                   return 1;
                               if constexpr (std::is_invocable_v<decltype(Member), Window*, TMessageInfo&>)
                                   return (self->*Member)(*info);
                               else
                                   return (self->*Member)();
                           }};
}

// The key under which paint messages are handled (a handler registered under WM_PAINT is never called).
constexpr DWORD kPaintMessageKey = 45117;

class TWindow : public TBaseObject {
public:
    using TPoint = graphtypes::TPoint_T<LONG>;
    using TSize = graphtypes::TSize_T<LONG>;
    using TRect = graphtypes::TRect_T<LONG>;

    TWindow() = default;
    // An attached window is given back, an own one destroyed (unless its handle was set from outside).
    ~TWindow() override;

    // Attached: gives the window back; own: destroys it. Either way the handlers go and the object can
    // make a new window. True when the platform destroyed the window (or it was given back). A window that
    // the platform does not destroy now is unbound from the object at once; one of another thread (which
    // only that thread may destroy) is closed by that thread when it next takes its messages.
    virtual bool Destroy();
    // Binds an existing window, routing its messages through this object; an unowned window is given back
    // rather than destroyed. False for a null handle or when the object has a window already.
    virtual bool Attach(HWND window, bool owned);
    virtual void Detach();
    virtual bool IsWindow() const;
    virtual void Show(bool show);
    virtual bool IsVisible() const;
    virtual void SetFocus();
    // True when the platform says the window was disabled before.
    virtual bool Enable(bool enable);
    virtual bool IsEnabled() const;
    virtual bool SetActive();
    virtual bool GetText(TString& text) const;
    virtual bool SetText(const TString& text);
    // Called once, while the window is being created; handlers are registered here or later.
    virtual LONG OnCreate();
    virtual LONG OnHScrollLeft();
    virtual LONG OnHScrollRight();
    virtual LONG OnHScrollLineLeft(LONG count);
    virtual LONG OnHScrollLineRight(LONG count);
    virtual LONG OnHScrollPageLeft();
    virtual LONG OnHScrollPageRight();
    virtual LONG OnHScrollThumbPosition();
    virtual LONG OnHScrollThumbTrack();
    virtual LONG OnHScrollEnd();
    virtual LONG OnVScrollTop();
    virtual LONG OnVScrollBottom();
    virtual LONG OnVScrollLineUp(LONG count);
    virtual LONG OnVScrollLineDown(LONG count);
    virtual LONG OnVScrollPageUp();
    virtual LONG OnVScrollPageDown();
    virtual LONG OnVScrollThumbPosition();
    virtual LONG OnVScrollThumbTrack();
    virtual LONG OnVScrollEnd();
    virtual LONG OnKeyDown(WPARAM wParam, LPARAM lParam);
    virtual LONG OnKeyUp(WPARAM wParam, LPARAM lParam);
    // The base takes the keyboard focus for the window.
    virtual LONG OnLButtonDown(const TPoint& point, WPARAM flags);
    virtual LONG OnLButtonUp(const TPoint& point, WPARAM flags);
    virtual LONG OnLButtonDblClk(const TPoint& point, WPARAM flags);
    virtual LONG OnRButtonDown(const TPoint& point, WPARAM flags);
    virtual LONG OnRButtonUp(const TPoint& point, WPARAM flags);
    virtual LONG OnRButtonDblClk(const TPoint& point, WPARAM flags);
    virtual LONG OnMouseMove(const TPoint& point, WPARAM flags);
    virtual LONG OnMouseWheel(const TPoint& point, WPARAM flags);
    virtual void Close();
    virtual LONG OnSize(const TSize& size);

    // Makes the window of the class (registering it for this module when it does not exist yet), a child
    // of parent or, without one, a pop-up; WM_CLOSE and the command IDCLOSE then close it by default.
    bool Create(const TString& className, DWORD style, const TRect& rect, HWND parent);
    static TWindow* FromHandle(HWND window);
    // Takes a handle without routing its messages; false when the object has a window of its own.
    bool SetHandle(HWND window);
    HWND GetHandle() const { return m_hWnd; }

    // The first registration of a key wins; false for a taken key or while there is no window.
    bool AddMessageHandler(DWORD message, const TMessageHandler& handler);
    bool AddCommandHandler(DWORD command, const TMessageHandler& handler);
    bool AddNotifyHandler(DWORD code, DWORD controlId, const TMessageHandler& handler);

    // Without a window each of these answers false, null or an empty value and leaves the platform alone.
    HWND GetParent() const;
    bool GetClientRect(TRect& rect) const;
    bool GetWindowRect(TRect& rect) const;
    TSize GetDpi() const;
    HDC GetDC() const;
    bool ReleaseDC(HDC dc) const;
    bool PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const;
    bool SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const;
    bool Invalidate(const TRect* rect, bool erase) const;
    bool Move(const TPoint& point);
    bool SetSize(const TSize& size, bool repaint);
    bool SetPosSize(const TPoint& point, const TSize& size);
    // Moves the window by the offset within its parent.
    bool MoveBy(const TPoint& offset);

    TResource& GetResource() { return m_resource; }

    // The procedure of every framework window.
    static LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    // The colour messages this window receives about one of its controls (WM_CTLCOLOREDIT,
    // WM_CTLCOLORSTATIC, with the record filled) are answered by the control's wrapper (TControl): its
    // brush is returned at once, 0 lets the default processing run. A control without a wrapper answers 0.
    virtual LRESULT OnControlColor(HWND control, TMessageInfo& info);
    // The handlers registered under a key, for a window whose messages come through another procedure
    // (a dialog's); false when none is.
    bool FindMessageHandler(DWORD message, TMessageHandler& handler) const;
    bool FindCommandHandler(DWORD command, TMessageHandler& handler) const;
    bool FindNotifyHandler(DWORD code, DWORD controlId, TMessageHandler& handler) const;
    // Forgets the window: handlers, flags, saved procedure and handle.
    void Reset();

private:
    using HandlerMap = std::map<DWORD, std::unique_ptr<TMessageHandler>>;

    LRESULT Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LONG OnOwnScroll(UINT message, WORD code);
    static bool Find(const HandlerMap& map, DWORD key, TMessageHandler& handler);
    bool FindNotify(DWORD code, DWORD controlId, TMessageHandler& handler) const;
    // The window no longer leads to this object: its user data is cleared and a replaced procedure put back.
    void Unbind();
    static LONG CloseHandler(TMessageInfo* info, void* context);

    bool m_attached = false;
    bool m_handleSet = false;
    ATOM m_atom = 0;
    WNDPROC m_savedProc = nullptr;
    HWND m_hWnd = nullptr;
    HandlerMap m_messages;
    HandlerMap m_commands;
    std::map<DWORD, HandlerMap> m_notifications;
    TResource m_resource;
};
