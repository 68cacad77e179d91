// The framework's filter chain over a list of filters and the links between neighbours.
#pragma once

#include "IPravonFilterChain.h"

#include <vector>

class CPravonFilterChain final : public IPravonFilterChain {
public:
    static constexpr LONG kComponent = 0x4663686E; // "Fchn"

    IPravonError* Insert(IPravonFilter* filter, LONG code, LONG position) override;
    IPravonError* RemoveAt(LONG position) override;
    LONG GetCount() const override { return static_cast<LONG>(m_nodes.size()); }
    LONG GetPosition(const IPravonFilter* filter) const override;
    IPravonFilter* GetAt(LONG position) const override;
    LONG FindNext(LONG code, LONG from) const override;
    IPravonError* SetInput(IPravonDataSource* input) override;
    IPravonDataSource* GetInput() const override { return m_input; }
    IPravonDataSource* GetOutput() const override;
    ULONG AddRef() override { return ++m_references; }
    ULONG Release() override;

private:
    struct Node {
        IPravonFilter* filter;
        LONG code;
    };
    ~CPravonFilterChain() override;
    // What feeds position `position`: the filter before it or the input.
    IPravonDataSource* Feeder(LONG position) const;
    static IPravonError* Link(IPravonDataSource* from, IPravonDataDestination* to);
    static IPravonError* Unlink(IPravonDataSource* from, IPravonDataDestination* to);

    std::vector<Node> m_nodes;
    IPravonDataSource* m_input = nullptr;
    ULONG m_references = 1;
};
