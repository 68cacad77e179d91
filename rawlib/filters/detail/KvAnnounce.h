// What the adjustment filters' setters send after an effective change: a data notification over the whole
// output, when the setter was told to notify and the filter is enabled with exactly one source.
#pragma once

#include "filters/engine/CPravonFilterBase.h"

IPravonError* AnnounceWholeOutput(CPravonFilterBase& filter, bool notify);
