// Mosaics for the demosaicing tests: colour-filter descriptors of the four Bayer layouts, mosaics sampled
// from a scene function, and a standard filter connected to a mosaic image.
#pragma once

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "rawlib/filters/CDeBayerSingleFilter.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TestPlane.h"

#include <algorithm>
#include <array>
#include <cmath>
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

// Whether a demosaicing of a mosaic flat at the 12-bit level is grey everywhere, at the level's square
// root (within the non-square rows' rounding: their weights add up to 16385 / 16384).
inline ::testing::AssertionResult GreyEverywhere(const TestPlane& out, ULONG level, bool nonSquare) {
    if (out.width <= 0)
        return ::testing::AssertionFailure() << "no output";
    const auto expected = static_cast<ULONG>(GetSqrtTable()[level] >> 2);
    const ULONG slack = nonSquare ? 3 : 0;
    for (LONG y = 0; y < out.height; ++y)
        for (LONG x = 0; x < out.width; ++x) {
            const ULONG r = out.Sample(x, y, 0);
            if (out.Sample(x, y, 1) != r || out.Sample(x, y, 2) != r || r + slack < expected ||
                r > expected + slack)
                return ::testing::AssertionFailure()
                       << "(" << r << ", " << out.Sample(x, y, 1) << ", " << out.Sample(x, y, 2) << ") at "
                       << x << ", " << y << " where the grey is " << expected;
        }
    return ::testing::AssertionSuccess();
}

// Output pixel (u, v) of a demosaicing, in uncropped output coordinates, from the full-resolution colours
// pixel(x, y) (an Rgb of r, g and b) at mosaic site (x, y): past the frame of six pixels on every side, and
// in the non-square mode resampled so that four source columns give three output columns and two source
// rows three output rows.
template <class Rgb, class PixelAt>
Rgb OutputPixel(LONG u, LONG v, bool nonSquare, const PixelAt& pixel) {
    constexpr LONG kFrame = 6;
    if (!nonSquare)
        return pixel(u + kFrame, v + kFrame);
    const LONG a = u % 3;
    const LONG x = 4 * (u / 3) + a + kFrame;
    const LONG rowPhase = v % 3;
    const LONG y = 2 * (v / 3) + (rowPhase == 2 ? 1 : 0) + kFrame;
    static constexpr LONG kTaps[3][2] = {{3, 1}, {2, 2}, {1, 3}};
    static constexpr LONG kRows[3][4] = {
        {0, 16384, 0, 0}, {-606, 5461, 12743, -1213}, {-1213, 12743, 5461, -606}};
    LONG out[3] = {};
    for (int c = 0; c < 3; ++c) {
        const auto channel = [c](const Rgb& p) { return c == 0 ? p.r : c == 1 ? p.g : p.b; };
        if (rowPhase == 0) {
            const LONG p = channel(pixel(x, y));
            const LONG q = channel(pixel(x + 1, y));
            out[c] = a == 0 ? (3 * p + q) >> 2 : a == 1 ? (p + q) >> 1 : (p + 3 * q) >> 2;
            continue;
        }
        LONG sum = 0;
        for (int k = 0; k < 4; ++k) {
            const LONG p = channel(pixel(x, y - 1 + k));
            const LONG q = channel(pixel(x + 1, y - 1 + k));
            sum += kRows[rowPhase][k] * ((kTaps[a][0] * p + kTaps[a][1] * q) / 4);
        }
        out[c] = std::clamp<LONG>(sum / 16384, 0, 65535);
    }
    return Rgb{out[0], out[1], out[2]};
}

// trunc(sqrt(i / 4095) x 262143), the last entry exactly 262143: every channel's LUT without curves.
inline const std::vector<LONG>& RootTable() {
    static const std::vector<LONG> table = [] {
        std::vector<LONG> t(4096);
        for (int i = 0; i < 4095; ++i)
            t[i] = static_cast<LONG>(std::sqrt(i / 4095.0) * 262143.0);
        t[4095] = 262143;
        return t;
    }();
    return table;
}

inline std::array<const LONG*, 3> RootLuts() {
    return {RootTable().data(), RootTable().data(), RootTable().data()};
}

// The LUTs a reference interpolation reads: with curves the filter's own, built before its first tile
// (their building has tests of its own), the root table otherwise.
inline std::array<const LONG*, 3> ChannelLuts(const CDeBayerBase& filter, bool curves) {
    if (!curves)
        return RootLuts();
    return {filter.GetChannelLut(CDeBayerBase::kRed), filter.GetChannelLut(CDeBayerBase::kGreen),
            filter.GetChannelLut(CDeBayerBase::kBlue)};
}

// A reference interpolation's picture of width x height pixels from (left, top) of its uncropped output,
// as the filter's output is compared with it.
template <class Reference>
TestPlane ReferencePicture(const Reference& reference, LONG width, LONG height, bool nonSquare, LONG left = 0,
                           LONG top = 0) {
    TestPlane expected(width, height, PravonColorSpace::kRGB16);
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x) {
            const auto rgb = reference.Output(x + left, y + top, nonSquare);
            expected.SetSample(x, y, 0, static_cast<ULONG>(rgb.r));
            expected.SetSample(x, y, 1, static_cast<ULONG>(rgb.g));
            expected.SetSample(x, y, 2, static_cast<ULONG>(rgb.b));
        }
    return expected;
}

} // namespace kvtest
