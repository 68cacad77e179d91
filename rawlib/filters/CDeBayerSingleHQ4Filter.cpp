#include "CDeBayerSingleHQ4Filter.h"

#include "rawlib/filters/CDeBayerHQ4RowStages.h"

#include <algorithm>
#include <cmath>

namespace {

// How far the stages reach around the source pixel of a square output pixel (see GetHalo).
constexpr LONG kReachLeft = 12;
constexpr LONG kReach = 11;

} // namespace

CDeBayerSingleHQ4Filter::CDeBayerSingleHQ4Filter(IPravonManager* manager)
    : CDeBayerBase(manager), m_stages(std::make_unique<CRowStages>()) {}

CDeBayerSingleHQ4Filter::~CDeBayerSingleHQ4Filter() = default;

IPravonError* CDeBayerSingleHQ4Filter::CheckCFAPattern() {
    return CheckBayerPattern(kCode, &m_greenPhase, &m_redRowPhase);
}

IPravonError* CDeBayerSingleHQ4Filter::SetTuning(const HQ4Tuning& tuning) {
    m_tuning = tuning;
    SetCacheCheck();
    return nullptr;
}

CPravonFilterBase::CHalo CDeBayerSingleHQ4Filter::GetHalo(IPravonDataSource* const*, LONG) {
    if (!IsNonSquare())
        return CHalo{kReachLeft, kReach, kReach, kReach};
    return CHalo{kReachLeft, kReach + 1, kReach + 1, kReach + 2};
}

IPravonError* CDeBayerSingleHQ4Filter::LoadRow(CSourceTileCursor& cursor, LONG x0, LONG count, LONG y,
                                               LONG* out) const {
    const LONG* greenLut = GetChannelLut(kGreen);
    const LONG* otherLut = ((y + m_redRowPhase) & 1) ? GetChannelLut(kRed) : GetChannelLut(kBlue);
    // Site x is green when x + y + greenPhase is odd.
    const LONG firstGreen = ((x0 + y + m_greenPhase) & 1) ? 0 : 1;
    const LONG* luts[2] = {firstGreen == 0 ? greenLut : otherLut, firstGreen == 0 ? otherLut : greenLut};
    if (IPravonError* e = cursor.MoveTo(x0, y))
        return e;
    LONG done = 0;
    while (done < count) {
        // Outside the image every column is mapped on its own; inside, a run goes to the tile's edge.
        const LONG run = cursor.IsOutsideX() ? 1 : std::min(count - done, cursor.GetPixelsRight() + 1);
        const WORD* samples = reinterpret_cast<const WORD*>(cursor.GetPtr());
        for (LONG i = 0; i < run; ++i) {
            const LONG position = done + i;
            out[position] = luts[position & 1][std::min<LONG>(samples[i], kMaxSample)];
        }
        done += run;
        if (done < count)
            if (IPravonError* e = cursor.Advance(run))
                return e;
    }
    return nullptr;
}

IPravonError* CDeBayerSingleHQ4Filter::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return e;
        const PravonRect& rect = out.rect;
        const LONG width = rect.right - rect.left;
        const LONG height = rect.bottom - rect.top;
        const LONG cropLeft = CropLeft();
        const LONG cropTop = CropTop();
        const LONG first = static_cast<LONG>((rect.left + cropLeft) / GetHorizontalScale()) + kFrame;
        const LONG row0 = static_cast<LONG>((rect.top + cropTop) / GetVerticalScale()) + kFrame;
        const LONG columns = static_cast<LONG>(std::ceil(width / GetHorizontalScale()));
        if (!m_stages->Prepare(columns, first, m_tuning, m_greenPhase, m_redRowPhase))
            return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the row buffers");
        if (IPravonError* e = PrepareMosaicSource(source, kCode))
            return e;

        // Outside rows and columns come from the nearest inside ones of the same mosaic phase. The window
        // is up to 26 columns wider than the tile and 13 rows ahead of it: six tiles stay locked.
        CSourceTileCursor cursor(source, 6);
        IPravonError* err = cursor.SetEdgeModes(2, 2);
        if (!err)
            err = cursor.LockAt(first, row0);
        const auto step = [&](LONG e) -> IPravonError* {
            if (IPravonError* loadError =
                    LoadRow(cursor, m_stages->MosaicFirstColumn(), m_stages->MosaicWidth(), e + kLoadLead,
                            m_stages->MosaicRowFor(e)))
                return PravonContext(loadError, kCode, "cannot read a source row");
            m_stages->Step(e);
            return nullptr;
        };
        // The steps before the first output row load the rows from the top of its window on.
        LONG e = row0 - GetHalo(nullptr, 0).top - kLoadLead;
        for (; !err && e < row0; ++e)
            err = step(e);
        const LONG columnPhase = (rect.left + cropLeft) % 3;
        LONG rowPhase = IsNonSquare() ? (rect.top + cropTop) % 3 : 0;
        // The output row of phase 1 shares its source rows with the one before it.
        if (!err && rowPhase == 1)
            err = step(e++);
        const Rgb16* rows[4];
        for (LONG y = 0; !err && y < height; ++y) {
            if (rowPhase != 1)
                err = step(e++);
            if (err)
                break;
            m_stages->RgbRows(e - 1, rows);
            WriteOutputRow(rows, width, columnPhase, rowPhase,
                           reinterpret_cast<Rgb16*>(out.Row(rect.top + y)));
            if (IsNonSquare())
                rowPhase = rowPhase == 2 ? 0 : rowPhase + 1;
        }
        cursor.UnlockAll();
        return err;
    });
}
