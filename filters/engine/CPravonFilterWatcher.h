// An observer of filters: it hears what the filters it watches announce to their watchers (progress,
// measurements, changes of the watcher list). Registrations are counted on both sides.
#pragma once

#include "platform/pravon/IPravonError.h"

#include <map>

class CPravonFilterBase;

class CPravonFilterWatcher {
public:
    // The watcher notification sent to the watchers of a filter when one joins or leaves; its data is a
    // WatcherChange, whose watchers hold count entries in registration-map order and live only during the
    // call.
    static constexpr LONG kWatcherChange = 0;
    struct WatcherChange {
        bool added = false;
        CPravonFilterWatcher* watcher = nullptr;
        LONG count = 0;
        CPravonFilterWatcher** watchers = nullptr;
    };

    CPravonFilterWatcher() = default;
    CPravonFilterWatcher(const CPravonFilterWatcher&) = delete;
    CPravonFilterWatcher& operator=(const CPravonFilterWatcher&) = delete;
    // Stops watching every filter still watched, however often it was registered there.
    virtual ~CPravonFilterWatcher();

    // Called by a watched filter for each of its watcher notifications; an error stops the filter's
    // round of notifications and is returned to whoever caused it.
    virtual IPravonError* PravonFilterNotify(CPravonFilterBase* filter, LONG type, void* data) = 0;

    // Registers on the filter (one more count on both sides).
    IPravonError* PravonFilterStartWatching(CPravonFilterBase* filter);
    // Takes one registration back.
    IPravonError* PravonFilterStopWatching(CPravonFilterBase* filter);
    // Change only this watcher's own count for the filter.
    void PravonFilterDoStartWatching(CPravonFilterBase* filter);
    void PravonFilterDoStopWatching(CPravonFilterBase* filter);

    // How often this watcher registered on the filter (0 when it does not watch it).
    LONG GetWatchCount(const CPravonFilterBase* filter) const;

private:
    friend class CPravonFilterBase;
    std::map<CPravonFilterBase*, LONG> m_filters;
};
