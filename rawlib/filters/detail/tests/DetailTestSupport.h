// Helpers of the detail filters' tests: textured test planes, one filter over a plane at a tile size, the
// same graph run on the plain and the AVX2 paths at every tile size, and the check that a changed source
// rectangle makes exactly the area its halo names again.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "testing/ImageCompare.h"
#include "testing/TestPlane.h"
#include "testing/TileSizeSweep.h"

#include <functional>
#include <vector>

namespace kvtest {

// Makes the filter under test, its settings applied, not yet connected.
using FilterMaker = std::function<CPravonFilterBase*(IPravonManager& manager)>;

// A plane of smooth waves with noise on top, some edges and a few samples at the ends of the range: every
// window of the filters sees differences from none to the largest.
TestPlane TexturedPlane(LONG width, LONG height, LONG colorSpace, ULONG seed, ULONG noise);

// The plane's image with the filter on it.
GraphBuilder FilterOver(const TestPlane& plane, const FilterMaker& make);

// Pulls the filter's output over the plane at one tile size.
TestPlane PullThrough(const TestPlane& plane, const FilterMaker& make, LONG tileSize = 16);

// Whether the processor runs the AVX2 paths.
bool HaveAvx2();

// The graph gives the same output at every tile size of sweep, in both pull orders, on the plain path and,
// where the processor has AVX2, on the AVX2 path, and where it has AVX-512 too, on the AVX-512 path; *plain
// (optional) receives it.
::testing::AssertionResult SameOnBothPathsAtEveryTileSize(const GraphBuilder& build,
                                                          TestPlane* plain = nullptr,
                                                          const std::vector<LONG>& sweep = {7, 13, 16, 256});

// After the filter's output over before is pulled, the source's pixels in change are inverted and the
// change announced: the filter must then hold exactly change widened by halo (cut to the image) as invalid,
// and pulling again must give what a fresh filter gives over the changed source.
::testing::AssertionResult ChangeRemakesItsHalo(const TestPlane& before, const PravonRect& change, LONG halo,
                                                const FilterMaker& make);

// The edge-clamped sample of a plane: coordinates outside are moved to the nearest edge.
inline LONG Clamped(const TestPlane& plane, LONG x, LONG y, LONG channel) {
    x = x < 0 ? 0 : x >= plane.width ? plane.width - 1 : x;
    y = y < 0 ? 0 : y >= plane.height ? plane.height - 1 : y;
    return static_cast<LONG>(plane.Sample(x, y, channel));
}

} // namespace kvtest
