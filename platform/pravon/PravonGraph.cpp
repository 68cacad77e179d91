#include "PravonGraph.h"

#include "platform/win/FourCC.h"

#include <algorithm>
#include <unordered_set>

namespace {
constexpr LONG kComponent = FourCC("PRVN");

const void* Identity(const IPravonDataSource* s) {
    return dynamic_cast<const void*>(s);
}
const void* Identity(const IPravonDataDestination* d) {
    return dynamic_cast<const void*>(d);
}
} // namespace

bool PravonGraph::WouldCycle(const IPravonDataSource* source, const IPravonDataDestination* destination) {
    const void* target = Identity(source);
    if (Identity(destination) == target)
        return true;
    // Walk downstream from the destination; reaching the source means the new edge closes a loop.
    std::vector<const IPravonDataSource*> pending;
    std::unordered_set<const void*> seen;
    if (const auto* start = dynamic_cast<const IPravonDataSource*>(destination))
        pending.push_back(start);
    while (!pending.empty()) {
        const IPravonDataSource* node = pending.back();
        pending.pop_back();
        if (!seen.insert(Identity(node)).second)
            continue;
        for (const IPravonDataDestination* d : Destinations(node)) {
            if (Identity(d) == target)
                return true;
            if (const auto* next = dynamic_cast<const IPravonDataSource*>(d))
                pending.push_back(next);
        }
    }
    return false;
}

bool PravonIsConnected(const IPravonDataSource* source, const IPravonDataDestination* destination) {
    if (!source || !destination)
        return false;
    const auto& list = PravonGraph::Destinations(source);
    return std::find(list.begin(), list.end(), destination) != list.end();
}

IPravonError* PravonConnect(IPravonDataSource* source, IPravonDataDestination* destination) {
    if (!source || !destination)
        return PravonFail(kComponent, PravonKind::kBadArgument, "connecting null");
    if (IPravonError* e = source->PravonAddDataDestinationCheck(destination))
        return e;
    if (IPravonError* e = destination->PravonAddDataSourceCheck(source))
        return e;
    PravonGraph::Destinations(source).push_back(destination);
    PravonGraph::Sources(destination).push_back(source);
    IPravonError* err = destination->PravonAddedDataSource(source);
    return IPravonError::Chain(err, source->PravonAddedDataDestination(destination));
}

IPravonError* PravonDisconnect(IPravonDataSource* source, IPravonDataDestination* destination) {
    if (!source || !destination)
        return PravonFail(kComponent, PravonKind::kBadArgument, "disconnecting null");
    if (IPravonError* e = source->PravonRemoveDataDestinationCheck(destination))
        return e;
    if (IPravonError* e = destination->PravonRemoveDataSourceCheck(source))
        return e;
    std::erase(PravonGraph::Destinations(source), destination);
    std::erase(PravonGraph::Sources(destination), source);
    IPravonError* err = destination->PravonRemovedDataSource(source);
    return IPravonError::Chain(err, source->PravonRemovedDataDestination(destination));
}

IPravonError* PravonSendDataNotification(IPravonDataSource* source, LONG type, void* data) {
    if (!source)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no source");
    // A copy: handlers may connect or disconnect while the notification is on its way.
    const std::vector<IPravonDataDestination*> destinations = PravonGraph::Destinations(source);
    IPravonError* err = nullptr;
    for (IPravonDataDestination* d : destinations)
        if (PravonIsConnected(source, d))
            err = IPravonError::Chain(err, d->PravonNotify(source, type, data));
    return err;
}

LONG PravonGetDataSourceCount(const IPravonDataDestination* destination) {
    return destination ? static_cast<LONG>(PravonGraph::Sources(destination).size()) : 0;
}

LONG PravonGetDataSources(const IPravonDataDestination* destination, IPravonDataSource** sources,
                          LONG capacity) {
    if (!destination || !sources || capacity <= 0)
        return 0;
    const auto& list = PravonGraph::Sources(destination);
    const LONG n = std::min<LONG>(capacity, static_cast<LONG>(list.size()));
    std::copy_n(list.begin(), n, sources);
    return n;
}

IPravonDataSource* PravonGetDataSource(const IPravonDataDestination* destination, LONG index) {
    if (!destination || index < 0)
        return nullptr;
    const auto& list = PravonGraph::Sources(destination);
    return static_cast<std::size_t>(index) < list.size() ? list[static_cast<std::size_t>(index)] : nullptr;
}

LONG PravonGetDataDestinationCount(const IPravonDataSource* source) {
    return source ? static_cast<LONG>(PravonGraph::Destinations(source).size()) : 0;
}

LONG PravonGetDataDestinations(const IPravonDataSource* source, IPravonDataDestination** destinations,
                               LONG capacity) {
    if (!source || !destinations || capacity <= 0)
        return 0;
    const auto& list = PravonGraph::Destinations(source);
    const LONG n = std::min<LONG>(capacity, static_cast<LONG>(list.size()));
    std::copy_n(list.begin(), n, destinations);
    return n;
}
