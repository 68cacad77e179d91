#include "ForEachSourcePart.h"

namespace {

// Errors of the walk itself carry no component of their own, as the source's carry theirs.
constexpr LONG kComponent = 0;

// Unlocks a piece that an exception left locked.
class CPieceLock {
public:
    CPieceLock(IPravonDataSource* source, IPravonTileGrid* grid, LONG column, LONG row)
        : m_source(source), m_grid(grid), m_column(column), m_row(row) {}
    CPieceLock(const CPieceLock&) = delete;
    CPieceLock& operator=(const CPieceLock&) = delete;
    ~CPieceLock() {
        if (m_source)
            PravonErrorPtr(m_source->UnlockTile(m_grid, m_column, m_row));
    }
    IPravonError* Unlock() {
        IPravonDataSource* source = m_source;
        m_source = nullptr;
        return source->UnlockTile(m_grid, m_column, m_row);
    }

private:
    IPravonDataSource* m_source;
    IPravonTileGrid* m_grid;
    LONG m_column;
    LONG m_row;
};

} // namespace

IPravonError* ForEachSourcePart(IPravonDataSource* source, const PravonRect& rect,
                                TFunctionRef<IPravonError*(const CSourcePart& piece)> visit,
                                const CSourceWalk& walk) {
    if (!source || !visit)
        return PravonFail(kComponent, PravonKind::kBadArgument, "a source walk needs a source and a visitor");
    if (CPravonRect(rect).Empty())
        return nullptr;
    IPravonTileGrid* rawGrid = nullptr;
    if (IPravonError* e = source->MapRect(rect, &rawGrid))
        return e;
    const PravonTileGridPtr grid(rawGrid);
    if (!grid)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the source gave no tile grid");
    const LONG rows = grid->GetRowCount();
    const LONG columns = grid->GetColumnCount();
    for (LONG i = 0; i < rows; ++i) {
        const LONG row = walk.backward ? rows - 1 - i : i;
        for (LONG j = 0; j < columns; ++j) {
            const LONG column = walk.backward ? columns - 1 - j : j;
            if (walk.wanted) {
                PravonRect tileRect;
                if (IPravonError* e = grid->GetTileRect(column, row, &tileRect))
                    return e;
                if (!walk.wanted(tileRect))
                    continue;
            }
            void* data = nullptr;
            PravonRect tileRect;
            PravonRect part;
            CSourcePart piece;
            if (IPravonError* e =
                    source->LockTile(grid.get(), column, row, &data, &tileRect, &part, &piece.rowBytes))
                return e;
            CPieceLock lock(source, grid.get(), column, row);
            IPravonError* err = nullptr;
            if (!data) {
                err = PravonFail(kComponent, PravonKind::kInvalidState, "a source tile has no pixels");
            } else {
                piece.data = static_cast<BYTE*>(data);
                piece.tileRect = tileRect;
                piece.part = part;
                err = visit(piece);
            }
            err = IPravonError::Chain(err, lock.Unlock());
            if (err)
                return err;
        }
    }
    return nullptr;
}
