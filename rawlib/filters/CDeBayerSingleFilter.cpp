#include "CDeBayerSingleFilter.h"

#include "rawlib/filters/CDeBayerRows.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

namespace {

// Mosaic rows: columns B - 3 .. B + n + 2 for red and blue on columns B .. B + n - 1; green rows:
// B - 1 .. B + n. The mosaic rows' margin is the interpolation's reach.
constexpr LONG kMosaicMargin = 3;
constexpr LONG kGreenMargin = 1;
// Green of row g reads mosaic rows g - 2 .. g + 2; red and blue of row r read green rows r - 1 .. r + 1.
constexpr LONG kGreenReach = 2;
constexpr LONG kRgbReach = 1;
// A step that loads mosaic row L makes green on row L - 3 and red and blue on row L - 5.
constexpr LONG kGreenLag = kGreenReach + 1;
constexpr LONG kRgbLag = kGreenLag + kRgbReach + 1;
// The non-square resampling reads red and blue rows E - 1 .. E + 2 for the output row of source row E.
constexpr LONG kResampleAbove = 1;
constexpr LONG kResampleBelow = 2;
// Rows of the windows start a whole number of AVX2 blocks apart, with room for a block beyond their end.
constexpr std::size_t kRowAlign = 16;

std::size_t RowStride(LONG count) {
    return (static_cast<std::size_t>(count) + 2 * kRowAlign - 1) / kRowAlign * kRowAlign;
}

// The slot of source row y in a ring of n rows.
std::size_t Slot(LONG y, LONG n) {
    return static_cast<std::size_t>((y % n + n) % n);
}

} // namespace

CDeBayerSingleFilter::CDeBayerSingleFilter(IPravonManager* manager) : CDeBayerBase(manager) {}

IPravonError* CDeBayerSingleFilter::CheckCFAPattern() {
    return CheckBayerPattern(kCode, &m_greenPhase, &m_redRowPhase);
}

CPravonFilterBase::CHalo CDeBayerSingleFilter::GetHalo(IPravonDataSource* const*, LONG) {
    constexpr LONG kReach = kMosaicMargin;
    if (!IsNonSquare())
        return CHalo{kReach, kReach, kReach, kReach};
    return CHalo{kReach, kReach + kResampleAbove, kReach + 1, kReach + kResampleBelow};
}

IPravonError* CDeBayerSingleFilter::PrepareWindow(LONG positions, LONG firstColumn, Window* w) {
    w->first = firstColumn;
    w->positions = positions;
    w->kernels = &DeBayerRows::Choose();
    const std::size_t mosaicStride = RowStride(positions + 2 * kMosaicMargin);
    const std::size_t greenStride = RowStride(positions + 2 * kGreenMargin);
    const std::size_t rgbWidth = static_cast<std::size_t>(positions);
    try {
        m_rows.assign(kMosaicRing * mosaicStride + 2 * kGreenRing * greenStride, 0);
        m_rgbRows.assign(IsNonSquare() ? kRgbRing * rgbWidth : 0, Rgb16{0, 0, 0});
    } catch (const std::bad_alloc&) {
        return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the row buffers");
    }
    LONG* row = m_rows.data();
    for (LONG*& mosaic : w->mosaic) {
        mosaic = row;
        row += mosaicStride;
    }
    for (LONG r = 0; r < kGreenRing; ++r) {
        w->green[r] = row;
        w->difference[r] = row + greenStride;
        row += 2 * greenStride;
    }
    for (std::size_t r = 0; r < kRgbRing; ++r)
        w->rgb[r] = IsNonSquare() ? m_rgbRows.data() + r * rgbWidth : nullptr;
    return nullptr;
}

void CDeBayerSingleFilter::InterpolateGreen(const Window& w, LONG y) const {
    DeBayerRows::GreenRow row;
    for (LONG r = 0; r < 5; ++r)
        row.mosaic[r] = w.mosaic[Slot(y - kGreenReach + r, kMosaicRing)];
    row.count = w.positions + 2 * kGreenMargin;
    row.firstGreen = ((w.first - kGreenMargin + y + m_greenPhase) & 1) ? 0 : 1;
    row.green = w.green[Slot(y, kGreenRing)];
    row.difference = w.difference[Slot(y, kGreenRing)];
    w.kernels->green(row);
}

