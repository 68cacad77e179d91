#include "KvFilterAnnounce.h"

#include "platform/pravon/PravonGraph.h"

bool KvShouldAnnounce(const CPravonFilterBase& filter, bool notify) {
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    filter.GetSources(&sources, &count);
    return notify && filter.IsEnabled() && count > 0 && sources[0];
}

IPravonError* KvAnnounceWholeOutput(CPravonFilterBase& filter) {
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    filter.GetSources(&sources, &count);
    LONG width = 0;
    LONG height = 0;
    if (IPravonError* e = filter.GetFilteredSize(sources, count, &width, &height))
        return e;
    PravonRect whole{0, 0, width, height};
    return PravonSendDataNotification(&filter, PravonNotification::kData, &whole);
}
