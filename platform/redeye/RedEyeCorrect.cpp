// The corrector. Inside a region's box (clipped to the image) a pixel is a pupil's when its red is at
// least kMinLevel and exceeds the larger of green and blue by more than `strength` percent of itself;
// such a pixel takes the mean of green and blue as its red. A corrected pixel is no longer red by that
// test, so correcting again changes nothing.
#include "RedEyeInternal.h"

#include <algorithm>
#include <cstdint>

namespace redeye {

namespace {

constexpr DWORD kMinLevel = 40;
constexpr LONG kMaxStrength = 100;

void CorrectBox(ImageAccess& image, const ReRegion& box, LONG strength) {
    const LONG left = std::max<LONG>(box.left, 0), top = std::max<LONG>(box.top, 0);
    const LONG right = std::min<LONG>(box.right, image.Width() - 1);
    const LONG bottom = std::min<LONG>(box.bottom, image.Height() - 1);
    for (LONG y = top; y <= bottom; ++y)
        for (LONG x = left; x <= right; ++x) {
            const Pixel p = image.Get(x, y);
            const std::int64_t excess = std::int64_t{p.r} - std::max(p.g, p.b);
            if (image.Level(p.r) >= kMinLevel && excess * 100 > std::int64_t{strength} * p.r)
                image.SetRed(x, y, (p.g + p.b) / 2);
        }
}

} // namespace

} // namespace redeye

using namespace redeye;

DWORD ReCorrectRegions(ReImage* image, const ReList* regions, void* reserved1, void* reserved2,
                       LONG strength) {
    const std::string detail = DescribeImage(image) + " regions " +
                               std::to_string(regions ? CountRegions(regions) : 0) + " strength " +
                               std::to_string(strength);
    if (auto forced = Enter(ReCall::kCorrectRegions, detail))
        return *forced;
    if (CheckImage(image) != RE_OK || !regions || strength < 0 || strength > kMaxStrength)
        return Leave(ReCall::kCorrectRegions, RE_E_ARGUMENT, detail);
    ImageAccess access(*image);
    for (const ReRegion* r = ReListNext(regions, nullptr); r; r = ReListNext(regions, r))
        CorrectBox(access, *r, strength);
    return Leave(ReCall::kCorrectRegions, RE_OK, detail);
}
