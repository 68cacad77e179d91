#include "CHostPaneService.h"

void CHostImagingService::SetResult(KvwResult result) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_result = result;
}

KvwResult CHostImagingService::GetManager(IPravonManager** manager) {
    if (!manager)
        return kKvwInvalidArgument;
    std::lock_guard<std::mutex> guard(m_lock);
    *manager = KvwSucceeded(m_result) ? &m_manager : nullptr;
    return m_result;
}

CHostPaneService::~CHostPaneService() {
    for (const auto& [component, window] : m_made)
        DestroyWindow(window);
}

HWND CHostPaneService::MakeWindow(DWORD component, HWND parent, LONG width, LONG height) {
    // A borderless child: its client area is the whole window.
    HWND window = CreateWindowExW(0, L"Static", L"", WS_CHILD | WS_VISIBLE, 0, 0, width, height, parent,
                                  nullptr, nullptr, nullptr);
    if (!window)
        return nullptr;
    HWND previous = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto made = m_made.find(component);
        if (made != m_made.end())
            previous = made->second;
        m_made[component] = window;
        m_windows[component] = window;
    }
    if (previous)
        DestroyWindow(previous);
    return window;
}

int CHostPaneService::Closes() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_closes;
}

KvwResult CHostPaneService::ClosePanes() {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_closes;
    return kKvwOk;
}

void CHostPaneService::SetNumber(DWORD number) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_number = number;
}

void CHostPaneService::SetWindow(DWORD component, HWND window) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (window)
        m_windows[component] = window;
    else
        m_windows.erase(component);
}

DWORD CHostPaneService::GetNumber() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_number;
}

KvwResult CHostPaneService::GetWindowData(DWORD component, CKvwWindowData* data) {
    if (!data)
        return kKvwInvalidArgument;
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_windows.find(component);
    if (it == m_windows.end())
        return kKvwNothingToWorkOn;
    data->window = it->second;
    return kKvwOk;
}

void CHostWindowService::SetWindow(DWORD component, DWORD panel, HWND window) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (window)
        m_windows[{component, panel}] = window;
    else
        m_windows.erase({component, panel});
}

KvwResult CHostWindowService::GetWindowData(DWORD component, DWORD panel, CKvwWindowData* data) {
    if (!data)
        return kKvwInvalidArgument;
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_windows.find({component, panel});
    if (it == m_windows.end())
        return kKvwNothingToWorkOn;
    data->window = it->second;
    return kKvwOk;
}
