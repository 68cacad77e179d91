// A flat image in memory, the reference form that test images are made from and outputs are pulled
// into. Rows are packed to whole bytes; 16-bit samples are native-endian, as in tiles.
#pragma once

#include "platform/pravon/IPravonImage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kvtest {

struct TestPlane {
    LONG width = 0;
    LONG height = 0;
    LONG colorSpace = 0;
    std::size_t rowBytes = 0;
    std::vector<std::uint8_t> data;

    TestPlane() = default;
    TestPlane(LONG w, LONG h, LONG cs);

    LONG Channels() const { return PravonColorSpace::Channels(colorSpace); }
    LONG BitsPerSample() const { return PravonColorSpace::BitsPerSample(colorSpace); }
    // Samples of 1 to 32 bits; for sub-byte codes the pixel is the sample (channel 0).
    ULONG Sample(LONG x, LONG y, LONG channel) const;
    void SetSample(LONG x, LONG y, LONG channel, ULONG value);
    std::uint8_t* Row(LONG y) { return data.data() + static_cast<std::size_t>(y) * rowBytes; }
    const std::uint8_t* Row(LONG y) const { return data.data() + static_cast<std::size_t>(y) * rowBytes; }
    // The sub-rectangle as a plane of its own (cut to this plane).
    TestPlane Crop(const PravonRect& rect) const;
    // A copy with every sample inside rect (cut to this plane) turned into the sample range's maximum less
    // itself: a change of a known area that no sample survives.
    TestPlane Inverted(const PravonRect& rect) const;
};

enum class FillPattern {
    Constant,    // every sample = value
    Gradient,    // horizontal ramp per channel, vertical offset, wrapping at the sample range
    Random,      // uniformly random samples, seeded by seedOrValue
    Checker,     // 0 and the maximum in 3 x 3 blocks
    Coordinates, // sample = (x * 31 + y * 17 + channel * 7) truncated: every pixel differs from its neighbours
};

TestPlane MakePlane(LONG width, LONG height, LONG colorSpace, FillPattern pattern, ULONG seedOrValue = 1);

// An image of the plane's geometry and pixels, every tile made and valid.
PravonImagePtr MakeImage(IPravonManager& manager, const TestPlane& plane);
IPravonError* WritePlane(IPravonImage* image, const TestPlane& plane);

} // namespace kvtest
