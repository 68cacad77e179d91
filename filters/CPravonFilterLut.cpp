#include "CPravonFilterLut.h"

#include "filters/WholeSourceChange.h"
#include "filters/engine/ClearUncovered.h"
#include "filters/engine/ForEachSourcePart.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>
#include <numeric>
#include <utility>

namespace {

namespace Cs = PravonColorSpace;

// The formats whose every sample goes through the table of its channel.
bool Mapped(LONG colorSpace) {
    switch (colorSpace) {
    case Cs::kGrey8:
    case Cs::kRGB8:
    case Cs::kLCh8:
    case Cs::kCMYK8:
    case Cs::kGrey16:
    case Cs::kRawMosaic16:
    case 0x10020402: // a second one-channel 16-bit mosaic code
    case Cs::kRGB16:
    case Cs::kLCh16:
    case Cs::kLab16:
    case Cs::kYCbCr16:
        return true;
    default:
        return false;
    }
}

// Every installed set of tables of every stage has a number of its own: a run composed from a stage that
// went and another made at its address is not taken for the same.
std::uint64_t NextTablesVersion() {
    static std::atomic<std::uint64_t> next{0};
    return ++next;
}

// Entry k of the linear ramp that a null table stands for; 64 bits hold k * 2^16.
WORD Ramp(std::size_t k, LONG inputBits, LONG outputBits) {
    return static_cast<WORD>((std::uint64_t{k} << outputBits) >> inputBits);
}

// Every sample of count pixels of channels samples through the table of its channel. For the usual channel
// counts the table pointers stay in registers and a pixel's samples are all looked up before any is
// stored: a store of 8-bit samples may alias anything, and would otherwise reload the tables every time.
//
// The looked-up samples of a group of pixels that fills whole 8-byte words are put together in registers
// and stored a word at a time: the stores, one per sample otherwise, share the load ports' cycles with the
// table reads. Every sample of a group is read before any is written, so from and to may be the same.
template <class Sample, std::size_t... C>
void MapPixels(const Sample* from, Sample* to, std::size_t count, const WORD* const* tables,
               std::index_sequence<C...>) {
    constexpr std::size_t n = sizeof...(C);
    constexpr std::size_t kWordBytes = sizeof(std::uint64_t);
    constexpr std::size_t kPixelBytes = n * sizeof(Sample);
    constexpr std::size_t kGroup = kWordBytes / std::gcd(kWordBytes, kPixelBytes);
    constexpr std::size_t kGroupSamples = kGroup * n;
    constexpr std::size_t kGroupWords = kGroup * kPixelBytes / kWordBytes;
    const WORD* const t[n] = {tables[C]...};
    std::size_t i = 0;
    for (; i + kGroupSamples <= count * n; i += kGroupSamples) {
        // Sample S of the group, looked up and placed in its word.
        const auto placed = [&]<std::size_t S>(std::integral_constant<std::size_t, S>) {
            return std::uint64_t{static_cast<Sample>(t[S % n][from[i + S]])}
                   << (8 * (S * sizeof(Sample) % kWordBytes));
        };
        constexpr std::size_t kPerWord = kWordBytes / sizeof(Sample);
        // Word W of the group; its samples are all read before any word is stored.
        const auto word = [&]<std::size_t W, std::size_t... K>(std::integral_constant<std::size_t, W>,
                                                               std::index_sequence<K...>) {
            return (placed(std::integral_constant<std::size_t, W * kPerWord + K>{}) | ...);
        };
        [&]<std::size_t... W>(std::index_sequence<W...>) {
            const std::uint64_t words[kGroupWords] = {
                word(std::integral_constant<std::size_t, W>{}, std::make_index_sequence<kPerWord>{})...};
            (std::memcpy(to + i + W * kPerWord, &words[W], kWordBytes), ...);
        }
        (std::make_index_sequence<kGroupWords>{});
    }
    for (; i < count * n; i += n) {
        const Sample v[n] = {static_cast<Sample>(t[C][from[i + C]])...};
        ((to[i + C] = v[C]), ...);
    }
}

template <class Sample>
void MapRow(const Sample* from, Sample* to, LONG count, LONG channels, const WORD* const* tables) {
    const auto n = static_cast<std::size_t>(count);
    switch (channels) {
    case 1:
        return MapPixels(from, to, n, tables, std::make_index_sequence<1>{});
    case 3:
        return MapPixels(from, to, n, tables, std::make_index_sequence<3>{});
    case 4:
        return MapPixels(from, to, n, tables, std::make_index_sequence<4>{});
    default:
        for (std::size_t i = 0; i < n * static_cast<std::size_t>(channels); ++i)
            to[i] = static_cast<Sample>(tables[i % static_cast<std::size_t>(channels)][from[i]]);
    }
}

} // namespace

