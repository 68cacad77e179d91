#include "CPravonFilterWatcher.h"

#include "filters/engine/CPravonFilterBase.h"

#include <new>

CPravonFilterWatcher::~CPravonFilterWatcher() {
    // Each filter drops the watcher whatever its count, so no filter keeps calling a watcher that is gone.
    const std::map<CPravonFilterBase*, LONG> filters = std::move(m_filters);
    m_filters.clear();
    for (const auto& entry : filters)
        entry.first->ForgetWatcher(this, true);
}

IPravonError* CPravonFilterWatcher::PravonFilterStartWatching(CPravonFilterBase* filter) {
    if (!filter)
        return PravonFail(CPravonFilterBase::kComponent, PravonKind::kBadArgument, "no filter to watch");
    try {
        PravonFilterDoStartWatching(filter);
    } catch (const std::bad_alloc&) {
        return PravonFail(CPravonFilterBase::kComponent, PravonKind::kOutOfMemory,
                          "no memory to register the watcher");
    }
    return filter->DoAddWatcher(this);
}

IPravonError* CPravonFilterWatcher::PravonFilterStopWatching(CPravonFilterBase* filter) {
    if (!filter)
        return PravonFail(CPravonFilterBase::kComponent, PravonKind::kBadArgument,
                          "no filter to stop watching");
    const LONG before = filter->GetWatcherCount(this);
    IPravonError* err = filter->DoRemoveWatcher(this);
    // As in CPravonFilterBase::RemoveWatcher: the two counts fall together unless nothing changed.
    if (err && filter->GetWatcherCount(this) == before)
        return err;
    PravonFilterDoStopWatching(filter);
    return err;
}

void CPravonFilterWatcher::PravonFilterDoStartWatching(CPravonFilterBase* filter) {
    ++m_filters[filter];
}

void CPravonFilterWatcher::PravonFilterDoStopWatching(CPravonFilterBase* filter) {
    auto it = m_filters.find(filter);
    if (it != m_filters.end() && --it->second <= 0)
        m_filters.erase(it);
}

LONG CPravonFilterWatcher::GetWatchCount(const CPravonFilterBase* filter) const {
    auto it = m_filters.find(const_cast<CPravonFilterBase*>(filter));
    return it == m_filters.end() ? 0 : it->second;
}
