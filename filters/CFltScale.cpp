#include "CFltScale.h"

#include "filters/engine/CPixelPtr.h"
#include "filters/engine/CSourceTileCursor.h"
#include "filters/engine/ClearUncovered.h"
#include "filters/engine/ForEachSourcePart.h"
#include "filters/engine/Int32Math.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

using Routine = CScalePipeline::Routine;
using Int32Math::CeilDiv;
using Int32Math::Saturate;

// Beyond this a doubled reduced size would leave 32 bits.
constexpr LONG kMaxSide = (1 << 30) - 1;
// Planes are padded to multiples of this many samples.
constexpr std::size_t kPlaneAlign = 8;
// Bits 8 to 16 of a colour-space code: 0 or kColourBits for the codes the separable methods take.
constexpr ULONG kModelMask = 0x1FF00;
constexpr ULONG kColourBits = 0x200;
// Codes below this have fewer than 8 bits per sample.
constexpr ULONG kWholeByteCodes = 0x08000000;

std::size_t Padded(std::int64_t count) {
    return (static_cast<std::size_t>(count) + kPlaneAlign - 1) / kPlaneAlign * kPlaneAlign;
}

FltScaleRoutines::Kernel KernelOf(Routine routine) {
    switch (routine) {
    case Routine::Area:
        return FltScaleRoutines::kArea;
    case Routine::Linear:
        return FltScaleRoutines::kLinear;
    case Routine::Cubic:
        return FltScaleRoutines::kCubic;
    default:
        return FltScaleRoutines::kCopy;
    }
}

// A buffer set taken from the pool for one tile, given back on every path.
class CPooledSet {
public:
    explicit CPooledSet(TThreadDataMgr<CFltScale::BufSet>& pool) : m_pool(pool), m_set(pool.Acquire()) {}
    ~CPooledSet() {
        if (m_set)
            m_pool.Release(m_set);
    }
    CPooledSet(const CPooledSet&) = delete;
    CPooledSet& operator=(const CPooledSet&) = delete;
    CFltScale::BufSet* Get() const { return m_set; }

private:
    TThreadDataMgr<CFltScale::BufSet>& m_pool;
    CFltScale::BufSet* m_set;
};

} // namespace

struct CFltScale::Geometry {
    LONG method = 0;
    LONG sourceWidth = 0;
    LONG sourceHeight = 0;
    LONG outputWidth = 0;
    LONG outputHeight = 0;
    LONG colorSpace = 0;
    LONG channels = 0;
    LONG bitsPerPixel = 0;
    BYTE flags = 0;
    LONG reducedSourceWidth = 0;
    LONG reducedSourceHeight = 0;
    LONG reducedOutputWidth = 0;
    LONG reducedOutputHeight = 0;
    // ceil(2^32 / v) and 1 / v of the reduced source width, source height, output width, output height.
    ULONG reciprocal[4] = {};
    double inverse[4] = {};
    Routine horizontal = Routine::None;
    Routine vertical = Routine::None;
    std::vector<CScaleTableEntry> hTable;
    std::vector<CScaleTableEntry> vTable;

    bool Matches(LONG m, LONG sw, LONG sh, LONG ow, LONG oh, LONG cs) const {
        return m == method && sw == sourceWidth && sh == sourceHeight && ow == outputWidth &&
               oh == outputHeight && cs == colorSpace;
    }
};

bool CFltScale::CSampleBuffer::Reserve(std::size_t count) {
    if (count <= m_capacity)
        return true;
    if (count > SIZE_MAX / sizeof(std::uint16_t))
        return false;
    void* p = ::operator new[](count * sizeof(std::uint16_t), std::align_val_t{16}, std::nothrow);
    if (!p)
        return false;
    std::memset(p, 0, count * sizeof(std::uint16_t));
    m_data.reset(static_cast<std::uint16_t*>(p));
    m_capacity = count;
    return true;
}

void CFltScale::CSampleBuffer::Free::operator()(std::uint16_t* p) const {
    ::operator delete[](p, std::align_val_t{16});
}

CFltScale::CFltScale(IPravonManager* manager, LONG method) : CPravonFilterScale(manager, method) {}

CFltScale::~CFltScale() = default;

