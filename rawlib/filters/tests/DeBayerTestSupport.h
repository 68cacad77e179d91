// Mosaics for the demosaicing tests: colour-filter descriptors of the four Bayer layouts, mosaics sampled
// from a scene function, and a standard filter connected to a mosaic image.
#pragma once

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "rawlib/filters/CDeBayerSingleFilter.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TestPlane.h"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kvtest {

struct BayerLayout {
    std::string name;
    std::vector<BYTE> descriptor; // as tag 0xA302 holds it
    LONG greenPhase;
    LONG redRowPhase;
};

inline std::vector<BYTE> CfaDescriptor(BYTE c00, BYTE c01, BYTE c10, BYTE c11) {
    return {0, 2, 0, 2, c00, c01, c10, c11};
}

inline const std::array<BayerLayout, 4>& BayerLayouts() {
    static const std::array<BayerLayout, 4> layouts = {{
        {"RGGB", CfaDescriptor(0, 1, 1, 2), 0, 1},
        {"GRBG", CfaDescriptor(1, 0, 2, 1), 1, 1},
        {"GBRG", CfaDescriptor(1, 2, 0, 1), 1, 0},
        {"BGGR", CfaDescriptor(2, 1, 1, 0), 0, 0},
    }};
    return layouts;
}

// The channel (0 red, 1 green, 2 blue) the layout samples at (x, y).
inline int CfaChannel(const std::vector<BYTE>& descriptor, LONG x, LONG y) {
    return descriptor[4 + static_cast<std::size_t>((y & 1) * 2 + (x & 1))];
}

// A scene gives the linear 12-bit value of a channel at a pixel.
using Scene = std::function<ULONG(LONG x, LONG y, int channel)>;

inline TestPlane MakeMosaic(LONG width, LONG height, const std::vector<BYTE>& descriptor,
                            const Scene& scene) {
    TestPlane plane(width, height, PravonColorSpace::kRawMosaic16);
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x)
            plane.SetSample(x, y, 0, scene(x, y, CfaChannel(descriptor, x, y)));
    return plane;
}

inline TestPlane FlatMosaic(LONG width, LONG height, ULONG value) {
    return MakeMosaic(width, height, BayerLayouts()[0].descriptor,
                      [value](LONG, LONG, int) { return value; });
}

// The nearest position of the same colour-filter phase inside an axis of size samples (at least 2): how the
// references extend a mosaic beyond its edges.
inline LONG SamePhaseInside(LONG v, LONG size) {
    while (v < 0)
        v += 2;
    while (v >= size)
        v -= 2;
    return v;
}

// A mosaic image with a standard filter on it, the layout's descriptor set.
struct Demosaic {
    explicit Demosaic(const TestPlane& mosaic,
                      const std::vector<BYTE>& descriptor = BayerLayouts()[0].descriptor, LONG tileSize = 64)
        : manager(tileSize), source(MakeImage(manager, mosaic)),
          filter(std::make_unique<CDeBayerSingleFilter>(&manager)) {
        EXPECT_PV_OK(PravonConnect(source.get(), filter.get()));
        EXPECT_PV_OK(filter->SetCFAPattern(descriptor.data(), static_cast<ULONG>(descriptor.size()), false));
    }

    TestPlane Pull() {
        TestPlane out;
        EXPECT_PV_OK(PullAll(filter.get(), &out));
        return out;
    }

    CPravonMemoryManager manager;
    PravonImagePtr source;
    std::unique_ptr<CDeBayerSingleFilter> filter;
};

} // namespace kvtest
