#include "TAutoHandle.h"

bool TAutoHandle::Attach(TWindow* window) {
    m_window.store(window);
    return window != nullptr;
}

bool TAutoHandle::PostMessage(UINT message, LPARAM value) const {
    TWindow* window = m_window.load();
    return window && window->PostMessage(message, 0, value);
}
