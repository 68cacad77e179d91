#include "CPravonFilterColorSpace.h"

#include "filters/WholeSourceChange.h"
#include "filters/engine/ClearUncovered.h"
#include "filters/engine/ForEachSourcePart.h"
#include "platform/pravon/PravonGraph.h"

#include <cstring>

namespace {

namespace Cs = PravonColorSpace;

// The model and depth parts of a code: grey and RGB whatever the depth.
constexpr LONG kModelBits = 0x1FFFF;
constexpr LONG kGreyModel = Cs::kGrey8 & kModelBits;
constexpr LONG kRGBModel = Cs::kRGB8 & kModelBits;

bool Handled(LONG colorSpace) {
    return colorSpace == Cs::kGrey8 || colorSpace == Cs::kGrey16 || colorSpace == Cs::kRGB8 ||
           colorSpace == Cs::kRGB16;
}

// One row of count pixels from In to Out samples, Channels to OutChannels per pixel. Grey is
// (2R + 5G + B) / 8 truncated, taken at the output depth when widening and at the source's when narrowing.
template <class In, int InChannels, class Out, int OutChannels>
void ConvertRow(const BYTE* fromBytes, BYTE* toBytes, LONG count) {
    constexpr bool widen = sizeof(In) < sizeof(Out);
    constexpr bool narrow = sizeof(In) > sizeof(Out);
    const auto depth = [](ULONG v) -> ULONG { return widen ? v * 257 : narrow ? v >> 8 : v; };
    const In* from = reinterpret_cast<const In*>(fromBytes);
    Out* to = reinterpret_cast<Out*>(toBytes);
    for (LONG x = 0; x < count; ++x, from += InChannels, to += OutChannels) {
        if constexpr (InChannels == 1) {
            const Out g = static_cast<Out>(depth(from[0]));
            for (int c = 0; c < OutChannels; ++c)
                to[c] = g;
        } else if constexpr (OutChannels == 3) {
            for (int c = 0; c < 3; ++c)
                to[c] = static_cast<Out>(depth(from[c]));
        } else if constexpr (widen) {
            to[0] = static_cast<Out>((2 * depth(from[0]) + 5 * depth(from[1]) + depth(from[2])) >> 3);
        } else {
            to[0] = static_cast<Out>(depth((2 * ULONG{from[0]} + 5 * ULONG{from[1]} + from[2]) >> 3));
        }
    }
}

using RowConversion = void (*)(const BYTE* from, BYTE* to, LONG count);

template <class In, int InChannels>
RowConversion To(LONG output) {
    switch (output) {
    case Cs::kGrey8:
        return ConvertRow<In, InChannels, BYTE, 1>;
    case Cs::kGrey16:
        return ConvertRow<In, InChannels, WORD, 1>;
    case Cs::kRGB8:
        return ConvertRow<In, InChannels, BYTE, 3>;
    default:
        return ConvertRow<In, InChannels, WORD, 3>;
    }
}

// The conversion between two handled codes other than a plain copy.
RowConversion ConversionOf(LONG source, LONG output) {
    switch (source) {
    case Cs::kGrey8:
        return To<BYTE, 1>(output);
    case Cs::kGrey16:
        return To<WORD, 1>(output);
    case Cs::kRGB8:
        return To<BYTE, 3>(output);
    default:
        return To<WORD, 3>(output);
    }
}

} // namespace

CPravonFilterColorSpace::CPravonFilterColorSpace(IPravonManager* manager) : CPravonFilterBase(manager, 1) {
    SetPassThrough(true);
}

CPravonFilterColorSpace::~CPravonFilterColorSpace() = default;

IPravonDataSource* CPravonFilterColorSpace::FirstSource() const {
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    GetSources(&sources, &count);
    return count > 0 ? sources[0] : nullptr;
}

LONG CPravonFilterColorSpace::DoColorSpaceFiltering(LONG sourceColorSpace) const {
    LONG model = m_colorSpace;
    LONG depth = m_bitDepth;
    if (KeepsEither() && Handled(sourceColorSpace)) {
        if (model == kKeepColorSpace)
            model = (sourceColorSpace & kModelBits) == kGreyModel ? kOneChannel : kThreeChannels;
        if (depth == kKeepBitDepth)
            depth = Cs::BitsPerSample(sourceColorSpace) == 8 ? k8Bit : k16Bit;
    }
    if (model == kOneChannel)
        return depth == k8Bit ? Cs::kGrey8 : depth == k16Bit ? Cs::kGrey16 : 0;
    if (model == kThreeChannels)
        return depth == k8Bit ? Cs::kRGB8 : depth == k16Bit ? Cs::kRGB16 : 0;
    return 0;
}

LONG CPravonFilterColorSpace::OutputFor(LONG sourceColorSpace) const {
    return KeepsBoth() ? sourceColorSpace : DoColorSpaceFiltering(sourceColorSpace);
}

