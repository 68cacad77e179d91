#include "CDeBayerSingleFilter.h"

#include "rawlib/filters/CDeBayerRows.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

namespace {

// Mosaic window: columns B - 3 .. B + c + 3; green window: B - 1 .. B + c + 1; RGB rows: B .. B + c.
// The mosaic window's margin is the interpolation's reach.
constexpr LONG kMosaicMargin = 3;
constexpr LONG kGreenMargin = 1;
// A row step for index E loads source row E + 5 and completes the RGB row E + 2.
constexpr LONG kLoadLead = 5;

} // namespace

CDeBayerSingleFilter::CDeBayerSingleFilter(IPravonManager* manager) : CDeBayerBase(manager) {}

IPravonError* CDeBayerSingleFilter::CheckCFAPattern() {
    return CheckBayerPattern(kCode, &m_greenPhase, &m_redRowPhase);
}

CPravonFilterBase::CHalo CDeBayerSingleFilter::GetHalo(IPravonDataSource* const*, LONG) {
    constexpr LONG kReach = kMosaicMargin;
    if (!IsNonSquare())
        return CHalo{kReach, kReach, kReach, kReach};
    return CHalo{kReach, kReach + 1, kReach + 1, kReach + 2};
}

IPravonError* CDeBayerSingleFilter::PrepareWindow(LONG tileWidth, LONG firstColumn, Window* w) {
    w->first = firstColumn;
    w->columns = static_cast<LONG>(std::ceil(tileWidth / GetHorizontalScale()));
    const std::size_t c = static_cast<std::size_t>(w->columns);
    const std::size_t mosaicWidth = c + 2 * kMosaicMargin + 1;
    const std::size_t greenWidth = c + 2 * kGreenMargin + 1;
    const std::size_t rgbWidth = c + 1;
    try {
        m_mosaicRows.assign(5 * mosaicWidth, 0);
        m_greenRows.assign(3 * greenWidth, 0);
        m_differenceRows.assign(3 * greenWidth, 0);
        m_rgbRows.assign(4 * rgbWidth, Rgb16{0, 0, 0});
    } catch (const std::bad_alloc&) {
        return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the row buffers");
    }
    for (std::size_t r = 0; r < 5; ++r)
        w->mosaic[r] = m_mosaicRows.data() + r * mosaicWidth;
    for (std::size_t r = 0; r < 3; ++r) {
        w->green[r] = m_greenRows.data() + r * greenWidth;
        w->difference[r] = m_differenceRows.data() + r * greenWidth;
    }
    for (std::size_t r = 0; r < 4; ++r)
        w->rgb[r] = m_rgbRows.data() + r * rgbWidth;
    return nullptr;
}

void CDeBayerSingleFilter::InterpolateGreen(const Window& w, LONG y, LONG* out, LONG* difference) const {
    DeBayerRows::GreenRow row;
    for (int r = 0; r < 5; ++r)
        row.mosaic[r] = w.mosaic[r];
    row.count = w.columns + 2 * kGreenMargin + 1;
    row.firstGreen = ((w.first - kGreenMargin + y + m_greenPhase) & 1) ? 0 : 1;
    row.green = out;
    row.difference = difference;
    DeBayerRows::Choose().green(row);
}

void CDeBayerSingleFilter::InterpolateRedBlue(const Window& w, LONG y, Rgb16* out) const {
    static_assert(sizeof(Rgb16) == 3 * sizeof(WORD), "the row routines write red, green and blue words");
    DeBayerRows::RedBlueRow row;
    row.mosaic = w.mosaic[1];
    row.green = w.green[1];
    row.above = w.difference[0];
    row.centre = w.difference[1];
    row.below = w.difference[2];
    row.count = w.columns + 1;
    row.firstGreen = ((w.first + y + m_greenPhase) & 1) ? 0 : 1;
    row.redRow = ((y + m_redRowPhase) & 1) != 0;
    row.out = &out->r;
    DeBayerRows::Choose().redBlue(row);
}

IPravonError* CDeBayerSingleFilter::RowStep(CSourceTileCursor& cursor, Window& w, LONG e) {
    std::rotate(w.mosaic, w.mosaic + 1, w.mosaic + 5);
    if (IPravonError* err = LoadMosaicRow(cursor, w.first - kMosaicMargin, w.columns + 2 * kMosaicMargin + 1,
                                          e + 5, m_greenPhase, m_redRowPhase, w.mosaic[4]))
        return PravonContext(err, kCode, "cannot read a source row");
    std::rotate(w.green, w.green + 1, w.green + 3);
    std::rotate(w.difference, w.difference + 1, w.difference + 3);
    InterpolateGreen(w, e + 3, w.green[2], w.difference[2]);
    std::rotate(w.rgb, w.rgb + 1, w.rgb + 4);
    InterpolateRedBlue(w, e + 2, w.rgb[3]);
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
        const LONG cropLeft = CropLeft();
        const LONG cropTop = CropTop();

        Window w;
        const LONG first = static_cast<LONG>((rect.left + cropLeft) / GetHorizontalScale()) + kFrame;
        const LONG row0 = static_cast<LONG>((rect.top + cropTop) / GetVerticalScale()) + kFrame;
        if (IPravonError* e = PrepareWindow(width, first, &w))
            return e;
        if (IPravonError* e = BuildChannelLuts())
            return PravonContext(e, kCode, "cannot build the channel LUTs");
        LONG colorSpace = 0;
        if (IPravonError* e = source->GetColorSpace(&colorSpace))
            return PravonContext(e, kCode, "cannot read the source's colour space");
        if (colorSpace != GetSourceColorSpace())
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace, "Bad source data color space");

        // Outside rows and columns come from the nearest inside ones of the same mosaic phase.
        CSourceTileCursor cursor(source, 2);
        IPravonError* err = cursor.SetEdgeModes(2, 2);
        if (!err)
            err = cursor.LockAt(first, row0);
        // The steps before the first output row load the rows from the top of its window on.
        LONG step = row0 - GetHalo(nullptr, 0).top - kLoadLead;
        for (; !err && step < row0; ++step)
            err = RowStep(cursor, w, step);
        const LONG columnPhase = (rect.left + cropLeft) % 3;
        LONG rowPhase = IsNonSquare() ? (rect.top + cropTop) % 3 : 0;
        // The output row of phase 1 shares its source rows with the one before it.
        if (!err && rowPhase == 1)
            err = RowStep(cursor, w, step++);
        for (LONG y = 0; !err && y < height; ++y) {
            if (rowPhase != 1)
                err = RowStep(cursor, w, step++);
            if (err)
                break;
            WriteOutputRow(w.rgb, width, columnPhase, rowPhase,
                           reinterpret_cast<Rgb16*>(out.Row(rect.top + y)));
            if (IsNonSquare())
                rowPhase = rowPhase == 2 ? 0 : rowPhase + 1;
        }
        cursor.UnlockAll();
        return err;
    });
}
