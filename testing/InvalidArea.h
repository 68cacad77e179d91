// What a source would make again on its next pull: each tile's invalid part, as a mask of the source's size
// (grey 8-bit, 1 where invalid). The tiles are asked, never locked, so asking makes nothing.
#pragma once

#include "TestPlane.h"

namespace kvtest {

IPravonError* InvalidArea(IPravonDataSource* source, TestPlane* mask);

// A mask of the given size that is 1 inside rect and 0 elsewhere.
TestPlane RectMask(LONG width, LONG height, const PravonRect& rect);

} // namespace kvtest
