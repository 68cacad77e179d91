// What the standard control classes share: the state each control window keeps (made when the window is
// made, dropped when it goes), the messages every control answers alike, and painting helpers.
#pragma once

#include "WinControls.h"
#include "WinGdiDraw.h"

#include <memory>
#include <vector>

namespace WinControls {

struct ControlData {
    virtual ~ControlData() = default;
    HFONT font = nullptr;
};

void Store(HWND window, std::shared_ptr<ControlData> data);
std::shared_ptr<ControlData> Find(HWND window);
void Forget(HWND window);

template <class T>
std::shared_ptr<T> DataOf(HWND window) {
    return std::dynamic_pointer_cast<T>(Find(window));
}

// Makes the data at WM_NCCREATE and drops it at WM_NCDESTROY, keeps the font, repaints on changes of text
// and state. True when the message is answered (in result).
template <class T>
bool HandleCommon(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
bool HandleCommonWith(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                      std::shared_ptr<ControlData> (*make)());

template <class T>
bool HandleCommon(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    return HandleCommonWith(window, message, wParam, lParam, result,
                            []() -> std::shared_ptr<ControlData> { return std::make_shared<T>(); });
}

// The procedure of a control class around its own part: the common messages first, then handle(data) with
// the window's data (kept alive while it runs, even when the window goes meanwhile); a window without data
// gets the default processing.
template <class T, class Handle>
LRESULT RunControl(HWND window, UINT message, WPARAM wParam, LPARAM lParam, Handle handle) {
    LRESULT result = 0;
    if (HandleCommon<T>(window, message, wParam, lParam, result))
        return result;
    std::shared_ptr<T> data = DataOf<T>(window);
    if (!data)
        return DefWindowProcW(window, message, wParam, lParam);
    return handle(*data);
}

DWORD StyleOf(HWND window);
void Repaint(HWND window);
bool Inside(HWND window, LPARAM position);
// WM_COMMAND with the code to the parent.
void NotifyParent(HWND window, WORD code);
// The windows beside this one under its parent, in creation order, this one included.
std::vector<HWND> Siblings(HWND window);

// BeginPaint with the control's font selected, EndPaint when it goes.
class PaintScope {
public:
    PaintScope(HWND window, const ControlData& data);
    ~PaintScope();
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;

    HDC dc() const { return m_paint.hdc; }
    RECT client() const { return m_client; }

private:
    HWND m_window;
    PAINTSTRUCT m_paint{};
    RECT m_client{};
};

// Asks the parent for the colours of the control (WM_CTLCOLORSTATIC or WM_CTLCOLOREDIT); an answer of 0,
// or no parent, gives the platform's defaults. The answer is the brush to fill the control with.
HBRUSH AskParentColour(HWND window, UINT message, HDC dc);
// The text of the window in the context's colours, or grey when the window is disabled.
void DrawWindowText(HWND window, HDC dc, RECT rect, UINT format);

LRESULT StaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT EditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT ButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT ComboBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT ListBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT ProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT TrackbarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT UpDownProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

} // namespace WinControls
