#include "TileSizeSweep.h"

namespace kvtest {

TestGraph::~TestGraph() {
    while (!m_nodes.empty())
        m_nodes.pop_back();
}

IPravonImage* TestGraph::Own(PravonImagePtr image) {
    IPravonImage* raw = image.release();
    m_nodes.push_back(std::shared_ptr<void>(raw, [](void* p) { static_cast<IPravonImage*>(p)->Release(); }));
    return raw;
}

::testing::AssertionResult SameAtEveryTileSize(const GraphBuilder& build, TestPlane* first,
                                               const std::vector<LONG>& tileSizes) {
    TestPlane reference;
    bool haveReference = false;
    for (LONG tileSize : tileSizes) {
        for (PullOrder order : {PullOrder::TileOrder, PullOrder::RandomOrder}) {
            const char* orderName = order == PullOrder::TileOrder ? "tile order" : "random order";
            CPravonMemoryManager manager(tileSize);
            // The first run zeroes all tile memory; the others poison what a filter declares it writes
            // whole, so that a pixel it leaves out differs from the first run.
            manager.GetTilePool().SetUnwrittenFill(haveReference ? CPravonTilePool::Fill::kPoison
                                                                 : CPravonTilePool::Fill::kZero);
            TestPlane out;
            {
                TestGraph graph;
                PravonErrorPtr err(build(manager, graph));
                if (!err && !graph.output)
                    return ::testing::AssertionFailure() << "the builder set no output";
                if (!err)
                    err.reset(PullAll(graph.output, &out, order, static_cast<ULONG>(tileSize)));
                if (err)
                    return ::testing::AssertionFailure()
                           << "tile size " << tileSize << ", " << orderName << ": " << err->Describe();
                if (manager.GetLockCount() != 0)
                    return ::testing::AssertionFailure()
                           << "tile size " << tileSize << ", " << orderName << ": " << manager.GetLockCount()
                           << " tile locks left behind";
            }
            if (manager.GetImageCount() != 0)
                return ::testing::AssertionFailure()
                       << "tile size " << tileSize << ": " << manager.GetImageCount()
                       << " images outlived their graph";
            if (!haveReference) {
                reference = out;
                haveReference = true;
                continue;
            }
            auto same = PlanesMatch(reference, out);
            if (!same)
                return ::testing::AssertionFailure() << "tile size " << tileSize << ", " << orderName
                                                     << " differs from the first run: " << same.message();
        }
    }
    if (first)
        *first = reference;
    return ::testing::AssertionSuccess();
}

} // namespace kvtest
