// Reading a filter's source one row at a time through a source tile cursor: a run of pixels of one row,
// positions outside the image mapped inside by the cursor's edge modes, copied whole pixel by whole pixel.
#pragma once

#include "filters/engine/CSourceTileCursor.h"

// Copies the bytes of count pixels of source row y from column x0 on into out (count x the source's bytes
// per pixel), each run that lies in one tile with a single copy.
IPravonError* ReadSourceRow(CSourceTileCursor& cursor, LONG x0, LONG count, LONG y, BYTE* out);

// Enough held tiles for a cursor that reads rows of width pixels from source, with the smallest count a
// filter asks for: every tile one row touches stays locked while the next row is read.
LONG RowCursorCapacity(IPravonDataSource* source, LONG width, LONG smallest);
