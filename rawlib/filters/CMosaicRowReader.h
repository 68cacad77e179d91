// Reads the rows of a demosaicing window into the square-root domain: columns x0 .. x0 + count - 1 of any
// source row, each sample (limited to 12 bits) looked up in the LUT of its site's channel. The source tiles
// under the window are held one tile row at a time, so that a row is read as one unit-stride run per
// source tile; positions outside the image read the nearest inside ones of the same mosaic phase.
#pragma once

#include "filters/engine/CSourceTileCursor.h"
#include "rawlib/filters/CDeBayerRows.h"

#include <vector>

class CMosaicRowReader {
public:
    // Which LUT a site is looked up in: site (x, y) is green when x + y + greenPhase is odd; the other
    // sites of row y are red when y + redRowPhase is odd, else blue.
    struct Sites {
        const LONG* greenLut = nullptr;
        const LONG* redLut = nullptr;
        const LONG* blueLut = nullptr;
        LONG greenPhase = 0;
        LONG redRowPhase = 0;
    };

    explicit CMosaicRowReader(const DeBayerRows::Kernels& kernels) : m_load(kernels.load) {}

    // Starts on a 16-bit mosaic source for the given columns; nothing is locked before the first row.
    IPravonError* Begin(IPravonDataSource* source, LONG x0, LONG count, const Sites& sites);
    // Row y (any row: outside ones read the nearest inside row of the same phase) into out, split by the
    // parity of the positions (DeBayerRows): count values.
    IPravonError* Read(LONG y, LONG* out);
    // Releases the held tiles; the destructor does it too.
    void End() { m_cursor.UnlockAll(); }

private:
    // A run of the row inside one source tile column, or one position outside the image.
    struct Span {
        LONG position; // in the window's row
        LONG column;   // the source column read, mapped inside
        LONG count;
        LONG tile; // index of the source tile column among the held ones
    };

    IPravonError* HoldTileRow(LONG y);

    DeBayerRows::LoadRow m_load;
    CSourceTileCursor m_cursor;
    Sites m_sites;
    LONG m_x0 = 0;
    LONG m_count = 0;
    LONG m_height = 0;
    LONG m_tileSize = 0;
    LONG m_firstTileColumn = 0;
    std::vector<Span> m_spans;
    // The top-left pixel of each held tile, and the source rows they cover.
    std::vector<const BYTE*> m_tiles;
    LONG m_rowBytes = 0;
    LONG m_heldTop = 0;
    LONG m_heldBottom = -1;
};
