// The subscriptions of a renderer library's notices. A subscription belongs to the thread that made it:
// a render tells only the subscriptions made on its own thread, so that renders of several callers at
// once (one worker each) never reach one another's subscribers.
#pragma once

#include "RendererApi.h"

#include <mutex>
#include <vector>

class RendrSubscriptions {
public:
    // The new subscription's id in *id; false for a null function or cell.
    bool Subscribe(RendrNotifyProc notify, void* user, LONG kind, LONG* id);
    // Adds or removes one kind of notice; false for an unknown id.
    bool AddKind(LONG id, LONG kind);
    bool RemoveKind(LONG id, LONG kind);
    // False for an unknown id.
    bool UnsubscribeAll(LONG id);
    // Who a notice reaches among the subscriptions of the calling thread: those that take its kind, with
    // their user values; or (for test renderers that check what callers do with unexpected notices) every
    // one whatever its kinds, with its user value or with a null one.
    enum class Delivery { kSubscribedKinds, kEverySubscription, kEverySubscriptionWithoutUser };
    // Tells the subscriptions outside the lock.
    void Notify(const RendrNotice& notice, Delivery delivery = Delivery::kSubscribedKinds) const;
    // Subscriptions that exist now.
    std::size_t Count() const;
    // Forgets every subscription.
    void Clear();

private:
    struct Subscription {
        LONG id;
        RendrNotifyProc notify;
        void* user;
        DWORD thread;
        std::vector<LONG> kinds;
    };

    mutable std::mutex m_lock;
    std::vector<Subscription> m_subscriptions;
    LONG m_lastId = 0;
};