CPravonFilterLut::CPravonFilterLut(IPravonManager* manager) : CPravonFilterBase(manager, 1) {}

CPravonFilterLut::~CPravonFilterLut() = default;

LONG CPravonFilterLut::InstalledCount() const {
    LONG count = 0;
    while (count < kMaxTables && !m_stored[count].empty())
        ++count;
    return count;
}

IPravonError* CPravonFilterLut::SetLUT(const WORD* const* tables, LONG inputBits, LONG outputBits, LONG count,
                                       bool notify) {
    static constexpr WORD kIdentity[2] = {0, 1};
    const WORD* const identity[kMaxTables] = {kIdentity, kIdentity, kIdentity, kIdentity};
    if (!tables || count == 0) {
        tables = identity;
        inputBits = 1;
        outputBits = 1;
        count = kMaxTables;
    } else if (count < 1 || count > kMaxTables) {
        return PravonFail(kCode, PravonKind::kOutOfRange, "from one to four tables can be installed");
    } else if (inputBits < 1 || inputBits > kMaxBits || outputBits < 1 || outputBits > kMaxBits) {
        return PravonFail(kCode, PravonKind::kOutOfRange, "table depths go from 1 to 16 bits");
    }

    const std::size_t entries = std::size_t{1} << inputBits;
    const auto given = [&](LONG i, std::size_t k) {
        return tables[i] ? tables[i][k] : Ramp(k, inputBits, outputBits);
    };
    bool same = inputBits == m_inputBits && outputBits == m_outputBits;
    for (LONG i = 0; same && i < kMaxTables; ++i) {
        if (i >= count) {
            same = m_stored[i].empty();
            continue;
        }
        same = m_stored[i].size() == entries + 1;
        for (std::size_t k = 0; same && k < entries; ++k)
            same = m_stored[i][k] == given(i, k);
    }
    if (same)
        return nullptr;

    std::vector<WORD> stored[kMaxTables];
    try {
        for (LONG i = 0; i < count; ++i) {
            stored[i].resize(entries + 1);
            for (std::size_t k = 0; k < entries; ++k)
                stored[i][k] = given(i, k);
            // The spare entry is read, to no effect, where the interpolation reaches the last entry.
            stored[i][entries] = stored[i][entries - 1];
        }
    } catch (const std::bad_alloc&) {
        return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the tables");
    }
    for (LONG i = 0; i < kMaxTables; ++i)
        m_stored[i].swap(stored[i]);
    m_inputBits = inputBits;
    m_outputBits = outputBits;
    m_rebuild = true;
    m_version = NextTablesVersion();
    SetCacheCheck();
    if (!ShouldAnnounceChange(*this, notify))
        return nullptr;
    return AnnounceWholeSourceChange(*this, kCode);
}

void CPravonFilterLut::GetLUTInfo(LONG* inputBits, LONG* outputBits, LONG* count) const {
    if (inputBits)
        *inputBits = m_inputBits;
    if (outputBits)
        *outputBits = m_outputBits;
    if (count)
        *count = m_inputBits == 0 ? 0 : InstalledCount();
}

IPravonError* CPravonFilterLut::GetLUT(WORD* const* tables, LONG inputBits, LONG outputBits,
                                       LONG count) const {
    if (count < 0 || count > InstalledCount())
        return PravonFail(kCode, PravonKind::kOutOfRange, "fewer tables are installed");
    if (inputBits < 0 || inputBits > m_inputBits || outputBits < 0 || outputBits > m_outputBits)
        return PravonFail(kCode, PravonKind::kOutOfRange, "the installed tables have fewer bits");
    if (count > 0 && !tables)
        return PravonFail(kCode, PravonKind::kBadArgument, "no tables to copy into");
    for (LONG i = 0; i < count; ++i)
        if (!tables[i])
            return PravonFail(kCode, PravonKind::kBadArgument, "no table to copy into");
    const std::size_t entries = std::size_t{1} << inputBits;
    for (LONG i = 0; i < count; ++i)
        std::copy_n(m_stored[i].begin(), entries, tables[i]);
    return nullptr;
}

