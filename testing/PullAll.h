// Pulls a source's whole output the way a consumer does: every tile locked through the tile calls,
// copied into a flat plane, unlocked. The random order catches generation that depends on pull order.
#pragma once

#include "TestPlane.h"

namespace kvtest {

enum class PullOrder { TileOrder, RandomOrder };

// Locks by column and row (the consumer's form) unless useGrid, which uses the grid form.
IPravonError* PullAll(IPravonDataSource* source, TestPlane* out, PullOrder order = PullOrder::TileOrder,
                      ULONG seed = 7, bool useGrid = false);

// Pulls only the tiles under rect into out (of the source's full size), leaving the rest untouched.
IPravonError* PullRect(IPravonDataSource* source, const PravonRect& rect, TestPlane* out);

} // namespace kvtest
