#include "KvAnnounce.h"

#include "platform/pravon/PravonGraph.h"

IPravonError* AnnounceWholeOutput(CPravonFilterBase& filter, bool notify) {
    if (!notify || !filter.IsEnabled())
        return nullptr;
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    filter.GetSources(&sources, &count);
    if (count != 1 || !sources[0])
        return nullptr;
    LONG width = 0;
    LONG height = 0;
    if (IPravonError* e = filter.GetFilteredSize(sources, count, &width, &height))
        return PravonContext(e, filter.GetFilterCode(), "cannot read the output size");
    PravonRect whole{0, 0, width, height};
    return PravonContext(PravonSendDataNotification(&filter, PravonNotification::kData, &whole),
                         filter.GetFilterCode(), "the data change was not taken downstream");
}
