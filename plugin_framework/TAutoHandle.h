// The window that receives a renderer's notices: requests that finished and progress values, posted from
// the render worker. Attached on the window's own thread before the renderer posts to it.
#pragma once

#include "TWindow.h"

#include <atomic>

class TAutoHandle {
public:
    // True when the window is not null.
    bool Attach(TWindow* window);
    bool IsSet() const { return m_window.load() != nullptr; }
    // Posts the message with 0 as first and the value as second parameter; false when no window is attached
    // or the post fails (the window is gone), and then the value is still the caller's.
    bool PostMessage(UINT message, LPARAM value) const;

private:
    std::atomic<TWindow*> m_window{nullptr};
};
