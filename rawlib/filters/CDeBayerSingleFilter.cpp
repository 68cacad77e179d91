#include "CDeBayerSingleFilter.h"

#include "rawlib/filters/CDeBayerRows.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

namespace {

// Mosaic window: columns B - 3 .. B + c + 3; green window: B - 1 .. B + c + 1; RGB rows: B .. B + c.
constexpr LONG kMosaicMargin = 3;
constexpr LONG kGreenMargin = 1;

IPravonError* Fail(LONG line, LONG kind, const char* text) {
    return IPravonError::Add(nullptr, CDeBayerSingleFilter::kCode, line, kind, text);
}

IPravonError* Wrap(IPravonError* inner, LONG line, const char* text) {
    return IPravonError::Add(inner, CDeBayerSingleFilter::kCode, line, text);
}

} // namespace

CDeBayerSingleFilter::CDeBayerSingleFilter(IPravonManager* manager) : CDeBayerBase(manager) {}

IPravonError* CDeBayerSingleFilter::CheckCFAPattern() {
    return CheckBayerPattern(kCode, &m_greenPhase, &m_redRowPhase);
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
        return Fail(__LINE__, PravonKind::kOutOfMemory, "no memory for the row buffers");
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
        return Wrap(err, __LINE__, "cannot read a source row");
    std::rotate(w.green, w.green + 1, w.green + 3);
    std::rotate(w.difference, w.difference + 1, w.difference + 3);
    InterpolateGreen(w, e + 3, w.green[2], w.difference[2]);
    std::rotate(w.rgb, w.rgb + 1, w.rgb + 4);
    InterpolateRedBlue(w, e + 2, w.rgb[3]);
    return nullptr;
}

IPravonError* CDeBayerSingleFilter::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    IPravonDataSource* source = nullptr;
    if (IPravonError* e = GetFirstSource(info, &source))
        return e;
    if (!tile->IsInvalid(nullptr))
        return nullptr;
    const PravonRect rect = tile->GetRect();
    const LONG width = rect.right - rect.left;
    const LONG height = rect.bottom - rect.top;
    const double hscale = GetHorizontalScale();
    const double vscale = GetVerticalScale();
    const LONG cropLeft = CropLeft();
    const LONG cropTop = CropTop();

    Window w;
    const LONG first = static_cast<LONG>((rect.left + cropLeft) / hscale) + kFrame;
    const LONG row0 = static_cast<LONG>((rect.top + cropTop) / vscale) + kFrame;
    if (IPravonError* e = PrepareWindow(width, first, &w))
        return e;
    if (IPravonError* e = BuildChannelLuts())
        return Wrap(e, __LINE__, "cannot build the channel LUTs");
    LONG colorSpace = 0;
    if (IPravonError* e = source->GetColorSpace(&colorSpace))
        return Wrap(e, __LINE__, "cannot read the source's colour space");
    if (colorSpace != GetSourceColorSpace())
        return Fail(__LINE__, PravonKind::kUnsupportedColorSpace, "Bad source data color space");

    void* data = nullptr;
    if (IPravonError* e = tile->Lock(&data, nullptr))
        return Wrap(e, __LINE__, "cannot lock the output tile");
    const LONG rowBytes = tile->GetRowBytes();

    // Outside rows and columns come from the nearest inside ones of the same mosaic phase.
    CSourceTileCursor cursor(source, 2);
    IPravonError* err = cursor.SetEdgeModes(2, 2);
    if (!err)
        err = cursor.LockAt(first, row0);
    LONG e = row0 - 9;
    for (; !err && e < row0; ++e)
        err = RowStep(cursor, w, e);
    const LONG columnPhase = (rect.left + cropLeft) % 3;
    LONG rowPhase = IsNonSquare() ? (rect.top + cropTop) % 3 : 0;
    // The output row of phase 1 shares its source rows with the one before it.
    if (!err && rowPhase == 1)
        err = RowStep(cursor, w, e++);
    for (LONG y = 0; !err && y < height; ++y) {
        if (rowPhase != 1)
            err = RowStep(cursor, w, e++);
        if (err)
            break;
        auto* out =
            reinterpret_cast<Rgb16*>(static_cast<BYTE*>(data) + static_cast<std::size_t>(y) * rowBytes);
        WriteOutputRow(w.rgb, width, columnPhase, rowPhase, out);
        if (IsNonSquare())
            rowPhase = rowPhase == 2 ? 0 : rowPhase + 1;
    }
    cursor.UnlockAll();
    err = IPravonError::Chain(err, tile->Unlock());
    if (!err)
        tile->Validate();
    return err;
}
