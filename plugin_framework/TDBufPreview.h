// The two images of one previewed page: the renderer draws into the back image while the window paints
// the front one, and a finished render copies the back image onto the front. Counted: the page iterator's
// map holds one reference and every render request that draws into the preview another, so the images live
// until the last of them lets go.
#pragma once

#include "GraphTypes.h"
#include "TBaseObject.h"
#include "TSyncObject.h"
#include "TiProObjects.h"

#include <atomic>
#include <memory>

class TDBufPreview : public TBaseObject {
public:
    // Both images of the size; null when either cannot be made.
    static TRefPtr<TDBufPreview> Create(const graphtypes::TSize_T<LONG>& size);
    // Under the preview's lock, the handles of both images are given back.
    ~TDBufPreview() override;

    TiProImage& GetFront() { return *m_front; }
    TiProImage& GetBack() { return *m_back; }
    // Over the front image while it is painted or drawn over; taken after the iterator's preview lock.
    TCritSection& GetLock() { return m_lock; }

    // Under the preview's lock, the back image is drawn over the whole front image, opaque. False when
    // either image has an empty size or no canvas can be made over the front image.
    bool CopyBackToFront();

    bool IsDirty() const { return m_dirty.load(); }
    void SetDirty(bool dirty) { m_dirty.store(dirty); }

    // Render requests that draw into the preview and have not gone yet.
    void AddRequest() { ++m_requests; }
    void RemoveRequest() { --m_requests; }
    bool HasRequests() const { return m_requests.load() > 0; }
    // The id of the last render of the whole page queued for the preview (user-interface thread only): a
    // stale request before it needs no render of its own.
    DWORD GetLastFullRender() const { return m_lastFullRender; }
    void SetLastFullRender(DWORD id) { m_lastFullRender = id; }

private:
    TDBufPreview(std::unique_ptr<TiProImage> front, std::unique_ptr<TiProImage> back)
        : m_front(std::move(front)), m_back(std::move(back)) {}

    std::unique_ptr<TiProImage> m_front;
    std::unique_ptr<TiProImage> m_back;
    TCritSection m_lock;
    std::atomic<bool> m_dirty{false};
    std::atomic<int> m_requests{0};
    DWORD m_lastFullRender = 0;
};
