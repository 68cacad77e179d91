#include "NotificationRecorder.h"

namespace kvtest {

IPravonError* NotificationRecorder::PravonNotify(IPravonDataSource* source, LONG type, void* data) {
    Heard h;
    h.source = source;
    h.type = type;
    h.data = data;
    if (type == 0 && data)
        h.rect = *static_cast<PravonRect*>(data);
    if (type == 1 && data)
        h.size = *static_cast<IPravonDataDestination::ChangeSize*>(data);
    if (type == 2 && data)
        h.colorSpace = *static_cast<IPravonDataDestination::ChangeColorSpace*>(data);
    heard.push_back(h);
    if (failWithKind)
        return IPravonError::Add(nullptr, 0, __LINE__, failWithKind);
    return nullptr;
}

IPravonError* NotificationRecorder::PravonAddedDataSource(IPravonDataSource*) {
    ++added;
    return nullptr;
}

IPravonError* NotificationRecorder::PravonRemovedDataSource(IPravonDataSource*) {
    ++removed;
    return nullptr;
}

std::size_t NotificationRecorder::Count(LONG type) const {
    std::size_t n = 0;
    for (const Heard& h : heard)
        n += h.type == type ? 1 : 0;
    return n;
}

} // namespace kvtest