IPravonError* CFltScale::Prepare(LONG sourceWidth, LONG sourceHeight, LONG outputWidth, LONG outputHeight,
                                 LONG colorSpace, std::shared_ptr<const Geometry>* geometry) {
    const LONG method = GetMethod();
    std::lock_guard<std::mutex> hold(m_setupLock);
    if (m_geometry &&
        m_geometry->Matches(method, sourceWidth, sourceHeight, outputWidth, outputHeight, colorSpace)) {
        *geometry = m_geometry;
        return nullptr;
    }

    const auto code = static_cast<ULONG>(colorSpace);
    const LONG bitsPerSample = PravonColorSpace::BitsPerSample(colorSpace);
    const LONG channels = PravonColorSpace::Channels(colorSpace);
    const LONG bitsPerPixel = PravonColorSpace::BitsPerPixel(colorSpace);
    // The separable methods read whole 8- or 16-bit samples of 1, 3 or 4 channels; nearest neighbour
    // copies pixels of any size unchanged.
    const ULONG model = code & kModelMask;
    const bool separableTakes = (model == 0 || model == kColourBits) &&
                                (bitsPerSample == 8 || bitsPerSample == 16) &&
                                FltScaleRoutines::ChannelSlot(channels) >= 0;
    if (method != 0 ? !separableTakes : bitsPerPixel <= 0)
        return PravonFail(kCode, PravonKind::kUnsupportedColorSpace, "Bad source data color space");
    if (sourceWidth < 0 || sourceHeight < 0 || outputWidth < 0 || outputHeight < 0 ||
        sourceWidth > kMaxSide || sourceHeight > kMaxSide || outputWidth > kMaxSide ||
        outputHeight > kMaxSide)
        return PravonFail(kCode, PravonKind::kOutOfRange,
                          "image size out of the range the scale routines take");

    try {
        auto g = std::make_shared<Geometry>();
        g->method = method;
        g->sourceWidth = sourceWidth;
        g->sourceHeight = sourceHeight;
        g->outputWidth = outputWidth;
        g->outputHeight = outputHeight;
        g->colorSpace = colorSpace;
        g->channels = channels;
        g->bitsPerPixel = bitsPerPixel;
        BYTE flags = 0;
        if (sourceWidth < outputWidth)
            flags |= CScalePipeline::kEnlargeX;
        if (sourceWidth > outputWidth)
            flags |= CScalePipeline::kReduceX;
        if (sourceHeight < outputHeight)
            flags |= CScalePipeline::kEnlargeY;
        if (sourceHeight > outputHeight)
            flags |= CScalePipeline::kReduceY;
        if (bitsPerSample == 16)
            flags |= CScalePipeline::k16Bit;
        if (code < kWholeByteCodes)
            flags |= CScalePipeline::kSubByte;
        g->flags = flags;
        CScalePipeline::ReduceRatio(sourceWidth, outputWidth, &g->reducedSourceWidth, &g->reducedOutputWidth);
        CScalePipeline::ReduceRatio(sourceHeight, outputHeight, &g->reducedSourceHeight,
                                    &g->reducedOutputHeight);
        const LONG reduced[4] = {g->reducedSourceWidth, g->reducedSourceHeight, g->reducedOutputWidth,
                                 g->reducedOutputHeight};
        for (int i = 0; i < 4; ++i) {
            g->reciprocal[i] = CScalePipeline::Reciprocal(reduced[i]);
            g->inverse[i] = reduced[i] > 0 ? 1.0 / reduced[i] : 0.0;
        }
        // Method values beyond the three take the cubic routines, with the four rows they need.
        const auto choose = [&](bool enlarge, bool reduce, LONG S, LONG D, LONG count,
                                std::vector<CScaleTableEntry>* table) {
            if (enlarge && method == 1) {
                CScalePipeline::BuildLinearTable(S, D, count, table);
                return Routine::Linear;
            }
            if (enlarge) {
                CScalePipeline::BuildCubicTable(S, D, count, table);
                for (CScaleTableEntry& e : *table) {
                    e.tap[0] = -e.tap[0];
                    e.tap[3] = -e.tap[3];
                }
                return Routine::Cubic;
            }
            if (reduce) {
                CScalePipeline::BuildAreaTable(S, D, count, table);
                return Routine::Area;
            }
            return Routine::Copy;
        };
        if (method != 0) {
            g->horizontal = choose(flags & CScalePipeline::kEnlargeX, flags & CScalePipeline::kReduceX,
                                   g->reducedSourceWidth, g->reducedOutputWidth, outputWidth, &g->hTable);
            g->vertical = choose(flags & CScalePipeline::kEnlargeY, flags & CScalePipeline::kReduceY,
                                 g->reducedSourceHeight, g->reducedOutputHeight, outputHeight, &g->vTable);
        }
        m_geometry = std::move(g);
    } catch (const std::bad_alloc&) {
        return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the scale tables");
    }
    *geometry = m_geometry;
    return nullptr;
}

