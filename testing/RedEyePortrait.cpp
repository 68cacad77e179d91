#include "RedEyePortrait.h"

#include <algorithm>

namespace kvtest {

namespace {

constexpr ULONG kSkin[3] = {200, 150, 120};
constexpr ULONG kIris[3] = {70, 50, 40};
constexpr ULONG kPupil[3] = {220, 30, 40};
constexpr LONG kIrisWidth = 2;

bool Within(LONG x, LONG y, LONG cx, LONG cy, LONG radius) {
    const long long dx = x - cx, dy = y - cy;
    return dx * dx + dy * dy <= static_cast<long long>(radius) * radius;
}

} // namespace

bool InPupil(const TestPupil& pupil, LONG x, LONG y) {
    return Within(x, y, pupil.x, pupil.y, pupil.radius);
}

TestPlane MakePortrait(LONG width, LONG height, LONG colorSpace, const std::vector<TestPupil>& pupils) {
    TestPlane plane(width, height, colorSpace);
    const bool wide = plane.BitsPerSample() == 16;
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x) {
            const ULONG* colour = kSkin;
            for (const TestPupil& p : pupils) {
                if (InPupil(p, x, y)) {
                    colour = kPupil;
                    break;
                }
                if (Within(x, y, p.x, p.y, p.radius + kIrisWidth))
                    colour = kIris;
            }
            for (LONG c = 0; c < 3; ++c)
                plane.SetSample(x, y, c,
                                wide ? colour[c] * 257 + static_cast<ULONG>((x + 2 * y + c) % 5) : colour[c]);
        }
    return plane;
}

PravonRect PupilBox(const TestPupil& pupil, LONG width, LONG height) {
    return {std::max<LONG>(0, pupil.x - pupil.radius), std::max<LONG>(0, pupil.y - pupil.radius),
            std::min<LONG>(width - 1, pupil.x + pupil.radius),
            std::min<LONG>(height - 1, pupil.y + pupil.radius)};
}

TestPlane CorrectedPortrait(const TestPlane& portrait, const std::vector<TestPupil>& pupils) {
    TestPlane out = portrait;
    for (LONG y = 0; y < out.height; ++y)
        for (LONG x = 0; x < out.width; ++x)
            for (const TestPupil& p : pupils)
                if (InPupil(p, x, y))
                    out.SetSample(x, y, 0, (out.Sample(x, y, 1) + out.Sample(x, y, 2)) / 2);
    return out;
}

std::vector<BYTE> SavedRedEyeRegion(const PravonRect& box, DWORD pixels) {
    std::vector<BYTE> bytes = {'R', 'R', 'G', '1'};
    auto put = [&bytes](DWORD v) {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<BYTE>(v >> (8 * i)));
    };
    put(1);
    for (LONG v : {box.left, box.top, box.right, box.bottom})
        put(static_cast<DWORD>(v));
    put(pixels);
    DWORD hash = 2166136261u;
    for (BYTE b : bytes)
        hash = (hash ^ b) * 16777619u;
    put(hash);
    return bytes;
}

} // namespace kvtest
