// Composition of two lookup tables into one: every output entry is the second table read, with linear
// interpolation, at the value that the first table gives, with linear interpolation, at that entry's
// position. Tables hold unsigned bytes (element size 1) or unsigned 16-bit values (any other size).
#pragma once

#include "platform/win/wintypes.h"

// Each table comes with its element size, its entry count and its value range (the values lie in
// 0..range-1). Returns the number of entries written: 0, with nothing written, when a table is missing or
// empty. Ranges of 1 or less make every value 0, and lookups are held to their tables, so no entry is
// ever read outside a table and no output leaves the output's range.
int KvComposeLut(const void* first, int firstSize, LONG firstCount, LONG firstRange, const void* second,
                 int secondSize, LONG secondCount, LONG secondRange, void* out, int outSize, LONG outCount,
                 LONG outRange);