IPravonError* CFltScale::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        CTileSource from;
        if (IPravonError* e = ReadTileSource(info, out, &from))
            return e;
        if (!from.source)
            return nullptr;
        std::shared_ptr<const Geometry> g;
        if (IPravonError* e = Prepare(from.sourceWidth, from.sourceHeight, from.outputWidth,
                                      from.outputHeight, from.colorSpace, &g))
            return e;
        const CPravonRect rect =
            out.invalid.Intersect(CPravonRect(0, 0, from.outputWidth, from.outputHeight));
        ClearOutside(out, rect, IPravonDataSource::GetBitsPerPixel(from.colorSpace));
        if (rect.Empty())
            return nullptr;
        IPravonDataSource* source = from.source;
        try {
            if (g->method == 0)
                return RunNearest(*g, source, out, rect);
            CPooledSet set(m_pool);
            if (!set.Get())
                return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for a buffer set");
            return RunSeparable(*g, source, out, rect, set.Get());
        } catch (const std::bad_alloc&) {
            return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the scale buffers");
        }
    });
}

IPravonError* CFltScale::RunNearest(const Geometry& g, IPravonDataSource* source, const COutputTile& out,
                                    const PravonRect& rect) {
    const LONG width = rect.right - rect.left;
    const LONG height = rect.bottom - rect.top;
    const LONG bits = g.bitsPerPixel;
    std::vector<std::int64_t> column(static_cast<std::size_t>(width));
    std::vector<std::int64_t> row(static_cast<std::size_t>(height));
    for (LONG i = 0; i < width; ++i)
        column[i] = std::clamp<std::int64_t>(
            CScalePipeline::NearestSource(rect.left + i, g.reducedSourceWidth, g.reducedOutputWidth), 0,
            g.sourceWidth - 1);
    for (LONG j = 0; j < height; ++j)
        row[j] = std::clamp<std::int64_t>(
            CScalePipeline::NearestSource(rect.top + j, g.reducedSourceHeight, g.reducedOutputHeight), 0,
            g.sourceHeight - 1);

    // The chosen columns and rows never fall: those a source tile holds are one run of output positions.
    struct Run {
        LONG start;
        LONG end;
    };
    const auto runIn = [](const std::vector<std::int64_t>& chosen, LONG from, LONG to) {
        return Run{static_cast<LONG>(std::lower_bound(chosen.begin(), chosen.end(), from) - chosen.begin()),
                   static_cast<LONG>(std::lower_bound(chosen.begin(), chosen.end(), to) - chosen.begin())};
    };
    const auto feeds = [&](const PravonRect& tile) {
        const Run columns = runIn(column, tile.left, tile.right);
        const Run rows = runIn(row, tile.top, tile.bottom);
        return columns.start < columns.end && rows.start < rows.end;
    };
    // Pixels are copied as bit runs, so that 1-, 2- and 4-bit pixels take the same walk as whole bytes.
    const auto copyBits = [](BYTE* to, std::int64_t toBit, const BYTE* from, std::int64_t fromBit,
                             std::int64_t count) {
        PravonPixelCursors::detail::CopyBitRun(to + toBit / 8, static_cast<LONG>(toBit % 8),
                                               from + fromBit / 8, static_cast<LONG>(fromBit % 8), count);
    };
    const PravonRect needed{static_cast<LONG>(column.front()), static_cast<LONG>(row.front()),
                            static_cast<LONG>(column.back() + 1), static_cast<LONG>(row.back() + 1)};
    const std::int64_t outLeft = rect.left - out.rect.left;
    CSourceWalk walk;
    walk.wanted = feeds;
    IPravonError* err = ForEachSourcePart(
        source, needed,
        [&](const CSourcePart& piece) -> IPravonError* {
            const Run columns = runIn(column, piece.tileRect.left, piece.tileRect.right);
            const Run rows = runIn(row, piece.tileRect.top, piece.tileRect.bottom);
            const std::int64_t runBits = std::int64_t{columns.end - columns.start} * bits;
            const std::int64_t firstBit = (outLeft + columns.start) * bits;
            for (LONG j = rows.start; j < rows.end; ++j) {
                BYTE* to = out.Row(rect.top + j);
                if (j > rows.start && row[j] == row[j - 1]) {
                    copyBits(to, firstBit, to - out.rowBytes, firstBit, runBits);
                    continue;
                }
                const BYTE* from = piece.Row(static_cast<LONG>(row[j]));
                if (bits % 8 == 0) {
                    const LONG bytes = bits / 8;
                    BYTE* target = to + firstBit / 8;
                    for (LONG i = columns.start; i < columns.end; ++i, target += bytes)
                        PravonPixelCursors::detail::CopyPixelBytes(
                            target, from + (column[i] - piece.tileRect.left) * bytes, bytes);
                    continue;
                }
                for (LONG i = columns.start; i < columns.end; ++i)
                    copyBits(to, (outLeft + i) * bits, from, (column[i] - piece.tileRect.left) * bits, bits);
            }
            return nullptr;
        },
        walk);
    return PravonContext(err, kCode, "cannot read the source tiles");
}

