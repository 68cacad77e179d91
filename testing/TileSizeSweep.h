// Runs the same graph with managers of several tile sizes and both pull orders and checks that every
// run gives the same bytes: the strongest check against offset and ring-buffer slips in filters. Each
// run also checks that pulling left no tile locked and that tearing the graph down left no image behind.
// The first run's tile memory is all zeroed and the later runs' is poisoned where a filter declares that it
// writes a tile's whole invalid area, so a filter that declares so and leaves a pixel out fails here.
#pragma once

#include "ImageCompare.h"
#include "PullAll.h"
#include "platform/pravon/CPravonMemoryManager.h"

#include <functional>
#include <memory>
#include <vector>

namespace kvtest {

// The nodes of one test graph, kept alive together and destroyed last-made first.
class TestGraph {
public:
    ~TestGraph();
    template <class T>
    T* Own(T* node) {
        m_nodes.push_back(std::shared_ptr<void>(node, [](void* p) { delete static_cast<T*>(p); }));
        return node;
    }
    IPravonImage* Own(PravonImagePtr image);
    IPravonDataSource* output = nullptr;

private:
    std::vector<std::shared_ptr<void>> m_nodes;
};

// Builds the graph with the given manager (for its source images and filters alike) and sets output.
using GraphBuilder = std::function<IPravonError*(IPravonManager& manager, TestGraph& graph)>;

inline const std::vector<LONG> kSweepTileSizes = {7, 16, 256};

// Succeeds when every run succeeded and matched the first; *first (optional) receives the first output.
::testing::AssertionResult SameAtEveryTileSize(const GraphBuilder& build, TestPlane* first = nullptr,
                                               const std::vector<LONG>& tileSizes = kSweepTileSizes);

} // namespace kvtest