void CPravonFilterLut::Rebuild(const std::vector<WORD>& stored, LONG sourceBits,
                               std::vector<WORD>* working) const {
    const std::int64_t last = (std::int64_t{1} << sourceBits) - 1;
    const std::int64_t u = (std::int64_t{1} << m_inputBits) - 1;
    const std::int64_t v = (std::int64_t{1} << m_outputBits) - 1;
    const LONG out = m_outputBits;
    // Tables as deep on both sides as the source are used as stored, held to the depth.
    if (u == last && out == sourceBits) {
        working->resize(stored.size());
        std::transform(stored.begin(), stored.end(), working->begin(),
                       [last](WORD s) { return static_cast<WORD>(std::min<std::int64_t>(s, last)); });
        return;
    }
    // Stored values brought to the source's depth; a value beyond its own depth cannot pass the largest.
    std::vector<std::int64_t> scaled(stored.size());
    for (std::size_t k = 0; k < stored.size(); ++k) {
        const std::int64_t s = stored[k];
        std::int64_t r = s;
        if (out < sourceBits)
            // Shallow tables are stretched; others repeat their high bits below them.
            r = 2 * out < sourceBits ? s * last / v
                                     : (s << (sourceBits - out)) | (s >> (2 * out - sourceBits));
        else if (out > sourceBits)
            r = s >> (out - sourceBits);
        scaled[k] = std::min(r, last);
    }
    working->resize(static_cast<std::size_t>(last) + 1);
    if (u < last) {
        // Entry k lies between stored values i = k u / last and i + 1, at the fraction f = k u % last, and
        // takes (s[i + 1] - s[i]) f / last of the step, rounded toward zero. From one entry to the next f
        // grows by u, carried into i at last; the step's magnitude times f is kept as a quotient and a
        // remainder by last that grow by the step's own, so that only a change of i divides.
        std::int64_t i = 0, f = 0, step = 0, quotient = 0, remainder = 0, growth = 0, growthRest = 0;
        const auto startStep = [&] {
            step = i < u ? scaled[i + 1] - scaled[i] : 0;
            const std::int64_t size = step < 0 ? -step : step;
            quotient = size * f / last;
            remainder = size * f % last;
            growth = size * u / last;
            growthRest = size * u % last;
        };
        startStep();
        for (std::int64_t k = 0; k <= last; ++k) {
            (*working)[k] = static_cast<WORD>(scaled[i] + (step < 0 ? -quotient : quotient));
            f += u;
            if (f >= last) {
                f -= last;
                ++i;
                startStep();
            } else {
                quotient += growth;
                remainder += growthRest;
                if (remainder >= last) {
                    remainder -= last;
                    ++quotient;
                }
            }
        }
        return;
    }
    for (std::int64_t k = 0; k <= last; ++k) {
        std::int64_t entry;
        if (u > last) {
            entry = scaled[k * u / last];
        } else {
            entry = scaled[k];
        }
        (*working)[k] = static_cast<WORD>(entry);
    }
}

IPravonError* CPravonFilterLut::PrepareWorkingTables(LONG sourceBits) {
    if (!m_rebuild && sourceBits == m_sourceBits)
        return nullptr;
    std::vector<WORD> working[kMaxTables];
    try {
        for (LONG i = 0; i < kMaxTables && !m_stored[i].empty(); ++i)
            Rebuild(m_stored[i], sourceBits, &working[i]);
    } catch (const std::bad_alloc&) {
        return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the working tables");
    }
    for (LONG i = 0; i < kMaxTables; ++i)
        m_working[i].swap(working[i]);
    m_rebuild = false;
    m_sourceBits = sourceBits;
    return nullptr;
}