IPravonError* CFltScale::RunSeparable(const Geometry& g, IPravonDataSource* source, const COutputTile& out,
                                      const PravonRect& rect, BufSet* set) {
    const FltScaleRoutines::Routines& routines = FltScaleRoutines::Choose();
    const LONG ch = g.channels;
    const int slot = FltScaleRoutines::ChannelSlot(ch);
    const bool wide = (g.flags & CScalePipeline::k16Bit) != 0;
    const LONG width = rect.right - rect.left;
    const std::size_t padded = Padded(width);
    set->tileWidth = width;
    set->paddedWidth = static_cast<LONG>(padded);
    set->horizontalPosition = rect.left;

    const CScaleTableEntry* hEntries = g.hTable.empty() ? nullptr : g.hTable.data() + rect.left;
    set->index.resize(static_cast<std::size_t>(width));
    std::int64_t spanStart = rect.left;
    std::int64_t spanLength = width;
    CScalePipeline::ColumnWindows(g.horizontal, g.method, hEntries, rect.left, width, g.reducedSourceWidth,
                                  g.reducedOutputWidth, set->index.data(), &spanStart, &spanLength);

    const LONG Sv = g.reducedSourceHeight;
    const LONG Dv = g.reducedOutputHeight;
    std::int64_t ringRows = 1;
    std::int64_t firstRow = rect.top;
    if (g.vertical == Routine::Linear || g.vertical == Routine::Cubic) {
        ringRows = g.vertical == Routine::Linear ? 2 : 4;
        firstRow = CScalePipeline::EnlargeStart(rect.top, Sv, Dv) - (ringRows / 2 - 1);
    } else if (g.vertical == Routine::Area) {
        ringRows = CeilDiv(Sv, Dv) + 1;
        firstRow = CScalePipeline::ReduceStart(rect.top, Sv, Dv);
    }
    set->ringRows = static_cast<LONG>(ringRows);

    const std::size_t spanStride = Padded(spanLength);
    const std::size_t rowSamples = padded * static_cast<std::size_t>(ch);
    if (!set->span.Reserve(spanStride * ch) ||
        !set->ring.Reserve(static_cast<std::size_t>(ringRows) * rowSamples) ||
        !set->output.Reserve(rowSamples))
        return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the scale buffers");

    const FltScaleRoutines::Unpack unpack = wide ? routines.unpack16[slot] : routines.unpack8[slot];
    const FltScaleRoutines::Pack pack = wide ? routines.pack16[slot] : routines.pack8[slot];
    const FltScaleRoutines::Horizontal horizontal = routines.horizontal[KernelOf(g.horizontal)];
    const FltScaleRoutines::Vertical vertical = routines.vertical[KernelOf(g.vertical)];

    FltScaleRoutines::HorizontalJob hj;
    hj.channels = ch;
    hj.count = width;
    hj.span = set->span.Data();
    hj.spanStride = spanStride;
    hj.rowStride = padded;
    hj.index = set->index.data();
    hj.entries = hEntries;
    hj.wholeWeight = g.reducedOutputWidth;
    hj.inverse = g.horizontal == Routine::Linear ? g.inverse[2] : g.inverse[0];

    CSourceTileCursor cursor(source, Saturate(g.reducedSourceWidth / g.reducedOutputWidth + 3));
    std::uint16_t* ring = set->ring.Data();
    std::int64_t head = 0;
    std::int64_t next = firstRow;
    std::int64_t fetched = 0;
    // One source row through the unpack and horizontal routines into the ring's newest row; columns
    // outside the source read the edge pixel, as the cursor clamps them.
    auto fetch = [&]() -> IPravonError* {
        const LONG y = Saturate(next);
        const std::int64_t end = spanStart + spanLength;
        std::int64_t x = spanStart;
        while (x < end) {
            if (IPravonError* e = cursor.MoveTo(static_cast<LONG>(x), y))
                return PravonContext(e, kCode, "cannot read a source row");
            const BYTE* p = cursor.GetPtr();
            std::uint16_t* to = set->span.Data() + (x - spanStart);
            if (cursor.IsOutsideX()) {
                const std::int64_t run = x < 0 ? std::min<std::int64_t>(end, 0) - x : end - x;
                for (std::int64_t i = 0; i < run; ++i)
                    unpack(p, 1, to + i, spanStride);
                x += run;
            } else {
                const std::int64_t run =
                    std::min<std::int64_t>(std::int64_t{cursor.GetPixelsRight()} + 1, end - x);
                unpack(p, static_cast<LONG>(run), to, spanStride);
                x += run;
            }
        }
        hj.row = ring + static_cast<std::size_t>(head) * rowSamples;
        horizontal(hj);
        head = head + 1 == ringRows ? 0 : head + 1;
        ++next;
        ++fetched;
        return nullptr;
    };
    for (std::int64_t i = 0; i < ringRows; ++i)
        if (IPravonError* e = fetch())
            return e;

    std::vector<const std::uint16_t*> rows(static_cast<std::size_t>(ringRows));
    FltScaleRoutines::VerticalJob vj;
    vj.channels = ch;
    vj.rows = rows.data();
    vj.stride = padded;
    vj.entry = &set->verticalEntry;
    vj.wholeWeight = Dv;
    vj.inverse = g.vertical == Routine::Linear ? g.inverse[3] : g.inverse[1];
    vj.output = set->output.Data();
    const std::ptrdiff_t outOffset =
        static_cast<std::ptrdiff_t>(rect.left - out.rect.left) * (g.bitsPerPixel / 8);
    for (LONG y = rect.top; y < rect.bottom; ++y) {
        for (std::int64_t i = 0; i < ringRows; ++i)
            rows[static_cast<std::size_t>(i)] =
                ring + static_cast<std::size_t>((head + i) % ringRows) * rowSamples;
        set->verticalEntry = g.vTable.empty() ? CScaleTableEntry{} : g.vTable[static_cast<std::size_t>(y)];
        pack(vertical(vj), padded, width, out.Row(y) + outOffset);
        if (y + 1 == rect.bottom)
            break;
        std::int64_t until = next + 1;
        if (g.vertical == Routine::Linear || g.vertical == Routine::Cubic)
            until = set->verticalEntry.advance ? next + 1 : next;
        else if (g.vertical == Routine::Area)
            until = ringRows + CScalePipeline::ReduceStart(std::int64_t{y} + 1, Sv, Dv);
        while (next < until)
            if (IPravonError* e = fetch())
                return e;
    }
    m_lastFetched = fetched;
    return nullptr;
}
