// A box blur: each output sample is the rounded mean of the input samples within the radius that lie in
// the image. It asks the host for the radius as padding around its output; the radius is its parameter
// block (4 bytes), 1 when it has none.
#include "KvTestPlugin.h"

#include <algorithm>

using namespace KvPlugin;

namespace {

std::int32_t Radius(const KvFilterRecord& r) {
    std::int32_t radius = 1;
    KvTestPlugin::ParameterWord(r, &radius);
    return std::clamp(radius, 0, 100);
}

} // namespace

KV_TEST_PLUGIN_ENTRY()

std::int16_t KvTestPluginHandle(std::int16_t selector, KvFilterRecord& r, std::intptr_t*) {
    if (selector == kSelectorPrepare) {
        r.inputPadding = static_cast<std::int16_t>(Radius(r));
        r.outputInitialised = 1;
    } else if (selector == kSelectorProcess) {
        const std::int32_t radius = Radius(r);
        KvTestPlugin::SetFact("right-padding", r.inRect.right - r.outRect.right);
        KvTestPlugin::SetFact("bottom-padding", r.inRect.bottom - r.outRect.bottom);
        for (std::int32_t y = r.outRect.top; y < r.outRect.bottom; ++y) {
            for (std::int32_t x = r.outRect.left; x < r.outRect.right; ++x) {
                const std::int32_t x0 = std::max(x - radius, r.inRect.left),
                                   x1 = std::min(x + radius + 1, r.inRect.right);
                const std::int32_t y0 = std::max(y - radius, r.inRect.top),
                                   y1 = std::min(y + radius + 1, r.inRect.bottom);
                const std::uint32_t count = static_cast<std::uint32_t>((x1 - x0) * (y1 - y0));
                for (int p = r.outLoPlane; p <= r.outHiPlane; ++p) {
                    std::uint32_t sum = 0;
                    for (std::int32_t v = y0; v < y1; ++v)
                        for (std::int32_t u = x0; u < x1; ++u)
                            sum += KvTestPlugin::InSample(r, u, v, p);
                    KvTestPlugin::SetOutSample(r, x, y, p, (sum + count / 2) / count);
                }
            }
        }
    }
    return kNoError;
}