IPravonError* CPravonFilterColorSpace::UpdatePassThrough() {
    SetPassThrough(KeepsBoth());
    IPravonDataSource* source = FirstSource();
    if (KeepsBoth() || !source)
        return nullptr;
    LONG code = 0;
    if (IPravonError* e = source->GetColorSpace(&code))
        return PravonContext(e, kCode, "cannot read the source's colour space");
    if (Handled(code))
        SetPassThrough(code == DoColorSpaceFiltering(code));
    return nullptr;
}

IPravonError* CPravonFilterColorSpace::CheckSourceColorSpace() {
    IPravonDataSource* source = FirstSource();
    if (!source)
        return nullptr;
    LONG code = 0;
    if (IPravonError* e = source->GetColorSpace(&code))
        return PravonContext(e, kCode, "cannot read the source's colour space");
    const LONG model = code & kModelBits;
    if (model == kGreyModel || model == kRGBModel) {
        SetPassThrough(code == DoColorSpaceFiltering(code));
        m_checkPending = false;
    }
    return nullptr;
}

IPravonError* CPravonFilterColorSpace::SetOutputColorSpace(eOutputColorSpace colorSpace,
                                                           eOutputBitDepth bitDepth, bool notify) {
    if (colorSpace < kKeepColorSpace || colorSpace > kThreeChannels || bitDepth < kKeepBitDepth ||
        bitDepth > k16Bit)
        return PravonFail(kCode, PravonKind::kOutOfRange, "no such output colour space or bit depth");
    if (colorSpace == m_colorSpace && bitDepth == m_bitDepth)
        return nullptr;
    ChangeColorSpace change;
    const bool announce = notify && IsEnabled();
    if (announce && FirstSource())
        if (IPravonError* e = GetColorSpace(&change.oldColorSpace))
            return e;
    m_colorSpace = colorSpace;
    m_bitDepth = bitDepth;
    SetCacheCheck();
    if (IPravonError* e = UpdatePassThrough())
        return e;
    if (!announce)
        return nullptr;
    if (FirstSource())
        if (IPravonError* e = GetColorSpace(&change.newColorSpace))
            return e;
    return PravonSendDataNotification(this, PravonNotification::kColorSpace, &change);
}

template <class Call>
IPravonError* CPravonFilterColorSpace::Checked(Call&& call) {
    if (m_checkPending)
        if (IPravonError* e = CheckSourceColorSpace())
            return e;
    return call();
}

IPravonError* CPravonFilterColorSpace::GetWidth(LONG* width) {
    return Checked([&] { return CPravonFilterBase::GetWidth(width); });
}
IPravonError* CPravonFilterColorSpace::GetHeight(LONG* height) {
    return Checked([&] { return CPravonFilterBase::GetHeight(height); });
}
IPravonError* CPravonFilterColorSpace::GetColorSpace(LONG* colorSpace) {
    return Checked([&] { return CPravonFilterBase::GetColorSpace(colorSpace); });
}
IPravonError* CPravonFilterColorSpace::GetResolution(double* resolution) {
    return Checked([&] { return CPravonFilterBase::GetResolution(resolution); });
}
IPravonError* CPravonFilterColorSpace::GetFlip(bool* flip) {
    return Checked([&] { return CPravonFilterBase::GetFlip(flip); });
}
IPravonError* CPravonFilterColorSpace::GetRotation(double* rotation) {
    return Checked([&] { return CPravonFilterBase::GetRotation(rotation); });
}
IPravonError* CPravonFilterColorSpace::GetTileSize(LONG* tileSize) {
    return Checked([&] { return CPravonFilterBase::GetTileSize(tileSize); });
}
IPravonError* CPravonFilterColorSpace::GetPalette(PravonPalette* palette) {
    return Checked([&] { return CPravonFilterBase::GetPalette(palette); });
}
IPravonError* CPravonFilterColorSpace::TileExists(const IPravonTileID& id, bool* exists) {
    return Checked([&] { return CPravonFilterBase::TileExists(id, exists); });
}
IPravonError* CPravonFilterColorSpace::TileExists(LONG column, LONG row, bool* exists) {
    return Checked([&] { return CPravonFilterBase::TileExists(column, row, exists); });
}
IPravonError* CPravonFilterColorSpace::GetTile(const IPravonTileID& id, IPravonTile** tile) {
    return Checked([&] { return CPravonFilterBase::GetTile(id, tile); });
}
IPravonError* CPravonFilterColorSpace::GetTile(LONG column, LONG row, IPravonTile** tile) {
    return Checked([&] { return CPravonFilterBase::GetTile(column, row, tile); });
}
IPravonError* CPravonFilterColorSpace::LockTile(IPravonTileGrid* grid, LONG column, LONG row, void** data,
                                                PravonRect* tileRect, PravonRect* clippedRect,
                                                LONG* rowBytes) {
    return Checked([&] {
        return CPravonFilterBase::LockTile(grid, column, row, data, tileRect, clippedRect, rowBytes);
    });
}
IPravonError* CPravonFilterColorSpace::LockTile(const IPravonTileID& id, void** data,
                                                BITMAPINFOHEADER** header) {
    return Checked([&] { return CPravonFilterBase::LockTile(id, data, header); });
}
IPravonError* CPravonFilterColorSpace::LockTile(LONG column, LONG row, void** data,
                                                BITMAPINFOHEADER** header) {
    return Checked([&] { return CPravonFilterBase::LockTile(column, row, data, header); });
}
IPravonError* CPravonFilterColorSpace::MapRect(const PravonRect& rect, IPravonTileGrid** grid) {
    return Checked([&] { return CPravonFilterBase::MapRect(rect, grid); });
}

