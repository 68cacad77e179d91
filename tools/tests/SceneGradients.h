// How far a development of the sample scene strays from what the camera saw: the scene's gradients in the
// developed picture, squared back to linear light, against the scene itself.
#pragma once

#include "platform/pravon/PravonTypes.h"
#include "rawlib/filters/CDeBayerBase.h"
#include "testing/ImageCompare.h"
#include "testing/TestPlane.h"
#include "tools/CKvSampleScene.h"

#include <cmath>

namespace kvtest {

// developed: the square-root-domain picture of a scene of width x height, less the demosaicing's frame of
// six pixels on every side.
inline PlaneDifference GradientsAgainstScene(const TestPlane& developed, LONG width, LONG height) {
    constexpr LONG kFrame = 6;
    const CKvSampleScene scene(width, height);
    const PravonRect area = scene.GetGradientArea();
    // Inside the frame, and four pixels clear of the neighbouring areas.
    const CPravonRect inner(area.left + 4, area.top + 6, area.right - 10, area.bottom - 4);
    const WORD* square = GetSquareTable();
    TestPlane truth(inner.Width(), inner.Height(), PravonColorSpace::kRGB16);
    TestPlane linear(inner.Width(), inner.Height(), PravonColorSpace::kRGB16);
    for (LONG y = 0; y < inner.Height(); ++y)
        for (LONG x = 0; x < inner.Width(); ++x)
            for (int c = 0; c < 3; ++c) {
                const LONG sx = inner.left + x;
                const LONG sy = inner.top + y;
                truth.SetSample(x, y, c,
                                static_cast<ULONG>(std::lround(scene.At(sx, sy, c) * 65535.0 / 4095.0)));
                linear.SetSample(x, y, c, square[developed.Sample(sx - kFrame, sy - kFrame, c)]);
            }
    return ComparePlanes(truth, linear);
}

} // namespace kvtest
