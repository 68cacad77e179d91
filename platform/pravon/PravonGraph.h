// Connecting sources to destinations and delivering notifications. Every call is synchronous: a
// notification has reached all destinations, and the added/removed hooks have run, when it returns.
#pragma once

#include "IPravonDataSource.h"

// Connects after both nodes' checks; then calls destination->PravonAddedDataSource and
// source->PravonAddedDataDestination. Sources keep connection order: index 0 is the first source.
IPravonError* PravonConnect(IPravonDataSource* source, IPravonDataDestination* destination);
IPravonError* PravonDisconnect(IPravonDataSource* source, IPravonDataDestination* destination);

// Calls PravonNotify on every destination, in connection order; a destination disconnected by an
// earlier one's handler is skipped. All destinations are reached; their errors are chained.
IPravonError* PravonSendDataNotification(IPravonDataSource* source, LONG type, void* data);

LONG PravonGetDataSourceCount(const IPravonDataDestination* destination);
// Fills up to capacity entries; returns how many were written.
LONG PravonGetDataSources(const IPravonDataDestination* destination, IPravonDataSource** sources, LONG capacity);
IPravonDataSource* PravonGetDataSource(const IPravonDataDestination* destination, LONG index);
LONG PravonGetDataDestinationCount(const IPravonDataSource* source);
LONG PravonGetDataDestinations(const IPravonDataSource* source, IPravonDataDestination** destinations,
                               LONG capacity);
bool PravonIsConnected(const IPravonDataSource* source, const IPravonDataDestination* destination);

// The graph's bookkeeping, kept apart so that only these functions touch the nodes' lists.
class PravonGraph {
public:
    static std::vector<IPravonDataDestination*>& Destinations(IPravonDataSource* s) { return s->m_pravonDestinations; }
    static const std::vector<IPravonDataDestination*>& Destinations(const IPravonDataSource* s) {
        return s->m_pravonDestinations;
    }
    static std::vector<IPravonDataSource*>& Sources(IPravonDataDestination* d) { return d->m_pravonSources; }
    static const std::vector<IPravonDataSource*>& Sources(const IPravonDataDestination* d) {
        return d->m_pravonSources;
    }
    // Whether connecting source to destination would close a cycle.
    static bool WouldCycle(const IPravonDataSource* source, const IPravonDataDestination* destination);
};
