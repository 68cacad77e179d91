#include "RendrSubscriptions.h"

#include <algorithm>

bool RendrSubscriptions::Subscribe(RendrNotifyProc notify, void* user, LONG kind, LONG* id) {
    if (!notify || !id)
        return false;
    std::lock_guard<std::mutex> guard(m_lock);
    // Ids stay positive: after the largest they start again at 1.
    m_lastId = m_lastId == 0x7FFFFFFF ? 1 : m_lastId + 1;
    m_subscriptions.push_back(Subscription{m_lastId, notify, user, GetCurrentThreadId(), {kind}});
    *id = m_lastId;
    return true;
}

bool RendrSubscriptions::AddKind(LONG id, LONG kind) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (Subscription& subscription : m_subscriptions) {
        if (subscription.id == id) {
            subscription.kinds.push_back(kind);
            return true;
        }
    }
    return false;
}

bool RendrSubscriptions::RemoveKind(LONG id, LONG kind) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (Subscription& subscription : m_subscriptions) {
        if (subscription.id == id) {
            std::erase(subscription.kinds, kind);
            return true;
        }
    }
    return false;
}

bool RendrSubscriptions::UnsubscribeAll(LONG id) {
    std::lock_guard<std::mutex> guard(m_lock);
    return std::erase_if(m_subscriptions, [id](const Subscription& s) { return s.id == id; }) != 0;
}

void RendrSubscriptions::Notify(const RendrNotice& notice, Delivery delivery) const {
    const DWORD thread = GetCurrentThreadId();
    std::vector<Subscription> told;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (const Subscription& subscription : m_subscriptions) {
            const bool takesKind = delivery != Delivery::kSubscribedKinds ||
                                   std::find(subscription.kinds.begin(), subscription.kinds.end(),
                                             static_cast<LONG>(notice.kind)) != subscription.kinds.end();
            if (subscription.thread == thread && takesKind)
                told.push_back(subscription);
        }
    }
    for (const Subscription& subscription : told)
        subscription.notify(delivery == Delivery::kEverySubscriptionWithoutUser ? nullptr : subscription.user,
                            &notice);
}

std::size_t RendrSubscriptions::Count() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_subscriptions.size();
}

void RendrSubscriptions::Clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_subscriptions.clear();
}
