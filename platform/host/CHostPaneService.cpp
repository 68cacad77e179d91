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
