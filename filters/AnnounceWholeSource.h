// What a filter of the standard set sends when its whole output changed but its geometry did not: while it
// has a first source, a data notification over the whole of that source (output and source coordinates
// agree for the filters that use it).
#pragma once

#include "filters/engine/CPravonFilterBase.h"

IPravonError* AnnounceWholeSource(CPravonFilterBase& filter);
