// The usual set-up of a filter test: one filter over a memory image of a plane, with a recorder downstream,
// torn down in the right order. Header-only, so that suites of either library can use it with their own
// filters.
#pragma once

#include "NotificationRecorder.h"
#include "PravonTestSupport.h"
#include "PullAll.h"
#include "TestPlane.h"
#include "TileSizeSweep.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"

#include <memory>
#include <utility>

namespace kvtest {

template <class Filter>
class FilterOverPlane {
public:
    // Filter is made with the manager and then args.
    template <class... Args>
    explicit FilterOverPlane(const TestPlane& plane, LONG tileSize, Args&&... args)
        : manager(tileSize), source(MakeImage(manager, plane)),
          filter(std::make_unique<Filter>(&manager, std::forward<Args>(args)...)) {
        EXPECT_PV_OK(PravonConnect(source.get(), filter.get()));
        EXPECT_PV_OK(PravonConnect(filter.get(), &recorder));
    }
    FilterOverPlane(const FilterOverPlane&) = delete;
    FilterOverPlane& operator=(const FilterOverPlane&) = delete;
    ~FilterOverPlane() {
        PravonErrorPtr(PravonDisconnect(filter.get(), &recorder));
        PravonErrorPtr(PravonDisconnect(source.get(), filter.get()));
    }

    // The filter's whole output, pulled in random order; the test fails when the pull does.
    TestPlane Pull() {
        TestPlane out;
        EXPECT_PV_OK(PullAll(filter.get(), &out, PullOrder::RandomOrder, 3));
        return out;
    }

    CPravonMemoryManager manager;
    PravonImagePtr source;
    std::unique_ptr<Filter> filter;
    NotificationRecorder recorder;
};

// A tile-size sweep's graph: plane -> Filter(manager, args...), given its settings by setup(filter), which
// returns an error or null.
template <class Filter, class Setup, class... Args>
GraphBuilder FilterGraph(const TestPlane& plane, Setup setup, Args... args) {
    return [=](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
        IPravonImage* source = graph.Own(MakeImage(manager, plane));
        Filter* filter = graph.Own(new Filter(&manager, args...));
        if (IPravonError* e = PravonConnect(source, filter))
            return e;
        if (IPravonError* e = setup(*filter))
            return e;
        graph.output = filter;
        return nullptr;
    };
}

} // namespace kvtest
