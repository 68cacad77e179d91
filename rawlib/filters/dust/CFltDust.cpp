#include "CFltDust.h"

#include "filters/engine/ClearUncovered.h"
#include "filters/engine/ForEachSourcePart.h"
#include "rawlib/filters/KvFilterAnnounce.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// The kinds the filter gives: no map to apply, and a source it cannot correct.
constexpr LONG kNoMap = PravonKind::kNoSource;
constexpr LONG kUnsupportedSource = PravonKind::kOutOfRange;
constexpr ULONG kInverseEntries = 65536;

std::array<CFltDust::Gain, CFltDust::kNoDust> MakeGainTable() {
    std::array<CFltDust::Gain, CFltDust::kNoDust> table{};
    table[0] = {0, 65535};
    for (ULONG value = 1; value < CFltDust::kNoDust; ++value) {
        // (128 - value) / value in exact integers: the largest shift whose multiplier stays below 65536.
        const std::uint64_t gain = CFltDust::kNoDust - value;
        BYTE shift = 0;
        while ((gain << (shift + 1)) < std::uint64_t{65536} * value)
            ++shift;
        table[value] = {shift, static_cast<WORD>((gain << shift) / value)};
    }
    return table;
}

template <class Sample>
constexpr ULONG kMaxSample = sizeof(Sample) == 1 ? 255 : 65535;

ULONG Raise(ULONG sample, const CFltDust::Gain& gain) {
    return std::min<ULONG>(65535, sample + ((sample * gain.multiplier) >> gain.shift));
}

// One row: `dust` holds the map value of every pixel; all channels of a pixel take the same gain.
struct RowTables {
    const CFltDust::Gain* gains;
    const WORD* forward;
    const WORD* inverse;
};

template <bool Direct, class Sample, int Channels>
void CorrectRow(const BYTE* from, BYTE* to, const BYTE* dust, LONG width, const RowTables& t) {
    const Sample* in = reinterpret_cast<const Sample*>(from);
    Sample* out = reinterpret_cast<Sample*>(to);
    for (LONG x = 0; x < width; ++x, in += Channels, out += Channels) {
        const BYTE b = dust[x];
        if (b >= CFltDust::kNoDust) {
            std::memcpy(out, in, sizeof(Sample) * Channels);
            continue;
        }
        const CFltDust::Gain& gain = t.gains[b];
        for (int c = 0; c < Channels; ++c) {
            if constexpr (Direct) {
                out[c] = static_cast<Sample>(std::min(kMaxSample<Sample>, Raise(in[c], gain)));
            } else {
                // 8-bit samples take the low byte of the inverse entry.
                out[c] = static_cast<Sample>(t.inverse[Raise(t.forward[in[c]], gain)] & kMaxSample<Sample>);
            }
        }
    }
}

using RowRoutine = void (*)(const BYTE*, BYTE*, const BYTE*, LONG, const RowTables&);

template <bool Direct>
RowRoutine PickRoutine(LONG channels, LONG bits) {
    if (bits == 8)
        return channels == 1 ? CorrectRow<Direct, BYTE, 1> : CorrectRow<Direct, BYTE, 3>;
    return channels == 1 ? CorrectRow<Direct, WORD, 1> : CorrectRow<Direct, WORD, 3>;
}

} // namespace

const std::array<CFltDust::Gain, CFltDust::kNoDust>& CFltDust::GainTable() {
    static const std::array<Gain, kNoDust> table = MakeGainTable();
    return table;
}

CFltDust::CFltDust(IPravonManager* manager) : CPravonFilterBase(manager, 1) {
    SetPassThrough(true);
}

CFltDust::~CFltDust() = default;

bool CFltDust::HasCorrection() const {
    return m_map && m_map->IsComplete() && m_map->GetCorrectionMap();
}

IPravonError* CFltDust::Changed(bool notify) {
    SetPassThrough(!HasCorrection());
    SetCacheCheck();
    return KvShouldAnnounce(*this, notify) ? KvAnnounceWholeOutput(*this) : nullptr;
}

IPravonError* CFltDust::SetDustMap(std::shared_ptr<const CDustMap> map, bool notify) {
    std::vector<BYTE> blob;
    if (map && map->IsComplete()) {
        try {
            blob.resize(map->GetDataSize());
        } catch (const std::bad_alloc&) {
            return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the dust map's stored form");
        }
        if (IPravonError* e = map->WriteData(static_cast<ULONG>(blob.size()), blob.data()))
            return PravonContext(e, kCode, "the dust map cannot be compared with the last one");
        if (!blob.empty() && blob == m_lastBlob) {
            m_map = std::move(map);
            return nullptr;
        }
    }
    m_map = std::move(map);
    m_lastBlob = std::move(blob);
    return Changed(notify);
}

