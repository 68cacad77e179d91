#include "CDeBayerSingleFilter.h"

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

inline WORD Store(LONG v) {
    return static_cast<WORD>(std::clamp<LONG>(v, 0, CDeBayerBase::kMaxRoot) >> 2);
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
    const LONG* m0 = w.mosaic[0];
    const LONG* m1 = w.mosaic[1];
    const LONG* m2 = w.mosaic[2];
    const LONG* m3 = w.mosaic[3];
    const LONG* m4 = w.mosaic[4];
    const LONG count = w.columns + 2 * kGreenMargin + 1;
    constexpr LONG kShift = kMosaicMargin - kGreenMargin;
    // Green and the other sites alternate along the row: each kind in a pass of its own, without branches.
    const LONG firstGreen = ((w.first - kGreenMargin + y + m_greenPhase) & 1) ? 0 : 1;
    for (LONG j = firstGreen; j < count; j += 2) {
        out[j] = m2[j + kShift];
        difference[j] = 0;
    }
    for (LONG j = 1 - firstGreen; j < count; j += 2) {
        const LONG i = j + kShift;
        const LONG c = m2[i];
        const LONG l = m2[i - 1];
        const LONG r = m2[i + 1];
        const LONG u = m1[i];
        const LONG d = m3[i];
        const LONG v = std::abs(u - d) + std::abs(m0[i - 1] - l) + std::abs(l - m4[i - 1]);
        const LONG h = std::abs(m1[i - 2] - u) + std::abs(u - m1[i + 2]) + std::abs(l - r);
        const LONG ev = 2 * (u + c + d) - m0[i] - m4[i];
        const LONG eh = 2 * (l + c + r) - m2[i - 2] - m2[i + 2];
        const LONG g = std::abs(v - h) <= kDirectionThreshold ? ((eh + ev) / 2) / 4 : (h < v ? eh : ev) / 4;
        out[j] = g;
        // Red and blue are interpolated as differences from green; each site's is taken once.
        difference[j] = c - g;
    }
}

void CDeBayerSingleFilter::InterpolateRedBlue(const Window& w, LONG y, Rgb16* out) const {
    const LONG* mc = w.mosaic[1];
    const LONG* gc = w.green[1];
    const LONG* da = w.difference[0];
    const LONG* dc = w.difference[1];
    const LONG* db = w.difference[2];
    const bool redRow = ((y + m_redRowPhase) & 1) != 0;
    const LONG count = w.columns + 1;
    const LONG firstGreen = ((w.first + y + m_greenPhase) & 1) ? 0 : 1;
    // At a green site the row's colour comes from the left and right, the other from above and below.
    for (LONG k = firstGreen; k < count; k += 2) {
        const LONG j = k + kGreenMargin;
        const LONG g = gc[j];
        const LONG across = g + (dc[j - 1] + dc[j + 1]) / 2;
        const LONG down = g + (da[j] + db[j]) / 2;
        out[k] = redRow ? Rgb16{Store(across), Store(g), Store(down)}
                        : Rgb16{Store(down), Store(g), Store(across)};
    }
    // At a red or blue site the other colour comes from the four diagonal neighbours.
    for (LONG k = 1 - firstGreen; k < count; k += 2) {
        const LONG j = k + kGreenMargin;
        const LONG g = gc[j];
        const LONG m = mc[k + kMosaicMargin];
        const LONG other = g + (da[j - 1] + da[j + 1] + db[j - 1] + db[j + 1]) / 4;
        out[k] = redRow ? Rgb16{Store(m), Store(g), Store(other)} : Rgb16{Store(other), Store(g), Store(m)};
    }
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
