#include "CScalePipeline.h"

#include "filters/CScaleRows.h"
#include "filters/engine/CSourceTileCursor.h"
#include "filters/engine/ForEachSourcePart.h"
#include "filters/engine/Int32Math.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <new>
#include <utility>

namespace {

// Beyond this a doubled reduced size would leave 32 bits.
constexpr LONG kMaxSide = (1 << 30) - 1;
// Windows of more taps (reductions beyond 1 : 60) take the plain horizontal routines.
constexpr LONG kMaxSimdTaps = 64;
// Nearest neighbour asks for the pixels of the row this many chosen rows ahead while it copies one, and
// for as many rows at once when it starts on a source tile.
constexpr LONG kNearestPrefetchRows = 5;
// ... and for its output run this many rows below the one it writes, where output rows are longer than
// kWriteAheadRow bytes.
constexpr LONG kNearestWriteAheadRows = 4;
constexpr std::int64_t kWriteAheadRow = 1024;
// The resampling methods ask for the row this many rows ahead while they gather one.
constexpr LONG kGatherPrefetchRows = 2;
constexpr std::ptrdiff_t kCacheLine = 64;

using Int32Math::CeilDiv;
using Int32Math::FloorDiv;
using Int32Math::Saturate;

} // namespace

// Plans by output columns and source tile columns: (output left, output right, tile left, tile right).
struct CScalePipeline::NearestPlans {
    // Beyond this many the plans are made again as they come, so that memory stays bounded.
    static constexpr std::size_t kMaxPlans = 4096;
    std::map<std::array<LONG, 4>, ScaleRows::NearestPlan> plans;
};

CScalePipeline::CScalePipeline(LONG component)
    : m_component(component), m_plans(std::make_unique<NearestPlans>()) {}

CScalePipeline::~CScalePipeline() = default;

void CScalePipeline::ReduceRatio(LONG source, LONG output, LONG* reducedSource, LONG* reducedOutput) {
    std::int64_t s = source;
    std::int64_t d = output;
    if (source > 1) {
        std::int64_t divisor = 2;
        while (d >= divisor) {
            if (s % divisor == 0 && d % divisor == 0) {
                s /= divisor;
                d /= divisor;
            } else {
                divisor = (divisor + 1) | 1;
            }
            if (s < divisor)
                break;
        }
    }
    if (s == 1 || d == 1) {
        s *= 2;
        d *= 2;
    }
    *reducedSource = Saturate(s);
    *reducedOutput = Saturate(d);
}

ULONG CScalePipeline::Reciprocal(LONG value) {
    if (value < 1)
        return 0;
    const double r = std::ceil(4294967296.0 / static_cast<double>(value));
    // Only a value of 1 reaches 2^32, and reduced sizes are never 1.
    return r >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<ULONG>(r);
}

void CScalePipeline::BuildLinearTable(LONG S, LONG D, LONG count, std::vector<CScaleTableEntry>* table) {
    table->assign(static_cast<std::size_t>(std::max<LONG>(count, 0)), CScaleTableEntry{});
    const std::int64_t twoD = 2 * std::int64_t{D};
    std::int64_t c = std::int64_t{S} + D;
    for (CScaleTableEntry& e : *table) {
        e.word[1] = static_cast<std::uint32_t>(c);
        e.word[0] = static_cast<std::uint32_t>(twoD - c);
        c += 2 * std::int64_t{S};
        if (c >= twoD) {
            e.advance = 1;
            c -= twoD;
        }
    }
}

void CScalePipeline::BuildCubicTable(LONG S, LONG D, LONG count, std::vector<CScaleTableEntry>* table) {
    table->assign(static_cast<std::size_t>(std::max<LONG>(count, 0)), CScaleTableEntry{});
    const std::int64_t twoD = 2 * std::int64_t{D};
    std::int64_t c = std::int64_t{S} + D;
    for (CScaleTableEntry& e : *table) {
        const double t = static_cast<double>(c) / static_cast<double>(twoD);
        const double t2 = t * t;
        const double t3 = t2 * t;
        const double w[4] = {-0.5 * t3 + t2 - 0.5 * t, 1.5 * t3 - 2.5 * t2 + 1, -1.5 * t3 + 2 * t2 + 0.5 * t,
                             0.5 * t3 - 0.5 * t2};
        for (int k = 0; k < 4; ++k) {
            // The weight is held in single precision before it is rounded, ties to even.
            const float scaled = static_cast<float>(w[k] * 16384.0);
            e.tap[k] = static_cast<std::int16_t>(std::nearbyint(scaled));
        }
        c += 2 * std::int64_t{S};
        if (c >= twoD) {
            e.advance = 1;
            c -= twoD;
        }
    }
}

