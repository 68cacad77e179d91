#include "CFltVisualCrop.h"

#include "filters/engine/ForEachSourceRun.h"
#include "platform/pravon/PravonGraph.h"

#include <algorithm>
#include <cstring>

namespace {

// Copies count pixels of row y from column x, dimming those outside the columns [insideFrom, insideTo)
// and every pixel of a row outside the rectangle.
template <class Sample>
void DimRow(const BYTE* from, BYTE* to, std::int64_t x, LONG count, bool rowInside, std::int64_t insideFrom,
            std::int64_t insideTo, Sample grey) {
    constexpr std::size_t kPixel = 3 * sizeof(Sample);
    for (LONG i = 0; i < count; ++i, from += kPixel, to += kPixel) {
        const std::int64_t column = x + i;
        if (rowInside && column >= insideFrom && column < insideTo) {
            std::memcpy(to, from, kPixel);
            continue;
        }
        Sample s[3];
        std::memcpy(s, from, kPixel);
        for (Sample& v : s)
            v = static_cast<Sample>(grey + v / 4);
        std::memcpy(to, s, kPixel);
    }
}

} // namespace

CFltVisualCrop::CFltVisualCrop(IPravonManager* manager) : CPravonFilterBase(manager, 1) {}

CFltVisualCrop::~CFltVisualCrop() = default;

IPravonError* CFltVisualCrop::SetCropRect(const PravonRect& rect, bool notify) {
    const CPravonRect old = m_crop;
    CPravonRect crop(rect);
    const bool allZero = crop == CPravonRect();
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    GetSources(&sources, &count);
    if (count > 0 && sources[0]) {
        LONG width = 0;
        LONG height = 0;
        if (IPravonError* e = sources[0]->GetSize(&width, &height))
            return PravonContext(e, kCode, "cannot read the source size");
        const CPravonRect whole(0, 0, width, height);
        if (allZero)
            crop = whole;
        SetPassThrough(crop == whole);
    } else {
        SetPassThrough(allZero);
    }
    m_crop = crop;
    SetCacheCheck();
    if (!notify || !IsEnabled())
        return nullptr;
    PravonRect changed{std::min(old.left, crop.left), std::min(old.top, crop.top),
                       std::max(old.right, crop.right), std::max(old.bottom, crop.bottom)};
    return PravonContext(PravonSendDataNotification(this, PravonNotification::kData, &changed), kCode,
                         "the new crop was not taken downstream");
}

IPravonError* CFltVisualCrop::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return PravonContext(e, kCode, "the visual crop has no source");
        LONG colorSpace = 0;
        if (IPravonError* e = source->GetColorSpace(&colorSpace))
            return PravonContext(e, kCode, "cannot read the source colour space");
        if (colorSpace != PravonColorSpace::kRGB8 && colorSpace != PravonColorSpace::kRGB16)
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace, "Bad source data color space");
        const bool wide = colorSpace == PravonColorSpace::kRGB16;
        const std::size_t pixel = wide ? 6 : 3;
        const CPravonRect& c = m_crop;
        const bool cropsNothing = c == CPravonRect();
        // The inside columns as a half-open range.
        const std::int64_t insideFrom = wide ? std::int64_t{c.left} : std::int64_t{c.left} + 1;
        const std::int64_t insideTo = wide ? std::int64_t{c.right} + 1 : std::int64_t{c.right};
        return PravonContext(
            ForEachSourceRun(source, out, pixel, pixel,
                             [&](const BYTE* from, BYTE* to, LONG x, LONG y, LONG count) {
                                 if (cropsNothing) {
                                     std::memcpy(to, from, static_cast<std::size_t>(count) * pixel);
                                     return;
                                 }
                                 const bool rowInside = c.top < y && y < c.bottom;
                                 if (wide)
                                     DimRow<WORD>(from, to, x, count, rowInside, insideFrom, insideTo,
                                                  0x4000);
                                 else
                                     DimRow<BYTE>(from, to, x, count, rowInside, insideFrom, insideTo, 64);
                             }),
            kCode, "cannot read the source tiles");
    });
}
