// A filter that writes every pixel of a tile's invalid part gets its fresh tiles' memory as the pool has it.
// When its source shrinks without announcing it, the tiles made afterwards still cover the output's first
// size; the pixels the source no longer reaches must be written all the same, or an earlier image's pixels
// show there. The check: the whole output after such a shrink is the same whether fresh tile memory came
// zeroed or poisoned.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace kvtest {

struct ShrinkCase {
    const char* name;
    LONG colorSpace;
    // Makes the filter, set up; it is connected to the source afterwards.
    std::function<CPravonFilterBase*(IPravonManager* manager)> make;
};

// The source: 45 x 37 pixels, then 23 x 19 without a notification, after the filter made its first tile.
inline TestPlane OutputAfterASilentShrink(const ShrinkCase& c, CPravonTilePool::Fill fill,
                                          const TestPlane& whole, const TestPlane& shrunk) {
    CPravonMemoryManager manager(16);
    manager.GetTilePool().SetUnwrittenFill(fill);
    PravonImagePtr source = MakeImage(manager, whole);
    std::unique_ptr<CPravonFilterBase> filter(c.make(&manager));
    TestPlane out;
    EXPECT_PV_OK(PravonConnect(source.get(), filter.get()));
    void* data = nullptr;
    EXPECT_PV_OK(filter->LockTile(0, 0, &data, nullptr));
    EXPECT_PV_OK(filter->UnlockTile(0, 0));
    EXPECT_PV_OK(source->SetSize(shrunk.width, shrunk.height));
    EXPECT_PV_OK(WritePlane(source.get(), shrunk));
    EXPECT_PV_OK(PullAll(filter.get(), &out, PullOrder::RandomOrder));
    EXPECT_PV_OK(PravonDisconnect(source.get(), filter.get()));
    return out;
}

inline void CheckSilentShrinks(const std::vector<ShrinkCase>& cases) {
    for (const ShrinkCase& c : cases) {
        SCOPED_TRACE(c.name);
        const TestPlane whole = MakePlane(45, 37, c.colorSpace, FillPattern::Random, 5);
        const TestPlane shrunk = MakePlane(23, 19, c.colorSpace, FillPattern::Random, 6);
        const TestPlane zeroed = OutputAfterASilentShrink(c, CPravonTilePool::Fill::kZero, whole, shrunk);
        const TestPlane poisoned = OutputAfterASilentShrink(c, CPravonTilePool::Fill::kPoison, whole, shrunk);
        EXPECT_GT(zeroed.width, shrunk.width) << "the output keeps the size it had";
        EXPECT_TRUE(PlanesMatch(zeroed, poisoned));
    }
}

} // namespace kvtest
