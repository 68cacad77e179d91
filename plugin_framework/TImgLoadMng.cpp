#include "TImgLoadMng.h"

#include "HostLink.h"

#include <algorithm>
#include <cstdint>

namespace {

std::mutex& InstanceLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

// Never destroyed itself, so that a thread still holding the manager at exit is not cut short.
std::shared_ptr<TImgLoadMng>& InstanceCell() {
    static auto* cell = new std::shared_ptr<TImgLoadMng>;
    return *cell;
}

std::uint64_t Area(const CKvwSizeRecord& size) {
    return static_cast<std::uint64_t>(size.width) * size.height;
}

} // namespace

TImgLoadMng::TImgLoadMng() : m_window(TRefPtr<TImgMngHidWnd>::Adopt(new TImgMngHidWnd)) {
    m_window->Create();
}

TImgLoadMng::~TImgLoadMng() {
    m_window->Destroy();
}

std::shared_ptr<TImgLoadMng> TImgLoadMng::Instance() {
    std::lock_guard<std::mutex> guard(InstanceLock());
    std::shared_ptr<TImgLoadMng>& cell = InstanceCell();
    if (!cell)
        cell.reset(new TImgLoadMng);
    return cell;
}

std::shared_ptr<TImgLoadMng> TImgLoadMng::Existing() {
    std::lock_guard<std::mutex> guard(InstanceLock());
    return InstanceCell();
}

void TImgLoadMng::Destroy() {
    std::shared_ptr<TImgLoadMng> manager;
    {
        std::lock_guard<std::mutex> guard(InstanceLock());
        manager.swap(InstanceCell());
    }
    if (manager)
        manager->m_window->Destroy();
}

void TImgLoadMng::Init(IKvwMessage* requester, IKvwItemService* items) {
    m_window->SetContext(requester, items);
}

LONG TImgLoadMng::Subscribe(Callback callback, void* context) {
    std::lock_guard<std::recursive_mutex> guard(m_subscriberLock);
    const LONG id = ++m_lastSubscriber;
    m_subscribers[id] = Subscriber{callback, context};
    return id;
}

void TImgLoadMng::Unsubscribe(LONG subscriber) {
    std::lock_guard<std::recursive_mutex> guard(m_subscriberLock);
    if (m_subscribers.erase(subscriber) == 0)
        return;
    std::lock_guard<std::mutex> states(m_stateLock);
    for (auto& [item, record] : m_states) {
        if (record.subscribers.erase(subscriber) == 0)
            continue;
        // Examined afresh by the next check; while others wait for it, it goes on loading for them.
        if (record.state == kLoading && record.subscribers.empty())
            record.state = kIdle;
    }
}

LONG TImgLoadMng::CheckImageState(const wchar_t* itemId, LONG wantedWidth, LONG wantedHeight, LONG subscriber,
                                  LONG pageId, LONG itemInPage, const void* cancelEvent) {
    std::shared_ptr<TImgLoadMng> manager = Existing();
    KvwItemId item = 0;
    if (!manager || !manager->m_window->CanPost() || !NuidFromString(itemId, item) || wantedWidth <= 0 ||
        wantedHeight <= 0)
        return kNotPossible;
    const CKvwSizeRecord wanted{static_cast<DWORD>(wantedWidth), static_cast<DWORD>(wantedHeight)};
    auto* cancel = static_cast<TSyncObject*>(const_cast<void*>(cancelEvent));
    return manager->InternalCheckImageState(item, wanted, subscriber, pageId, itemInPage, cancel);
}

LONG TImgLoadMng::InternalCheckImageState(KvwItemId item, const CKvwSizeRecord& wanted, LONG subscriber,
                                          LONG pageId, LONG itemInPage, TSyncObject* cancel) {
    // Nothing is recorded for a size that cannot be checked.
    if (!IsWantedSize(wanted))
        return kNotPossible;
    {
        std::lock_guard<std::mutex> guard(m_stateLock);
        auto it = m_states.find(item);
        if (it != m_states.end()) {
            ItemState& record = it->second;
            if (record.state == kLoadedState &&
                (Area(wanted) < Area(record.wanted) || Area(wanted) <= record.answeredArea))
                return kLoaded;
            record.subscribers[subscriber].insert(Box{pageId, itemInPage});
            record.state = kLoading;
            record.checkedArea = Area(wanted);
        } else {
            ItemState record;
            record.wanted = wanted;
            record.state = kLoading;
            record.checkedArea = Area(wanted);
            record.subscribers[subscriber].insert(Box{pageId, itemInPage});
            m_states.emplace(item, std::move(record));
        }
    }
    const LONG result = CheckImageLoaded(item, wanted, cancel);
    if (result == kLoaded) {
        std::lock_guard<std::recursive_mutex> subscribers(m_subscriberLock);
        std::lock_guard<std::mutex> guard(m_stateLock);
        auto it = m_states.find(item);
        if (it != m_states.end())
            it->second.state = kLoadedState;
    }
    return result;
}

LONG TImgLoadMng::CheckImageLoaded(KvwItemId item, const CKvwSizeRecord& wanted, TSyncObject* cancel) {
    if (!IsWantedSize(wanted))
        return kNotPossible;
    TRefPtr<TArgsCheckImageLoaded> request =
        TRefPtr<TArgsCheckImageLoaded>::Adopt(new TArgsCheckImageLoaded(item, wanted));
    // The window's own thread would wait for a message that only it can handle.
    if (m_window->IsOwnThread()) {
        m_window->GetPreview(*request);
        return request->TakeLoaded() ? kLoaded : kNotLoaded;
    }
    if (!m_window->Post(TImgMngHidWnd::kGetPreview, request.Get()))
        return kNotPossible;
    if (!WaitForRequest(request->GetEvent(), cancel))
        return kNotLoaded;
    return request->TakeLoaded() ? kLoaded : kNotLoaded;
}

void TImgLoadMng::OnImageLoaded(KvwItemId item) {
    std::lock_guard<std::recursive_mutex> guard(m_subscriberLock);
    std::map<LONG, std::set<Box>> interested;
    {
        std::lock_guard<std::mutex> states(m_stateLock);
        auto it = m_states.find(item);
        if (it == m_states.end() || it->second.state != kLoading)
            return;
        it->second.state = kLoadedState;
        // The host has answered for this area: a preview it made smaller is what the item has.
        it->second.answeredArea = std::max(it->second.answeredArea, it->second.checkedArea);
        interested = it->second.subscribers;
    }
    // Looked up before each box: a callback may unsubscribe another subscriber, or itself.
    for (const auto& [subscriber, boxes] : interested) {
        for (const Box& box : boxes) {
            auto found = m_subscribers.find(subscriber);
            if (found == m_subscribers.end())
                break;
            found->second.callback(found->second.context, box.first, box.second);
        }
    }
}

LONG TImgLoadMng::GetState(KvwItemId item) const {
    std::lock_guard<std::mutex> guard(m_stateLock);
    auto it = m_states.find(item);
    return it == m_states.end() ? kIdle : it->second.state;
}