void CScalePipeline::BuildAreaTable(LONG S, LONG D, LONG count, std::vector<CScaleTableEntry>* table) {
    table->assign(static_cast<std::size_t>(std::max<LONG>(count, 0)), CScaleTableEntry{});
    if (D < 1)
        return;
    std::int64_t c = 0;
    for (CScaleTableEntry& e : *table) {
        const std::int64_t last = (S + c) % D;
        e.word[0] = static_cast<std::uint32_t>(D - c);
        e.word[1] = static_cast<std::uint32_t>(last);
        e.word[2] = static_cast<std::uint32_t>((c + S - last - D) / D);
        c = last;
    }
}

std::int64_t CScalePipeline::EnlargeStart(std::int64_t x, LONG S, LONG D) {
    if (D < 1)
        return 0;
    return FloorDiv((2 * x + 1) * S - D, 2 * std::int64_t{D});
}

std::int64_t CScalePipeline::ReduceStart(std::int64_t x, LONG S, LONG D) {
    if (D < 1)
        return 0;
    return FloorDiv(S * x, D);
}

std::int64_t CScalePipeline::NearestSource(std::int64_t x, LONG S, LONG D) {
    if (D < 1)
        return 0;
    return CeilDiv((2 * x + 1) * S, 2 * std::int64_t{D}) - 1;
}

void CScalePipeline::NearestSources(std::int64_t first, LONG count, LONG S, LONG D, std::int64_t last,
                                    std::int64_t* out) {
    if (count < 1)
        return;
    if (D < 1 || S < 1) {
        std::fill(out, out + count, std::int64_t{0});
        return;
    }
    // ceil(n / 2D) - 1 is floor((n - 1) / 2D): n - 1 = (2x + 1) S - 1 grows by 2S a position.
    const std::int64_t twoD = 2 * std::int64_t{D};
    const std::int64_t twoS = 2 * std::int64_t{S};
    const std::int64_t stepWhole = twoS / twoD;
    const std::int64_t stepPart = twoS % twoD;
    const std::int64_t n = (2 * first + 1) * S - 1;
    std::int64_t whole = FloorDiv(n, twoD);
    std::int64_t part = n - whole * twoD;
    for (LONG i = 0; i < count; ++i) {
        out[i] = std::clamp<std::int64_t>(whole, 0, last);
        whole += stepWhole;
        part += stepPart;
        if (part >= twoD) {
            part -= twoD;
            ++whole;
        }
    }
}

void CScalePipeline::ColumnWindows(Routine routine, LONG method, const CScaleTableEntry* entries, LONG x0,
                                   LONG count, LONG S, LONG D, std::int32_t* index, std::int64_t* spanStart,
                                   std::int64_t* spanLength) {
    *spanStart = x0;
    *spanLength = count;
    switch (routine) {
    case Routine::Linear:
    case Routine::Cubic: {
        const std::int64_t taps = KernelTaps(method);
        *spanStart = EnlargeStart(x0, S, D) - (taps / 2 - 1);
        std::int64_t position = 0;
        for (LONG i = 0; i < count; ++i) {
            index[i] = static_cast<std::int32_t>(position);
            position += entries[i].advance;
        }
        *spanLength = count > 0 ? index[count - 1] + taps : 0;
        break;
    }
    case Routine::Area: {
        *spanStart = ReduceStart(x0, S, D);
        std::int64_t position = 0;
        *spanLength = 0;
        for (LONG i = 0; i < count; ++i) {
            index[i] = static_cast<std::int32_t>(position);
            // The last partial pixel is read even when it weighs nothing.
            *spanLength = std::max<std::int64_t>(*spanLength, position + entries[i].word[2] + 2);
            position += 1 + std::int64_t{entries[i].word[2]};
        }
        break;
    }
    default:
        for (LONG i = 0; i < count; ++i)
            index[i] = i;
        break;
    }
}