void CDeBayerSingleFilter::InterpolateRedBlue(const Window& w, LONG y, Rgb16* out) const {
    static_assert(sizeof(Rgb16) == 3 * sizeof(WORD), "the row routines write red, green and blue words");
    DeBayerRows::RedBlueRow row;
    row.mosaic = w.mosaic[Slot(y, kMosaicRing)];
    row.green = w.green[Slot(y, kGreenRing)];
    row.above = w.difference[Slot(y - 1, kGreenRing)];
    row.centre = w.difference[Slot(y, kGreenRing)];
    row.below = w.difference[Slot(y + 1, kGreenRing)];
    row.count = w.positions;
    row.firstGreen = ((w.first + y + m_greenPhase) & 1) ? 0 : 1;
    row.redRow = ((y + m_redRowPhase) & 1) != 0;
    row.out = &out->r;
    w.kernels->redBlue(row);
}

IPravonError* CDeBayerSingleFilter::Step(CMosaicRowReader& reader, Window& w) {
    const LONG load = w.next++;
    if (load <= w.lastRow + kMosaicMargin)
        if (IPravonError* err = reader.Read(load, w.mosaic[Slot(load, kMosaicRing)]))
            return PravonContext(err, kCode, "cannot read a source row");
    const LONG g = load - kGreenLag;
    if (g >= w.firstRow - kRgbReach && g <= w.lastRow + kRgbReach)
        InterpolateGreen(w, g);
    const LONG r = load - kRgbLag;
    if (r >= w.firstRow && r <= w.lastRow)
        InterpolateRedBlue(w, r,
                           w.tile ? reinterpret_cast<Rgb16*>(w.tile->Row(w.tile->rect.top + r - w.row0))
                                  : w.rgb[Slot(r, kRgbRing)]);
    return nullptr;
}

IPravonError* CDeBayerSingleFilter::MakeThrough(CMosaicRowReader& reader, Window& w, LONG r) {
    while (w.next - kRgbLag <= r)
        if (IPravonError* err = Step(reader, w))
            return err;
    return nullptr;
}

IPravonError* CDeBayerSingleFilter::ResampledRows(CMosaicRowReader& reader, Window& w,
                                                  const COutputTile& out) {
    const LONG width = out.rect.right - out.rect.left;
    const LONG columnPhase = (out.rect.left + CropLeft()) % 3;
    LONG rowPhase = (out.rect.top + CropTop()) % 3;
    // Two source rows give three output rows: the output row of phase 1 shares its source row with the
    // one before it.
    LONG source = w.row0;
    for (LONG y = out.rect.top; y < out.rect.bottom; ++y) {
        if (IPravonError* err = MakeThrough(reader, w, source + kResampleBelow))
            return err;
        const Rgb16* rows[kRgbRing];
        for (LONG k = 0; k < kRgbRing; ++k)
            rows[k] = w.rgb[Slot(source - kResampleAbove + k, kRgbRing)];
        WriteOutputRow(rows, width, columnPhase, rowPhase, reinterpret_cast<Rgb16*>(out.Row(y)));
        rowPhase = rowPhase == 2 ? 0 : rowPhase + 1;
        if (rowPhase != 1)
            ++source;
    }
    return nullptr;
}

IPravonError* CDeBayerSingleFilter::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return e;
        const PravonRect& rect = out.rect;
        const LONG width = rect.right - rect.left;
        const LONG height = rect.bottom - rect.top;
        const bool nonSquare = IsNonSquare();
        const LONG first = static_cast<LONG>((rect.left + CropLeft()) / GetHorizontalScale()) + kFrame;
        // The resampling reads one red and blue column beyond those its output columns map to.
        const LONG positions =
            nonSquare ? static_cast<LONG>(std::ceil(width / GetHorizontalScale())) + 1 : width;
        Window w;
        if (IPravonError* e = PrepareWindow(positions, first, &w))
            return e;
        w.row0 = static_cast<LONG>((rect.top + CropTop()) / GetVerticalScale()) + kFrame;
        if (nonSquare) {
            // The source row of the last output row: every output row but those of phase 1 moves down one.
            LONG last = w.row0;
            for (LONG y = rect.top + 1; y < rect.bottom; ++y)
                last += (y + CropTop()) % 3 != 1;
            w.firstRow = w.row0 - kResampleAbove;
            w.lastRow = last + kResampleBelow;
        } else {
            w.tile = &out;
            w.firstRow = w.row0;
            w.lastRow = w.row0 + height - 1;
        }
        w.next = w.firstRow - kMosaicMargin;
        if (IPravonError* e = PrepareMosaicSource(source, kCode))
            return e;

        CMosaicRowReader reader(*w.kernels);
        if (IPravonError* e = reader.Begin(source, first - kMosaicMargin, positions + 2 * kMosaicMargin,
                                           MosaicSites(m_greenPhase, m_redRowPhase)))
            return PravonContext(e, kCode, "cannot read the mosaic");
        if (nonSquare)
            return ResampledRows(reader, w, out);
        return MakeThrough(reader, w, w.lastRow);
    });
}