IPravonError* CPravonFilterColorSpace::GetFilteredColorSpace(IPravonDataSource* const* sources, LONG count,
                                                             LONG* colorSpace) {
    LONG source = 0;
    if (KeepsEither())
        if (IPravonError* e = CPravonFilterBase::GetFilteredColorSpace(sources, count, &source))
            return e;
    *colorSpace = DoColorSpaceFiltering(source);
    return nullptr;
}

IPravonError* CPravonFilterColorSpace::FilterColorSpace(IPravonDataSource*, ChangeColorSpace* change) {
    if (!change)
        return PravonFail(kCode, PravonKind::kBadArgument, "a colour-space notification without its record");
    SetPassThrough(KeepsBoth());
    if (!KeepsBoth() && FirstSource())
        SetPassThrough(change->newColorSpace == DoColorSpaceFiltering(change->newColorSpace));
    SetCacheCheck();
    // Downstream hears of the output's codes: the source's own while both settings keep them.
    ChangeColorSpace output{OutputFor(change->oldColorSpace), OutputFor(change->newColorSpace)};
    if (output.oldColorSpace != output.newColorSpace)
        return PravonSendDataNotification(this, PravonNotification::kColorSpace, &output);
    return AnnounceWholeSourceChange(*this, kCode);
}

IPravonError* CPravonFilterColorSpace::FilterUpdateAll(IPravonDataSource*) {
    SetPassThrough(KeepsBoth());
    m_checkPending = !KeepsBoth();
    if (m_checkPending)
        if (IPravonError* e = CheckSourceColorSpace())
            return e;
    SetCacheCheck();
    return PravonSendDataNotification(this, PravonNotification::kUpdateAll, nullptr);
}

IPravonError* CPravonFilterColorSpace::PravonAddedDataSource(IPravonDataSource* source) {
    IPravonError* err = CPravonFilterBase::PravonAddedDataSource(source);
    err = IPravonError::Chain(err, SetCacheUsage(KeepsBoth() ? 1 : 0));
    // What passes through depends on the source's code; it is read on the next request.
    SetPassThrough(KeepsBoth());
    m_checkPending = !KeepsBoth();
    return err;
}

IPravonError* CPravonFilterColorSpace::PravonRemovedDataSource(IPravonDataSource* source) {
    IPravonError* err = CPravonFilterBase::PravonRemovedDataSource(source);
    err = IPravonError::Chain(err, SetCacheUsage(KeepsBoth() ? 1 : 0));
    SetPassThrough(KeepsBoth());
    m_checkPending = !KeepsBoth();
    return err;
}

IPravonError* CPravonFilterColorSpace::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return e;
        LONG code = 0;
        if (IPravonError* e = source->GetColorSpace(&code))
            return PravonContext(e, kCode, "cannot read the source's colour space");
        const LONG output = DoColorSpaceFiltering(code);
        if (!Handled(code))
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace, "Bad source data color space");
        if (!Handled(output))
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace, "Bad destination data color space");
        if (out.colorSpace != output)
            return PravonFail(kCode, PravonKind::kInvalidState,
                              "the output tile is not in the output's format");
        const std::size_t inPixel = static_cast<std::size_t>(Cs::BitsPerPixel(code)) / 8;
        const std::size_t outPixel = static_cast<std::size_t>(Cs::BitsPerPixel(output)) / 8;
        const RowConversion convert = code == output ? nullptr : ConversionOf(code, output);
        if (IPravonError* e = ClearOutsideSource(source, out, Cs::BitsPerPixel(output)))
            return e;
        return ForEachSourcePart(source, out.invalid, [&](const CSourcePart& piece) -> IPravonError* {
            const CPravonRect& part = piece.part;
            for (LONG y = part.top; y < part.bottom; ++y) {
                const BYTE* from = piece.Row(y) + (part.left - piece.tileRect.left) * inPixel;
                BYTE* to = out.Row(y) + (part.left - out.rect.left) * outPixel;
                if (convert)
                    convert(from, to, part.Width());
                else
                    std::memcpy(to, from, part.Width() * inPixel);
            }
            return nullptr;
        });
    });
}