bool CScalePipeline::ReadColorSpace(LONG colorSpace, LONG* channels, bool* sixteenBit) {
    const LONG bits = IPravonDataSource::GetBitsPerPixel(colorSpace);
    switch (colorSpace) {
    case PravonColorSpace::kGrey8:
    case PravonColorSpace::kRGB8:
    case PravonColorSpace::kBGR8:
    case PravonColorSpace::kCMYK8:
        *channels = bits / 8;
        *sixteenBit = false;
        return true;
    case PravonColorSpace::kGrey16:
    case PravonColorSpace::kRGB16:
    case PravonColorSpace::kLCh16:
    case PravonColorSpace::kLab16:
    case PravonColorSpace::kYCbCr16:
        *channels = bits / 16;
        *sixteenBit = true;
        return true;
    default:
        return false;
    }
}

IPravonError* CScalePipeline::Prepare(LONG method, LONG sourceWidth, LONG sourceHeight, LONG outputWidth,
                                      LONG outputHeight, LONG colorSpace) {
    if (!(m_flags & kSettingsChanged) && method == m_method && colorSpace == m_colorSpace &&
        sourceWidth == m_sourceWidth && sourceHeight == m_sourceHeight && outputWidth == m_outputWidth &&
        outputHeight == m_outputHeight)
        return nullptr;

    LONG channels = 0;
    bool sixteenBit = false;
    if (!ReadColorSpace(colorSpace, &channels, &sixteenBit))
        return PravonFail(m_component, PravonKind::kUnsupportedColorSpace, "Bad source data color space");
    if (sourceWidth < 0 || sourceHeight < 0 || outputWidth < 0 || outputHeight < 0 ||
        sourceWidth > kMaxSide || sourceHeight > kMaxSide || outputWidth > kMaxSide ||
        outputHeight > kMaxSide)
        return PravonFail(m_component, PravonKind::kOutOfRange,
                          "image size out of the range the scale routines take");

    BYTE flags = 0;
    if (sourceWidth < outputWidth)
        flags |= kEnlargeX;
    if (sourceWidth > outputWidth)
        flags |= kReduceX;
    if (sourceHeight < outputHeight)
        flags |= kEnlargeY;
    if (sourceHeight > outputHeight)
        flags |= kReduceY;
    if (sixteenBit)
        flags |= k16Bit;

    LONG rsw = 0, rdw = 0, rsh = 0, rdh = 0;
    ReduceRatio(sourceWidth, outputWidth, &rsw, &rdw);
    ReduceRatio(sourceHeight, outputHeight, &rsh, &rdh);

    Routine horizontal = Routine::None;
    Routine vertical = Routine::None;
    try {
        m_hTable.clear();
        m_vTable.clear();
        if (method != 0) {
            if (flags & kEnlargeX) {
                horizontal = method == 1 ? Routine::Linear : Routine::Cubic;
                if (method == 1)
                    BuildLinearTable(rsw, rdw, outputWidth, &m_hTable);
                else
                    BuildCubicTable(rsw, rdw, outputWidth, &m_hTable);
            } else if (flags & kReduceX) {
                horizontal = Routine::Area;
                BuildAreaTable(rsw, rdw, outputWidth, &m_hTable);
            } else {
                horizontal = Routine::Copy;
            }
            if (flags & kEnlargeY) {
                vertical = method == 1 ? Routine::Linear : Routine::Cubic;
                if (method == 1)
                    BuildLinearTable(rsh, rdh, outputHeight, &m_vTable);
                else
                    BuildCubicTable(rsh, rdh, outputHeight, &m_vTable);
            } else if (flags & kReduceY) {
                vertical = Routine::Area;
                BuildAreaTable(rsh, rdh, outputHeight, &m_vTable);
            } else {
                vertical = Routine::Copy;
            }
        }
    } catch (const std::bad_alloc&) {
        m_hTable.clear();
        m_vTable.clear();
        return PravonFail(m_component, PravonKind::kOutOfMemory, "no memory for the scale tables");
    }

    m_method = method;
    m_colorSpace = colorSpace;
    m_channels = channels;
    m_sourceWidth = sourceWidth;
    m_sourceHeight = sourceHeight;
    m_outputWidth = outputWidth;
    m_outputHeight = outputHeight;
    m_reducedSourceWidth = rsw;
    m_reducedSourceHeight = rsh;
    m_reducedOutputWidth = rdw;
    m_reducedOutputHeight = rdh;
    m_recip[0] = Reciprocal(rsw);
    m_recip[1] = Reciprocal(rsh);
    m_recip[2] = Reciprocal(rdw);
    m_recip[3] = Reciprocal(rdh);
    m_horizontal = horizontal;
    m_vertical = vertical;
    m_flags = flags;
    m_plans->plans.clear();
    return nullptr;
}

