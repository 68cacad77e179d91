#include "CPravonFilterChain.h"

#include "IPravonImage.h"
#include "PravonGraph.h"

#include <new>

IPravonError* IPravonFilterChain::Create(IPravonFilterChain** chain) {
    if (!chain)
        return PravonFail(CPravonFilterChain::kComponent, PravonKind::kBadArgument, "no place for the chain");
    *chain = new (std::nothrow) CPravonFilterChain();
    if (!*chain)
        return PravonFail(CPravonFilterChain::kComponent, PravonKind::kOutOfMemory, "no memory for a chain");
    return nullptr;
}

IPravonError* IPravonManager::CreateFilterChain(IPravonFilterChain** chain) {
    return IPravonFilterChain::Create(chain);
}

CPravonFilterChain::~CPravonFilterChain() {
    // Downstream first, so that no filter is left linked to a neighbour the chain no longer tracks.
    while (!m_nodes.empty())
        PravonErrorPtr(RemoveAt(static_cast<LONG>(m_nodes.size()) - 1));
    PravonErrorPtr(SetInput(nullptr));
}

ULONG CPravonFilterChain::Release() {
    const ULONG left = --m_references;
    if (left == 0)
        delete this;
    return left;
}

IPravonError* CPravonFilterChain::Link(IPravonDataSource* from, IPravonDataDestination* to) {
    return from && to ? PravonConnect(from, to) : nullptr;
}

IPravonError* CPravonFilterChain::Unlink(IPravonDataSource* from, IPravonDataDestination* to) {
    return from && to && PravonIsConnected(from, to) ? PravonDisconnect(from, to) : nullptr;
}

IPravonDataSource* CPravonFilterChain::Feeder(LONG position) const {
    return position == 0 ? m_input : m_nodes[static_cast<std::size_t>(position) - 1].filter;
}

IPravonError* CPravonFilterChain::Insert(IPravonFilter* filter, LONG code, LONG position) {
    const LONG count = GetCount();
    if (position == kAtEnd)
        position = count;
    if (!filter || position < 0 || position > count || GetPosition(filter) != kNone)
        return PravonFail(kComponent, PravonKind::kBadArgument, "the filter cannot be inserted there");
    IPravonDataSource* before = Feeder(position);
    IPravonFilter* after = position < count ? m_nodes[static_cast<std::size_t>(position)].filter : nullptr;
    if (IPravonError* e = Unlink(before, after))
        return e;
    IPravonError* error = Link(before, filter);
    if (!error)
        error = Link(filter, after);
    if (error) {
        // Back to the links before the call.
        PravonErrorPtr(Unlink(before, filter));
        PravonErrorPtr(Unlink(filter, after));
        PravonErrorPtr(Link(before, after));
        return PravonContext(error, kComponent, "the filter cannot be linked into the chain");
    }
    m_nodes.insert(m_nodes.begin() + position, Node{filter, code});
    return nullptr;
}

IPravonError* CPravonFilterChain::RemoveAt(LONG position) {
    if (position < 0 || position >= GetCount())
        return PravonFail(kComponent, PravonKind::kBadArgument, "no filter at that position");
    IPravonFilter* filter = m_nodes[static_cast<std::size_t>(position)].filter;
    IPravonDataSource* before = Feeder(position);
    IPravonFilter* after =
        position + 1 < GetCount() ? m_nodes[static_cast<std::size_t>(position) + 1].filter : nullptr;
    IPravonError* error = Unlink(filter, after);
    error = IPravonError::Chain(error, Unlink(before, filter));
    m_nodes.erase(m_nodes.begin() + position);
    return IPravonError::Chain(error, Link(before, after));
}

LONG CPravonFilterChain::GetPosition(const IPravonFilter* filter) const {
    for (std::size_t i = 0; i < m_nodes.size(); ++i)
        if (m_nodes[i].filter == filter)
            return static_cast<LONG>(i);
    return kNone;
}

IPravonFilter* CPravonFilterChain::GetAt(LONG position) const {
    return position >= 0 && position < GetCount() ? m_nodes[static_cast<std::size_t>(position)].filter
                                                  : nullptr;
}

LONG CPravonFilterChain::FindNext(LONG code, LONG from) const {
    for (LONG i = from < 0 ? 0 : from; i < GetCount(); ++i)
        if (m_nodes[static_cast<std::size_t>(i)].code == code)
            return i;
    return kNone;
}

IPravonError* CPravonFilterChain::SetInput(IPravonDataSource* input) {
    IPravonFilter* first = m_nodes.empty() ? nullptr : m_nodes.front().filter;
    if (IPravonError* e = Unlink(m_input, first))
        return e;
    m_input = input;
    return Link(m_input, first);
}

IPravonDataSource* CPravonFilterChain::GetOutput() const {
    return m_nodes.empty() ? m_input : m_nodes.back().filter;
}
