#include "ProbeFilter.h"

#include "filters/engine/ForEachSourcePart.h"

#include <cstring>

namespace kvtest {

ProbeFilter::ProbeFilter(IPravonManager* manager, BYTE addend, LONG cacheUsage)
    : CPravonFilterBase(manager, cacheUsage), m_addend(addend) {}

TestPlane ProbeFilter::Expected(const TestPlane& source) const {
    TestPlane out = source;
    for (LONG y = 0; y < out.height; ++y) {
        std::uint8_t* row = out.Row(y);
        for (std::size_t i = 0;
             i < static_cast<std::size_t>(out.width) * (out.BitsPerSample() * out.Channels() / 8); ++i)
            row[i] = static_cast<std::uint8_t>(row[i] + m_addend);
    }
    return out;
}

// The pattern every filter follows: the base hands over the locked tile with its invalid part; the filter
// fetches exactly the source part it needs and computes.
IPravonError* ProbeFilter::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return e;
        calls.push_back(Call{out.invalid, out.rect, info});
        LONG colorSpace = 0;
        if (IPravonError* e = source->GetColorSpace(&colorSpace))
            return e;
        const LONG bpp = GetBitsPerPixel(colorSpace);
        if (bpp < 8 || bpp % 8 != 0)
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace, "Bad source data color space");
        const std::size_t pixel = static_cast<std::size_t>(bpp / 8);
        if (during)
            during();
        return ForEachSourcePart(source, out.invalid, [&](const CSourcePart& piece) -> IPravonError* {
            const CPravonRect& clip = piece.part;
            for (LONG y = clip.top; y < clip.bottom; ++y) {
                const BYTE* from =
                    piece.Row(y) + static_cast<std::size_t>(clip.left - piece.tileRect.left) * pixel;
                BYTE* to = out.Row(y) + static_cast<std::size_t>(clip.left - out.rect.left) * pixel;
                for (std::size_t i = 0; i < static_cast<std::size_t>(clip.right - clip.left) * pixel; ++i)
                    to[i] = static_cast<BYTE>(from[i] + m_addend);
            }
            if (failures > 0) {
                --failures;
                return PravonFail(kCode, failKind, "probe failure");
            }
            return nullptr;
        });
    });
}

} // namespace kvtest