IPravonError* CScalePipeline::Run(IPravonDataSource* source, const PravonRect& rect, BYTE* out,
                                  LONG rowBytes) {
    if (m_flags & kSettingsChanged)
        return PravonFail(m_component, PravonKind::kInvalidState, "the scale routines are not set up");
    if (rect.right <= rect.left || rect.bottom <= rect.top)
        return nullptr;
    if (rect.left < 0 || rect.top < 0 || rect.right > m_outputWidth || rect.bottom > m_outputHeight)
        return PravonFail(m_component, PravonKind::kOutOfRange, "the rectangle lies outside the output");
    if (!source || !out)
        return PravonFail(m_component, PravonKind::kBadArgument, "no source or no output");
    if (m_sourceWidth == 0 || m_sourceHeight == 0)
        return nullptr;
    try {
        if (m_method == 0)
            return RunNearest(source, rect, out, rowBytes);
        return RunSeparable(source, rect, out, rowBytes);
    } catch (const std::bad_alloc&) {
        return PravonFail(m_component, PravonKind::kOutOfMemory, "no memory for the scale buffers");
    }
}

IPravonError* CScalePipeline::RunNearest(IPravonDataSource* source, const PravonRect& rect, BYTE* out,
                                         LONG rowBytes) {
    const LONG width = rect.right - rect.left;
    const LONG height = rect.bottom - rect.top;
    const LONG bpp = m_channels * ((m_flags & k16Bit) ? 2 : 1);
    const ScaleRows::Kernels& kernels = ScaleRows::Choose();
    m_nearest.resize(static_cast<std::size_t>(width) + static_cast<std::size_t>(height));
    std::int64_t* column = m_nearest.data();
    std::int64_t* row = column + width;
    NearestSources(rect.left, width, m_reducedSourceWidth, m_reducedOutputWidth, m_sourceWidth - 1, column);
    NearestSources(rect.top, height, m_reducedSourceHeight, m_reducedOutputHeight, m_sourceHeight - 1, row);
    // The pieces of one source tile column copy the same columns, and so do the tiles of one output
    // column: each plan is made once and kept.
    auto& plans = m_plans->plans;
    if (plans.size() > NearestPlans::kMaxPlans)
        plans.clear();

    // The chosen columns and rows never fall: those a source tile holds are one run of output positions.
    struct Run {
        LONG start;
        LONG end;
    };
    const auto runIn = [](const std::int64_t* chosen, LONG count, LONG from, LONG to) {
        return Run{static_cast<LONG>(std::lower_bound(chosen, chosen + count, from) - chosen),
                   static_cast<LONG>(std::lower_bound(chosen, chosen + count, to) - chosen)};
    };
    const PravonRect needed{static_cast<LONG>(column[0]), static_cast<LONG>(row[0]),
                            static_cast<LONG>(column[width - 1] + 1), static_cast<LONG>(row[height - 1] + 1)};
    // Tiles that hold no chosen pixel (a reduction beyond the tile size skips some) are not fetched.
    const auto feeds = [&](const PravonRect& tile) {
        const Run columns = runIn(column, width, tile.left, tile.right);
        const Run rows = runIn(row, height, tile.top, tile.bottom);
        return columns.start < columns.end && rows.start < rows.end;
    };
    const bool writeAhead = std::int64_t{width} * bpp > kWriteAheadRow;
    CSourceWalk walk;
    walk.wanted = feeds;
    IPravonError* err = ForEachSourcePart(
        source, needed,
        [&](const CSourcePart& piece) -> IPravonError* {
            const Run columns = runIn(column, width, piece.tileRect.left, piece.tileRect.right);
            const Run rows = runIn(row, height, piece.tileRect.top, piece.tileRect.bottom);
            const LONG runCount = columns.end - columns.start;
            const std::size_t runBytes = static_cast<std::size_t>(runCount) * bpp;
            const std::array<LONG, 4> key{rect.left, rect.right, piece.tileRect.left, piece.tileRect.right};
            auto planned = plans.find(key);
            // Either routine set copies by a plan made for the other: the plain one reads no groups, and
            // a plan without groups leaves every pixel to the moves.
            if (planned == plans.end()) {
                m_index.resize(static_cast<std::size_t>(runCount));
                for (LONG i = 0; i < runCount; ++i)
                    m_index[static_cast<std::size_t>(i)] =
                        static_cast<std::int32_t>((column[columns.start + i] - piece.tileRect.left) * bpp);
                // Made aside and then kept, so that a failure keeps no half-made plan.
                ScaleRows::NearestPlan made;
                ScaleRows::PlanNearest(m_index.data(), runCount, bpp,
                                       std::int64_t{piece.tileRect.right - piece.tileRect.left} * bpp,
                                       kernels.nearestGroupBytes, &made);
                planned = plans.emplace(key, std::move(made)).first;
            }
            const ScaleRows::NearestPlan& plan = planned->second;
            const std::ptrdiff_t readFrom = plan.offsets.front();
            const std::ptrdiff_t readBytes = plan.offsets.back() - readFrom + bpp;
            // Rows far apart in a reduction are short runs the hardware hardly streams ahead of (a tile's
            // row is a few cache lines): the pixels of the rows a few ahead are asked for while one is
            // copied, into the second-level cache, which can wait for more of them at once; at a tile's
            // first row, all of those rows together. Without this a 1 : 4 reduction of 16-bit RGB takes
            // about three times as long. (Written out here: the compiler takes a function that only
            // prefetches for one without effect and drops its calls.)
            for (LONG j = rows.start; j < rows.end; ++j) {
                const LONG last = std::min(j + kNearestPrefetchRows, rows.end - 1);
                for (LONG a = j == rows.start ? j + 1 : j + kNearestPrefetchRows; a <= last; ++a) {
                    if (row[a] == row[a - 1])
                        continue; // an enlargement's repeated row, asked for already
                    const BYTE* from = piece.Row(static_cast<LONG>(row[a])) + readFrom;
                    for (std::ptrdiff_t b = 0; b < readBytes; b += kCacheLine)
                        _mm_prefetch(reinterpret_cast<const char*>(from + b), _MM_HINT_T1);
                }
                BYTE* to = out + static_cast<std::ptrdiff_t>(j) * rowBytes +
                           static_cast<std::ptrdiff_t>(columns.start) * bpp;
                // The output tile is seldom in the cache: where its rows are long, the run a few rows
                // below is asked into the second level too, so that the copy's stores do not each wait
                // for their line (short rows are copied faster without).
                if (writeAhead && j + kNearestWriteAheadRows < rows.end) {
                    const BYTE* ahead = to + static_cast<std::ptrdiff_t>(kNearestWriteAheadRows) * rowBytes;
                    for (std::size_t b = 0; b < runBytes; b += kCacheLine)
                        _mm_prefetch(reinterpret_cast<const char*>(ahead + b), _MM_HINT_T1);
                }
                if (j > rows.start && row[j] == row[j - 1]) {
                    std::memcpy(to, to - rowBytes, runBytes);
                    continue;
                }
                kernels.nearest(piece.Row(static_cast<LONG>(row[j])), to, plan);
            }
            return nullptr;
        },
        walk);
    return PravonContext(err, m_component, "cannot read the source tiles");
}

