// Compares two planes sample by sample: the largest difference, where it is, how many samples differ,
// and the PSNR over the sample range. Every filter test reports differences through it.
#pragma once

#include "TestPlane.h"

#include <gtest/gtest.h>

#include <string>

namespace kvtest {

struct PlaneDifference {
    bool sameGeometry = false;
    ULONG maxError = 0;
    LONG x = -1;
    LONG y = -1;
    LONG channel = -1;
    std::size_t differing = 0;
    double psnr = 0; // infinity when equal
    std::string Describe() const;
};

PlaneDifference ComparePlanes(const TestPlane& expected, const TestPlane& actual);

// Succeeds when the geometry matches and no sample differs by more than tolerance.
::testing::AssertionResult PlanesMatch(const TestPlane& expected, const TestPlane& actual, ULONG tolerance = 0);

} // namespace kvtest
