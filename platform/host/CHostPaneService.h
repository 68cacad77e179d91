// The host's imaging service (service 1), which hands out its imaging framework's manager, its pane
// service (service 2): the host's number and the windows of the components' panes, and its window service
// (service 7): the windows of the components' panels, all set by tests.
#pragma once

#include "CHostServices.h"

#include "platform/pravon/CPravonMemoryManager.h"

#include <map>
#include <mutex>

class CHostImagingService : public CHostService<IKvwImagingService> {
public:
    // A failure word makes GetManager answer it and hand out nothing.
    void SetResult(KvwResult result);
    CPravonMemoryManager& Manager() { return m_manager; }

    KvwResult GetManager(IPravonManager** manager) override;

private:
    std::mutex m_lock;
    KvwResult m_result = kKvwOk;
    CPravonMemoryManager m_manager;
};

class CHostPaneService : public CHostService<IKvwPaneService> {
public:
    // Destroys the pane windows it made.
    ~CHostPaneService();
    void SetNumber(DWORD number);
    // The pane window of the component (null: it has none).
    void SetWindow(DWORD component, HWND window);
    // Makes the component's pane window: a child of the parent with that client size, destroyed with the
    // service (or when the component gets another). Null when the window cannot be made.
    HWND MakeWindow(DWORD component, HWND parent, LONG width, LONG height);
    // How many times modules said they were done with their panes.
    int Closes() const;

    DWORD GetNumber() override;
    KvwResult GetWindowData(DWORD component, CKvwWindowData* data) override;
    KvwResult ClosePanes() override;

private:
    mutable std::mutex m_lock;
    DWORD m_number = 0;
    std::map<DWORD, HWND> m_windows;
    std::map<DWORD, HWND> m_made;
    int m_closes = 0;
};

class CHostWindowService : public CHostService<IKvwWindowService> {
public:
    // The window of the component's panel (null: it has none).
    void SetWindow(DWORD component, DWORD panel, HWND window);

    KvwResult GetWindowData(DWORD component, DWORD panel, CKvwWindowData* data) override;

private:
    std::mutex m_lock;
    std::map<std::pair<DWORD, DWORD>, HWND> m_windows;
};
