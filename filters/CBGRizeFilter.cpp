#include "CBGRizeFilter.h"

#include "AnnounceWholeSource.h"

#include "filters/engine/ForEachSourceRun.h"

#include <cstring>

namespace {

bool Converts(LONG colorSpace) {
    return colorSpace == PravonColorSpace::kGrey8 || colorSpace == PravonColorSpace::kGrey16 ||
           colorSpace == PravonColorSpace::kRGB8 || colorSpace == PravonColorSpace::kRGB16;
}

IPravonError* BadColorSpace() {
    return PravonFail(CBGRizeFilter::kCode, PravonKind::kUnsupportedColorSpace,
                      "Bad source data color space");
}

// The high byte of the 16-bit sample at p, or the byte itself.
template <bool Wide>
BYTE Narrow(const BYTE* p) {
    if constexpr (Wide) {
        WORD s;
        std::memcpy(&s, p, sizeof s);
        return static_cast<BYTE>(s >> 8);
    } else {
        return *p;
    }
}

template <bool Wide>
void GreyRow(const BYTE* from, BYTE* to, LONG count) {
    constexpr std::size_t kSample = Wide ? 2 : 1;
    for (LONG i = 0; i < count; ++i, from += kSample, to += 3)
        to[0] = to[1] = to[2] = Narrow<Wide>(from);
}

template <bool Wide>
void RgbRow(const BYTE* from, BYTE* to, LONG count) {
    constexpr std::size_t kSample = Wide ? 2 : 1;
    for (LONG i = 0; i < count; ++i, from += 3 * kSample, to += 3) {
        to[0] = Narrow<Wide>(from + 2 * kSample);
        to[1] = Narrow<Wide>(from + kSample);
        to[2] = Narrow<Wide>(from);
    }
}

} // namespace

CBGRizeFilter::CBGRizeFilter(IPravonManager* manager) : CPravonFilterBase(manager, 1) {}

CBGRizeFilter::~CBGRizeFilter() = default;

IPravonError* CBGRizeFilter::GetFilteredColorSpace(IPravonDataSource* const* sources, LONG count,
                                                   LONG* colorSpace) {
    if (!sources || count <= 0)
        GetSources(&sources, &count);
    LONG sourceSpace = 0;
    if (IPravonError* e = CPravonFilterBase::GetFilteredColorSpace(sources, count, &sourceSpace))
        return PravonContext(e, kCode, "cannot read the source colour space");
    if (!Converts(sourceSpace))
        return BadColorSpace();
    *colorSpace = PravonColorSpace::kBGR8;
    return nullptr;
}

void CBGRizeFilter::FillBitmapHeader(BITMAPINFOHEADER* header, LONG tileSize, LONG rowBytes) {
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = tileSize;
    header->biHeight = -tileSize;
    header->biPlanes = 1;
    header->biBitCount = 24;
    header->biCompression = BI_RGB;
    header->biSizeImage = static_cast<DWORD>(rowBytes) * static_cast<DWORD>(tileSize);
    header->biXPelsPerMeter = kPixelsPerMetre;
    header->biYPelsPerMeter = kPixelsPerMetre;
    header->biClrUsed = 0;
    header->biClrImportant = 0;
}

IPravonError* CBGRizeFilter::FilterColorSpace(IPravonDataSource* source, ChangeColorSpace* change) {
    if (!IsEnabled())
        return CPravonFilterBase::FilterColorSpace(source, change);
    SetCacheCheck();
    return AnnounceWholeSource(*this);
}

IPravonError* CBGRizeFilter::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return PravonContext(e, kCode, "the BGR conversion has no source");
        LONG colorSpace = 0;
        if (IPravonError* e = source->GetColorSpace(&colorSpace))
            return PravonContext(e, kCode, "cannot read the source colour space");
        if (!Converts(colorSpace))
            return BadColorSpace();
        if (out.colorSpace != PravonColorSpace::kBGR8)
            return PravonFail(kCode, PravonKind::kInvalidState, "the tile is not laid out for BGR pixels");
        if (out.header) {
            LONG tileSize = 0;
            if (IPravonError* e = tile->GetImage()->GetTileSize(&tileSize))
                return PravonContext(e, kCode, "cannot read the tile size");
            FillBitmapHeader(out.header, tileSize, out.rowBytes);
        }
        const bool wide = PravonColorSpace::BitsPerSample(colorSpace) == 16;
        const bool grey = PravonColorSpace::Channels(colorSpace) == 1;
        const std::size_t pixel = static_cast<std::size_t>(PravonColorSpace::BitsPerPixel(colorSpace) / 8);
        const auto convert =
            grey ? (wide ? GreyRow<true> : GreyRow<false>) : (wide ? RgbRow<true> : RgbRow<false>);
        return PravonContext(ForEachSourceRun(source, out, pixel, 3,
                                              [&](const BYTE* from, BYTE* to, LONG, LONG, LONG count) {
                                                  convert(from, to, count);
                                              }),
                             kCode, "cannot read the source tiles");
    });
}
