// The unsharp mask worked out directly in double precision, for the tests of the filter and of the chain
// that sharpens with it: the shape's weights over the square grid of the kernel's half-size, normalised by
// their sum, a blur read with the edge pixels repeated outside the picture, and the threshold rule, over the
// full range.
#pragma once

#include "testing/TestPlane.h"

namespace kvtest {

struct UsmSettings {
    LONG method = 0;
    double radiusX = 1;
    double radiusY = 1;
    double power = 1;
    double threshold = 0; // 8-bit levels
    bool affectNoise = true;
    double parabolicPower = 2;
    LONG planeMask = -1;
};

// The shape's weight at offset (dx, dy), from the shapes' definitions.
double UsmShapeWeight(const UsmSettings& s, double dx, double dy);

// The sharpened picture of a grey, RGB or CMYK plane (8 or 16 bits); the planes that the mask leaves out
// are copied.
TestPlane UnsharpMaskReference(const TestPlane& source, const UsmSettings& s);

} // namespace kvtest
