// A filter chain of the framework: filters in processing order between one input source and the chain's
// output. Inserting or removing a filter relinks its neighbours, so the chain always runs
// input -> first -> ... -> last, and its output is the last filter (the input while the chain is empty).
#pragma once

#include "IPravonDataSource.h"
#include "IPravonError.h"

#include <memory>

class IPravonFilterChain {
public:
    static constexpr LONG kAtEnd = -1;
    static constexpr LONG kNone = -1;

    // An empty chain without input, holding one reference for the caller.
    static IPravonError* Create(IPravonFilterChain** chain);

    // Inserts a filter (with its filter code, for FindNext) before `position`, or at the end for kAtEnd.
    // A filter that is in the chain already, a null one or a position beyond the end:
    // PravonKind::kBadArgument.
    virtual IPravonError* Insert(IPravonFilter* filter, LONG code, LONG position) = 0;
    // Takes the filter at `position` out and links its neighbours; the filter itself is not released.
    virtual IPravonError* RemoveAt(LONG position) = 0;
    virtual LONG GetCount() const = 0;
    // kNone when the filter is not in the chain.
    virtual LONG GetPosition(const IPravonFilter* filter) const = 0;
    // Null outside the chain.
    virtual IPravonFilter* GetAt(LONG position) const = 0;
    // The first position from `from` on whose filter has the code; kNone when there is none.
    virtual LONG FindNext(LONG code, LONG from) const = 0;
    // Connects a new input (null only disconnects the old one) to the first filter.
    virtual IPravonError* SetInput(IPravonDataSource* input) = 0;
    virtual IPravonDataSource* GetInput() const = 0;
    // Where the chain's data come out: the last filter, or the input while the chain is empty.
    virtual IPravonDataSource* GetOutput() const = 0;

    virtual ULONG AddRef() = 0;
    // The last release disconnects every link the chain made; the filters stay alive.
    virtual ULONG Release() = 0;

protected:
    virtual ~IPravonFilterChain() = default;
};

struct PravonFilterChainReleaser {
    void operator()(IPravonFilterChain* chain) const {
        if (chain)
            chain->Release();
    }
};
using PravonFilterChainPtr = std::unique_ptr<IPravonFilterChain, PravonFilterChainReleaser>;
