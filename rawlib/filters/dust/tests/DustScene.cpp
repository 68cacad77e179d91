#include "DustScene.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace dusttest {

using kvtest::TestPlane;

namespace {
constexpr LONG kArm[5][2] = {{0, 0}, {-1, 0}, {1, 0}, {0, -1}, {0, 1}};
}

double TransmissionAt(const std::vector<Spot>& spots, LONG x, LONG y) {
    for (const Spot& s : spots)
        for (const auto& a : kArm)
            if (s.x + a[0] == x && s.y + a[1] == y)
                return s.transmission;
    return 1.0;
}

LONG DistanceToSpots(const std::vector<Spot>& spots, LONG x, LONG y) {
    LONG best = 1 << 30;
    for (const Spot& s : spots)
        for (const auto& a : kArm)
            best = std::min(best, std::max(std::abs(s.x + a[0] - x), std::abs(s.y + a[1] - y)));
    return best;
}

std::vector<Spot> Shifted(const std::vector<Spot>& spots, LONG dx, LONG dy) {
    std::vector<Spot> out = spots;
    for (Spot& s : out) {
        s.x += dx;
        s.y += dy;
    }
    return out;
}

TestPlane ReferencePlane(LONG width, LONG height, const std::vector<Spot>& spots) {
    TestPlane plane(width, height, PravonColorSpace::kGrey8);
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x)
            plane.SetSample(x, y, 0, static_cast<ULONG>(std::lround(128 * TransmissionAt(spots, x, y))));
    return plane;
}

TestPlane DustyRgb16(LONG width, LONG height, WORD level, const std::vector<Spot>& spots) {
    TestPlane plane(width, height, PravonColorSpace::kRGB16);
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x)
            for (LONG c = 0; c < 3; ++c)
                plane.SetSample(x, y, c,
                                static_cast<ULONG>(std::lround(level * TransmissionAt(spots, x, y))));
    return plane;
}

TestPlane DustyMosaic(LONG width, LONG height, WORD level, const std::vector<Spot>& spots) {
    TestPlane plane(width, height, PravonColorSpace::kRawMosaic16);
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x)
            plane.SetSample(x, y, 0, static_cast<ULONG>(std::lround(level * TransmissionAt(spots, x, y))));
    return plane;
}

TestPlane QuarterTurn(const TestPlane& plane) {
    TestPlane out(plane.height, plane.width, plane.colorSpace);
    for (LONG y = 0; y < plane.height; ++y)
        for (LONG x = 0; x < plane.width; ++x)
            for (LONG c = 0; c < plane.Channels(); ++c)
                out.SetSample(plane.height - 1 - y, x, c, plane.Sample(x, y, c));
    return out;
}

std::vector<Spot> QuarterTurn(const std::vector<Spot>& spots, LONG height) {
    std::vector<Spot> out;
    for (const Spot& s : spots)
        out.push_back({height - 1 - s.y, s.x, s.transmission});
    return out;
}

Bytes SceneReference(const TestPlane& reference) {
    ReferenceFields fields;
    fields.width = static_cast<ULONG>(reference.width);
    fields.height = static_cast<ULONG>(reference.height);
    return ReferenceBlob(fields, reference);
}

PravonTagControlPtr SceneTags(bool mosaic) {
    CameraTags tags = DefaultCameraTags();
    if (mosaic)
        tags.cfaPattern = Bytes{0, 2, 0, 2, 0, 1, 1, 2};
    return MakeTags(tags);
}

} // namespace dusttest
