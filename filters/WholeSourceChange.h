// What a standard filter's setter does after an effective change when its notify flag is set: while the
// filter is enabled and has a first source, downstream hears that the whole of that source's area changed.
#pragma once

#include "filters/engine/CPravonFilterBase.h"

// Whether a setter called with notify announces its change.
bool ShouldAnnounceChange(const CPravonFilterBase& filter, bool notify);
// A data notification over (0, 0, width, height) of the filter's first source; errors carry component.
IPravonError* AnnounceWholeSourceChange(CPravonFilterBase& filter, LONG component);