namespace {

// Copies the source row y from column a to column b (exclusive) into span, widened to 16-bit samples;
// columns outside the source read the edge pixel, as the cursor clamps them.
template <bool Wide>
IPravonError* GatherRow(CSourceTileCursor& cursor, std::int64_t a, std::int64_t b, LONG y, LONG channels,
                        std::uint16_t* span) {
    std::int64_t x = a;
    while (x < b) {
        if (IPravonError* e = cursor.MoveTo(static_cast<LONG>(x), y))
            return e;
        const BYTE* p = cursor.GetPtr();
        std::int64_t run = 0;
        if (cursor.IsOutsideX()) {
            run = x < 0 ? std::min<std::int64_t>(b, 0) - x : b - x;
            for (std::int64_t i = 0; i < run; ++i) {
                for (LONG c = 0; c < channels; ++c) {
                    if constexpr (Wide) {
                        std::memcpy(span + c, p + 2 * c, 2);
                    } else {
                        span[c] = p[c];
                    }
                }
                span += channels;
            }
        } else {
            run = std::min<std::int64_t>(std::int64_t{cursor.GetPixelsRight()} + 1, b - x);
            const std::size_t samples = static_cast<std::size_t>(run) * channels;
            // The rows come one after the other, a run from each source tile: the same runs of a row
            // ahead are asked for while this one is copied, into the second-level cache. Asked into the
            // first level, the runs of several tiles at once wait on its few outstanding misses, and a
            // 1 : 4 reduction of 16-bit RGB took half as long again.
            if (cursor.GetRowsBelow() >= kGatherPrefetchRows) {
                const BYTE* ahead =
                    p + static_cast<std::ptrdiff_t>(kGatherPrefetchRows) * cursor.GetRowStride();
                const std::ptrdiff_t bytes = static_cast<std::ptrdiff_t>(samples) * (Wide ? 2 : 1);
                for (std::ptrdiff_t o = 0; o < bytes; o += kCacheLine)
                    _mm_prefetch(reinterpret_cast<const char*>(ahead + o), _MM_HINT_T1);
            }
            if constexpr (Wide) {
                std::memcpy(span, p, samples * 2);
            } else {
                ScaleRows::Widen(p, span, samples);
            }
            span += samples;
        }
        x += run;
    }
    return nullptr;
}

} // namespace

