// The scale filter's output computed directly from a whole source plane, with each output pixel's
// weights and source pixels worked out from its position in closed form (no tables, no ring, no tiles).
// Filter outputs must equal it sample for sample.
#pragma once

#include "testing/TestPlane.h"

namespace kvtest {

TestPlane ReferenceScale(const TestPlane& source, LONG outputWidth, LONG outputHeight, LONG method);

} // namespace kvtest