IPravonError* CFltDust::SetDirectGain(bool direct, bool notify) {
    if (direct == m_directGain)
        return nullptr;
    m_directGain = direct;
    return Changed(notify);
}

IPravonError* CFltDust::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    // The map is held for the whole tile, whatever the record does with its own meanwhile.
    const std::shared_ptr<const CDustMap> map = m_map;
    if (!map || !map->IsComplete() || !map->GetCorrectionMap())
        return PravonFail(kCode, kNoMap, "the dust filter has no dust map to apply");
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return e;
        LONG colorSpace = 0;
        LONG width = 0;
        LONG height = 0;
        if (IPravonError* e = source->GetColorSpace(&colorSpace))
            return e;
        if (IPravonError* e = source->GetWidth(&width))
            return e;
        if (IPravonError* e = source->GetHeight(&height))
            return e;
        const LONG channels = PravonColorSpace::Channels(colorSpace);
        const LONG bits = PravonColorSpace::BitsPerSample(colorSpace);
        if ((channels != 1 && channels != 3) || (bits != 8 && bits != 16))
            return PravonFail(kCode, kUnsupportedSource,
                              "the dust filter takes 1 or 3 channels of 8 or 16 bits");
        const std::vector<WORD>& tone = map->GetToneTable();
        const std::size_t forwardEntries = tone.size() > kInverseEntries ? tone.size() - kInverseEntries : 0;
        // A table of another depth would be read at the wrong places: a 16-bit table looked up with 8-bit
        // samples gives the shadows' values to every level.
        if (!m_directGain && forwardEntries != (std::size_t{1} << bits))
            return PravonFail(kCode, kUnsupportedSource,
                              "the dust map's tone table is for samples of another depth than the source's");
        const RowTables tables{GainTable().data(), tone.data(), tone.data() + forwardEntries};
        const RowRoutine routine =
            m_directGain ? PickRoutine<true>(channels, bits) : PickRoutine<false>(channels, bits);

        // The map values of the invalid part, the map centred on the source; outside the map is no dust.
        const CPravonRect& want = out.invalid;
        const LONG wantWidth = want.right - want.left;
        std::vector<BYTE> dust;
        try {
            dust.assign(static_cast<std::size_t>(wantWidth) *
                            static_cast<std::size_t>(want.bottom - want.top),
                        kNoDust);
        } catch (const std::bad_alloc&) {
            return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the dust map's values");
        }
        const LONG dx = (map->GetWidth() - width) / 2;
        const LONG dy = (map->GetHeight() - height) / 2;
        PravonRect inMap{std::max(want.left + dx, LONG{0}), std::max(want.top + dy, LONG{0}),
                         std::min(want.right + dx, map->GetWidth()),
                         std::min(want.bottom + dy, map->GetHeight())};
        if (inMap.left < inMap.right && inMap.top < inMap.bottom) {
            IPravonError* e = ForEachSourcePart(
                map->GetCorrectionMap(), inMap, [&](const CSourcePart& piece) -> IPravonError* {
                    const CPravonRect& clip = piece.part;
                    for (LONG y = clip.top; y < clip.bottom; ++y)
                        std::memcpy(dust.data() + static_cast<std::size_t>(y - dy - want.top) * wantWidth +
                                        (clip.left - dx - want.left),
                                    piece.Row(y) + (clip.left - piece.tileRect.left),
                                    static_cast<std::size_t>(clip.right - clip.left));
                    return nullptr;
                });
            if (e)
                return PravonContext(e, kCode, "the dust map cannot be read");
        }

        const std::size_t pixel = static_cast<std::size_t>(channels * bits / 8);
        ClearOutside(out, PravonRect{0, 0, width, height}, channels * bits);
        return ForEachSourcePart(source, want, [&](const CSourcePart& piece) -> IPravonError* {
            const CPravonRect& clip = piece.part;
            for (LONG y = clip.top; y < clip.bottom; ++y)
                routine(piece.Row(y) + static_cast<std::size_t>(clip.left - piece.tileRect.left) * pixel,
                        out.Row(y) + static_cast<std::size_t>(clip.left - out.rect.left) * pixel,
                        dust.data() + static_cast<std::size_t>(y - want.top) * wantWidth +
                            (clip.left - want.left),
                        clip.right - clip.left, tables);
            return nullptr;
        });
    });
}