IPravonError* CPravonFilterLut::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return e;
        LONG colorSpace = 0;
        if (IPravonError* e = source->GetColorSpace(&colorSpace))
            return PravonContext(e, kCode, "cannot read the source's colour space");
        if (!Mapped(colorSpace))
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace, "Bad source data color space");
        if (out.colorSpace != colorSpace)
            return PravonFail(kCode, PravonKind::kInvalidState,
                              "the output tile is not in the source's format");
        const LONG channels = Cs::Channels(colorSpace);
        if (InstalledCount() < channels)
            return PravonFail(kCode, PravonKind::kInvalidState, "fewer tables than the source has channels");
        // The stages before this one that feed it, composed with this one's tables.
        if (IPravonError* e = m_run.Find(source, colorSpace, this))
            return e;
        const std::size_t pixelBytes = static_cast<std::size_t>(channels * Cs::BitsPerSample(colorSpace) / 8);
        if (IPravonError* e = ClearOutsideSource(m_run.GetSource(), out, static_cast<LONG>(pixelBytes * 8)))
            return e;
        return ForEachSourcePart(
            m_run.GetSource(), out.invalid, [&](const CSourcePart& piece) -> IPravonError* {
                const CPravonRect& part = piece.part;
                for (LONG y = part.top; y < part.bottom; ++y)
                    m_run.MapRow(piece.Row(y) + (part.left - piece.tileRect.left) * pixelBytes,
                                 out.Row(y) + (part.left - out.rect.left) * pixelBytes, part.Width());
                return nullptr;
            });
    });
}

namespace {

IPravonDataSource* FirstSourceOf(const CPravonFilterBase& filter) {
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    filter.GetSources(&sources, &count);
    return count > 0 ? sources[0] : nullptr;
}

} // namespace

IPravonError* CPravonFilterLut::CRun::Find(IPravonDataSource* source, LONG colorSpace,
                                           CPravonFilterLut* last) {
    const LONG channels = Cs::Channels(colorSpace);
    std::vector<Link> links;
    IPravonDataSource* base = source;
    try {
        // Upward from the consumer: stages that pass their source on are looked through, lookup-table
        // stages joined; anything else is the run's source.
        for (IPravonDataSource* node = source; Mapped(colorSpace) && node;) {
            auto* filter = dynamic_cast<CPravonFilterBase*>(node);
            if (!filter)
                break;
            if (filter->IsEnabled() && !filter->IsPassThrough()) {
                auto* stage = dynamic_cast<CPravonFilterLut*>(filter);
                if (!stage || !stage->m_readThrough || stage->InstalledCount() < channels)
                    break;
                links.push_back({stage, stage->m_version});
                base = FirstSourceOf(*stage);
            }
            node = FirstSourceOf(*filter);
        }
        std::reverse(links.begin(), links.end());
        if (last)
            links.push_back({last, last->m_version});
    } catch (const std::bad_alloc&) {
        return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the stages to compose");
    }
    if (links.empty())
        base = source;
    m_source = base;
    const LONG bits = Cs::BitsPerSample(colorSpace);
    if (links == m_links && bits == m_bits && channels == m_channels)
        return nullptr;

    // Each channel's codes through every stage in turn.
    std::vector<WORD> tables[kMaxTables];
    try {
        for (LONG c = 0; c < channels && !links.empty(); ++c) {
            tables[c].resize(std::size_t{1} << bits);
            std::iota(tables[c].begin(), tables[c].end(), WORD{0});
        }
        for (const Link& link : links) {
            if (IPravonError* e = link.stage->PrepareWorkingTables(bits))
                return e;
            for (LONG c = 0; c < channels; ++c) {
                const std::vector<WORD>& stage = link.stage->m_working[c];
                for (WORD& v : tables[c])
                    v = stage[v];
            }
        }
    } catch (const std::bad_alloc&) {
        return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the composed tables");
    }
    for (LONG c = 0; c < kMaxTables; ++c)
        m_tables[c].swap(tables[c]);
    m_links = std::move(links);
    m_bits = bits;
    m_channels = channels;
    return nullptr;
}

void CPravonFilterLut::CRun::GetTables(const WORD* tables[kMaxTables]) const {
    for (LONG c = 0; c < kMaxTables; ++c)
        tables[c] = c < m_channels && !m_tables[c].empty() ? m_tables[c].data() : nullptr;
}

void CPravonFilterLut::CRun::MapRow(const BYTE* from, BYTE* to, LONG count) const {
    // Samples are looked up one at a time: the table reads are the whole cost, and plain loads keep up
    // with them where eight-lane gathers (measured on 16-bit RGB) take nearly twice as long.
    const WORD* tables[kMaxTables] = {};
    for (LONG c = 0; c < m_channels; ++c)
        tables[c] = m_tables[c].data();
    if (m_bits == 8)
        ::MapRow(from, to, count, m_channels, tables);
    else
        ::MapRow(reinterpret_cast<const WORD*>(from), reinterpret_cast<WORD*>(to), count, m_channels, tables);
}
