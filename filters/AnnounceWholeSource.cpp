#include "AnnounceWholeSource.h"

#include "platform/pravon/PravonGraph.h"

IPravonError* AnnounceWholeSource(CPravonFilterBase& filter) {
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    filter.GetSources(&sources, &count);
    if (count == 0 || !sources[0])
        return nullptr;
    LONG width = 0;
    LONG height = 0;
    if (IPravonError* e = sources[0]->GetSize(&width, &height))
        return PravonContext(e, filter.GetFilterCode(), "cannot read the source size");
    PravonRect whole{0, 0, width, height};
    return PravonSendDataNotification(&filter, PravonNotification::kData, &whole);
}
