// Synthetic dust scenes for the map and record tests: a reference of an evenly lit blank scene (128 where
// clear) with small dark spots, and images of flat grey carrying the same spots, as RGB or as a mosaic.
#pragma once

#include "DustTestSupport.h"

#include <vector>

namespace dusttest {

// A plus-shaped spot (the pixel and its four neighbours) that lets `transmission` of the light through.
struct Spot {
    LONG x;
    LONG y;
    double transmission;
};

// The transmission at a pixel: the spot's inside one, else 1.
double TransmissionAt(const std::vector<Spot>& spots, LONG x, LONG y);
// The Chebyshev distance from the pixel to the nearest spot pixel.
LONG DistanceToSpots(const std::vector<Spot>& spots, LONG x, LONG y);
std::vector<Spot> Shifted(const std::vector<Spot>& spots, LONG dx, LONG dy);

// 8-bit reference: 128 x transmission, rounded.
kvtest::TestPlane ReferencePlane(LONG width, LONG height, const std::vector<Spot>& spots);
// 16-bit RGB of `level` in every channel, times the transmission.
kvtest::TestPlane DustyRgb16(LONG width, LONG height, WORD level, const std::vector<Spot>& spots);
// A red-green / green-blue mosaic of 12-bit `level`, times the transmission.
kvtest::TestPlane DustyMosaic(LONG width, LONG height, WORD level, const std::vector<Spot>& spots);
// The plane turned a quarter clockwise, and a spot's place after it.
kvtest::TestPlane QuarterTurn(const kvtest::TestPlane& plane);
std::vector<Spot> QuarterTurn(const std::vector<Spot>& spots, LONG height);

// The "DstR" blob of camera type 257, lens code 50 and aperture code 72 (f/8).
Bytes SceneReference(const kvtest::TestPlane& reference);
// Tags of the same camera, lens and aperture; with the colour-filter layout of the mosaic when asked.
PravonTagControlPtr SceneTags(bool mosaic);

} // namespace dusttest