IPravonError* CScalePipeline::RunSeparable(IPravonDataSource* source, const PravonRect& rect, BYTE* out,
                                           LONG rowBytes) {
    const LONG ch = m_channels;
    const bool wide = (m_flags & k16Bit) != 0;
    const LONG x0 = rect.left;
    const LONG y0 = rect.top;
    const LONG width = rect.right - rect.left;
    const std::size_t rowLength = static_cast<std::size_t>(width) * ch;

    m_index.resize(static_cast<std::size_t>(width));
    std::int32_t* index = m_index.data();
    const CScaleTableEntry* hEntries = m_hTable.empty() ? nullptr : m_hTable.data() + x0;
    std::int64_t spanStart = x0;
    std::int64_t spanLength = width;
    ColumnWindows(m_horizontal, m_method, hEntries, x0, width, m_reducedSourceWidth, m_reducedOutputWidth,
                  index, &spanStart, &spanLength);

    const std::int64_t depth = CeilDiv(m_reducedSourceHeight, m_reducedOutputHeight) + 1;
    const std::int64_t ringRows = depth + 2;
    std::int64_t firstRow = y0 - 1;
    if (m_vertical == Routine::Linear || m_vertical == Routine::Cubic)
        firstRow = EnlargeStart(y0, m_reducedSourceHeight, m_reducedOutputHeight) - 1;
    else if (m_vertical == Routine::Area)
        firstRow = ReduceStart(y0, m_reducedSourceHeight, m_reducedOutputHeight) - 1;
    m_ring.resize(static_cast<std::size_t>(ringRows) * rowLength);
    m_ringRows = static_cast<LONG>(ringRows);
    m_fetched = 0;

    const ScaleRows::Kernels& k = ScaleRows::Choose();
    const std::uint32_t maxSample = wide ? 0xFFFFu : 0xFFu;
    ScaleRows::HorizontalParams hp;
    hp.channels = ch;
    hp.count = width;
    hp.index = index;
    hp.entries = hEntries;
    hp.maxSample = maxSample;
    hp.wholeWeight = static_cast<std::uint32_t>(m_reducedOutputWidth);
    hp.reciprocal = m_horizontal == Routine::Linear ? m_recip[2] >> 1 : m_recip[0];
    hp.wide =
        std::uint64_t{maxSample} * (m_horizontal == Routine::Linear ? 2 * std::uint64_t(m_reducedOutputWidth)
                                                                    : m_reducedSourceWidth) >
        0xFFFFFFFFu;

    // The SIMD routines read every window as the same even number of taps, two pixels and more per load:
    // the span gets room for that beyond its last pixel.
    LONG tapCount = 0;
    if (k.usesTaps && !hp.wide && (ch == 3 || ch == 4) && hEntries) {
        tapCount = ScaleRows::TapCount(m_horizontal, hEntries, width);
        if (tapCount <= kMaxSimdTaps) {
            m_taps.resize(ScaleRows::TapWords(width, tapCount));
            if (ScaleRows::BuildTaps(m_horizontal, hEntries, width, hp.wholeWeight, tapCount,
                                     m_taps.data())) {
                hp.taps = m_taps.data();
                hp.tapCount = tapCount;
            }
        }
    }
    m_span.resize(static_cast<std::size_t>(spanLength + tapCount + 2) * ch);

    CSourceTileCursor cursor(source, Saturate(m_reducedSourceWidth / m_reducedOutputWidth + 2));
    std::int64_t head = 0;
    std::int64_t next = firstRow;
    auto fetch = [&]() -> IPravonError* {
        const LONG y = Saturate(next);
        IPravonError* e =
            wide ? GatherRow<true>(cursor, spanStart, spanStart + spanLength, y, ch, m_span.data())
                 : GatherRow<false>(cursor, spanStart, spanStart + spanLength, y, ch, m_span.data());
        if (e)
            return PravonContext(e, m_component, "cannot read a source row");
        std::uint16_t* target = m_ring.data() + static_cast<std::size_t>(head) * rowLength;
        switch (m_horizontal) {
        case Routine::Linear:
            k.horizontalLinear(m_span.data(), target, hp);
            break;
        case Routine::Cubic:
            k.horizontalCubic(m_span.data(), target, hp);
            break;
        case Routine::Area:
            k.horizontalArea(m_span.data(), target, hp);
            break;
        default:
            std::memcpy(target, m_span.data(), rowLength * sizeof(std::uint16_t));
            break;
        }
        head = head + 1 == ringRows ? 0 : head + 1;
        ++next;
        ++m_fetched;
        return nullptr;
    };

    for (std::int64_t i = 0; i < ringRows; ++i)
        if (IPravonError* e = fetch())
            return e;

    std::vector<const std::uint16_t*> rows(static_cast<std::size_t>(ringRows));
    ScaleRows::VerticalParams vp;
    vp.count = rowLength;
    vp.maxSample = maxSample;
    vp.wholeWeight = static_cast<std::uint32_t>(m_reducedOutputHeight);
    vp.reciprocal = m_vertical == Routine::Linear ? m_recip[3] >> 1 : m_recip[1];
    vp.wide =
        std::uint64_t{maxSample} * (m_vertical == Routine::Linear ? 2 * std::uint64_t(m_reducedOutputHeight)
                                                                  : m_reducedSourceHeight) >
        0xFFFFFFFFu;
    vp.accumulator = nullptr;
    if (m_vertical == Routine::Area) {
        m_acc.resize(rowLength);
        vp.accumulator = m_acc.data();
    }

    for (LONG y = rect.top; y < rect.bottom; ++y) {
        for (std::int64_t i = 0; i < ringRows; ++i) {
            const std::int64_t slot = (head + i) % ringRows;
            rows[static_cast<std::size_t>(i)] = m_ring.data() + static_cast<std::size_t>(slot) * rowLength;
        }
        BYTE* target = out + static_cast<std::ptrdiff_t>(y - rect.top) * rowBytes;
        vp.entry = m_vTable.empty() ? nullptr : &m_vTable[static_cast<std::size_t>(y)];
        switch (m_vertical) {
        case Routine::Linear:
            wide ? k.verticalLinear16(rows.data(), target, vp) : k.verticalLinear8(rows.data(), target, vp);
            break;
        case Routine::Cubic:
            wide ? k.verticalCubic16(rows.data(), target, vp) : k.verticalCubic8(rows.data(), target, vp);
            break;
        case Routine::Area:
            wide ? k.verticalArea16(rows.data(), target, vp) : k.verticalArea8(rows.data(), target, vp);
            break;
        default:
            wide ? k.verticalCopy16(rows.data(), target, vp) : k.verticalCopy8(rows.data(), target, vp);
            break;
        }
        if (y + 1 == rect.bottom)
            break;
        std::int64_t until = next + 1;
        if (m_vertical == Routine::Linear || m_vertical == Routine::Cubic)
            until = vp.entry->advance ? next + 1 : next;
        else if (m_vertical == Routine::Area)
            until =
                depth + ReduceStart(std::int64_t{y} + 1, m_reducedSourceHeight, m_reducedOutputHeight) + 1;
        while (next < until)
            if (IPravonError* e = fetch())
                return e;
    }
    return nullptr;
}
