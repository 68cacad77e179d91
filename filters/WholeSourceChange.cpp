#include "WholeSourceChange.h"

#include "platform/pravon/PravonGraph.h"

bool ShouldAnnounceChange(const CPravonFilterBase& filter, bool notify) {
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    filter.GetSources(&sources, &count);
    return notify && filter.IsEnabled() && count > 0 && sources[0];
}

IPravonError* AnnounceWholeSourceChange(CPravonFilterBase& filter, LONG component) {
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    filter.GetSources(&sources, &count);
    if (count <= 0 || !sources[0])
        return nullptr;
    LONG width = 0;
    LONG height = 0;
    if (IPravonError* e = sources[0]->GetSize(&width, &height))
        return PravonContext(e, component, "cannot read the source's size");
    PravonRect whole{0, 0, width, height};
    return PravonContext(PravonSendDataNotification(&filter, PravonNotification::kData, &whole), component,
                         "the change was not taken downstream");
}
